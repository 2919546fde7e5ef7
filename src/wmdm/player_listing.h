// Turning one player into WMDM devices while it may be busy with another operation (an upload
// on its other storage, another program holding it): each step is tried again until the
// ready time-out has passed since the first, and a player that stays busy is listed from what
// this process already knows of it. A player busy and unknown is left out, as before.
#pragma once

#include <cstdint>

#include "devices/device.h"
#include "support/clock.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

class CMDSPDevice;

class PlayerListing {
 public:
  // How long a busy player is waited for, and how often it is asked again (as a player's own
  // ready wait does).
  static constexpr uint32_t kReadyTimeoutMs = 5000;
  static constexpr uint32_t kPollMs = 100;

  PlayerListing(const RefPtr<Device>& player, Clock* clock);

  // The number of the player's storages.
  Result CountStorages(uint32_t* count);
  // CMDSPDevice::Init of one storage, or InitFromKnown when the player stays busy.
  Result InitDevice(CMDSPDevice* device, uint32_t storage_index, uint32_t storage_count);

  static bool IsBusy(Result status);

 private:
  // Runs `step` until it is not refused as busy or the time-out has passed; its last result.
  template <typename Step>
  Result Retry(Step&& step);

  RefPtr<Device> player_;
  Clock* clock_;
  uint32_t start_ms_;
};
