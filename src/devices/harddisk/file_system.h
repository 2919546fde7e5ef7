// The small file-system interface through which the hard-disk channel works on files: the
// player's mounted volumes and read-only tar archives implement it, the tree copy runs between
// any two of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/stream.h"

class OmfsProgress;

// Node kinds reported by Stat.
enum FsKind : uint32_t {
  kFsFile = 0,
  kFsDirectory = 1,
  kFsHardLink = 2,
  kFsSymbolicLink = 3,
  kFsCharacterDevice = 4,
  kFsBlockDevice = 5,
  kFsFifo = 6,
};

struct FsStat {
  uint32_t kind = kFsFile;
  uint32_t size = 0;
  uint32_t allocated = 0;
  uint32_t mtime = 0;  // seconds since 1970
};

struct FsSpace {
  uint32_t constant = 64;
  uint32_t block_size = 0;
  uint64_t total_blocks = 0, free_blocks = 0, third_count = 0;
};

// Flags of FileSystem::OpenFile and OpenDir.
enum FsOpenFlags : uint32_t {
  kFsRead = 1,
  kFsWrite = 2,
  kFsCreate = 4,
  kFsReplace = 8,
};

class FsNodeHandle {
 public:
  virtual ~FsNodeHandle() = default;
  virtual Result Stat(FsStat* stat) = 0;
};

class FsFileHandle : public FsNodeHandle {
 public:
  // Result 1 with the bytes so far at the end of the file.
  virtual Result Read(void* buffer, uint32_t length, uint32_t* done) = 0;
  virtual Result Write(const void* buffer, uint32_t length, uint32_t* done) = 0;
  // whence 0 start, 1 current, 2 end; any other rc::kBadIndex.
  virtual Result Seek(int64_t offset, int whence) = 0;
  virtual Result Tell(uint64_t* position) = 0;
  virtual Result Flush() = 0;
  virtual Result SetSize(uint64_t size) = 0;
};

// One name of a directory listing.
struct DirEntryName {
  std::string name;
};

class FsDirHandle : public FsNodeHandle {
 public:
  // The next name; a failure after the last.
  virtual Result ReadNext(DirEntryName* entry) = 0;
  virtual Result Rewind() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual Result Close() = 0;
  virtual Result GetSpace(FsSpace* space) = 0;
  // Gives the old path's file the new path, replacing a file already there.
  virtual Result Rename(const std::string& new_path, const std::string& old_path) = 0;
  virtual Result Open(const std::string& path, std::unique_ptr<FsNodeHandle>* handle) = 0;
  virtual Result OpenFile(const std::string& path, uint32_t flags,
                          std::unique_ptr<FsFileHandle>* file) = 0;
  virtual Result OpenDir(const std::string& path, uint32_t flags,
                         std::unique_ptr<FsDirHandle>* dir) = 0;
  virtual Result Remove(const std::string& path) = 0;
  // Checks the volume and mends its allocation bitmap, reporting to the progress when one is
  // given.
  virtual Result Control(OmfsProgress* progress) = 0;
};

// Flags of OpenFileSystemStream: 1 read, 2 write, 4 create (read, write and create together),
// 32 replace. Anything else, or nothing, is rc::kBadOpenFlags before the volume is touched.
enum FsStreamFlags : uint32_t {
  kFsStreamRead = 1,
  kFsStreamWrite = 2,
  kFsStreamCreate = 4,
  kFsStreamReplace = 32,
};

// Opens a file and wraps it as a seekable stream.
Result OpenFileSystemStream(FileSystem* fs, const std::string& path, uint32_t flags,
                            std::unique_ptr<SeekableStream>* stream);
