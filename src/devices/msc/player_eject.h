// Ejects a mass-storage player by asking the configuration manager to remove its USB device,
// found among the present devices of its class by vendor id, product id and serial. Reports
// nothing: a player that is not found stays attached.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstdint>
#include <string>

#include "devices/msc/volume_io_api.h"

// The system functions eject uses; tests put a scripted table in their place.
class EjectApi {
 public:
  virtual ~EjectApi() = default;
  virtual WindowsVersion GetVersion() = 0;
  // SetupAPI, with the contracts of the functions of the same names.
  virtual BOOL ClassGuidsFromNameA(PCSTR name, LPGUID guids, DWORD size, PDWORD required) = 0;
  virtual HDEVINFO GetClassDevsA(const GUID* guid, DWORD flags) = 0;
  virtual BOOL EnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) = 0;
  virtual BOOL GetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR id, DWORD size,
                                    PDWORD required) = 0;
  virtual BOOL DestroyDeviceInfoList(HDEVINFO set) = 0;
  // The configuration manager's entry points are found by name in a library loaded for the
  // one call.
  virtual HMODULE LoadLibraryA(LPCSTR name) = 0;
  virtual FARPROC GetProcAddress(HMODULE module, LPCSTR name) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;

  static EjectApi* System();
};

// "USB\VID_%04X&PID_%04X\%08X%08X" of the player's USB identity.
std::string PlayerInstancePattern(uint32_t vendor_id, uint32_t product_id, uint32_t serial_low,
                                  uint32_t serial_high);

// `api`: null for the system's functions.
void EjectPlayer(uint32_t vendor_id, uint32_t product_id, uint32_t serial_low,
                 uint32_t serial_high, EjectApi* api = nullptr);
