// An in-process stand-in for Windows Media Device Manager: it creates the service provider,
// lists its devices and asks each one the questions WMDM asks of a new device. Two ways to the
// provider: WMDM's own, CoCreateInstance of the class the test build of Torvex.dll registered
// (players then come from the seams handed to that DLL), or the class-object function of the
// wmdm library linked into the test (players from a scripted DeviceSource, and WMDM's logger
// replaced by one that keeps the trace lines).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "testlib/recording_wmdm_logger.h"
#include "testlib/scripted_player.h"
#include "wmdm/provider/registered_provider.h"
#include "wmdm/device_source.h"
#include "wmdm/wmdm_interfaces.h"

// Players by product id and by device path; records what the provider asked for.
class ScriptedDeviceSource : public DeviceSource {
 public:
  ScriptedDeviceSource();
  ~ScriptedDeviceSource() override;

  // Lists `player` under its product id (after those added before).
  void Attach(const std::shared_ptr<SimPlayer>& player);
  // Makes `player` reachable by `path` for CreateDevice.
  void AttachPath(const std::string& path, const std::shared_ptr<SimPlayer>& player);

  Result Enumerate(uint32_t product_id, std::vector<RefPtr<Device>>* devices) override;
  Result OpenUsbPath(const std::string& path, RefPtr<Device>* device) override;

  std::vector<uint32_t> asked;  // product ids, in the order asked

 private:
  std::vector<std::shared_ptr<SimPlayer>> players_;
  std::map<std::string, std::shared_ptr<SimPlayer>> paths_;
  DeviceSource* previous_;
};

// What one device answered, each question with its result.
struct DeviceReport {
  std::map<std::string, HRESULT> results;
  std::wstring name;
  std::wstring manufacturer;
  std::wstring canonical_name;
  DWORD version = 0;
  DWORD type = 0;
  DWORD status = 0;
  DWORD power_source = 0;
  DWORD power_percent = 0;
  DWORD vendor_id = 0;
  std::string serial;
  UINT format_count = 0;
  std::vector<WORD> format_tags;
  std::vector<std::wstring> mime_types;
  uint32_t product_id = 0;  // from the device-identity opaque command
  bool storage_enumerator = false;
};

class WmdmHost {
 public:
  WmdmHost();
  ~WmdmHost();
  WmdmHost(const WmdmHost&) = delete;
  WmdmHost& operator=(const WmdmHost&) = delete;

  // Class object of the linked library for the provider's CLSID, an instance, and its
  // IMDServiceProvider2.
  HRESULT Load();
  // The provider through COM from the registered DLL, which gets `seams` (they must outlive
  // the host).
  HRESULT LoadRegistered(const TorvexTestSeams& seams);
  // Operations in progress on the provider's devices.
  int32_t BusyCount() const;
  IMDServiceProvider2* provider() const { return provider_; }

  // The enumeration road: EnumDevices, then Next one device at a time until it answers S_FALSE. The host keeps a
  // reference on every device until it goes.
  HRESULT ListDevices(std::vector<IMDSPDevice*>* devices);
  // The plug and play road, WMDM's own for a provider that says it is PnP-aware: the devices
  // CreateDevice makes for the name plug and play gives a player, appended to `devices`; the
  // host keeps a reference on each.
  HRESULT CreateDevices(const std::wstring& pnp_name, std::vector<IMDSPDevice*>* devices);
  // CreateDevices for each name in order (plug and play names are ASCII); the first failure.
  HRESULT CreateDevices(const std::vector<std::string>& pnp_names,
                        std::vector<IMDSPDevice*>* devices);
  // Every question WMDM asks of a new device.
  static DeviceReport Describe(IMDSPDevice* device);
  static std::wstring NameOf(IMDSPDevice* device);

  RecordedWmdmLog& log() { return log_; }

 private:
  RecordedWmdmLog log_;
  IMDServiceProvider2* provider_ = nullptr;
  std::vector<IUnknown*> held_;
  std::unique_ptr<RegisteredProvider> registered_;
};
