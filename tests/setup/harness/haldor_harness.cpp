// Haldor's program for tests: the real app with the Windows and System folders of a temporary
// layout (HALDOR_WINDOWS_DIR, HALDOR_SYSTEM_DIR). Everything else is the machine's own: Wine's
// SetupAPI and NEWDEV, the administrator check, the registry. With HALDOR_SHOWN_FILES the
// files the program would open in Notepad are listed in that file instead, one a line.
#include <windows.h>

#include <string>

#include "setup/driver_setup_app.h"

namespace {

std::string Variable(const char* name) {
  char value[MAX_PATH + 1];
  const DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  SetupEnvironment environment = SetupEnvironment::OfThisProcess();
  const std::string windows = Variable("HALDOR_WINDOWS_DIR");
  const std::string system = Variable("HALDOR_SYSTEM_DIR");
  if (!windows.empty()) environment.folders.windows = windows;
  if (!system.empty()) environment.folders.system = system;
  const std::string shown_files = Variable("HALDOR_SHOWN_FILES");
  if (!shown_files.empty()) {
    environment.show_text_file = [shown_files](const std::string& path) {
      HANDLE list = CreateFileA(shown_files.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (list == INVALID_HANDLE_VALUE) return false;
      const std::string line = path + "\r\n";
      DWORD written = 0;
      WriteFile(list, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(list);
      return written == line.size();
    };
  }
  return RunDriverSetupApp(command_line ? command_line : "", environment);
}
