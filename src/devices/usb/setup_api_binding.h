// The four SetupAPI entry points through which players' device interfaces are found. The
// process-wide binding loads "SETUPAPI.dll" by name on first use, never while the library is
// being loaded (no library loads under the loader lock); tests build a binding of their own.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

#include "support/result_codes.h"

struct SetupApiEntryPoints {
  HDEVINFO(WINAPI* GetClassDevsA)(const GUID*, PCSTR, HWND, DWORD);
  BOOL(WINAPI* EnumDeviceInterfaces)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                     PSP_DEVICE_INTERFACE_DATA);
  BOOL(WINAPI* GetDeviceInterfaceDetailA)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                          PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
                                          PSP_DEVINFO_DATA);
  BOOL(WINAPI* DestroyDeviceInfoList)(HDEVINFO);
};

// Receives the device-interface paths of one enumeration; a negative result stops it.
class DevicePathCallback {
 public:
  virtual ~DevicePathCallback() = default;
  virtual Result OnDevicePath(const std::string& path) = 0;
};

class SetupApiBinding {
 public:
  // Available when every entry point is there.
  explicit SetupApiBinding(const SetupApiEntryPoints& entry_points);
  SetupApiBinding(const SetupApiBinding&) = delete;
  SetupApiBinding& operator=(const SetupApiBinding&) = delete;

  // The process's binding, loaded on the first call (thread-safe). The library stays loaded
  // for the life of the process: freeing it while this library unloads is not allowed under
  // the loader lock.
  static SetupApiBinding& Process();

  bool available() const { return available_; }

  // Hands the path of every present interface of the class to the callback, in SetupAPI's
  // order. E_NOTIMPL when SetupAPI is missing; the first negative callback result; 0 when the
  // list ended.
  Result EnumerateInterfaces(const GUID* interface_class, DevicePathCallback& callback) const;

 private:
  std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) const;

  SetupApiEntryPoints entry_;
  bool available_;
};
