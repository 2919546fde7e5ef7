#include "devices/harddisk/tar_file_system.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "devices/harddisk/harddisk_results.h"
#include "devices/harddisk/tar_index.h"

namespace {

uint32_t KindOf(char type) {
  switch (type) {
    case '1': return kFsHardLink;
    case '2': return kFsSymbolicLink;
    case '3': return kFsCharacterDevice;
    case '4': return kFsBlockDevice;
    case '5': return kFsDirectory;
    case '6': return kFsFifo;
    default: return kFsFile;
  }
}

void StatOf(const TarEntry& entry, FsStat* stat) {
  stat->kind = KindOf(entry.type);
  stat->size = static_cast<uint32_t>(entry.size);
  stat->allocated = static_cast<uint32_t>(entry.size);
  stat->mtime = static_cast<uint32_t>(entry.mtime);
}

class TarFile : public FsFileHandle {
 public:
  explicit TarFile(const TarEntry* entry) : entry_(entry) {}
  Result Stat(FsStat* stat) override {
    StatOf(*entry_, stat);
    return rc::kOk;
  }
  // Reads stop at the end of the image when the header claims more.
  Result Read(void* buffer, uint32_t length, uint32_t* done) override {
    *done = 0;
    if (position_ >= entry_->size) return rc::kEndOfData;
    if (position_ >= entry_->available) return rc::kShortTransfer;
    const uint64_t n = std::min<uint64_t>(length, entry_->available - position_);
    std::memcpy(buffer, entry_->data + position_, static_cast<size_t>(n));
    position_ += n;
    *done = static_cast<uint32_t>(n);
    return rc::kOk;
  }
  Result Write(const void*, uint32_t, uint32_t* done) override {
    *done = 0;
    return rc::kNotImplemented;
  }
  Result Seek(int64_t offset, int whence) override {
    const int64_t size = static_cast<int64_t>(entry_->size);
    int64_t target;
    switch (whence) {
      case 0: target = offset; break;
      case 1: target = static_cast<int64_t>(position_) + offset; break;
      case 2: target = size; break;
      default: return rc::kBadIndex;
    }
    position_ = static_cast<uint64_t>(std::max<int64_t>(0, std::min(target, size)));
    return rc::kOk;
  }
  Result Tell(uint64_t* position) override {
    *position = position_;
    return rc::kOk;
  }
  Result Flush() override { return rc::kNotImplemented; }
  Result SetSize(uint64_t) override { return rc::kNotImplemented; }

 private:
  const TarEntry* entry_;
  uint64_t position_ = 0;
};

class TarDir : public FsDirHandle {
 public:
  TarDir(const TarIndex* index, const TarEntry* entry) : index_(index), entry_(entry) {}
  Result Stat(FsStat* stat) override {
    StatOf(*entry_, stat);
    return rc::kOk;
  }
  Result ReadNext(DirEntryName* entry) override {
    if (next_ >= entry_->children.size()) return rc::kShortTransfer;
    const TarEntry* child = index_->Entry(entry_->children[next_++]);
    if (!child) return rc::kNotFound;
    entry->name = child->leaf;
    return rc::kOk;
  }
  Result Rewind() override {
    next_ = 0;
    return rc::kOk;
  }

 private:
  const TarIndex* index_;
  const TarEntry* entry_;
  size_t next_ = 0;
};

class TarFs : public FileSystem {
 public:
  explicit TarFs(std::unique_ptr<TarIndex> index) : index_(std::move(index)) {}
  Result Close() override { return rc::kOk; }
  Result GetSpace(FsSpace*) override { return rc::kNotImplemented; }
  Result Rename(const std::string&, const std::string&) override { return rc::kNotImplemented; }
  Result Remove(const std::string&) override { return rc::kNotImplemented; }
  Result Control(OmfsProgress*) override { return rc::kOk; }

  Result Open(const std::string& path, std::unique_ptr<FsNodeHandle>* handle) override {
    const TarEntry* entry = index_->Find(path);
    if (!entry) return rc::kNotFound;
    if (entry->type == '5')
      handle->reset(new (std::nothrow) TarDir(index_.get(), entry));
    else
      handle->reset(new (std::nothrow) TarFile(entry));
    return *handle ? rc::kOk : rc::kOutOfMemory;
  }
  Result OpenFile(const std::string& path, uint32_t flags,
                  std::unique_ptr<FsFileHandle>* file) override {
    const TarEntry* entry;
    Result result = Lookup(path, flags, &entry);
    if (rc::Failed(result)) return result;
    if (entry->type == '5') return rc::kWrongNodeKind;
    file->reset(new (std::nothrow) TarFile(entry));
    return *file ? rc::kOk : rc::kOutOfMemory;
  }
  Result OpenDir(const std::string& path, uint32_t flags, std::unique_ptr<FsDirHandle>* dir) override {
    const TarEntry* entry;
    Result result = Lookup(path, flags, &entry);
    if (rc::Failed(result)) return result;
    if (entry->type != '5') return rc::kWrongNodeKind;
    dir->reset(new (std::nothrow) TarDir(index_.get(), entry));
    return *dir ? rc::kOk : rc::kOutOfMemory;
  }

 private:
  Result Lookup(const std::string& path, uint32_t flags, const TarEntry** entry) {
    if ((flags & (kFsWrite | kFsReplace)) != 0 || (flags & kFsRead) == 0)
      return rc::kNotImplemented;
    *entry = index_->Find(path);
    return *entry ? rc::kOk : rc::kNotFound;
  }

  std::unique_ptr<TarIndex> index_;
};

}  // namespace

bool TarFileSystem::IsTarStream(SeekableStream* stream) {
  static const char kMagic[8] = {'u', 's', 't', 'a', 'r', ' ', ' ', '\0'};
  char magic[8] = {};
  uint32_t position = 0, got = 0;
  const bool is_tar = rc::Succeeded(stream->Seek(257)) &&
                      rc::Succeeded(stream->GetPosition(&position)) && position == 257 &&
                      stream->Read(magic, 8, &got) == rc::kOk && got == 8 &&
                      std::memcmp(magic, kMagic, 8) == 0;
  stream->Seek(0);
  return is_tar;
}

Result TarFileSystem::Create(const uint8_t* image, uint64_t length,
                             std::unique_ptr<FileSystem>* fs) {
  std::unique_ptr<TarIndex> index(new (std::nothrow) TarIndex);
  if (!index) return rc::kOutOfMemory;
  Result result;
  try {
    result = index->Parse(image, length);
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  if (rc::Failed(result)) return result;
  fs->reset(new (std::nothrow) TarFs(std::move(index)));
  return *fs ? rc::kOk : rc::kOutOfMemory;
}

Result TarFileSystem::CheckWhole(const uint8_t* image, uint64_t length) {
  TarIndex index;
  try {
    const Result result = index.Parse(image, length);
    if (rc::Failed(result)) return result;
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  return index.cut_short() ? rc::kShortTransfer : rc::kOk;
}
