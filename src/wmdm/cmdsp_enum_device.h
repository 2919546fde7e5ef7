// The WMDM devices of the attached players: one CMDSPDevice for each storage of each player,
// the player's highest storage first. The list is fixed when it is built; players attached
// later need a new enumerator.
#pragma once

#include <windows.h>

#include <vector>

#include "devices/device.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"
#include "wmdm/module_lock.h"
#include "wmdm/wmdm_interfaces.h"

class CMDSPDevice;

// The USB product ids of the players the provider lists, in the order they are asked for.
// 0x501C is deliberately absent.
inline constexpr uint32_t kListedProductIds[] = {
    0x5005, 0x5010, 0x5009, 0x5007, 0x5006, 0x500C, 0x500D, 0x500E, 0x500F, 0x501D, 0x501E,
    0x501F, 0x5001, 0x5002, 0x5008, 0x5003, 0x5202, 0x5801, 0x5220, 0x5221, 0x5210};

class CMDSPEnumDevice final : public IMDSPEnumDevice {
 public:
  // Created with no reference; the creator takes the first. Null when memory runs out.
  static CMDSPEnumDevice* New();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IMDSPDevice** devices, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count, ULONG* skipped) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IMDSPEnumDevice** clone) override;

  // Collects the players of every listed product id from the process's DeviceSource.
  Result GetQeldevices();
  // Builds one initialised CMDSPDevice per storage. A player that cannot be counted or one of
  // whose storages cannot be initialised is left out (that storage only); the others are
  // listed. Fails only when memory runs out.
  Result Init();

  size_t device_count() const { return devices_.size(); }

 private:
  CMDSPEnumDevice() = default;
  ~CMDSPEnumDevice();
  CMDSPEnumDevice(const CMDSPEnumDevice&) = delete;
  CMDSPEnumDevice& operator=(const CMDSPEnumDevice&) = delete;

  LONG refs_ = 0;
  ModuleReference module_;
  std::vector<RefPtr<Device>> players_;
  std::vector<CMDSPDevice*> devices_;  // one reference each
  ULONG cursor_ = 0;
};
