// The Win32 functions through which the USB transport reaches the kernel driver. The transport
// calls nothing else of the system (sleeps go through Clock), so tests can put a scripted table
// in its place and drive every error path without a player.
#pragma once

#include <windows.h>

class Win32UsbApi {
 public:
  virtual ~Win32UsbApi() = default;

  // Each forwards to the Win32 function of the same name, with the same contract.
  virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE template_file) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                               DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) = 0;
  virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD done,
                        LPOVERLAPPED overlapped) = 0;
  virtual BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD done,
                         LPOVERLAPPED overlapped) = 0;
  virtual BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD done,
                                   BOOL wait) = 0;
  virtual BOOL CancelIo(HANDLE file) = 0;
  virtual HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset,
                              BOOL initial_state, LPCSTR name) = 0;
  virtual BOOL ResetEvent(HANDLE event) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) = 0;
  virtual HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum,
                                  LPCSTR name) = 0;
  virtual DWORD GetLastError() = 0;

  // The real functions of the system.
  static Win32UsbApi* System();
};
