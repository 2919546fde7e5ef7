// InstallEngine: rule-checked file operations, DLL registration and driver installation, each
// reported as a log line. Results: 0 done, 1 nothing to do, negative on failure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "setup/driver_setup_api.h"
#include "setup/file_replacer.h"
#include "setup/file_version.h"
#include "setup/install_location.h"
#include "setup/install_log.h"
#include "support/result_codes.h"

enum InstallRule { kRuleNever = 0, kRuleAlways = 1, kRuleNewer = 2, kRuleNotOlder = 3 };

struct UsbHardwareId {
  uint16_t vendor;
  uint16_t product;
};

// "USB\Vid_%04hx&Pid_%04hx" of every entry before the one with a zero vendor id.
std::vector<std::string> HardwareIdTexts(const UsbHardwareId* table);

class InstallEngine {
 public:
  // `driver_api` null: the driver update is not available (E_NOTIMPL).
  InstallEngine(FileReplacer* replacer, InstallLog* log, SetupFolders folders,
                const DriverSetupApi* driver_api);

  Result RemoveFile(InstallLocation location, const std::string& name);
  Result RegisterFile(InstallLocation location, const std::string& name);
  Result UnregisterFile(InstallLocation location, const std::string& name);
  Result CheckInstallRule(const std::string& source, const std::string& destination, int rule);
  Result InstallFile(const std::string& source_name, InstallLocation location,
                     const std::string& destination_name, int rule);
  Result InstallDriver(HWND parent, const std::string& inf_path, const UsbHardwareId* ids);
  Result Version(InstallLocation location, const std::string& name, FileVersion* version) const;

  void Log(const std::string& label, const std::string& first, const std::string& second = "");
  void RequestReboot() { reboot_ = true; }
  bool RebootNeeded() const { return reboot_; }
  const SetupFolders& Folders() const { return folders_; }
  FileReplacer& Replacer() { return *replacer_; }

  // The pause after a registration entry returns, before the DLL is unloaded.
  void SetRegistrationPause(DWORD milliseconds) { registration_pause_ms_ = milliseconds; }

 private:
  Result CallRegistrationEntry(const std::string& path, const char* entry);

  FileReplacer* replacer_;
  InstallLog* log_;
  SetupFolders folders_;
  const DriverSetupApi* driver_api_;
  bool reboot_ = false;
  DWORD registration_pause_ms_ = 500;
};
