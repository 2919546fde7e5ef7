#include "driver/client_transport.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "devices/usb/win32_usb_api.h"
#include "devices/usb/win32_usb_hardware.h"

namespace {

constexpr int kEndlessMs = 60000;

bool Succeeded(int32_t status) { return status >= 0; }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// "\??\X" as the kernel names a link, "\\?\X" as user mode opens it.
std::string UserModePath(const std::wstring& link) {
  std::string path(link.begin(), link.end());
  if (path.compare(0, 4, "\\??\\") == 0) path.replace(0, 4, "\\\\?\\");
  return path;
}

}  // namespace

class ClientSide::Api : public Win32UsbApi {
 public:
  Api(DriverPort& port, ClientSettings settings) : port_(port), settings_(settings) {}

  ~Api() override {
    for (auto* file : files_) port_.Close(file);
  }

  std::vector<std::string> Paths() {
    std::vector<std::string> paths;
    for (const auto& link : port_.EnabledInterfaces()) paths.push_back(UserModePath(link));
    return paths;
  }

  HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD flags,
                     HANDLE) override {
    const std::string text = name;
    for (const auto& path : Paths()) {
      if (!StartsWithNoCase(text, path)) continue;
      const std::string rest = text.substr(path.size());
      DriverPort::File* file = nullptr;
      const int32_t status = port_.Open(std::wstring(rest.begin(), rest.end()), &file);
      if (!Succeeded(status)) {
        ::SetLastError(RtlNtStatusToDosError(status));
        return INVALID_HANDLE_VALUE;
      }
      files_.insert(file);
      if (flags & FILE_FLAG_OVERLAPPED) overlapped_files_.insert(file);
      return reinterpret_cast<HANDLE>(file);
    }
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }

  BOOL CloseHandle(HANDLE handle) override {
    DriverPort::File* file = Find(handle);
    if (!file) return ::CloseHandle(handle);
    files_.erase(file);
    overlapped_files_.erase(file);
    port_.Close(file);
    return TRUE;
  }

  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                       DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) override {
    DriverPort::File* file = Find(device);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (Refused(file, overlapped)) return Fail(ERROR_INVALID_PARAMETER);
    if (settings_.first_generation_driver && code == MIRRIN_IOCTL_VENDOR_REQUEST) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    return Start(file, port_.Control(file, code, in, in_size, out, out_size), returned,
                 overlapped);
  }

  BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD done,
                LPOVERLAPPED overlapped) override {
    DriverPort::File* file = Find(handle);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (Refused(file, overlapped)) return Fail(ERROR_INVALID_PARAMETER);
    return Start(file, port_.Read(file, buffer, length), done, overlapped);
  }

  BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD done,
                 LPOVERLAPPED overlapped) override {
    DriverPort::File* file = Find(handle);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (Refused(file, overlapped)) return Fail(ERROR_INVALID_PARAMETER);
    return Start(file, port_.Write(file, buffer, length), done, overlapped);
  }

  BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED overlapped, LPDWORD done, BOOL wait) override {
    auto it = pending_.find(overlapped);
    if (it == pending_.end()) return Fail(ERROR_INVALID_PARAMETER);
    if (!it->second.call->Wait(wait ? kEndlessMs : 0)) return Fail(ERROR_IO_INCOMPLETE);
    return Outcome(*it->second.call, done);
  }

  BOOL CancelIo(HANDLE handle) override {
    DriverPort::File* file = Find(handle);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    for (auto& entry : pending_) {
      if (entry.second.file == file && !entry.second.call->Wait(0)) entry.second.call->Cancel();
    }
    return TRUE;
  }

  HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                      LPCSTR name) override {
    return System()->CreateEventA(security, manual_reset, initial_state, name);
  }
  BOOL ResetEvent(HANDLE event) override { return System()->ResetEvent(event); }
  DWORD WaitForSingleObject(HANDLE handle, DWORD timeout_ms) override {
    return System()->WaitForSingleObject(handle, timeout_ms);
  }
  HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum,
                          LPCSTR name) override {
    return System()->CreateSemaphoreA(security, initial, maximum, name);
  }
  DWORD GetLastError() override { return ::GetLastError(); }

 private:
  struct Pending {
    DriverPort::File* file;
    DriverPort::CallPtr call;
  };

  DriverPort::File* Find(HANDLE handle) {
    auto* file = reinterpret_cast<DriverPort::File*>(handle);
    return files_.count(file) ? file : nullptr;
  }

  static BOOL Fail(DWORD error) {
    ::SetLastError(error);
    return FALSE;
  }

  // As the I/O manager reports a request that has ended: an error or a warning status fails
  // the call with its Win32 error.
  static BOOL Outcome(DriverPort::Call& call, LPDWORD done) {
    if (done) *done = static_cast<DWORD>(call.Information());
    const int32_t status = call.Status();
    return Succeeded(status) ? TRUE : Fail(RtlNtStatusToDosError(status));
  }

  // A handle opened for overlapped I/O needs an overlapped structure with an event for every
  // call: the platform does not say what happens without, so such a call is refused.
  bool Refused(DriverPort::File* file, LPOVERLAPPED overlapped) {
    return overlapped_files_.count(file) && (!overlapped || !overlapped->hEvent);
  }

  // Without an overlapped structure the call waits for the end; with one, a request the
  // driver has not ended yet leaves ERROR_IO_PENDING and sets the event when it ends.
  BOOL Start(DriverPort::File* file, DriverPort::CallPtr call, LPDWORD done,
             LPOVERLAPPED overlapped) {
    if (!overlapped) {
      call->Wait(kEndlessMs);
      return Outcome(*call, done);
    }
    pending_[overlapped] = Pending{file, call};
    HANDLE event = overlapped->hEvent;
    call->WhenDone([event] { ::SetEvent(event); });
    if (call->Wait(0)) return Outcome(*call, done);
    return Fail(ERROR_IO_PENDING);
  }

  DriverPort& port_;
  ClientSettings settings_;
  std::set<DriverPort::File*> files_;
  std::set<DriverPort::File*> overlapped_files_;
  std::map<LPOVERLAPPED, Pending> pending_;
};

ClientSide::ClientSide(DriverPort& port, ClientSettings settings)
    : api_(std::make_unique<Api>(port, settings)) {}

ClientSide::~ClientSide() = default;

std::string ClientSide::InterfacePath(const std::wstring& interface_guid) {
  const std::string guid(interface_guid.begin(), interface_guid.end());
  for (const auto& path : api_->Paths()) {
    if (path.size() >= guid.size() &&
        StartsWithNoCase(path.substr(path.size() - guid.size()), guid)) {
      return path;
    }
  }
  return "\\\\?\\no such interface";
}

std::unique_ptr<UsbHardware> ClientSide::NewTransport(const std::string& path,
                                                      uint32_t product_id) {
  return std::make_unique<Win32UsbHardware>(path, product_id, api_.get());
}

Result ClientSide::ReadProductId(const std::string& path, uint32_t* product_id) {
  return ReadUsbProductId(path, product_id, api_.get());
}

uint32_t ClientSide::Control(const std::string& path, uint32_t code, const void* input,
                             uint32_t input_length, void* output, uint32_t output_length,
                             uint32_t* returned) {
  const HANDLE device = api_->CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD count = 0;
  const BOOL ok = api_->DeviceIoControl(device, code, const_cast<void*>(input), input_length,
                                        output, output_length, &count, nullptr);
  const DWORD error = ok ? 0 : ::GetLastError();
  api_->CloseHandle(device);
  *returned = count;
  return error;
}
