#include "devices/usb/win32_usb_hardware.h"

#include <usb.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

#include "devices/device_results.h"
#include "devices/usb/win32_usb_api.h"
#include "support/clock.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"

namespace {

constexpr uint8_t kVendorDeviceToHost = 0xC0;
constexpr uint32_t kMinWaitMs = 100;            // a zero time-out must not fail at once
constexpr uint32_t kIncompleteRetries = 10;     // ERROR_IO_INCOMPLETE is retried this often
constexpr uint32_t kIncompleteDelayMs = 500;
constexpr uint32_t kCancelWaitMs = 1000;        // for a cancelled transfer to hand back
constexpr uint32_t kResetWaitMs = 1000;
constexpr uint32_t kDefaultMaxTransfer = 0x10000;
constexpr DWORD kInterfaceInfoSize = 16384;
constexpr DWORD kDescriptorSize = 18;
constexpr size_t kProductIdOffset = 10;
constexpr DWORD kOpenAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kOpenShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Not a result anybody sees: the driver had not finished a transfer it reported as done.
constexpr Result kIncomplete = 2;

// A failed call whose last error is 0 is still a failure.
Result ErrorResult(DWORD error) { return error == 0 ? rc::kFail : rc::FromWin32(error); }

Result ControlError(DWORD error) {
  switch (error) {
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
      return rc::kPlayerGone;
    case ERROR_SEM_TIMEOUT:
      return rc::kTimeout;
    default:
      return ErrorResult(error);
  }
}

HANDLE OpenPath(Win32UsbApi* api, const std::string& name) {
  return api->CreateFileA(name.c_str(), kOpenAccess, kOpenShare, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
}

// DeviceIoControl on a handle opened for overlapped I/O, which the platform requires to come
// with an OVERLAPPED and its event. The driver ends its control requests itself (the current
// vendor request after a time-out of its own), so the wait has no bound of ours, as the call
// without an OVERLAPPED had none.
BOOL ControlAndWait(Win32UsbApi* api, HANDLE file, OVERLAPPED* overlapped, DWORD code,
                    void* input, DWORD input_size, void* output, DWORD output_size,
                    DWORD* returned) {
  *returned = 0;
  api->ResetEvent(overlapped->hEvent);
  if (api->DeviceIoControl(file, code, input, input_size, output, output_size, returned,
                           overlapped)) {
    return TRUE;
  }
  if (api->GetLastError() != ERROR_IO_PENDING) return FALSE;
  return api->GetOverlappedResult(file, overlapped, returned, TRUE);
}

// Only a 32-bit process can hand the driver its buffer's address in the record.
uint32_t ReplyAddress(const void* reply) {
  return sizeof(void*) == 4 ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(reply)) : 0;
}

}  // namespace

bool EncodeVendorRecord(uint8_t request, uint16_t value, uint16_t index, uint32_t reply_length,
                        uint32_t reply_address, uint8_t record[MIRRIN_VENDOR_RECORD_SIZE]) {
  if (reply_length > MIRRIN_VENDOR_MAX_DATA) return false;
  record[MIRRIN_VENDOR_RECORD_REQUEST_TYPE] = kVendorDeviceToHost;
  record[MIRRIN_VENDOR_RECORD_REQUEST] = request;
  bytes::PutLe16(record + MIRRIN_VENDOR_RECORD_VALUE, value);
  bytes::PutLe16(record + MIRRIN_VENDOR_RECORD_INDEX, index);
  bytes::PutLe16(record + MIRRIN_VENDOR_RECORD_LENGTH, static_cast<uint16_t>(reply_length));
  bytes::PutLe16(record + MIRRIN_VENDOR_RECORD_ADDRESS, static_cast<uint16_t>(reply_address));
  bytes::PutLe16(record + MIRRIN_VENDOR_RECORD_ADDRESS + 2,
                 static_cast<uint16_t>(reply_address >> 16));
  return true;
}

Win32UsbHardware::Win32UsbHardware(const std::string& path, uint32_t product_id,
                                   Win32UsbApi* api, Clock* clock)
    : path_(path),
      product_id_(product_id),
      api_(api ? api : Win32UsbApi::System()),
      clock_(clock ? clock : Clock::System()) {}

Win32UsbHardware::~Win32UsbHardware() { Close(); }

std::string Win32UsbHardware::LockName(const std::string& path) {
  std::string name = "velto: qelcom device open:" + path;
  std::replace(name.begin(), name.end(), '\\', '_');
  return name;
}

Result Win32UsbHardware::Open() {
  // A second semaphore handle of our own would report the player as held by somebody else.
  if (device_ != INVALID_HANDLE_VALUE) return rc::kOk;
  // The semaphore is never waited on: its existence while our handle is open is the lock.
  const HANDLE lock = api_->CreateSemaphoreA(nullptr, 0, 1, LockName(path_).c_str());
  const DWORD error = api_->GetLastError();
  if (!lock) {
    TORVEX_TRACE("CreateSemaphore failed outright: 0x%08x.\n",
                 static_cast<unsigned>(rc::FromWin32(error)));
  }
  lock_ = lock ? lock : INVALID_HANDLE_VALUE;
  Result result = error == ERROR_ALREADY_EXISTS ? rc::kPlayerBusy : OpenFiles();
  if (rc::Failed(result) && lock_ != INVALID_HANDLE_VALUE) {
    api_->CloseHandle(lock_);
    lock_ = INVALID_HANDLE_VALUE;
  }
  // The driver takes one handle per pipe: another holder without our semaphore has it.
  if (result == rc::kWin32Busy) result = rc::kPlayerBusy;
  return result;
}

Result Win32UsbHardware::OpenFiles() {
  struct {
    const char* suffix;
    HANDLE* handle;
  } const files[] = {
      {MIRRIN_PIPE_READ_NAME, &read_pipe_}, {MIRRIN_PIPE_WRITE_NAME, &write_pipe_}, {"", &device_}};
  for (const auto& file : files) {
    *file.handle = OpenPath(api_, path_ + file.suffix);
    if (*file.handle == INVALID_HANDLE_VALUE) {
      const Result result = ErrorResult(api_->GetLastError());
      Close();
      return result;
    }
  }
  const HANDLE event = api_->CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    const Result result = ErrorResult(api_->GetLastError());
    Close();
    return result;
  }
  event_ = event;
  overlapped_ = OVERLAPPED{};
  overlapped_.hEvent = event_;
  return rc::kOk;
}

Result Win32UsbHardware::Close() {
  for (HANDLE* handle : {&read_pipe_, &write_pipe_, &device_, &lock_, &event_}) {
    if (*handle != INVALID_HANDLE_VALUE) api_->CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
  }
  overlapped_.hEvent = nullptr;
  return rc::kOk;
}

Result Win32UsbHardware::ControlRequest(uint8_t request, uint16_t value, uint16_t index,
                                        uint8_t reply[kReplySize]) {
  uint8_t record[MIRRIN_VENDOR_RECORD_SIZE];
  static_assert(kReplySize <= MIRRIN_VENDOR_MAX_DATA, "a reply fits one control transfer");
  EncodeVendorRecord(request, value, index, kReplySize, ReplyAddress(reply), record);
  if (control_code_ == MIRRIN_IOCTL_VENDOR_REQUEST) {
    DWORD returned = 0;
    if (ControlAndWait(api_, device_, &overlapped_, MIRRIN_IOCTL_VENDOR_REQUEST, record,
                       MIRRIN_VENDOR_RECORD_SIZE, reply, kReplySize, &returned)) {
      return returned == kReplySize ? rc::kOk : rc::kWrongReplySize;
    }
    const DWORD error = api_->GetLastError();
    if (error != ERROR_INVALID_PARAMETER) return ControlError(error);
    // A driver of the first generation: it only knows the older code, for good.
    control_code_ = MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS;
  }
  return SendOldVendorRequest(record, reply);
}

Result Win32UsbHardware::SendOldVendorRequest(uint8_t* record, uint8_t* reply) {
  // The record holds the reply's address in 32 bits, which no 64-bit address fits.
  if (sizeof(void*) != 4) return rc::kNotImplemented;
  DWORD returned = 0;
  if (ControlAndWait(api_, device_, &overlapped_, MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS, record,
                     MIRRIN_VENDOR_RECORD_SIZE, reply, kReplySize, &returned)) {
    return rc::kOk;
  }
  return ControlError(api_->GetLastError());
}

uint32_t Win32UsbHardware::QueryMaxTransfer() {
  if (max_transfer_ != 0) return max_transfer_;
  constexpr size_t kPipeCountOffset = offsetof(USBD_INTERFACE_INFORMATION, NumberOfPipes);
  constexpr size_t kMaxTransferOffset = offsetof(USBD_INTERFACE_INFORMATION, Pipes) +
                                        offsetof(USBD_PIPE_INFORMATION, MaximumTransferSize);
  static_assert(sizeof(void*) != 4 || (kPipeCountOffset == 12 && kMaxTransferOffset == 28),
                "the 32-bit record the driver copies");
  std::unique_ptr<uint8_t[]> info(new (std::nothrow) uint8_t[kInterfaceInfoSize]());
  DWORD returned = 0;
  if (info &&
      ControlAndWait(api_, device_, &overlapped_, MIRRIN_IOCTL_GET_INTERFACE_INFO, info.get(),
                     kInterfaceInfoSize, info.get(), kInterfaceInfoSize, &returned) &&
      returned >= sizeof(USBD_INTERFACE_INFORMATION) &&
      bytes::Le32(info.get() + kPipeCountOffset) != 0) {
    max_transfer_ = bytes::Le32(info.get() + kMaxTransferOffset);
  }
  if (max_transfer_ == 0) max_transfer_ = kDefaultMaxTransfer;
  return max_transfer_;
}

// Cancels the transfer pending on `file` and waits, bounded, for the driver to hand back the
// overlapped structure and the buffer, which the caller may reuse or free once we return.
void Win32UsbHardware::CancelPending(HANDLE file, DWORD* moved) {
  api_->CancelIo(file);
  if (api_->WaitForSingleObject(event_, kCancelWaitMs) == WAIT_OBJECT_0) {
    DWORD n = 0;
    if (api_->GetOverlappedResult(file, &overlapped_, &n, FALSE) || n != 0) *moved = n;
  }
  api_->ResetEvent(event_);
}

// Waits for the transfer pending on `file`: 0 with *moved when it finished, kIncomplete when
// the driver had not finished it after all, else the failure. A transfer that did not finish
// is cancelled; *moved then holds what it moved before.
Result Win32UsbHardware::FinishPending(HANDLE file, uint32_t timeout_ms, DWORD* moved) {
  *moved = 0;
  Result result;
  const DWORD wait = api_->WaitForSingleObject(event_, std::max(timeout_ms, kMinWaitMs));
  if (wait == WAIT_OBJECT_0) {
    if (api_->GetOverlappedResult(file, &overlapped_, moved, FALSE)) {
      api_->ResetEvent(event_);
      return rc::kOk;
    }
    const DWORD error = api_->GetLastError();
    result = error == ERROR_IO_INCOMPLETE ? kIncomplete : ErrorResult(error);
  } else if (wait == WAIT_TIMEOUT) {
    result = rc::kTimeout;
  } else if (wait == WAIT_ABANDONED) {
    result = rc::kFail;
  } else {
    result = ErrorResult(api_->GetLastError());
  }
  CancelPending(file, moved);
  return result;
}

Result Win32UsbHardware::Read(void* buffer, uint32_t length, uint32_t* done,
                              uint32_t timeout_ms) {
  *done = 0;
  length = std::min(length, QueryMaxTransfer());
  for (uint32_t attempt = 0; attempt < kIncompleteRetries; ++attempt) {
    if (attempt != 0) clock_->SleepMs(kIncompleteDelayMs);
    api_->ResetEvent(event_);
    DWORD n = 0;
    if (api_->ReadFile(read_pipe_, buffer, length, &n, &overlapped_)) {
      *done = std::min<uint32_t>(n, length);
      return rc::kOk;
    }
    const DWORD error = api_->GetLastError();
    if (error != ERROR_IO_PENDING) return ErrorResult(error);
    const Result result = FinishPending(read_pipe_, timeout_ms, &n);
    if (result != kIncomplete) {
      *done = std::min<uint32_t>(n, length);
      return result;
    }
  }
  // The driver never finished a read: that is a time-out, not an empty success.
  return rc::kTimeout;
}

Result Win32UsbHardware::Write(const void* buffer, uint32_t length, uint32_t* done,
                               uint32_t timeout_ms) {
  *done = 0;
  length = std::min(length, QueryMaxTransfer());
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  uint32_t sent = 0;
  // Rounds that moved nothing: the driver gets a bounded number of them.
  uint32_t idle_rounds = 0;
  Result result = rc::kOk;
  while (sent < length && idle_rounds < kIncompleteRetries) {
    DWORD n = 0;
    if (!api_->WriteFile(write_pipe_, bytes + sent, length - sent, &n, &overlapped_)) {
      const DWORD error = api_->GetLastError();
      if (error == ERROR_IO_PENDING) {
        result = FinishPending(write_pipe_, timeout_ms, &n);
      } else {
        api_->ResetEvent(event_);
        result = ErrorResult(error);
        n = 0;
      }
    }
    sent += std::min<uint32_t>(n, length - sent);
    if (result == rc::kTimeout) {
      ResetWritePipe();
      *done = sent;
      return result;
    }
    if (rc::Failed(result)) break;
    if (result == kIncomplete) {
      clock_->SleepMs(kIncompleteDelayMs);
      result = rc::kOk;
      ++idle_rounds;
    } else if (n == 0) {
      ++idle_rounds;
    }
    api_->ResetEvent(event_);
  }
  *done = sent;
  // The driver kept the rest: report it as the time-out it is, not as success.
  if (result == rc::kOk && sent < length) result = rc::kTimeout;
  return result;
}

// After a write time-out the pipe may still hold part of the transfer; its result is of no use
// to the caller.
void Win32UsbHardware::ResetWritePipe() {
  DWORD n = 0;
  if (api_->DeviceIoControl(write_pipe_, MIRRIN_IOCTL_RESET_PIPE, nullptr, 0, nullptr, 0, &n,
                            &overlapped_)) {
    return;
  }
  if (api_->GetLastError() != ERROR_IO_PENDING) return;
  if (api_->WaitForSingleObject(event_, kResetWaitMs) == WAIT_OBJECT_0 &&
      api_->GetOverlappedResult(write_pipe_, &overlapped_, &n, FALSE)) {
    api_->ResetEvent(event_);
    return;
  }
  CancelPending(write_pipe_, &n);
}

UsbHardware* Win32UsbHardware::Clone() {
  return new (std::nothrow) Win32UsbHardware(path_, product_id_, api_, clock_);
}

Result Win32UsbHardware::GetProductId(uint32_t* product_id) {
  *product_id = product_id_;
  return rc::kOk;
}

Result Win32UsbHardware::GetName(std::string* name) {
  *name = "Win32@" + path_;
  return rc::kOk;
}

Result Win32UsbHardware::GetPath(std::string* path) {
  *path = path_;
  return rc::kOk;
}

Result ReadUsbProductId(const std::string& path, uint32_t* product_id, Win32UsbApi* api) {
  if (!api) api = Win32UsbApi::System();
  const HANDLE device = OpenPath(api, path);
  if (device == INVALID_HANDLE_VALUE) return ErrorResult(api->GetLastError());
  OVERLAPPED overlapped = {};
  overlapped.hEvent = api->CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!overlapped.hEvent) {
    const Result result = ErrorResult(api->GetLastError());
    api->CloseHandle(device);
    return result;
  }
  uint8_t descriptor[kDescriptorSize] = {};
  DWORD returned = 0;
  const BOOL ok = ControlAndWait(api, device, &overlapped, MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR,
                                 descriptor, kDescriptorSize, descriptor, kDescriptorSize,
                                 &returned);
  api->CloseHandle(overlapped.hEvent);
  api->CloseHandle(device);
  if (!ok || returned != kDescriptorSize) return rc::kNoDeviceDescriptor;
  *product_id = descriptor[kProductIdOffset] | (descriptor[kProductIdOffset + 1] << 8);
  return rc::kOk;
}
