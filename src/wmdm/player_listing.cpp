#include "wmdm/player_listing.h"

#include <string>

#include "devices/device_results.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/known_players.h"
#include "wmdm/qel_device_ptr.h"

PlayerListing::PlayerListing(const RefPtr<Device>& player, Clock* clock)
    : player_(player), clock_(clock), start_ms_(clock->NowMs()) {}

bool PlayerListing::IsBusy(Result status) {
  return status == rc::kPlayerBusy || status == rc::kWin32Busy;
}

template <typename Step>
Result PlayerListing::Retry(Step&& step) {
  for (;;) {
    const Result status = step();
    if (!IsBusy(status) || clock_->NowMs() - start_ms_ >= kReadyTimeoutMs) return status;
    clock_->SleepMs(kPollMs);
  }
}

Result PlayerListing::CountStorages(uint32_t* count) {
  const Result status = Retry([&] { return QelDevicePtrEx::CountStorages(player_, count); });
  std::string id;
  if (IsBusy(status) && rc::Succeeded(player_->GetUniqueId(&id)) &&
      known_players::StorageCount(id, count)) {
    return rc::kOk;
  }
  return status;
}

Result PlayerListing::InitDevice(CMDSPDevice* device, uint32_t storage_index,
                                 uint32_t storage_count) {
  const Result status =
      Retry([&] { return device->Init(player_, storage_index, storage_count); });
  if (!IsBusy(status)) return status;
  return rc::Succeeded(device->InitFromKnown(player_, storage_index, storage_count)) ? rc::kOk
                                                                                     : status;
}
