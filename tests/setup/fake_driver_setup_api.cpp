#include "fake_driver_setup_api.h"

#include <cstring>
#include <stdexcept>

namespace {

FakeDriverSetup* current = nullptr;
const HDEVINFO kDeviceList = reinterpret_cast<HDEVINFO>(static_cast<intptr_t>(0x5E7));
const char kDeviceKeys[] = "Software\\TorvexTests\\FakeDevices";

}  // namespace

struct FakeDriverSetupCalls {
  static BOOL WINAPI Update(HWND, LPCSTR id, LPCSTR, DWORD, PBOOL reboot) {
    current->update_calls.push_back(id);
    if (current->on_update) current->on_update();
    const auto found = current->answers.find(id);
    const FakeUpdateAnswer answer = found == current->answers.end() ? FakeUpdateAnswer()
                                                                     : found->second;
    if (reboot) *reboot = answer.reboot;
    if (answer.succeeds) return TRUE;
    SetLastError(answer.error);
    return FALSE;
  }

  static BOOL WINAPI CopyOemInf(PCSTR source, PCSTR, DWORD, DWORD, PSTR destination, DWORD size,
                                PDWORD, PSTR*) {
    current->copied_infs.push_back(source);
    if (current->copy_fails) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    const std::string copy = current->inf_folder_ + "\\oem7.inf";
    if (!CopyFileA(source, copy.c_str(), FALSE) || copy.size() >= size) return FALSE;
    std::strcpy(destination, copy.c_str());
    return TRUE;
  }

  static HDEVINFO WINAPI GetClassDevs(const GUID*, PCSTR, HWND, DWORD flags) {
    if (!(flags & DIGCF_ALLCLASSES) || (flags & DIGCF_PRESENT)) return INVALID_HANDLE_VALUE;
    return kDeviceList;
  }

  static BOOL WINAPI EnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data) {
    if (list != kDeviceList || index >= current->devices.size() ||
        data->cbSize != sizeof(SP_DEVINFO_DATA)) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
    data->DevInst = index + 1;
    return TRUE;
  }

  static FakeDevice& DeviceOf(PSP_DEVINFO_DATA data) { return current->devices.at(data->DevInst - 1); }

  static BOOL WINAPI GetProperty(HDEVINFO, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                 PBYTE buffer, DWORD size, PDWORD required) {
    FakeDevice& device = DeviceOf(data);
    std::string value;
    if (property == SPDRP_HARDWAREID) {
      for (const std::string& id : device.hardware_ids) value += id + '\0';
      value += '\0';
      if (type) *type = REG_MULTI_SZ;
    } else if (property == SPDRP_CONFIGFLAGS) {
      value.assign(reinterpret_cast<const char*>(&device.config_flags), sizeof(DWORD));
      if (type) *type = REG_DWORD;
    } else {
      SetLastError(ERROR_INVALID_DATA);
      return FALSE;
    }
    if (required) *required = static_cast<DWORD>(value.size());
    if (!buffer || size < value.size()) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, value.data(), value.size());
    return TRUE;
  }

  static BOOL WINAPI SetProperty(HDEVINFO, PSP_DEVINFO_DATA data, DWORD property,
                                 const BYTE* buffer, DWORD size) {
    if (property != SPDRP_CONFIGFLAGS || size != sizeof(DWORD)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::memcpy(&DeviceOf(data).config_flags, buffer, sizeof(DWORD));
    return TRUE;
  }

  static HKEY WINAPI OpenDeviceKey(HDEVINFO, PSP_DEVINFO_DATA data, DWORD scope, DWORD,
                                   DWORD key_type, REGSAM) {
    const FakeDevice& device = DeviceOf(data);
    if (scope != DICS_FLAG_GLOBAL || key_type != DIREG_DRV || device.inf_path.empty())
      return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    const std::string path = std::string(kDeviceKeys) + "\\" + std::to_string(data->DevInst);
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS)
      return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    RegSetValueExA(key, "InfPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(device.inf_path.c_str()),
                   static_cast<DWORD>(device.inf_path.size() + 1));
    return key;
  }

  static BOOL WINAPI DestroyList(HDEVINFO list) { return list == kDeviceList; }

  static CONFIGRET WINAPI DevNodeStatus(PULONG status, PULONG problem, DEVINST node, ULONG) {
    if (node == 0 || node > current->devices.size()) return CR_INVALID_DEVNODE;
    if (!current->devices[node - 1].present) return CR_NO_SUCH_DEVINST;
    *status = DN_STARTED;
    *problem = 0;
    return CR_SUCCESS;
  }
};

FakeDriverSetup::FakeDriverSetup(std::string inf_folder) : inf_folder_(std::move(inf_folder)) {
  if (current) throw std::logic_error("one FakeDriverSetup at a time");
  current = this;
}

FakeDriverSetup::~FakeDriverSetup() {
  current = nullptr;
  RegDeleteTreeA(HKEY_CURRENT_USER, kDeviceKeys);
}

DriverSetupApi FakeDriverSetup::Api() const {
  DriverSetupApi api;
  api.update_driver = &FakeDriverSetupCalls::Update;
  api.copy_oem_inf = &FakeDriverSetupCalls::CopyOemInf;
  api.get_class_devs = &FakeDriverSetupCalls::GetClassDevs;
  api.enum_device_info = &FakeDriverSetupCalls::EnumDeviceInfo;
  api.get_device_property = &FakeDriverSetupCalls::GetProperty;
  api.set_device_property = &FakeDriverSetupCalls::SetProperty;
  api.open_device_key = &FakeDriverSetupCalls::OpenDeviceKey;
  api.destroy_device_list = &FakeDriverSetupCalls::DestroyList;
  api.get_devnode_status = &FakeDriverSetupCalls::DevNodeStatus;
  return api;
}
