#include "devices/usb/win32_usb_api.h"

namespace {

class SystemWin32UsbApi : public Win32UsbApi {
 public:
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE template_file) override {
    return ::CreateFileA(name, access, share, security, disposition, flags, template_file);
  }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                       DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) override {
    return ::DeviceIoControl(device, code, in, in_size, out, out_size, returned, overlapped);
  }
  BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD done,
                LPOVERLAPPED overlapped) override {
    return ::ReadFile(file, buffer, length, done, overlapped);
  }
  BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD done,
                 LPOVERLAPPED overlapped) override {
    return ::WriteFile(file, buffer, length, done, overlapped);
  }
  BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD done,
                           BOOL wait) override {
    return ::GetOverlappedResult(file, overlapped, done, wait);
  }
  BOOL CancelIo(HANDLE file) override { return ::CancelIo(file); }
  HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                      LPCSTR name) override {
    return ::CreateEventA(security, manual_reset, initial_state, name);
  }
  BOOL ResetEvent(HANDLE event) override { return ::ResetEvent(event); }
  DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) override {
    return ::WaitForSingleObject(handle, timeout_ms);
  }
  HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum,
                          LPCSTR name) override {
    return ::CreateSemaphoreA(security, initial, maximum, name);
  }
  DWORD GetLastError() override { return ::GetLastError(); }
};

}  // namespace

Win32UsbApi* Win32UsbApi::System() {
  static SystemWin32UsbApi api;
  return &api;
}
