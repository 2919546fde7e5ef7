#include "setup/driver_setup_app.h"

#include <windows.h>

#include "setup/driver_setup_dialog.h"
#include "setup/registry_key.h"

namespace {

constexpr DWORD kRestartReason = 0x10001;  // major: hardware, minor: maintenance

void RestartWindows() {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
  }
  ExitWindowsEx(EWX_REBOOT, kRestartReason);
}

}  // namespace

void RecordRestartOwed() {
  try {
    RegistryKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qel\\Installer", RegistryKey::Open::kCreate)
        .SetNumber("Reboot1", 1);
  } catch (const CRegistryException&) {
  }
}

int RunDriverSetupApp(const std::string& command_line, const SetupEnvironment& environment) {
  const UINT install_message = RegisterInstallMessage();
  SetupOptions options;
  std::string unknown;
  if (!ParseSetupOptions(command_line, &options, &unknown)) {
    MessageBoxA(nullptr, "Unknown command line option", "Driver setup", MB_OK | MB_ICONERROR);
    return setup_dialog::kEndedCancel;
  }
  int result;
  {
    DriverSetupDialog dialog(options, environment, install_message);
    result = dialog.Run(nullptr);
  }
  if (result == setup_dialog::kEndedRestart) {
    if (options.defer_reboot)
      RecordRestartOwed();
    else
      RestartWindows();
  }
  return result;
}
