// The options of the command line: "first", "auto", "deferreboot", "skipinstalled", each after
// '/' or '-', in any case.
#pragma once

#include <string>

struct SetupOptions {
  bool first = false;  // accepted, no effect
  bool automatic = false;
  bool defer_reboot = false;
  bool replace_same_version = true;  // the install-mode flag; skipinstalled clears it
};

// False with the unknown option in `unknown` when the line names one.
bool ParseSetupOptions(const std::string& command_line, SetupOptions* options,
                       std::string* unknown);
