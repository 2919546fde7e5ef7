// A scripted stand-in for the Win32 functions beneath Win32UsbHardware: files open by name
// (or fail with a chosen error), named semaphores are simulated (or real, on request), and
// transfers, waits, overlapped results and I/O control codes answer from scripts. Every call
// of interest is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "devices/usb/win32_usb_api.h"

class FakeWin32UsbApi : public Win32UsbApi {
 public:
  // The answer of one call: success with a byte count, or failure with a last error.
  struct Step {
    BOOL ok;
    DWORD error;
    DWORD bytes;
  };
  static Step Done(DWORD bytes) { return {TRUE, 0, bytes}; }
  static Step Fail(DWORD error, DWORD bytes = 0) { return {FALSE, error, bytes}; }
  static Step Pending() { return Fail(ERROR_IO_PENDING); }

  struct IoctlCall {
    std::string target;  // name the handle was opened with
    DWORD code;
    std::vector<uint8_t> input;
    DWORD out_size;
    bool overlapped;
  };
  // Fills `out` (out_size bytes) and answers; a successful Step's bytes are the count returned.
  using IoctlHandler = std::function<Step(const IoctlCall& call, uint8_t* out)>;

  // --- script ---
  std::map<std::string, DWORD> open_errors;  // file name -> error of its CreateFileA
  DWORD event_error = 0;                     // non-zero: CreateEventA fails with it
  DWORD semaphore_error = 0;                 // non-zero: CreateSemaphoreA fails with it
  bool real_semaphores = false;              // use the system's named semaphores
  std::deque<Step> reads;                    // ReadFile answers; empty: the whole length
  std::deque<Step> writes;                   // WriteFile answers; empty: the whole length
  std::deque<DWORD> waits;                   // WaitForSingleObject; empty: WAIT_OBJECT_0
  std::deque<Step> overlapped_results;       // empty: the pending transfer's whole length
  IoctlHandler on_ioctl;                     // null: DefaultIoctl

  // --- record ---
  std::vector<std::string> opened;  // CreateFileA names, in order
  std::vector<DWORD> open_flags;    // their flags and attributes
  std::vector<std::string> semaphore_names;
  std::vector<IoctlCall> ioctls;
  std::vector<DWORD> read_lengths;
  std::vector<DWORD> write_lengths;
  std::vector<DWORD> wait_timeouts;
  int cancels = 0;
  // I/O on a handle opened with FILE_FLAG_OVERLAPPED that came without an OVERLAPPED holding
  // an event: the platform leaves its outcome undefined, so the fake refuses it with
  // ERROR_INVALID_PARAMETER.
  int calls_without_overlapped = 0;

  ~FakeWin32UsbApi() override;

  // Handles not closed yet (files, events, semaphores).
  size_t OpenHandleCount() const { return handles_.size() + real_handles_.size(); }
  std::vector<DWORD> IoctlCodes() const;
  // Answers 0x22001C with a 12-byte reply whose status word is 0, 0x220008 with success and
  // everything else with ERROR_INVALID_FUNCTION.
  static Step DefaultIoctl(const IoctlCall& call, uint8_t* out);

  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE template_file) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                       DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) override;
  BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD done,
                LPOVERLAPPED overlapped) override;
  BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD done,
                 LPOVERLAPPED overlapped) override;
  BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD done,
                           BOOL wait) override;
  BOOL CancelIo(HANDLE file) override;
  HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                      LPCSTR name) override;
  BOOL ResetEvent(HANDLE event) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) override;
  HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum,
                          LPCSTR name) override;
  DWORD GetLastError() override { return last_error_; }

 private:
  HANDLE NewHandle(const std::string& name);
  BOOL Answer(const Step& step, LPDWORD done);
  bool Known(HANDLE handle) const { return handles_.count(handle) != 0; }
  bool RefusedWithoutOverlapped(HANDLE file, LPOVERLAPPED overlapped);

  std::map<HANDLE, std::string> handles_;
  std::set<HANDLE> real_handles_;
  std::set<HANDLE> overlapped_files_;
  std::map<std::string, int> semaphores_;  // simulated: name -> open handles
  uintptr_t next_handle_ = 0x1000;
  DWORD pending_length_ = 0;
  DWORD last_error_ = 0;
};
