// The driver update: installs an INF for each hardware id of the players, copies it into the
// Windows INF folder, marks absent devices of those ids for reinstallation and removes the
// older INFs they were installed from.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "setup/driver_setup_api.h"
#include "support/result_codes.h"

class InstallEngine;

Result UpdateDriver(InstallEngine& engine, const DriverSetupApi& api, HWND parent,
                    const std::string& inf_path, const std::vector<std::string>& hardware_ids);
