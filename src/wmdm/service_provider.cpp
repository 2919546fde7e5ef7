#include <winsock2.h>  // before <windows.h>, which the provider's header brings

#include "wmdm/service_provider.h"

#include <cstdint>
#include <new>
#include <vector>

#include "devices/network/tcp_socket.h"
#include "support/text_convert.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/cmdsp_enum_device.h"
#include "wmdm/device_source.h"
#include "wmdm/no_throw.h"
#include "wmdm/player_listing.h"
#include "wmdm/qel_device_ptr.h"
#include "wmdm/service_provider_factory.h"
#include "wmdm/wmdm_log.h"

namespace {

// Releases what a failed CreateDevice built.
void ReleaseAll(std::vector<CMDSPDevice*>& devices) {
  for (CMDSPDevice* device : devices) device->Release();
  devices.clear();
}

}  // namespace

CMDTorvexServiceProvider* CMDTorvexServiceProvider::New() {
  return new (std::nothrow) CMDTorvexServiceProvider;
}

// Sockets are started once for the process, from a library loaded by name: only the network
// players need them, and a system without them still serves every other player.
CMDTorvexServiceProvider::CMDTorvexServiceProvider()
    : sockets_started_(rc::Succeeded(TcpSocket::StartWinsock())) {}

CMDTorvexServiceProvider::~CMDTorvexServiceProvider() = default;

HRESULT CMDTorvexServiceProvider::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMDServiceProvider ||
      riid == IID_IMDServiceProvider2) {
    *object = static_cast<IMDServiceProvider2*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CMDTorvexServiceProvider::AddRef() { return InterlockedIncrement(&refs_); }

ULONG CMDTorvexServiceProvider::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

HRESULT CMDTorvexServiceProvider::GetDeviceCount(DWORD* count) {
  const HRESULT hr = CheckOutPointer(S_OK, count);
  if (SUCCEEDED(hr)) *count = static_cast<DWORD>(device_count_.load());
  return WmdmLogResult("CMDTorvexServiceProvider::GetDeviceCount", hr);
}

HRESULT CMDTorvexServiceProvider::EnumDevices(IMDSPEnumDevice** enumerator) {
  HRESULT hr = CheckOutPointer(S_OK, enumerator);
  if (SUCCEEDED(hr)) {
    *enumerator = nullptr;
    CMDSPEnumDevice* devices = CMDSPEnumDevice::New();
    if (!devices) {
      hr = E_OUTOFMEMORY;
    } else {
      devices->AddRef();
      hr = devices->GetQeldevices();
      if (SUCCEEDED(hr)) hr = devices->Init();
      if (SUCCEEDED(hr)) {
        device_count_ = static_cast<LONG>(devices->device_count());
        *enumerator = devices;
      } else {
        devices->Release();
      }
    }
  }
  return WmdmLogResult("CMDTorvexServiceProvider::EnumDevices", hr);
}

HRESULT CMDTorvexServiceProvider::CreateDevice(LPCWSTR device_path, DWORD* count,
                                               IMDSPDevice*** devices) {
  HRESULT hr = CheckOutPointer(CheckOutPointer(S_OK, count), devices);
  if (SUCCEEDED(hr)) {
    *count = 0;
    *devices = nullptr;
    hr = CheckOutPointer(hr, device_path);
  }
  if (FAILED(hr)) return WmdmLogResult("CMDTorvexServiceProvider::CreateDevice", hr);

  std::vector<CMDSPDevice*> built;
  hr = CallNoThrow([&] {
    RefPtr<Device> player;
    Result status = GetDeviceSource()->OpenUsbPath(WideToAnsi(device_path), &player);
    if (rc::Failed(status)) return status;
    if (!player) return rc::kFail;
    PlayerListing listing(player, GetDeviceSource()->GetClock());
    uint32_t storages = 0;
    status = listing.CountStorages(&storages);
    if (rc::Failed(status)) return status;
    if (storages > SIZE_MAX / sizeof(IMDSPDevice*)) return rc::kOutOfMemory;
    built.reserve(storages);
    for (uint32_t index = 0; index < storages; ++index) {
      CMDSPDevice* device = CMDSPDevice::New();
      if (!device) return rc::kOutOfMemory;
      device->AddRef();
      built.push_back(device);
      status = listing.InitDevice(device, index, storages);
      if (rc::Failed(status)) return status;
    }
    return rc::kOk;
  });

  IMDSPDevice** array = nullptr;
  if (SUCCEEDED(hr) && !built.empty()) {
    array = static_cast<IMDSPDevice**>(CoTaskMemAlloc(built.size() * sizeof(IMDSPDevice*)));
    if (!array) hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) {
    ReleaseAll(built);
  } else {
    // The references taken at creation go to the caller.
    for (size_t i = 0; i < built.size(); ++i) array[i] = static_cast<IMDSPDevice2*>(built[i]);
    *devices = array;
    *count = static_cast<DWORD>(built.size());
  }
  return WmdmLogResult("CMDTorvexServiceProvider::CreateDevice", hr);
}

HRESULT CreateServiceProvider(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CMDTorvexServiceProvider* provider = CMDTorvexServiceProvider::New();
  if (!provider) return E_OUTOFMEMORY;
  provider->AddRef();
  const HRESULT hr = provider->QueryInterface(riid, object);
  provider->Release();
  return hr;
}
