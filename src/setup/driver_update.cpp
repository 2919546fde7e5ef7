#include "setup/driver_update.h"

#include <algorithm>
#include <set>

#include "setup/install_engine.h"
#include "setup/setup_codes.h"

namespace {

constexpr DWORD kNoSuchDeviceInstance = 0xE000020B;
constexpr DWORD kConfigFlagReinstall = 0x20;

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return _stricmp(a.c_str(), b.c_str()) < 0;
  }
};
using InfNames = std::set<std::string, CaseInsensitiveLess>;

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Step 1: the update for every id. An id without a device is no failure.
Result UpdateForEachId(InstallEngine& engine, const DriverSetupApi& api, HWND parent,
                       const std::string& inf_path, const std::vector<std::string>& ids,
                       bool* reboot) {
  Result result = 0;
  for (const std::string& id : ids) {
    engine.Log("UpdateDriver", id);
    BOOL reboot_required = FALSE;
    SetLastError(0);
    if (api.update_driver(parent, id.c_str(), inf_path.c_str(), 0, &reboot_required)) {
      if (reboot_required) *reboot = true;
      continue;
    }
    if (reboot_required) *reboot = true;
    const DWORD error = GetLastError();
    if (error == 0) {
      result = setup_rc::kInstalledDriverNewer;
    } else if (error == ERROR_NO_MORE_ITEMS || error == kNoSuchDeviceInstance) {
      result = setup_rc::kNothingToDo;
    } else {
      return rc::FromWin32(error);
    }
  }
  return result;
}

bool HardwareIdListHolds(const DriverSetupApi& api, HDEVINFO devices, SP_DEVINFO_DATA* device,
                         const std::string& id) {
  DWORD size = 0;
  api.get_device_property(devices, device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<char> list(size + 2, '\0');
  if (!api.get_device_property(devices, device, SPDRP_HARDWAREID, nullptr,
                               reinterpret_cast<BYTE*>(list.data()), size, nullptr))
    return false;
  for (const char* entry = list.data(); *entry && entry < list.data() + size;
       entry += strlen(entry) + 1) {
    if (_stricmp(entry, id.c_str()) == 0) return true;
  }
  return false;
}

bool Present(const DriverSetupApi& api, const SP_DEVINFO_DATA& device) {
  ULONG status = 0, problem = 0;
  return api.get_devnode_status(&status, &problem, device.DevInst, 0) == CR_SUCCESS;
}

void MarkForReinstall(const DriverSetupApi& api, HDEVINFO devices, SP_DEVINFO_DATA* device) {
  DWORD flags = 0;
  api.get_device_property(devices, device, SPDRP_CONFIGFLAGS, nullptr,
                          reinterpret_cast<BYTE*>(&flags), sizeof(flags), nullptr);
  flags |= kConfigFlagReinstall;
  api.set_device_property(devices, device, SPDRP_CONFIGFLAGS, reinterpret_cast<BYTE*>(&flags),
                          sizeof(flags));
}

void AddDriverInf(const DriverSetupApi& api, HDEVINFO devices, SP_DEVINFO_DATA* device,
                  InfNames* names) {
  HKEY key = api.open_device_key(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE || key == nullptr) return;
  char name[MAX_PATH + 1] = {};
  DWORD type = 0, size = MAX_PATH;
  if (RegQueryValueExA(key, "InfPath", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
          ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    name[std::min<DWORD>(size, MAX_PATH)] = '\0';
    if (name[0]) names->insert(name);
  }
  RegCloseKey(key);
}

// Step 3: absent devices of the id get reinstalled when they next appear; their INFs are
// gathered.
void CollectAbsentDevices(const DriverSetupApi& api, const std::string& id, InfNames* names) {
  HDEVINFO devices = api.get_class_devs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (devices == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof(device);
  for (DWORD index = 0; api.enum_device_info(devices, index, &device); ++index) {
    if (!HardwareIdListHolds(api, devices, &device, id) || Present(api, device)) continue;
    MarkForReinstall(api, devices, &device);
    AddDriverInf(api, devices, &device, names);
  }
  api.destroy_device_list(devices);
}

// What SetupCopyOEMInfA names the INFs of driver packages: "oem", a number, ".inf". Every
// other INF came with Windows and stays, whatever its version says.
bool IsDriverPackageInf(const std::string& name) {
  if (name.size() < 8 || _strnicmp(name.c_str(), "oem", 3) != 0) return false;
  const size_t extension = name.size() - 4;
  if (_stricmp(name.c_str() + extension, ".inf") != 0) return false;
  for (size_t i = 3; i < extension; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return true;
}

// Step 4: driver-package INFs older than the one just copied go, with their precompiled PNF
// files.
void RemoveOlderInfs(InstallEngine& engine, const std::string& copied_inf,
                     const InfNames& names) {
  FileVersion copied_version;
  ReadFileVersion(copied_inf, &copied_version);
  const std::string copied_name = FileNameOf(copied_inf);
  for (const std::string& name : names) {
    if (_stricmp(name.c_str(), copied_name.c_str()) == 0 || !IsDriverPackageInf(name)) continue;
    FileVersion version;
    engine.Version(InstallLocation::kWindowsInf, name, &version);
    if (CompareVersions(copied_version, version) <= 0) continue;
    engine.RemoveFile(InstallLocation::kWindowsInf, name);
    std::string pnf = name;
    pnf[pnf.size() - 3] = 'p';
    engine.RemoveFile(InstallLocation::kWindowsInf, pnf);
  }
}

}  // namespace

Result UpdateDriver(InstallEngine& engine, const DriverSetupApi& api, HWND parent,
                    const std::string& inf_path, const std::vector<std::string>& hardware_ids) {
  bool reboot = false;
  const Result result = UpdateForEachId(engine, api, parent, inf_path, hardware_ids, &reboot);
  if (reboot) engine.RequestReboot();
  if (result < 0 && result != setup_rc::kInstalledDriverNewer) return result;

  char copied[MAX_PATH + 1] = {};
  if (!api.copy_oem_inf(inf_path.c_str(), nullptr, SPOST_PATH, 0, copied, MAX_PATH, nullptr,
                        nullptr))
    return rc::FromWin32(GetLastError());

  InfNames names;
  for (const std::string& id : hardware_ids) CollectAbsentDevices(api, id, &names);
  RemoveOlderInfs(engine, copied, names);
  return result;
}
