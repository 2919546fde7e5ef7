// The one fixed install: superseded driver files go, the kernel driver is installed for the
// players' hardware ids, AutoPlay handlers are registered, an older service provider is
// removed and the service provider is copied and registered.
#pragma once

#include <windows.h>

#include <string>

#include "setup/install_engine.h"

struct InstallPlanOptions {
  HWND parent = nullptr;       // parent of the driver installation's windows
  bool nt_family = true;       // Windows NT family, else Windows 9x
  bool replace_same_version = true;  // the install-mode flag: rule 3 for the driver files
};

extern const char* const kSupersededFiles[6];
extern const UsbHardwareId kPlayerHardwareIds[];
extern const char* const kArrivalEvents[17];

// The plan over one engine, for one run of the install thread.
class InstallPlan {
 public:
  InstallPlan(InstallEngine& engine, const InstallPlanOptions& options)
      : engine_(engine), options_(options) {}
  // Runs the steps in order; the first negative step result ends the plan with it.
  Result Run();

 private:
  InstallEngine& engine_;
  InstallPlanOptions options_;
};

// The folder the driver files are copied to before the driver is installed.
std::string DriverPackageFolder(const SetupFolders& folders, bool nt_family,
                                const std::string& application_path);

// The desktop application's program file, or empty when it is not installed.
std::string DesktopApplicationPath();
