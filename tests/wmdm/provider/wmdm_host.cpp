#include "wmdm_host.h"

#include <algorithm>

#include "wmdm/class_factory.h"
#include "wmdm/cmdsp_device.h"
#include "wmdm/torvex_classes.h"

ScriptedDeviceSource::ScriptedDeviceSource() : previous_(SetDeviceSourceForTesting(this)) {}

ScriptedDeviceSource::~ScriptedDeviceSource() { SetDeviceSourceForTesting(previous_); }

void ScriptedDeviceSource::Attach(const std::shared_ptr<SimPlayer>& player) {
  players_.push_back(player);
}

void ScriptedDeviceSource::AttachPath(const std::string& path,
                                      const std::shared_ptr<SimPlayer>& player) {
  paths_[path] = player;
}

Result ScriptedDeviceSource::Enumerate(uint32_t product_id,
                                       std::vector<RefPtr<Device>>* devices) {
  asked.push_back(product_id);
  for (const auto& player : players_) {
    if (player->product_id == product_id) devices->push_back(SimPlayerDevice::Make(player));
  }
  return rc::kOk;
}

Result ScriptedDeviceSource::OpenUsbPath(const std::string& path, RefPtr<Device>* device) {
  const auto found = paths_.find(path);
  if (found == paths_.end()) return rc::FromWin32(ERROR_FILE_NOT_FOUND);
  *device = SimPlayerDevice::Make(found->second);
  return rc::kOk;
}

WmdmHost::WmdmHost() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

WmdmHost::~WmdmHost() {
  for (IUnknown* object : held_) object->Release();
  if (provider_) provider_->Release();
  registered_.reset();
  CoUninitialize();
}

HRESULT WmdmHost::LoadRegistered(const TorvexTestSeams& seams) {
  registered_.reset(new RegisteredProvider);
  return registered_->Create(seams, &provider_);
}

int32_t WmdmHost::BusyCount() const {
  return registered_ ? registered_->BusyCount() : CMDSPDevice::BusyCount();
}

HRESULT WmdmHost::Load() {
  IClassFactory* factory = nullptr;
  HRESULT hr = GetTorvexClassObject(CLSID_MDTorvexServiceProvider, IID_IClassFactory,
                                    reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  IUnknown* instance = nullptr;
  hr = factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&instance));
  factory->Release();
  if (FAILED(hr)) return hr;
  hr = instance->QueryInterface(IID_IMDServiceProvider2, reinterpret_cast<void**>(&provider_));
  instance->Release();
  return hr;
}

HRESULT WmdmHost::ListDevices(std::vector<IMDSPDevice*>* devices) {
  devices->clear();
  IMDSPEnumDevice* enumerator = nullptr;
  HRESULT hr = provider_->EnumDevices(&enumerator);
  if (FAILED(hr)) return hr;
  for (;;) {
    IMDSPDevice* device = nullptr;
    ULONG fetched = 0;
    hr = enumerator->Next(1, &device, &fetched);
    if (hr != S_OK || fetched != 1) break;
    held_.push_back(device);
    devices->push_back(device);
  }
  enumerator->Release();
  return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT WmdmHost::CreateDevices(const std::wstring& pnp_name,
                                std::vector<IMDSPDevice*>* devices) {
  DWORD count = 0;
  IMDSPDevice** array = nullptr;
  const HRESULT hr = provider_->CreateDevice(pnp_name.c_str(), &count, &array);
  if (FAILED(hr)) return hr;
  for (DWORD i = 0; i < count; ++i) {
    held_.push_back(array[i]);
    devices->push_back(array[i]);
  }
  CoTaskMemFree(array);
  return hr;
}

HRESULT WmdmHost::CreateDevices(const std::vector<std::string>& pnp_names,
                                std::vector<IMDSPDevice*>* devices) {
  HRESULT first = S_OK;
  for (const std::string& name : pnp_names) {
    const HRESULT hr = CreateDevices(std::wstring(name.begin(), name.end()), devices);
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

std::wstring WmdmHost::NameOf(IMDSPDevice* device) {
  wchar_t name[128] = {};
  device->GetName(name, 128);
  return name;
}

DeviceReport WmdmHost::Describe(IMDSPDevice* device) {
  DeviceReport report;
  auto& r = report.results;
  wchar_t text[256] = {};
  r["GetName"] = device->GetName(text, 256);
  report.name = text;
  r["GetManufacturer"] = device->GetManufacturer(text, 256);
  report.manufacturer = text;
  r["GetVersion"] = device->GetVersion(&report.version);
  r["GetType"] = device->GetType(&report.type);
  r["GetStatus"] = device->GetStatus(&report.status);
  r["GetPowerSource"] = device->GetPowerSource(&report.power_source, &report.power_percent);

  WMDMID serial = {};
  BYTE mac[WMDM_MAC_LENGTH] = {};
  r["GetSerialNumber"] = device->GetSerialNumber(&serial, mac);
  report.vendor_id = serial.dwVendorID;
  report.serial.assign(reinterpret_cast<const char*>(serial.pID),
                       std::min<UINT>(serial.SerialNumberLength, WMDMID_LENGTH));

  ULONG icon = 0;
  r["GetDeviceIcon"] = device->GetDeviceIcon(&icon);

  WMDM_WAVEFORMATEX* formats = nullptr;
  LPWSTR* mimes = nullptr;
  UINT mime_count = 0;
  r["GetFormatSupport"] =
      device->GetFormatSupport(&formats, &report.format_count, &mimes, &mime_count);
  for (UINT i = 0; formats && i < report.format_count; ++i) {
    report.format_tags.push_back(formats[i].wFormatTag);
  }
  for (UINT i = 0; mimes && i < mime_count; ++i) {
    report.mime_types.push_back(mimes[i]);
    CoTaskMemFree(mimes[i]);
  }
  CoTaskMemFree(mimes);
  CoTaskMemFree(formats);

  uint8_t identity[4] = {};
  OPAQUECOMMAND command = {};
  command.guidCommand = kOpaqueDeviceIdentity;
  command.pData = identity;
  command.dwDataLen = sizeof identity;
  r["SendOpaqueCommand"] = device->SendOpaqueCommand(&command);
  report.product_id = identity[0] | identity[1] << 8 | identity[2] << 16 |
                      static_cast<uint32_t>(identity[3]) << 24;

  IMDSPEnumStorage* storages = nullptr;
  r["EnumStorage"] = device->EnumStorage(&storages);
  report.storage_enumerator = storages != nullptr;
  if (storages) storages->Release();

  IMDSPDevice2* device2 = nullptr;
  r["QueryInterface(IMDSPDevice2)"] =
      device->QueryInterface(IID_IMDSPDevice2, reinterpret_cast<void**>(&device2));
  if (device2) {
    r["GetCanonicalName"] = device2->GetCanonicalName(text, 256);
    report.canonical_name = text;
    device2->Release();
  }
  return report;
}
