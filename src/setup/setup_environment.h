// What the installation needs of the machine: its folders, the Windows family and the system
// functions bound at run time. The program takes them from Windows; tests give their own.
#pragma once

#include <windows.h>

#include "setup/admin_check.h"
#include "setup/driver_setup_api.h"
#include "setup/install_location.h"
#include "setup/manual_stage.h"

struct SetupEnvironment {
  SetupFolders folders;
  bool nt_family = true;
  DriverSetupApi driver_api;  // incomplete: the driver update answers E_NOTIMPL
  AdminCheckApi admin_api;
  unsigned registration_pause_ms = 500;
  LANGID language = 0;  // of the dialog and its texts; 0: the one Windows picks
  // Shows a text file to the person at the machine: the manual stage's steps on Windows 9x.
  std::function<bool(const std::string& path)> show_text_file = &OpenInNotepad;

  static SetupEnvironment OfThisProcess();
};

// True on the Windows NT family, false on Windows 9x.
bool RunningOnNtFamily();
