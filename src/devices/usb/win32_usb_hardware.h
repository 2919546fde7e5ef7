// The USB transport over the kernel driver: one player's device interface opened as three
// files (the device for I/O control codes, "\PIPE00" for reads, "\PIPE01" for writes), vendor
// requests as I/O control codes and overlapped bulk transfers under a time-out. A named
// semaphore keeps a second holder, in this or another process, from opening the same player.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "devices/usb_hardware.h"
#include "driver/mirrin_ioctl.h"  // the driver's control codes, record and pipe names

class Clock;
class Win32UsbApi;

// The 12-byte input record of both vendor request codes, little-endian: request type 0xC0
// (vendor, device to host), request, value, index, reply length, reply address. False, and
// nothing written, for a reply longer than a control transfer's data stage can be.
bool EncodeVendorRecord(uint8_t request, uint16_t value, uint16_t index, uint32_t reply_length,
                        uint32_t reply_address, uint8_t record[MIRRIN_VENDOR_RECORD_SIZE]);

class Win32UsbHardware : public UsbHardware {
 public:
  // api and clock: null for the system's own; both must outlive the transport and its clones.
  Win32UsbHardware(const std::string& path, uint32_t product_id, Win32UsbApi* api = nullptr,
                   Clock* clock = nullptr);
  ~Win32UsbHardware() override;
  Win32UsbHardware(const Win32UsbHardware&) = delete;
  Win32UsbHardware& operator=(const Win32UsbHardware&) = delete;

  // rc::kPlayerBusy when the player's semaphore exists already or the driver answers
  // ERROR_BUSY; otherwise the Win32 error of the first file that does not open. A failed Open
  // leaves the transport closed. Open on an open transport changes nothing.
  Result Open() override;
  Result Close() override;
  // rc::kPlayerGone when the player has gone, rc::kTimeout when the driver timed out,
  // rc::kWrongReplySize for a short reply. A driver that does not know the current request
  // code is served with the older one from then on; a 64-bit process cannot use that one and
  // gets rc::kNotImplemented.
  Result ControlRequest(uint8_t request, uint16_t value, uint16_t index,
                        uint8_t reply[kReplySize]) override;
  // One transfer of at most the pipe's maximum transfer size. Waits at least 100 ms; a
  // transfer not done in time is cancelled and gives rc::kTimeout with *done the bytes moved.
  Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) override;
  // Also resets the write pipe after a time-out.
  Result Write(const void* buffer, uint32_t length, uint32_t* done,
               uint32_t timeout_ms) override;
  UsbHardware* Clone() override;
  Result GetProductId(uint32_t* product_id) override;
  Result GetName(std::string* name) override;
  Result GetPath(std::string* path) override;

  // Name of the semaphore that marks the player at `path` as held.
  static std::string LockName(const std::string& path);

 private:
  Result OpenFiles();
  uint32_t QueryMaxTransfer();
  Result SendOldVendorRequest(uint8_t* record, uint8_t* reply);
  Result FinishPending(HANDLE file, uint32_t timeout_ms, DWORD* moved);
  void CancelPending(HANDLE file, DWORD* moved);
  void ResetWritePipe();

  std::string path_;
  uint32_t product_id_;
  Win32UsbApi* api_;
  Clock* clock_;
  HANDLE read_pipe_ = INVALID_HANDLE_VALUE;
  HANDLE write_pipe_ = INVALID_HANDLE_VALUE;
  HANDLE device_ = INVALID_HANDLE_VALUE;
  HANDLE lock_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = INVALID_HANDLE_VALUE;
  // Shared by reads, writes and the pipe reset: transfers on one object never overlap.
  OVERLAPPED overlapped_ = {};
  DWORD control_code_ = MIRRIN_IOCTL_VENDOR_REQUEST;
  uint32_t max_transfer_ = 0;
};

// Reads the USB product id from the device descriptor of the player at `path`.
// rc::kNoDeviceDescriptor when the descriptor does not come back whole; the Win32 error when
// the path does not open.
Result ReadUsbProductId(const std::string& path, uint32_t* product_id,
                        Win32UsbApi* api = nullptr);
