#include "platform/ir_block_device.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform_codes.h"

namespace {

std::string FullName(const BlockDevice* device) {
  char text[80];
  snprintf(text, sizeof text, "%s:%lu", device->Name(),
           static_cast<unsigned long>(device->Number()));
  return text;
}

bool SameName(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// Index of the named device in the registry's order, or -1.
int64_t IndexOf(const char* name) {
  for (uint32_t i = 0; BlockDevice* device = BlockDeviceAt(i); ++i)
    if (SameName(FullName(device), name)) return i;
  return -1;
}

}  // namespace

Result IRBlockDevice::Open(BlockDevice** device, const char* name) {
  *device = nullptr;
  if (!name) return prc::kNoSuchDevice;
  int64_t index = IndexOf(name);
  BlockDevice* found = index < 0 ? nullptr : BlockDeviceAt(static_cast<uint32_t>(index));
  if (!found) return prc::kNoSuchDevice;
  ++found->open_count_;
  found->OpenCountChanged();
  *device = found;
  return prc::kOk;
}

Result IRBlockDevice::Close(BlockDevice* device) {
  if (!device) return prc::kNullDevice;
  if (device->open_count_ > 0) --device->open_count_;
  device->OpenCountChanged();
  return prc::kOk;
}

Result IRBlockDevice::Read(BlockDevice* device, uint64_t start, uint32_t count, void* buffer,
                           uint32_t argument) {
  if (!device) return prc::kNullDevice;
  return DeviceStatusToResult(device->Read(start, count, buffer, argument));
}

Result IRBlockDevice::Write(BlockDevice* device, uint64_t start, uint32_t count,
                            const void* buffer, uint32_t argument) {
  if (!device) return prc::kNullDevice;
  return DeviceStatusToResult(device->Write(start, count, buffer, argument));
}

Result IRBlockDevice::Control(BlockDevice* device, uint32_t code, void* buffer, uint32_t size) {
  if (!device) return prc::kNullDevice;
  return DeviceStatusToResult(device->Control(code, buffer, size));
}

uint64_t IRBlockDevice::ReadEstimate(BlockDevice* device, uint64_t position, uint64_t length,
                                     uint32_t flags) {
  return device ? device->ReadEstimate(position, length, flags) : 0;
}

uint64_t IRBlockDevice::WriteEstimate(BlockDevice* device, uint64_t position, uint64_t length,
                                      uint32_t flags) {
  return device ? device->WriteEstimate(position, length, flags) : 0;
}

Result IRBlockDevice::GetName(BlockDevice* device, char* buffer, uint32_t size) {
  if (!device) return prc::kNullDevice;
  std::string name = FullName(device);
  if (!buffer || name.size() + 1 > size) return prc::kDeviceBufferTooSmall;
  memcpy(buffer, name.c_str(), name.size() + 1);
  return prc::kOk;
}

Result IRBlockDevice::Enumerate(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return prc::kNoNameBuffer;
  uint32_t next = 0;
  if (buffer[0] != '\0') {
    int64_t index = IndexOf(buffer);
    if (index < 0) return prc::kNoSuchDevice;
    next = static_cast<uint32_t>(index) + 1;
  }
  BlockDevice* device = BlockDeviceAt(next);
  if (!device) return prc::kNoMoreDevices;
  return GetName(device, buffer, size);
}

uint32_t IRBlockDevice::SectorSize(BlockDevice* device) {
  return device ? device->SectorSize() : 0;
}

uint64_t IRBlockDevice::Capacity(BlockDevice* device) { return device ? device->Capacity() : 0; }

bool IRBlockDevice::Ready(BlockDevice* device) { return device && device->Ready(); }
