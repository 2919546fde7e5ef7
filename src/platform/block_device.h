// BlockDevice: the base of every numbered block device, and the process-wide registry that a
// device joins when it is made and leaves when it is destroyed.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

// Device statuses; IRBlockDevice turns them into platform codes.
namespace device_status {
constexpr int kOk = 1;
constexpr int kBadRequest = 2;  // out of range, no such member
constexpr int kNoMemory = 3;
constexpr int kBufferTooSmall = 4;
constexpr int kNotReady = 5;
constexpr int kIoError = 6;
}  // namespace device_status

Result DeviceStatusToResult(int status);

class BlockDevice {
 public:
  // Registers the device; the name is not copied and must outlive it. A name and number that
  // are already registered fail an assertion.
  BlockDevice(const char* name, uint32_t number);
  BlockDevice(const BlockDevice&) = delete;
  BlockDevice& operator=(const BlockDevice&) = delete;

  virtual uint64_t Capacity() = 0;  // in sectors
  virtual uint32_t SectorSize() = 0;
  // Start and count in sectors; the argument is the device's own.
  virtual int Read(uint64_t start, uint32_t count, void* buffer, uint32_t argument) = 0;
  virtual int Write(uint64_t start, uint32_t count, const void* buffer, uint32_t argument) = 0;
  virtual int Control(uint32_t code, void* buffer, uint32_t size) {
    return device_status::kBadRequest;
  }
  // The cost of a transfer, which the file systems add up and scale.
  virtual uint64_t ReadEstimate(uint64_t position, uint64_t length, uint32_t flags) {
    return length;
  }
  virtual uint64_t WriteEstimate(uint64_t position, uint64_t length, uint32_t flags) {
    return length;
  }
  virtual bool Ready() { return true; }
  virtual void Destroy() { delete this; }
  virtual void OpenCountChanged() {}

  const char* Name() const { return name_; }
  uint32_t Number() const { return number_; }
  uint32_t OpenCount() const { return open_count_; }
  uint32_t StateFlags() const { return state_flags_; }
  void AddStateFlags(uint32_t flags) { state_flags_ |= flags; }

 protected:
  virtual ~BlockDevice();

 private:
  friend class IRBlockDevice;
  const char* name_;
  uint32_t number_;
  uint32_t open_count_ = 0;
  uint32_t state_flags_ = 0;
};

namespace block_flags {
constexpr uint32_t kVirtualDiskMember = 8;
constexpr uint32_t kVirtualDisk = 16;
}  // namespace block_flags

// Registry walks, in ascending number (then name) order.
uint32_t BlockDeviceCount();
// Null after the last.
BlockDevice* BlockDeviceAt(uint32_t index);
// Destroys every registered device (when the platform is destroyed).
void DestroyAllBlockDevices();
