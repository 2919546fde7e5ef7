// The SetupAPI, NEWDEV and configuration manager functions the driver update calls, bound by
// name at run time from the System folder. Tests put their own functions in the table.
#pragma once

#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <cfgmgr32.h>
#include <newdev.h>
// clang-format on

// NEWDEV is there only on the NT family, so headers set to Windows 98 leave its function out;
// its type as NEWDEV documents it.
typedef BOOL(WINAPI* UpdateDriverForPlugAndPlayDevicesFunction)(HWND parent,
                                                                  LPCSTR hardware_id,
                                                                  LPCSTR inf_path, DWORD flags,
                                                                  PBOOL reboot_required);

struct DriverSetupApi {
  UpdateDriverForPlugAndPlayDevicesFunction update_driver = nullptr;
  decltype(&::SetupCopyOEMInfA) copy_oem_inf = nullptr;
  decltype(&::SetupDiGetClassDevsA) get_class_devs = nullptr;
  decltype(&::SetupDiEnumDeviceInfo) enum_device_info = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyA) get_device_property = nullptr;
  decltype(&::SetupDiSetDeviceRegistryPropertyA) set_device_property = nullptr;
  decltype(&::SetupDiOpenDevRegKey) open_device_key = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) destroy_device_list = nullptr;
  decltype(&::CM_Get_DevNode_Status) get_devnode_status = nullptr;

  bool Complete() const;
};

// Binds "SETUPAPI.DLL" and "NEWDEV.DLL"; false when one of them or an entry is missing. The
// libraries stay loaded for the life of the process.
bool LoadDriverSetupApi(DriverSetupApi* api);
