#include "devices/msc/player_eject.h"

#include <cstring>
#include <string>

#include "support/format_string.h"

namespace {

// The configuration manager's types, declared here as the calls below use them.
using DevInst = DWORD;
using RequestEjectFunction = DWORD(WINAPI*)(DevInst, int*, LPSTR, ULONG, ULONG);
using SubTreeFunction = DWORD(WINAPI*)(DevInst, ULONG);
constexpr DWORD kConfigSuccess = 0;
constexpr size_t kMaxClassGuids = 100;
constexpr DWORD kInstanceIdLength = 200;
constexpr ULONG kVetoNameLength = 260;

class SystemEjectApi : public EjectApi {
 public:
  WindowsVersion GetVersion() override { return VolumeIoApi::System()->GetVersion(); }
  BOOL ClassGuidsFromNameA(PCSTR name, LPGUID guids, DWORD size, PDWORD required) override {
    auto call = Entry<BOOL(WINAPI*)(PCSTR, LPGUID, DWORD, PDWORD)>(
        "SetupDiClassGuidsFromNameA");
    return call ? call(name, guids, size, required) : FALSE;
  }
  HDEVINFO GetClassDevsA(const GUID* guid, DWORD flags) override {
    auto call = Entry<HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD)>(
        "SetupDiGetClassDevsA");
    return call ? call(guid, nullptr, nullptr, flags) : INVALID_HANDLE_VALUE;
  }
  BOOL EnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) override {
    auto call = Entry<BOOL(WINAPI*)(HDEVINFO, DWORD, PSP_DEVINFO_DATA)>("SetupDiEnumDeviceInfo");
    return call ? call(set, index, data) : FALSE;
  }
  BOOL GetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR id, DWORD size,
                            PDWORD required) override {
    auto call = Entry<BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, PSTR, DWORD, PDWORD)>(
        "SetupDiGetDeviceInstanceIdA");
    return call ? call(set, data, id, size, required) : FALSE;
  }
  BOOL DestroyDeviceInfoList(HDEVINFO set) override {
    auto call = Entry<BOOL(WINAPI*)(HDEVINFO)>("SetupDiDestroyDeviceInfoList");
    return call ? call(set) : FALSE;
  }
  HMODULE LoadLibraryA(LPCSTR name) override { return ::LoadLibraryA(name); }
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
    return ::GetProcAddress(module, name);
  }
  BOOL FreeLibrary(HMODULE module) override { return ::FreeLibrary(module); }

 private:
  // SetupAPI stays loaded once used: it is never freed while this library may unload.
  static HMODULE SetupApi() {
    static const HMODULE module = ::LoadLibraryA("SETUPAPI.DLL");
    return module;
  }
  template <typename Function>
  static Function Entry(const char* name) {
    const HMODULE module = SetupApi();
    return module ? reinterpret_cast<Function>(
                        reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
  }
};

template <typename Function>
Function EntryPoint(EjectApi* api, HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(api->GetProcAddress(module, name)));
}

void RemoveDevice(EjectApi* api, bool nt_family, DevInst instance) {
  HMODULE module = api->LoadLibraryA(nt_family ? "SETUPAPI.DLL" : "CFGMGR32.DLL");
  if (module == nullptr) return;
  if (nt_family) {
    auto request_eject = EntryPoint<RequestEjectFunction>(api, module, "CM_Request_Device_EjectA");
    if (request_eject) {
      int veto_type = 0;
      char veto_name[kVetoNameLength] = {};
      request_eject(instance, &veto_type, veto_name, kVetoNameLength, 0);
    }
  } else {
    auto query = EntryPoint<SubTreeFunction>(api, module, "CM_Query_Remove_SubTree");
    auto remove = EntryPoint<SubTreeFunction>(api, module, "CM_Remove_SubTree");
    if (query && remove && query(instance, 0) == kConfigSuccess) remove(instance, 0);
  }
  api->FreeLibrary(module);
}

void EjectFromClass(EjectApi* api, const GUID& guid, const std::string& pattern,
                    bool nt_family) {
  HDEVINFO set = api->GetClassDevsA(&guid, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof data;
  for (DWORD index = 0; api->EnumDeviceInfo(set, index, &data); ++index) {
    char id[kInstanceIdLength + 1] = {};
    if (!api->GetDeviceInstanceIdA(set, &data, id, kInstanceIdLength, nullptr)) continue;
    if (std::strstr(id, pattern.c_str()) != nullptr) RemoveDevice(api, nt_family, data.DevInst);
  }
  api->DestroyDeviceInfoList(set);
}

}  // namespace

EjectApi* EjectApi::System() {
  static SystemEjectApi api;
  return &api;
}

std::string PlayerInstancePattern(uint32_t vendor_id, uint32_t product_id, uint32_t serial_low,
                                  uint32_t serial_high) {
  return FormatString("USB\\VID_%04X&PID_%04X\\%08X%08X", vendor_id, product_id, serial_high,
                      serial_low);
}

void EjectPlayer(uint32_t vendor_id, uint32_t product_id, uint32_t serial_low,
                 uint32_t serial_high, EjectApi* api) {
  if (api == nullptr) api = EjectApi::System();
  const WindowsVersion version = api->GetVersion();
  const bool nt_family = version.platform_id == VER_PLATFORM_WIN32_NT;
  const char* class_name;
  if (nt_family || (version.platform_id == VER_PLATFORM_WIN32_WINDOWS && version.major == 4 &&
                    version.minor == 90)) {
    class_name = "usb";
  } else if (version.platform_id == VER_PLATFORM_WIN32_WINDOWS) {
    class_name = "hdc";
  } else {
    return;
  }
  const std::string pattern =
      PlayerInstancePattern(vendor_id, product_id, serial_low, serial_high);
  GUID guids[kMaxClassGuids];
  DWORD count = 0;
  if (!api->ClassGuidsFromNameA(class_name, guids, kMaxClassGuids, &count)) return;
  if (count > kMaxClassGuids) count = kMaxClassGuids;
  for (DWORD i = 0; i < count; ++i) EjectFromClass(api, guids[i], pattern, nt_family);
}
