#include "platform/virtual_disk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ir_block_device.h"
#include "platform/platform_codes.h"
#include "platform/shell_output.h"
#include "support/byte_order.h"

namespace {

struct Member {
  BlockDevice* device = nullptr;
  uint64_t virtual_start = 0;
  uint64_t extent_start = 0;
  uint64_t extent_end = 0;
  uint64_t Length() const { return extent_end > extent_start ? extent_end - extent_start : 0; }
};

class VirtualDiskDevice;
VirtualDiskDevice* virtual_disks[kMaxVirtualDisks] = {nullptr, nullptr};

int CountDisks() {
  int count = 0;
  while (count < kMaxVirtualDisks && virtual_disks[count]) ++count;
  return count;
}

class VirtualDiskDevice : public BlockDevice {
 public:
  VirtualDiskDevice(uint32_t number, const uint8_t* identity, uint32_t member_count)
      : BlockDevice("VDISK", number), member_count_(std::min<uint32_t>(member_count, 4)) {
    memcpy(identity_, identity, sizeof identity_);
    AddStateFlags(21);
  }

  bool Accepts(const uint8_t* identity, uint32_t index) const {
    return memcmp(identity, identity_, sizeof identity_) == 0 && !members_[index].device;
  }
  void Join(uint32_t index, const Member& member) { members_[index] = member; }
  const Member& MemberAt(int index) const { return members_[index]; }

  uint64_t Capacity() override {
    uint64_t total = 0;
    for (uint32_t i = 0; i < member_count_; ++i) total += members_[i].Length();
    return total;
  }
  uint32_t SectorSize() override {
    uint32_t size = 0;
    for (uint32_t i = 0; i < member_count_; ++i)
      if (members_[i].device) size = std::max(size, members_[i].device->SectorSize());
    return size;
  }
  bool Ready() override {
    for (uint32_t i = 0; i < member_count_; ++i)
      if (!members_[i].device || !members_[i].device->Ready()) return false;
    return true;
  }
  int Read(uint64_t start, uint32_t count, void* buffer, uint32_t argument) override {
    return Transfer(start, count, static_cast<uint8_t*>(buffer), argument, false);
  }
  int Write(uint64_t start, uint32_t count, const void* buffer, uint32_t argument) override {
    return Transfer(start, count, const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer)),
                    argument, true);
  }
  int Control(uint32_t code, void* buffer, uint32_t size) override;

 protected:
  // Also when the platform destroys every registered device.
  ~VirtualDiskDevice() override {
    for (VirtualDiskDevice*& disk : virtual_disks)
      if (disk == this) disk = nullptr;
  }

 private:
  int Transfer(uint64_t start, uint32_t count, uint8_t* buffer, uint32_t argument, bool write);

  uint8_t identity_[16];
  uint32_t member_count_;
  Member members_[kMaxVirtualDiskMembers];
};

int VirtualDiskDevice::Transfer(uint64_t position, uint32_t count, uint8_t* buffer,
                                uint32_t argument, bool write) {
  if (static_cast<int>(Number()) >= CountDisks()) return device_status::kBadRequest;
  uint32_t sector = SectorSize();
  uint64_t left = count;
  for (uint32_t i = 0; i < member_count_ && left > 0; ++i) {
    const Member& member = members_[i];
    if (!member.device || position < member.virtual_start) return device_status::kBadRequest;
    uint64_t end = member.virtual_start + member.Length();
    if (position >= end) continue;
    uint32_t part = static_cast<uint32_t>(std::min(left, end - position));
    uint64_t at = member.extent_start + (position - member.virtual_start);
    int status = write ? member.device->Write(at, part, buffer, argument)
                       : member.device->Read(at, part, buffer, argument);
    if (status != device_status::kOk) return status;
    buffer += static_cast<size_t>(part) * sector;
    position += part;
    left -= part;
  }
  return left == 0 ? device_status::kOk : device_status::kBadRequest;
}

// Code 4 fills the 152-byte information record: 1, the state flags, then three texts of 64,
// 64 and 16 characters, each "VDISK: " and the members' own texts separated by "; ".
int VirtualDiskDevice::Control(uint32_t code, void* buffer, uint32_t size) {
  if (code >= 1 && code <= 3) {
    int result = device_status::kOk;
    for (uint32_t i = 0; i < member_count_; ++i) {
      if (!members_[i].device) continue;
      int status = members_[i].device->Control(code, buffer, size);
      if (status != device_status::kOk) result = status;
    }
    return result;
  }
  if (code != 4 || size < 4) return device_status::kBadRequest;
  static const size_t kTextOffset[3] = {8, 72, 136};
  static const size_t kTextLength[3] = {64, 64, 16};
  std::string texts[3] = {"VDISK: ", "VDISK: ", "VDISK: "};
  for (uint32_t i = 0; i < member_count_; ++i) {
    if (!members_[i].device) continue;
    uint8_t record[152] = {};
    int status = members_[i].device->Control(4, record, sizeof record);
    for (int t = 0; t < 3; ++t) {
      if (i > 0) texts[t] += "; ";
      if (status == device_status::kOk) {
        texts[t].append(reinterpret_cast<const char*>(record + kTextOffset[t]),
                        strnlen(reinterpret_cast<const char*>(record + kTextOffset[t]),
                                kTextLength[t]));
      } else {
        char error[24];
        snprintf(error, sizeof error, "ERR(%x)", status);
        texts[t] += error;
      }
    }
  }
  uint8_t record[152] = {};
  bytes::PutLe32(record, 1);
  bytes::PutLe32(record + 4, StateFlags());
  for (int t = 0; t < 3; ++t)
    memcpy(record + kTextOffset[t], texts[t].c_str(),
           std::min(texts[t].size(), kTextLength[t] - 1));
  memcpy(buffer, record, std::min<size_t>(size, sizeof record));
  return device_status::kOk;
}

void DestroyVirtualDisks() {
  for (VirtualDiskDevice*& disk : virtual_disks) {
    if (disk) disk->Destroy();
    disk = nullptr;
  }
}

void OfferHeader(BlockDevice* device, const uint8_t* header) {
  if (device->StateFlags() & block_flags::kVirtualDisk) return;
  if (bytes::Le32(header) != kVirtualDiskMagic) return;
  uint32_t index = bytes::Le32(header + 4);
  uint32_t count = bytes::Le32(header + 8);
  const uint8_t* identity = header + 16;
  if (index >= kMaxVirtualDiskMembers || count == 0 || index >= std::min<uint32_t>(count, 4))
    return;
  Member member;
  member.device = device;
  member.virtual_start = bytes::Le64(header + 32);
  member.extent_start = bytes::Le64(header + 40);
  member.extent_end = bytes::Le64(header + 48);
  int slot = 0;
  for (; slot < kMaxVirtualDisks && virtual_disks[slot]; ++slot) {
    if (!virtual_disks[slot]->Accepts(identity, index)) continue;
    virtual_disks[slot]->Join(index, member);
    device->AddStateFlags(block_flags::kVirtualDiskMember);
    return;
  }
  if (slot == kMaxVirtualDisks) return;  // a third set is ignored
  virtual_disks[slot] = new VirtualDiskDevice(static_cast<uint32_t>(slot), identity, count);
  virtual_disks[slot]->Join(index, member);
  device->AddStateFlags(block_flags::kVirtualDiskMember);
}

}  // namespace

int VirtualDiskCount() { return CountDisks(); }

IRVirtualDisk::~IRVirtualDisk() = default;

void IRVirtualDisk::Destroy() { delete this; }

Result IRVirtualDisk::Rescan() {
  DestroyVirtualDisks();
  char name[32] = "";
  while (block_devices_->Enumerate(name, sizeof name) == prc::kOk) {
    BlockDevice* device = nullptr;
    if (block_devices_->Open(&device, name) != prc::kOk) continue;
    uint32_t sector = device->SectorSize();
    if (sector > 0 && sector <= 65536) {
      uint32_t count = (512 + sector - 1) / sector;
      std::vector<uint8_t> header(static_cast<size_t>(count) * sector);
      if (block_devices_->Read(device, 0, count, header.data(), 0) == prc::kOk)
        OfferHeader(device, header.data());
    }
    block_devices_->Close(device);
  }
  return prc::kOk;
}

Result IRVirtualDisk::Describe() {
  for (int i = 0; i < CountDisks(); ++i) {
    std::string line = "VDISK:" + std::to_string(i);
    for (int m = 0; m < kMaxVirtualDiskMembers; ++m) {
      BlockDevice* device = virtual_disks[i]->MemberAt(m).device;
      if (!device) continue;
      char name[64];
      line += m == 0 ? " " : "; ";
      line += block_devices_->GetName(device, name, sizeof name) == prc::kOk ? name : "???";
    }
    ShellPrint("%s\n", line.c_str());
  }
  return prc::kOk;
}

namespace {

// Opens the named device, runs one transfer on it and closes it again.
template <typename Transfer>
Result OnNamedDevice(IRBlockDevice* devices, const char* device_name, Transfer transfer) {
  BlockDevice* device = nullptr;
  Result result = devices->Open(&device, device_name);
  if (result != prc::kOk) return result;
  result = transfer(device);
  devices->Close(device);
  return result;
}

}  // namespace

Result IRVirtualDisk::ReadSectors(const char* device_name, uint64_t start, uint32_t count,
                                  void* buffer) {
  return OnNamedDevice(block_devices_, device_name, [&](BlockDevice* device) {
    return block_devices_->Read(device, start, count, buffer, 0);
  });
}

Result IRVirtualDisk::WriteSectors(const char* device_name, uint64_t start, uint32_t count,
                                   const void* buffer) {
  return OnNamedDevice(block_devices_, device_name, [&](BlockDevice* device) {
    return block_devices_->Write(device, start, count, buffer, 0);
  });
}
