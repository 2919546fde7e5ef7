#include "devices/msc/volume_io_api.h"

namespace {

class SystemVolumeIoApi : public VolumeIoApi {
 public:
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags) override {
    return ::CreateFileA(name, access, share, nullptr, disposition, flags, nullptr);
  }
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                       DWORD out_size, LPDWORD returned) override {
    return ::DeviceIoControl(device, code, in, in_size, out, out_size, returned, nullptr);
  }
  BOOL FlushFileBuffers(HANDLE file) override { return ::FlushFileBuffers(file); }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
  DWORD GetLastError() override { return ::GetLastError(); }
  DWORD GetLogicalDrives() override { return ::GetLogicalDrives(); }
  UINT GetDriveTypeA(LPCSTR root) override { return ::GetDriveTypeA(root); }
  WindowsVersion GetVersion() override {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    WindowsVersion version;
    if (::GetVersionExA(&info)) {
      version.platform_id = info.dwPlatformId;
      version.major = info.dwMajorVersion;
      version.minor = info.dwMinorVersion;
    }
    return version;
  }
};

}  // namespace

VolumeIoApi* VolumeIoApi::System() {
  static SystemVolumeIoApi api;
  return &api;
}

bool IsWindowsXpOrLater(const WindowsVersion& version) {
  return version.platform_id == VER_PLATFORM_WIN32_NT &&
         (version.major > 5 || (version.major == 5 && version.minor >= 1));
}
