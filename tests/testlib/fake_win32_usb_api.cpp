#include "testlib/fake_win32_usb_api.h"

#include <cstring>

namespace {
const char kSemaphorePrefix[] = "semaphore:";
}

FakeWin32UsbApi::~FakeWin32UsbApi() {
  for (HANDLE handle : real_handles_) ::CloseHandle(handle);
}

std::vector<DWORD> FakeWin32UsbApi::IoctlCodes() const {
  std::vector<DWORD> codes;
  for (const auto& call : ioctls) codes.push_back(call.code);
  return codes;
}

FakeWin32UsbApi::Step FakeWin32UsbApi::DefaultIoctl(const IoctlCall& call, uint8_t* out) {
  if (call.code == 0x22001C) {
    if (out) std::memset(out, 0, call.out_size);
    return Done(call.out_size < 12 ? call.out_size : 12);
  }
  if (call.code == 0x220008) return Done(0);
  return Fail(ERROR_INVALID_FUNCTION);
}

HANDLE FakeWin32UsbApi::NewHandle(const std::string& name) {
  const HANDLE handle = reinterpret_cast<HANDLE>(next_handle_);
  next_handle_ += 4;
  handles_[handle] = name;
  return handle;
}

BOOL FakeWin32UsbApi::Answer(const Step& step, LPDWORD done) {
  if (done) *done = step.bytes;
  if (!step.ok) last_error_ = step.error;
  return step.ok;
}

HANDLE FakeWin32UsbApi::CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                    DWORD flags, HANDLE) {
  opened.push_back(name);
  open_flags.push_back(flags);
  const auto error = open_errors.find(name);
  if (error != open_errors.end()) {
    last_error_ = error->second;
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle = NewHandle(name);
  if (flags & FILE_FLAG_OVERLAPPED) overlapped_files_.insert(handle);
  return handle;
}

bool FakeWin32UsbApi::RefusedWithoutOverlapped(HANDLE file, LPOVERLAPPED overlapped) {
  if (!overlapped_files_.count(file)) return false;
  const auto event = overlapped ? handles_.find(overlapped->hEvent) : handles_.end();
  if (event != handles_.end() && event->second == "event") return false;
  ++calls_without_overlapped;
  last_error_ = ERROR_INVALID_PARAMETER;
  return true;
}

BOOL FakeWin32UsbApi::CloseHandle(HANDLE handle) {
  if (real_handles_.erase(handle)) return ::CloseHandle(handle);
  const auto found = handles_.find(handle);
  if (found == handles_.end()) {
    last_error_ = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  overlapped_files_.erase(handle);
  if (found->second.rfind(kSemaphorePrefix, 0) == 0) {
    --semaphores_[found->second.substr(sizeof(kSemaphorePrefix) - 1)];
  }
  handles_.erase(found);
  return TRUE;
}

BOOL FakeWin32UsbApi::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size,
                                      LPVOID out, DWORD out_size, LPDWORD returned,
                                      LPOVERLAPPED overlapped) {
  if (!Known(device)) return Answer(Fail(ERROR_INVALID_HANDLE), returned);
  if (RefusedWithoutOverlapped(device, overlapped)) return FALSE;
  const auto* input = static_cast<const uint8_t*>(in);
  ioctls.push_back({handles_[device], code,
                    std::vector<uint8_t>(input, input ? input + in_size : input), out_size,
                    overlapped != nullptr});
  const Step step = on_ioctl ? on_ioctl(ioctls.back(), static_cast<uint8_t*>(out))
                             : DefaultIoctl(ioctls.back(), static_cast<uint8_t*>(out));
  if (step.error == ERROR_IO_PENDING) pending_length_ = 0;
  return Answer(step, returned);
}

BOOL FakeWin32UsbApi::ReadFile(HANDLE file, LPVOID, DWORD length, LPDWORD done,
                               LPOVERLAPPED overlapped) {
  if (!Known(file)) return Answer(Fail(ERROR_INVALID_HANDLE), done);
  if (RefusedWithoutOverlapped(file, overlapped)) return FALSE;
  read_lengths.push_back(length);
  Step step = Done(length);
  if (!reads.empty()) {
    step = reads.front();
    reads.pop_front();
  }
  pending_length_ = length;
  return Answer(step, done);
}

BOOL FakeWin32UsbApi::WriteFile(HANDLE file, LPCVOID, DWORD length, LPDWORD done,
                                LPOVERLAPPED overlapped) {
  if (!Known(file)) return Answer(Fail(ERROR_INVALID_HANDLE), done);
  if (RefusedWithoutOverlapped(file, overlapped)) return FALSE;
  write_lengths.push_back(length);
  Step step = Done(length);
  if (!writes.empty()) {
    step = writes.front();
    writes.pop_front();
  }
  pending_length_ = length;
  return Answer(step, done);
}

BOOL FakeWin32UsbApi::GetOverlappedResult(HANDLE file, LPOVERLAPPED, LPDWORD done, BOOL) {
  if (!Known(file)) return Answer(Fail(ERROR_INVALID_HANDLE), done);
  Step step = Done(pending_length_);
  if (!overlapped_results.empty()) {
    step = overlapped_results.front();
    overlapped_results.pop_front();
  }
  return Answer(step, done);
}

BOOL FakeWin32UsbApi::CancelIo(HANDLE file) {
  ++cancels;
  return Known(file);
}

HANDLE FakeWin32UsbApi::CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) {
  if (event_error != 0) {
    last_error_ = event_error;
    return nullptr;
  }
  return NewHandle("event");
}

BOOL FakeWin32UsbApi::ResetEvent(HANDLE event) { return Known(event); }

DWORD FakeWin32UsbApi::WaitForSingleObject(HANDLE, DWORD timeout_ms) {
  wait_timeouts.push_back(timeout_ms);
  if (waits.empty()) return WAIT_OBJECT_0;
  const DWORD result = waits.front();
  waits.pop_front();
  return result;
}

HANDLE FakeWin32UsbApi::CreateSemaphoreA(LPSECURITY_ATTRIBUTES security, LONG initial,
                                         LONG maximum, LPCSTR name) {
  semaphore_names.push_back(name ? name : "");
  if (semaphore_error != 0) {
    last_error_ = semaphore_error;
    return nullptr;
  }
  if (real_semaphores) {
    const HANDLE handle = ::CreateSemaphoreA(security, initial, maximum, name);
    last_error_ = ::GetLastError();
    if (handle) real_handles_.insert(handle);
    return handle;
  }
  int& holders = semaphores_[name];
  last_error_ = holders > 0 ? ERROR_ALREADY_EXISTS : 0;
  ++holders;
  return NewHandle(std::string(kSemaphorePrefix) + name);
}
