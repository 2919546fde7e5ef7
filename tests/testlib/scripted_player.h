// A simulated player behind the Device and Channel interfaces, for the layers above the
// device library: device information, storages with their tracks, and any operation made to
// fail on demand. Every channel opened on it shares one SimPlayer, which records the calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devices/device.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

// Named apart from the flash simulator's SimStorage: both may be linked into one test.
struct ScriptedStorage {
  std::string name;
  std::string serial;  // "serial_raw" bytes
  int64_t size = 0;
  int64_t free = 0;  // the predictor's "free_in_bytes"
  int64_t bad = 0;   // the predictor's "bad_in_bytes"
  std::vector<std::pair<int32_t, std::string>> files;  // "fid", "type"
};

struct SimPlayer {
  std::string name = "Qel One";
  std::string manufacturer = "Qel Audio";
  std::string canonical_name = "\\\\?\\usb#vid_0e21&pid_5210#0001";
  std::string serial = "PLAYER-SERIAL";  // the device information's "serial_raw"
  int32_t firmware_bcd = 0x10203;
  uint32_t product_id = 0x5210;
  uint32_t generation = 1;
  int32_t device_id = 0;  // the device information's "device_id" (absent when 0)
  std::vector<ScriptedStorage> storages;

  // Operation -> its answer. Keys are the operation's name ("GetDeviceInfo") or name and
  // storage ("GetStorageInfo(1)"); the more precise key wins.
  std::map<std::string, Result> failures;
  Result open_result = rc::kOk;

  // Records.
  int opens = 0;
  int channel_deletions = 0;
  int predictor_resets = 0;
  uint32_t clock = 0;
  std::vector<std::string> calls;  // "Op" or "Op(storage)", in order
  // Called with each call as it is recorded, from the thread that makes it.
  std::function<void(const std::string& call)> on_call;

  // A player with one storage per name.
  static std::shared_ptr<SimPlayer> WithStorages(const std::vector<std::string>& names);
  // The answer for op on storage (-1: none), recorded as a call.
  Result Answer(const std::string& op, int storage = -1);
  int CountCalls(const std::string& call) const;
};

// A player's Device; channels it opens work on the shared SimPlayer.
class SimPlayerDevice : public Device {
 public:
  explicit SimPlayerDevice(std::shared_ptr<SimPlayer> player) : player_(std::move(player)) {}
  static RefPtr<Device> Make(std::shared_ptr<SimPlayer> player) {
    return RefPtr<Device>(new SimPlayerDevice(std::move(player)));
  }

  UsbHardware* GetHardware() override { return nullptr; }
  Result OpenChannel(Channel** channel) override;
  Result GetUniqueId(std::string* id) override;
  Result GetCanonicalName(std::string* name) override;
  Result GetProperties(RefPtr<PropertySet>* properties) override { return rc::kNotImplemented; }
  Result GetProductId(uint32_t* product_id) override;

 private:
  std::shared_ptr<SimPlayer> player_;
};
