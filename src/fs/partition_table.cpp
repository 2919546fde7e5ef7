#include "fs/partition_table.h"

#include <cstring>
#include <vector>

#include "fs/fs_codes.h"
#include "fs/fs_manager.h"
#include "platform/block_device.h"
#include "platform/ir_block_device.h"
#include "platform/shell_output.h"
#include "support/assertions.h"
#include "support/byte_order.h"

namespace part {

int FormatOf(const uint8_t* sector) {
  if (sector[510] == 0x55 && sector[511] == 0xAA) return 1;
  if (sector[510] == 0x56 && sector[511] == 0xAB) return 2;
  return 0;
}

int EntryCount(int format) { return format == 1 ? 4 : format == 2 ? 16 : 0; }

size_t EntryOffset(int format, int index) {
  TORVEX_ASSERT(format == 1 || format == 2);
  return (format == 1 ? 430 : 238) + kEntrySize * (index + 1);
}

void Decode(const uint8_t* raw, PartEntry* entry) {
  static const uint8_t kEmpty[kEntrySize] = {};
  if (memcmp(raw, kEmpty, kEntrySize) == 0) {
    *entry = PartEntry{0, 0, -1, 0};
    return;
  }
  entry->type = raw[4] & 0x7F;
  entry->flags = raw[4] >> 7;
  entry->start = uint64_t{bytes::Le32(raw + 8)} * kSectorSize;
  entry->length = uint64_t{bytes::Le32(raw + 12)} * kSectorSize;
}

void Encode(const PartEntry& entry, uint8_t* raw) {
  memset(raw, 0, kEntrySize);
  if (entry.type == -1) return;
  raw[4] = static_cast<uint8_t>((entry.type & 0x7F) | ((entry.flags & 1) ? 0x80 : 0));
  bytes::PutLe32(raw + 8, static_cast<uint32_t>(entry.start / kSectorSize));
  bytes::PutLe32(raw + 12, static_cast<uint32_t>(entry.length / kSectorSize));
}

void FillLength(PartEntry* entry, uint64_t device_size) {
  // A start at or past the end keeps length 0 and fails the size check, instead of wrapping.
  if (entry->type != -1 && entry->length == 0 && entry->start < device_size)
    entry->length = device_size - entry->start;
}

Result Validate(const PartEntry& entry, uint64_t device_size) {
  if (entry.type == -1) return fsrc::kOk;
  const uint64_t kLimit = uint64_t{1} << 41;
  uint64_t end = entry.start + entry.length;
  if (entry.start % kSectorSize != 0 || entry.length % kSectorSize != 0) {
    ShellPrint(" not sector-aligned\n");
  } else if (entry.start < kSectorSize) {
    ShellPrint(" overlaps partition table\n");
  } else if (end < entry.start) {
    ShellPrint(" wraps beyond 64 bits\n");
  } else if (entry.start >= kLimit || end >= kLimit) {
    ShellPrint(" exceeds FAT partition limits\n");
  } else if (end > device_size || (entry.length == 0 && entry.start >= device_size)) {
    ShellPrint(" exceeds device size %lld\n", static_cast<long long>(device_size));
  } else {
    return fsrc::kOk;
  }
  return fsrc::kBadPartition;
}

}  // namespace part

namespace {

// The device opened for one partition operation, with its size in bytes.
class PartDevice {
 public:
  explicit PartDevice(IRBlockDevice* devices) : devices_(devices) {}
  ~PartDevice() {
    if (device_) devices_->Close(device_);
  }
  Result Open(const char* name) { return devices_->Open(&device_, name); }
  uint64_t Size() const {
    return devices_->Capacity(device_) * devices_->SectorSize(device_);
  }
  // The first device sector, which holds the 512-byte partition sector at its start.
  uint8_t* Sector() { return unit_.data(); }
  Result ReadSector(FsRequest* request) {
    if (!Allocate()) return fsrc::kOutOfMemory;
    return FsBlockRead(request, device_, 0, unit_.data(), static_cast<uint32_t>(unit_.size()),
                       0);
  }
  Result WriteSector(FsRequest* request) {
    return FsBlockWrite(request, device_, 0, unit_.data(), static_cast<uint32_t>(unit_.size()),
                        0);
  }
  // A zeroed sector, for a table written whole.
  bool Allocate() {
    uint32_t sector_size = devices_->SectorSize(device_);
    unit_.assign(sector_size > part::kSectorSize ? sector_size : part::kSectorSize, 0);
    return true;
  }

 private:
  IRBlockDevice* devices_;
  BlockDevice* device_ = nullptr;
  std::vector<uint8_t> unit_;
};

bool IndexInside(int format, int32_t index) {
  return index >= 0 && index < part::EntryCount(format);
}

}  // namespace

// Each of the three runs as one request for all volumes, admitted before the device opens.
Result FsManager::ReadPart(PartEntry* entry, const char* device, int32_t index) {
  FsRequestScope scope(scheduler_, "ReadPart", 2, nullptr, nullptr);
  FsRequest& request = *scope.request();
  PartDevice opened(devices_);
  Result result = opened.Open(device);
  if (result == fsrc::kOk) result = opened.ReadSector(&request);
  if (result == fsrc::kOk) {
    const uint8_t* sector = opened.Sector();
    int format = part::FormatOf(sector);
    if (format == 0 || !IndexInside(format, index)) result = fsrc::kLayoutMismatch;
    else part::Decode(sector + part::EntryOffset(format, index), entry);
  }
  return result;
}

Result FsManager::WritePartEntry(const PartEntry* given, const char* device, int32_t index) {
  FsRequestScope scope(scheduler_, "WritePartEntry", 2, nullptr, nullptr);
  FsRequest& request = *scope.request();
  PartDevice opened(devices_);
  PartEntry entry = *given;
  Result result = opened.Open(device);
  uint64_t size = result == fsrc::kOk ? opened.Size() : 0;
  if (result == fsrc::kOk && size == 0) result = fsrc::kInvalidArgument;
  if (result == fsrc::kOk) {
    part::FillLength(&entry, size);
    result = part::Validate(entry, size);
  }
  if (result == fsrc::kOk) result = opened.ReadSector(&request);
  if (result == fsrc::kOk) {
    uint8_t* sector = opened.Sector();
    int format = part::FormatOf(sector);
    if (format == 0 || !IndexInside(format, index)) {
      result = fsrc::kLayoutMismatch;
    } else {
      part::Encode(entry, sector + part::EntryOffset(format, index));
      result = opened.WriteSector(&request);
    }
  }
  return result;
}

Result FsManager::WritePartTable(const PartTable* table, const char* device, int format) {
  int slots = part::EntryCount(format);
  if (slots == 0 || !table || table->count > static_cast<uint32_t>(slots))
    return fsrc::kBadPartition;
  FsRequestScope scope(scheduler_, "WritePartTable", 2, nullptr, nullptr);
  FsRequest& request = *scope.request();
  PartDevice opened(devices_);
  Result result = opened.Open(device);
  uint64_t size = result == fsrc::kOk ? opened.Size() : 0;
  if (result == fsrc::kOk && size == 0) result = fsrc::kInvalidArgument;
  if (result == fsrc::kOk) opened.Allocate();
  uint8_t* sector = opened.Sector();
  for (int i = 0; i < slots && result == fsrc::kOk; ++i) {
    PartEntry entry = PartEntry{0, 0, -1, 0};
    if (i < static_cast<int>(table->count)) {
      entry = table->entries[i];
      part::FillLength(&entry, size);
      result = part::Validate(entry, size);
    }
    if (result == fsrc::kOk) part::Encode(entry, sector + part::EntryOffset(format, i));
  }
  if (result == fsrc::kOk) {
    sector[510] = format == 1 ? 0x55 : 0x56;
    sector[511] = format == 1 ? 0xAA : 0xAB;
    result = opened.WriteSector(&request);
  }
  return result;
}
