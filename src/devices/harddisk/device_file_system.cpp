#include "devices/harddisk/device_file_system.h"

#include <cstring>
#include <new>

#include "devices/harddisk/harddisk_results.h"
#include "fs/ir_file_system.h"
#include "fs/omfs/omfs.h"
#include "platform/platform.h"
#include "support/debug_trace.h"

namespace {

constexpr uint32_t kModeRead = 513;
constexpr uint32_t kModeWrite = 2;
constexpr uint32_t kAttrKind = 1, kAttrSize = 2, kAttrBlockSize = 3, kAttrSpace = 4,
                   kAttrAllocated = 5, kAttrTime = 8;
constexpr uint32_t kNodeFile = 1, kNodeDirectory = 2;
constexpr uint32_t kDebugCheck = 101;
constexpr Result kPlatformEndOfFile = static_cast<Result>(0x80820017);

IRFileSystem* PlatformFs() {
  if (AcquirePlatformFileSystem() != 0) return nullptr;
  return static_cast<IRFileSystem*>(AcquiredFileSystem());
}

Result StatHandle(IRFileSystem* fs, FsHandle* handle, FsStat* stat) {
  uint32_t kind = 0;
  uint64_t size = 0, allocated = 0, time = 0;
  Result result = fs->GetAttr(handle, kAttrKind, &kind, sizeof kind, nullptr);
  if (rc::Succeeded(result) && kind == kNodeFile) {
    result = fs->GetAttr(handle, kAttrSize, &size, sizeof size, nullptr);
    if (rc::Succeeded(result)) fs->GetAttr(handle, kAttrAllocated, &allocated, 8, nullptr);
  }
  if (rc::Succeeded(result)) fs->GetAttr(handle, kAttrTime, &time, sizeof time, nullptr);
  stat->kind = kind == kNodeFile ? kFsFile : kFsDirectory;
  stat->size = static_cast<uint32_t>(size);
  stat->allocated = static_cast<uint32_t>(allocated);
  stat->mtime = static_cast<uint32_t>(time / 1000);
  return result;
}

class DeviceFile : public FsFileHandle {
 public:
  DeviceFile(IRFileSystem* fs, FsHandle* handle) : fs_(fs), handle_(handle) {}
  ~DeviceFile() override { fs_->Close(handle_, nullptr); }
  Result Stat(FsStat* stat) override { return StatHandle(fs_, handle_, stat); }
  Result Read(void* buffer, uint32_t length, uint32_t* done) override {
    *done = 0;
    while (*done < length) {
      uint32_t got = 0;
      Result result = fs_->ReadFile(handle_, static_cast<uint8_t*>(buffer) + *done,
                                    length - *done, &got, nullptr);
      if (result == kPlatformEndOfFile) return *done == 0 ? rc::kEndOfData : rc::kOk;
      if (rc::Failed(result)) return result;
      if (got == 0) break;
      *done += got;
    }
    return rc::kOk;
  }
  Result Write(const void* buffer, uint32_t length, uint32_t* done) override {
    *done = 0;
    while (*done < length) {
      uint32_t put = 0;
      Result result = fs_->WriteFile(handle_, static_cast<const uint8_t*>(buffer) + *done,
                                     length - *done, &put, nullptr);
      if (rc::Failed(result)) return result;
      if (put == 0) return rc::kFail;
      *done += put;
    }
    return rc::kOk;
  }
  Result Seek(int64_t offset, int whence) override {
    if (whence < 0 || whence > 2) return rc::kBadIndex;
    uint64_t position = 0;
    return fs_->Seek(handle_, offset, whence, &position);
  }
  Result Tell(uint64_t* position) override { return fs_->Seek(handle_, 0, 1, position); }
  Result Flush() override {
    return rc::Failed(fs_->Flush(handle_, nullptr)) ? rc::kFail : rc::kOk;
  }
  Result SetSize(uint64_t size) override {
    return rc::Failed(fs_->SetAttr(handle_, kAttrSize, &size, sizeof size, nullptr, 0, nullptr))
               ? rc::kFail
               : rc::kOk;
  }

 private:
  IRFileSystem* fs_;
  FsHandle* handle_;
};

class DeviceDir : public FsDirHandle {
 public:
  DeviceDir(IRFileSystem* fs, FsHandle* handle) : fs_(fs), handle_(handle) {}
  ~DeviceDir() override { fs_->Close(handle_, nullptr); }
  Result Stat(FsStat* stat) override {
    *stat = FsStat();
    stat->kind = kFsDirectory;
    return rc::kOk;
  }
  Result ReadNext(DirEntryName* entry) override {
    char buffer[256] = {};
    Result result = fs_->ReadDir(handle_, buffer, sizeof buffer - 1, nullptr);
    if (rc::Failed(result)) return result;
    entry->name = buffer;
    return rc::kOk;
  }
  Result Rewind() override { return fs_->RewindDir(handle_, nullptr); }

 private:
  IRFileSystem* fs_;
  FsHandle* handle_;
};

std::string DeviceNameOf(IdeBlockDevice* device) { return device->DeviceName(); }

void LayoutEntries(uint64_t size, PartTable* table) {
  using namespace player_layout;
  std::memset(table, 0, sizeof *table);
  table->count = 4;
  table->entries[0] = {0x400, 0x1000000, -1, 0};
  table->entries[1] = {kSystemStart, kSystemLength, kPartitionType, 0};
  table->entries[2] = {kMusicStart, size - kMusicStart - kTailLength, kPartitionType, 0};
  table->entries[3] = {size - kTailLength, kTailLength, -1, 0};
}

Result FormatVolume(IRFileSystem* fs, const std::string& device, const PartEntry& entry,
                    const char* label) {
  const OmfsFormatParameters parameters = {65536, 2, 2048};
  return fs->Format(player_layout::kFormatBlockSize, device.c_str(), "omfs", entry.start,
                    entry.length, &parameters, sizeof parameters, label, nullptr);
}

}  // namespace

std::string DeviceFileSystem::Full(const std::string& path) const {
  return prefix_ + (!path.empty() && path[0] == '/' ? path.substr(1) : path);
}

Result DeviceFileSystem::MountPartition(PlayerDisk* disk, int partition,
                                        std::unique_ptr<FileSystem>* fs) {
  std::unique_ptr<DeviceFileSystem> made(new (std::nothrow) DeviceFileSystem(partition));
  if (!made) return rc::kOutOfMemory;
  Result result = made->Initialise(disk);
  if (rc::Failed(result)) {
    TORVEX_TRACE("Failed to initialise filesystem on device %p partition %d\n",
                 static_cast<void*>(disk), partition);
    return result;
  }
  *fs = std::move(made);
  return rc::kOk;
}

Result DeviceFileSystem::Initialise(PlayerDisk* disk) {
  fs_ = PlatformFs();
  if (!fs_) return rc::kFail;
  device_ = IdeBlockDevice::Create(disk);
  if (!device_) return rc::kOutOfMemory;
  Result result = disk->Identify();
  if (rc::Failed(result)) return result;
  const std::string name = DeviceNameOf(device_);
  for (int index = partition_ == 3 ? 1 : partition_; index <= (partition_ == 3 ? 2 : partition_);
       ++index) {
    PartEntry entry;
    if (rc::Failed(fs_->ReadPart(&entry, name.c_str(), index)) || entry.type == -1)
      return rc::kFail;
    const OmfsMountParameters options = {12, 0, 0};
    result = fs_->Mount(name.c_str(), entry.start, entry.length, entry.flags & 1, &options,
                        sizeof options);
    if (rc::Failed(result)) return result;
    mounted_ = true;
    char volume[96];
    FsFormatVolumeName(volume, sizeof volume, name.c_str(), entry.start, entry.length);
    prefix_ = std::string("/dev/") + volume + "/";
  }
  return rc::kOk;
}

DeviceFileSystem::~DeviceFileSystem() { Close(); }

Result DeviceFileSystem::Close() {
  Result first = rc::kOk;
  if (device_ && fs_) {
    const std::string name = DeviceNameOf(device_);
    for (int index = 1; index <= 2; ++index) {
      if (partition_ != 3 && index != partition_) continue;
      PartEntry entry;
      if (rc::Failed(fs_->ReadPart(&entry, name.c_str(), index)) || entry.type == -1) continue;
      Result result = fs_->Unmount(name.c_str(), entry.start, entry.length);
      if (mounted_ && rc::Failed(result) && first == rc::kOk) first = result;
    }
  }
  mounted_ = false;
  if (device_) device_->Destroy();
  device_ = nullptr;
  return first;
}

Result DeviceFileSystem::GetSpace(FsSpace* space) {
  FsHandle* root = nullptr;
  Result result = fs_->Open(&root, prefix_.c_str(), nullptr, kModeRead, nullptr);
  if (rc::Failed(result)) return result;
  uint32_t block_size = 0;
  uint64_t bytes[2] = {};  // free, used
  result = fs_->GetAttr(root, kAttrBlockSize, &block_size, sizeof block_size, nullptr);
  if (rc::Succeeded(result)) result = fs_->GetAttr(root, kAttrSpace, bytes, sizeof bytes, nullptr);
  fs_->Close(root, nullptr);
  if (rc::Failed(result)) return result;
  if (block_size == 0) return rc::kFail;
  *space = FsSpace();
  space->block_size = block_size;
  space->total_blocks = (bytes[0] + bytes[1]) / block_size;
  space->free_blocks = bytes[0] / block_size;
  space->third_count = space->free_blocks;
  return rc::kOk;
}

// A file at the new path is replaced in one step: a power cut leaves the old file or the new
// one under the name, never neither.
Result DeviceFileSystem::Rename(const std::string& new_path, const std::string& old_path) {
  return rc::Failed(fs_->RenameReplacing(Full(old_path).c_str(), nullptr,
                                         Full(new_path).c_str(), nullptr, nullptr))
             ? rc::kFail
             : rc::kOk;
}

Result DeviceFileSystem::Open(const std::string& path, std::unique_ptr<FsNodeHandle>* handle) {
  FsHandle* node = nullptr;
  Result result = fs_->Open(&node, Full(path).c_str(), nullptr, kModeRead, nullptr);
  if (rc::Failed(result)) return result;
  uint32_t kind = 0;
  fs_->GetAttr(node, kAttrKind, &kind, sizeof kind, nullptr);
  if (kind == kNodeFile)
    handle->reset(new (std::nothrow) DeviceFile(fs_, node));
  else
    handle->reset(new (std::nothrow) DeviceDir(fs_, node));
  if (!*handle) {
    fs_->Close(node, nullptr);
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}

Result DeviceFileSystem::OpenFile(const std::string& path, uint32_t flags,
                                  std::unique_ptr<FsFileHandle>* file) {
  const std::string full = Full(path);
  const uint32_t mode = kModeRead | ((flags & kFsWrite) ? kModeWrite : 0);
  if ((flags & kFsReplace) && (flags & kFsWrite)) fs_->Remove(full.c_str(), nullptr, nullptr);
  FsHandle* node = nullptr;
  Result result = fs_->Open(&node, full.c_str(), nullptr, mode, nullptr);
  if (rc::Failed(result) && (flags & kFsCreate))
    result = fs_->CreateFile(&node, full.c_str(), nullptr, mode, nullptr);
  if (rc::Failed(result)) return result;
  uint32_t kind = 0;
  result = fs_->GetAttr(node, kAttrKind, &kind, sizeof kind, nullptr);
  if (rc::Failed(result) || kind != kNodeFile) {
    fs_->Close(node, nullptr);
    return rc::Failed(result) ? result : rc::kWrongNodeKind;
  }
  uint64_t size = 0;
  result = fs_->GetAttr(node, kAttrSize, &size, sizeof size, nullptr);
  if (rc::Failed(result)) {
    fs_->Close(node, nullptr);
    return result;
  }
  file->reset(new (std::nothrow) DeviceFile(fs_, node));
  if (!*file) {
    fs_->Close(node, nullptr);
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}

Result DeviceFileSystem::OpenDir(const std::string& path, uint32_t flags,
                                 std::unique_ptr<FsDirHandle>* dir) {
  const std::string full = Full(path);
  FsHandle* node = nullptr;
  Result result = fs_->Open(&node, full.c_str(), nullptr, kModeRead, nullptr);
  if (rc::Failed(result) && (flags & kFsCreate))
    result = fs_->CreateDir(&node, full.c_str(), nullptr, kModeRead, nullptr);
  if (rc::Failed(result)) return result;
  uint32_t kind = 0;
  fs_->GetAttr(node, kAttrKind, &kind, sizeof kind, nullptr);
  if (kind != kNodeDirectory) {
    fs_->Close(node, nullptr);
    return rc::kWrongNodeKind;
  }
  dir->reset(new (std::nothrow) DeviceDir(fs_, node));
  if (!*dir) {
    fs_->Close(node, nullptr);
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}

Result DeviceFileSystem::Remove(const std::string& path) {
  return fs_->Remove(Full(path).c_str(), nullptr, nullptr);
}

Result DeviceFileSystem::Control(OmfsProgress* progress) {
  FsHandle* root = nullptr;
  Result result = fs_->Open(&root, prefix_.c_str(), nullptr, kModeRead, nullptr);
  if (rc::Failed(result)) return result;
  result = fs_->Debug(root, kDebugCheck, progress, nullptr);
  fs_->Close(root, nullptr);
  return result;
}

Result DeviceFileSystem::CheckPartitionLayout(PlayerDisk* disk, LayoutMode mode) {
  using namespace player_layout;
  IRFileSystem* fs = PlatformFs();
  if (!fs) return rc::kFail;
  IdeBlockDevice* device = IdeBlockDevice::Create(disk);
  if (!device) return rc::kOutOfMemory;
  const std::string name = DeviceNameOf(device);
  fs->Unmount(name.c_str(), 0, 0);
  const uint64_t size = device->Capacity() * IdeBlockDevice::kSectorSize;
  PartTable table;
  LayoutEntries(size, &table);
  Result result = rc::kOk;
  if (mode == LayoutMode::kFresh) {
    result = fs->WritePartTable(&table, name.c_str(), 1);
  } else {
    PartEntry found[4];
    for (int i = 0; i < 4 && rc::Succeeded(result); ++i)
      result = fs->ReadPart(&found[i], name.c_str(), i);
    const bool matches = rc::Succeeded(result) && found[0].type == -1 &&
                         found[0].start == 0 && found[0].length == 0 &&
                         found[1].start == kSystemStart && found[1].length == kSystemLength &&
                         found[1].type == kPartitionType && found[2].start == kMusicStart &&
                         found[2].type == kPartitionType && found[3].type == -1;
    if (!matches) {
      result = rc::Failed(result) ? result : rc::kPartitionLayoutMismatch;
    } else if (found[2].length != table.entries[2].length) {
      // The music volume was made for a smaller disk: grow it, move the empty tail.
      result = fs->Resize(name.c_str(), kMusicStart, table.entries[2].length);
      if (rc::Succeeded(result)) result = fs->WritePartTable(&table, name.c_str(), 1);
      uint8_t sector[512];
      if (rc::Succeeded(result) &&
          device->Read(kMusicStart / 512, 1, sector, 0) == device_status::kOk) {
        uint32_t word;
        std::memcpy(&word, sector, 4);
        if (word != 0) {
          std::memset(sector, 0, 4);
          if (device->Write(kMusicStart / 512, 1, sector, 0) != device_status::kOk)
            result = rc::kFail;
        }
      }
    }
  }
  if (rc::Succeeded(result) && mode != LayoutMode::kFormatMusic)
    result = FormatVolume(fs, name, table.entries[1], "system");
  if (rc::Succeeded(result) && mode != LayoutMode::kFormatSystem)
    result = FormatVolume(fs, name, table.entries[2], "omfs");
  device->Destroy();
  return result;
}
