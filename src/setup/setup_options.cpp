#include "setup/setup_options.h"

#include <windows.h>

bool ParseSetupOptions(const std::string& command_line, SetupOptions* options,
                       std::string* unknown) {
  *options = SetupOptions();
  size_t position = 0;
  while (position < command_line.size()) {
    const size_t start = command_line.find_first_not_of(" \t", position);
    if (start == std::string::npos) break;
    size_t end = command_line.find_first_of(" \t", start);
    if (end == std::string::npos) end = command_line.size();
    position = end;
    const std::string piece = command_line.substr(start, end - start);
    if (piece[0] != '/' && piece[0] != '-') continue;
    const char* name = piece.c_str() + 1;
    if (_stricmp(name, "first") == 0) {
      options->first = true;
    } else if (_stricmp(name, "auto") == 0) {
      options->automatic = true;
    } else if (_stricmp(name, "deferreboot") == 0) {
      options->defer_reboot = true;
    } else if (_stricmp(name, "skipinstalled") == 0) {
      options->replace_same_version = false;
    } else {
      if (unknown) *unknown = piece;
      return false;
    }
  }
  return true;
}
