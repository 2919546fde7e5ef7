// DriverSetupApp: reads the command line, shows the setup dialog and, when the dialog asks for
// it, restarts Windows or records that a restart is owed.
#pragma once

#include <string>

#include "setup/setup_environment.h"

// Returns the program's exit code: the dialog's result, or 2 for an unknown option.
int RunDriverSetupApp(const std::string& command_line, const SetupEnvironment& environment);

// Without restarting: "Reboot1" = 1 under HKEY_LOCAL_MACHINE "SOFTWARE\Qel\Installer".
void RecordRestartOwed();
