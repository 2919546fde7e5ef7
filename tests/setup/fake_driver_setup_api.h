// A scripted SetupAPI/NEWDEV for the driver update: answers per hardware id, the INF copy into
// the Windows INF folder, and a device list with hardware ids, presence, configuration flags
// and the INF each device was installed from. Wine's own driver update reports success for ids
// without a device, so its failures can only be had here.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "setup/driver_setup_api.h"

struct FakeUpdateAnswer {
  bool succeeds = true;
  DWORD error = 0;  // last error of a failure
  bool reboot = false;
};

struct FakeDevice {
  std::vector<std::string> hardware_ids;
  bool present = false;
  DWORD config_flags = 0;
  std::string inf_path;  // "InfPath" of its driver key; empty: none
};

class FakeDriverSetup {
 public:
  // `inf_folder`: where the INF copy lands, as "oem7.inf".
  explicit FakeDriverSetup(std::string inf_folder);
  ~FakeDriverSetup();

  DriverSetupApi Api() const;

  std::map<std::string, FakeUpdateAnswer> answers;  // by hardware id; default: success
  bool copy_fails = false;
  std::function<void()> on_update;  // runs inside every update call
  std::vector<FakeDevice> devices;

  std::vector<std::string> update_calls;  // hardware ids, in call order
  std::vector<std::string> copied_infs;   // source INF paths

 private:
  friend struct FakeDriverSetupCalls;
  std::string inf_folder_;
};
