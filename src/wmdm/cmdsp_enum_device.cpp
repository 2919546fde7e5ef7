#include "wmdm/cmdsp_enum_device.h"

#include <iterator>
#include <new>

#include "devices/device_enumerator.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/device_source.h"
#include "wmdm/no_throw.h"
#include "wmdm/player_listing.h"
#include "wmdm/qel_device_ptr.h"
#include "wmdm/wmdm_log.h"

CMDSPEnumDevice* CMDSPEnumDevice::New() { return new (std::nothrow) CMDSPEnumDevice; }

CMDSPEnumDevice::~CMDSPEnumDevice() {
  for (CMDSPDevice* device : devices_) device->Release();
}

HRESULT CMDSPEnumDevice::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMDSPEnumDevice) {
    *object = static_cast<IMDSPEnumDevice*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CMDSPEnumDevice::AddRef() { return InterlockedIncrement(&refs_); }

ULONG CMDSPEnumDevice::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

Result CMDSPEnumDevice::GetQeldevices() {
  const Result status = CallNoThrow([&] {
    DeviceSource* source = GetDeviceSource();
    std::vector<RefPtr<Device>> found;
    // The USB ids are all served over USB alone, so the drives are asked for once, at the end.
    std::vector<uint32_t> ids(std::begin(kListedProductIds), std::end(kListedProductIds));
    ids.push_back(DeviceEnumerator::kAllMassStorage);
    source->EnumerateProducts(ids, &found);
    players_.swap(found);
    return rc::kOk;
  });
  return WmdmLogResult("CMDSPEnumDevice::GetQeldevices", status);
}

Result CMDSPEnumDevice::Init() {
  const Result status = CallNoThrow([&] {
    for (const RefPtr<Device>& player : players_) {
      PlayerListing listing(player, GetDeviceSource()->GetClock());
      uint32_t storages = 0;
      if (rc::Failed(listing.CountStorages(&storages))) continue;
      for (uint32_t index = storages; index-- > 0;) {
        CMDSPDevice* device = CMDSPDevice::New();
        if (!device) return rc::kOutOfMemory;
        device->AddRef();
        // A broken player or storage is left out; it must not hide the others.
        if (rc::Failed(listing.InitDevice(device, index, storages))) {
          device->Release();
          continue;
        }
        const Result added = CallNoThrow([&] {
          devices_.push_back(device);
          return rc::kOk;
        });
        if (rc::Failed(added)) {
          device->Release();
          return added;
        }
      }
    }
    return rc::kOk;
  });
  return WmdmLogResult("CMDSPEnumDevice::Init", status);
}

HRESULT CMDSPEnumDevice::Next(ULONG count, IMDSPDevice** devices, ULONG* fetched) {
  HRESULT hr = CheckOutPointer(CheckOutPointer(S_OK, devices), fetched);
  if (SUCCEEDED(hr)) {
    ULONG given = 0;
    while (given < count && cursor_ < devices_.size()) {
      hr = devices_[cursor_]->QueryInterface(IID_IMDSPDevice,
                                             reinterpret_cast<void**>(&devices[given]));
      if (FAILED(hr)) break;
      ++given;
      ++cursor_;
    }
    *fetched = given;
    if (SUCCEEDED(hr)) hr = given == count ? S_OK : S_FALSE;
  }
  return WmdmLogResult("CMDSPEnumDevice::Next", hr);
}

HRESULT CMDSPEnumDevice::Skip(ULONG count, ULONG* skipped) {
  HRESULT hr = CheckOutPointer(S_OK, skipped);
  if (SUCCEEDED(hr)) {
    const ULONG left = static_cast<ULONG>(devices_.size()) - cursor_;
    if (count <= left) {
      cursor_ += count;
      *skipped = count;
    } else {
      cursor_ = static_cast<ULONG>(devices_.size());
      *skipped = left;
      hr = S_FALSE;
    }
  }
  return WmdmLogResult("CMDSPEnumDevice::Skip", hr);
}

HRESULT CMDSPEnumDevice::Reset() {
  cursor_ = 0;
  return WmdmLogResult("CMDSPEnumDevice::Reset", S_OK);
}

HRESULT CMDSPEnumDevice::Clone(IMDSPEnumDevice** clone) {
  HRESULT hr = CheckOutPointer(S_OK, clone);
  if (SUCCEEDED(hr)) {
    *clone = nullptr;
    CMDSPEnumDevice* copy = New();
    if (!copy) {
      hr = E_OUTOFMEMORY;
    } else {
      copy->AddRef();
      hr = CallNoThrow([&] {
        copy->players_ = players_;
        copy->devices_.reserve(devices_.size());
        for (CMDSPDevice* device : devices_) {
          device->AddRef();
          copy->devices_.push_back(device);
        }
        return rc::kOk;
      });
      copy->cursor_ = cursor_;
      if (SUCCEEDED(hr)) {
        *clone = copy;
      } else {
        copy->Release();
      }
    }
  }
  return WmdmLogResult("CMDSPEnumDevice::Clone", hr);
}
