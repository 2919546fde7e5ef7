// The Win32 functions through which the mass-storage back end reaches drives and volumes. The
// back end calls nothing else of the system, so tests put a simulated player in its place
// (SCSI pass-through does not reach a drive here).
#pragma once

#include <windows.h>

#include <cstdint>

struct WindowsVersion {
  uint32_t platform_id = 0;  // VER_PLATFORM_WIN32_NT is 2
  uint32_t major = 0;
  uint32_t minor = 0;
};

class VolumeIoApi {
 public:
  virtual ~VolumeIoApi() = default;

  // Each forwards to the Win32 function of the same name, with the same contract.
  virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                             DWORD flags) = 0;
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                               DWORD out_size, LPDWORD returned) = 0;
  virtual BOOL FlushFileBuffers(HANDLE file) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual DWORD GetLastError() = 0;
  virtual DWORD GetLogicalDrives() = 0;
  virtual UINT GetDriveTypeA(LPCSTR root) = 0;
  virtual WindowsVersion GetVersion() = 0;

  // The real functions of the system.
  static VolumeIoApi* System();
};

// True on the NT family at version 5.1 or later.
bool IsWindowsXpOrLater(const WindowsVersion& version);
