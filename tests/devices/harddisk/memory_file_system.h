// A file system held in maps, as the destination of tree copies in tests. Paths are taken
// without their leading '/'.
#pragma once

#include <map>
#include <set>
#include <string>

#include "devices/harddisk/file_system.h"
#include "devices/harddisk/harddisk_results.h"

class MemoryFileSystem : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> dirs = {""};

  static std::string Key(std::string path) {
    while (!path.empty() && path[0] == '/') path.erase(0, 1);
    return path;
  }

  Result Close() override { return rc::kOk; }
  Result GetSpace(FsSpace*) override { return rc::kNotImplemented; }
  Result Rename(const std::string&, const std::string&) override { return rc::kNotImplemented; }
  Result Remove(const std::string& path) override {
    return files.erase(Key(path)) ? rc::kOk : rc::kNotFound;
  }
  Result Control(OmfsProgress*) override { return rc::kOk; }
  Result Open(const std::string&, std::unique_ptr<FsNodeHandle>*) override {
    return rc::kNotImplemented;
  }
  Result OpenDir(const std::string& path, uint32_t flags, std::unique_ptr<FsDirHandle>*) override {
    const std::string key = Key(path);
    if (files.count(key)) return rc::kWrongNodeKind;
    if (!dirs.count(key)) {
      if (!(flags & kFsCreate)) return rc::kNotFound;
      dirs.insert(key);
    }
    return rc::kOk;  // the tree copy only needs the directory to exist
  }
  Result OpenFile(const std::string& path, uint32_t flags,
                  std::unique_ptr<FsFileHandle>* file) override {
    const std::string key = Key(path);
    if (dirs.count(key)) return rc::kWrongNodeKind;
    if (!files.count(key) && !(flags & kFsCreate)) return rc::kNotFound;
    if (flags & kFsReplace) files[key].clear();
    file->reset(new File(&files[key]));
    return rc::kOk;
  }

 private:
  class File : public FsFileHandle {
   public:
    explicit File(std::string* bytes) : bytes_(bytes) {}
    Result Stat(FsStat* stat) override {
      stat->size = static_cast<uint32_t>(bytes_->size());
      return rc::kOk;
    }
    Result Read(void* buffer, uint32_t length, uint32_t* done) override {
      *done = static_cast<uint32_t>(std::min<size_t>(length, bytes_->size() - at_));
      bytes_->copy(static_cast<char*>(buffer), *done, at_);
      at_ += *done;
      return *done == 0 && length ? rc::kEndOfData : rc::kOk;
    }
    Result Write(const void* buffer, uint32_t length, uint32_t* done) override {
      bytes_->replace(at_, length, static_cast<const char*>(buffer), length);
      at_ += length;
      *done = length;
      return rc::kOk;
    }
    Result Seek(int64_t offset, int) override {
      at_ = static_cast<size_t>(offset);
      return rc::kOk;
    }
    Result Tell(uint64_t* position) override {
      *position = at_;
      return rc::kOk;
    }
    Result Flush() override { return rc::kOk; }
    Result SetSize(uint64_t size) override {
      bytes_->resize(static_cast<size_t>(size));
      return rc::kOk;
    }

   private:
    std::string* bytes_;
    size_t at_ = 0;
  };
};
