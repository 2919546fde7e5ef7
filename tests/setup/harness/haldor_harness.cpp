// Haldor's program for tests: the real app with the Windows and System folders of a temporary
// layout (HALDOR_WINDOWS_DIR, HALDOR_SYSTEM_DIR). Everything else is the machine's own: Wine's
// SetupAPI and NEWDEV, the administrator check, the registry.
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
  return RunDriverSetupApp(command_line ? command_line : "", environment);
}
