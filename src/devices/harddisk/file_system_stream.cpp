#include <new>

#include "devices/harddisk/file_system.h"
#include "devices/harddisk/harddisk_results.h"

namespace {

// A file handle as a seekable stream.
class FileSystemStream : public SeekableStream {
 public:
  explicit FileSystemStream(std::unique_ptr<FsFileHandle> file) : file_(std::move(file)) {}

  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    *count = 0;
    Result result = file_->Read(buffer, length, count);
    if (result == rc::kOk && *count == 0 && length != 0) return rc::kEndOfData;
    return result;
  }
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override {
    *count = 0;
    Result result = file_->Write(buffer, length, count);
    if (rc::Succeeded(result) && *count == 0 && length != 0) return rc::kFail;
    return result;
  }
  Result GetPosition(uint32_t* position) override {
    uint64_t at = 0;
    Result result = file_->Tell(&at);
    *position = static_cast<uint32_t>(at);
    return result;
  }
  Result Seek(uint32_t position) override { return file_->Seek(position, 0); }
  Result Skip(int32_t delta) override { return file_->Seek(delta, 1); }
  Result GetSize(uint32_t* size) override {
    FsStat stat;
    Result result = file_->Stat(&stat);
    *size = stat.size;
    return result;
  }
  Result SetSize(uint32_t size) override { return file_->SetSize(size); }

 private:
  std::unique_ptr<FsFileHandle> file_;
};

constexpr uint32_t kKnownStreamFlags =
    kFsStreamRead | kFsStreamWrite | kFsStreamCreate | kFsStreamReplace;

}  // namespace

Result OpenFileSystemStream(FileSystem* fs, const std::string& path, uint32_t flags,
                            std::unique_ptr<SeekableStream>* stream) {
  if (flags == 0 || (flags & ~kKnownStreamFlags) != 0) return rc::kBadOpenFlags;
  uint32_t open_flags = 0;
  if (flags & kFsStreamRead) open_flags |= kFsRead;
  if (flags & kFsStreamWrite) open_flags |= kFsWrite;
  if (flags & kFsStreamCreate) open_flags |= kFsRead | kFsWrite | kFsCreate;
  if (flags & kFsStreamReplace) open_flags |= kFsReplace;
  std::unique_ptr<FsFileHandle> file;
  Result result = fs->OpenFile(path, open_flags, &file);
  if (rc::Failed(result)) return result;
  stream->reset(new (std::nothrow) FileSystemStream(std::move(file)));
  return *stream ? rc::kOk : rc::kOutOfMemory;
}
