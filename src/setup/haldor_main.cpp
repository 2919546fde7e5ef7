// Haldor.exe: the installation tool of the Qel players' software.
#include <windows.h>

#include "setup/driver_setup_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  return RunDriverSetupApp(command_line ? command_line : "", SetupEnvironment::OfThisProcess());
}
