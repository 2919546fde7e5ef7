// The byte-stream family through which files, memory, sockets and parsers move bytes.
// Results: 0 success, 1 end of data (Read only), negative failure.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

// Minimal read/write contract. One owner; deleted through the virtual destructor.
class Stream {
 public:
  virtual ~Stream() = default;
  // Reads up to `length` bytes; *count receives the bytes moved.
  virtual Result Read(void* buffer, uint32_t length, uint32_t* count) = 0;
  virtual Result Write(const void* buffer, uint32_t length, uint32_t* count) = 0;
  virtual Result Flush() { return rc::kOk; }
};

// A stream with a 32-bit position and size (files of 2 GiB and more are outside the design).
class SeekableStream : public Stream {
 public:
  virtual Result GetPosition(uint32_t* position) = 0;
  virtual Result Seek(uint32_t position) = 0;
  virtual Result Skip(int32_t delta) = 0;
  virtual Result GetSize(uint32_t* size) = 0;
  virtual Result SetSize(uint32_t size) = 0;
};

// Open flags shared by both file-stream classes and every caller of OpenFileStream.
enum OpenFlags : uint32_t {
  OpenRead = 0x1,
  OpenWrite = 0x2,
  OpenCreate = 0x4,
  OpenExclusive = 0x8,
  OpenTruncate = 0x20,
  OpenAppend = 0x40,
  OpenWin32 = 0x100,
  OpenSequential = 0x1000,
};

class FileStream : public SeekableStream {
 public:
  virtual Result Rewind() = 0;
  virtual Result LoadInfo() = 0;
  virtual Result Open(const std::string& path, uint32_t flags, int mode) = 0;
  virtual Result Close() = 0;
};
