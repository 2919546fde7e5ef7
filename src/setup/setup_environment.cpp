#include "setup/setup_environment.h"

#include <windows.h>

bool RunningOnNtFamily() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExA(&info)) return true;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

SetupEnvironment SetupEnvironment::OfThisProcess() {
  SetupEnvironment environment;
  environment.folders = SetupFolders::OfThisProcess();
  environment.nt_family = RunningOnNtFamily();
  LoadDriverSetupApi(&environment.driver_api);
  LoadAdminCheckApi(&environment.admin_api);
  return environment;
}
