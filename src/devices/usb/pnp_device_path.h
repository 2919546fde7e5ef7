// Device paths that plug and play hands out for a player. WMDM names a player by its
// device-interface path followed by "$" and a number. The driver reads trailing digits of a
// file name as a pipe index, so that name opened as it is would reach pipe 0, not the device;
// every file of the player is opened from the interface path itself.
#pragma once

#include <string>

// `path` without a trailing "$" and decimal digits; any other path unchanged.
std::string InterfacePathOf(const std::string& path);
