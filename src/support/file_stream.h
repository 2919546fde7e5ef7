// File streams on a C-runtime descriptor (CrtFileStream) or a Win32 handle (Win32FileStream),
// and OpenFileStream, which picks one by the OpenWin32 flag.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/stream.h"

// Permission mode that OpenFileStream passes to Open.
constexpr int kFileStreamMode = 0644;

// What both file streams share: the file's position and size, loaded from the open file on
// first need and then kept in step by every operation that moves the file pointer or changes
// the size, so a cached value never sends a Seek or SetSize to the wrong place.
class CachedFileStream : public FileStream {
 public:
  CachedFileStream() = default;
  CachedFileStream(const CachedFileStream&) = delete;
  CachedFileStream& operator=(const CachedFileStream&) = delete;

  Result GetPosition(uint32_t* position) override;
  Result GetSize(uint32_t* size) override;
  // No system call when the position already is the cached one.
  Result Seek(uint32_t position) override;
  Result Skip(int32_t delta) override;
  // Reads the position (without moving the file) and the size from the open file.
  Result LoadInfo() override;
  // Flags that name neither read nor write give rc::kNotImplemented without touching the file.
  // A stream that is still open closes its old file first.
  Result Open(const std::string& path, uint32_t flags, int mode) override;
  // A failed close leaves the stream open; closing a closed stream does nothing.
  Result Close() override;

  const std::string& Path() const { return path_; }
  uint32_t Flags() const { return flags_; }
  bool IsOpen() const { return open_; }

 protected:
  enum Origin { kFromStart, kFromCurrent, kFromEnd };

  virtual Result OpenFile(const std::string& path, uint32_t flags, int mode) = 0;
  virtual Result CloseFile() = 0;
  // Moves the file pointer; *position receives where it then stands.
  virtual Result MovePointer(int32_t offset, Origin origin, uint32_t* position) = 0;
  virtual Result QuerySize(uint32_t* size) = 0;

  Result EnsureInfo() { return loaded_ ? rc::kOk : LoadInfo(); }
  // After `count` bytes were read or written at the position.
  void Advance(uint32_t count);
  // After the file was cut or extended to `size` with its pointer left there; on failure the
  // cache is dropped and reloaded from the file when next needed.
  void Resized(Result result, uint32_t size);

  std::string path_;
  uint32_t flags_ = 0;
  bool open_ = false;
  bool loaded_ = false;
  uint32_t position_ = 0;
  uint32_t size_ = 0;
};

// Failures are C-runtime codes (rc::FromErrno) except SetSize's (Win32 codes).
class CrtFileStream : public CachedFileStream {
 public:
  ~CrtFileStream() override;

  // 1 for a short read (the end of the file), with the count of bytes read.
  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  // 0 also for a short write; the count says what was written.
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;
  Result Flush() override;
  // Cuts or extends (with zeros) through the descriptor's Win32 handle, which is left at
  // `size`.
  Result SetSize(uint32_t size) override;
  // Reloads the position from the descriptor without moving it; answers the position.
  Result Rewind() override;

 protected:
  Result OpenFile(const std::string& path, uint32_t flags, int mode) override;
  Result CloseFile() override;
  Result MovePointer(int32_t offset, Origin origin, uint32_t* position) override;
  Result QuerySize(uint32_t* size) override;

 private:
  int fd_ = -1;
};

// Failures are Win32 codes (rc::FromWin32). The file is opened without sharing.
class Win32FileStream : public CachedFileStream {
 public:
  ~Win32FileStream() override;

  // 1 for a short read (the end of the file), with the count of bytes read.
  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;
  Result Flush() override;
  // Grows by writing zeros at the end in pieces of at most 4096 bytes (the first failing
  // write's result is returned); cuts with SetEndOfFile. The file pointer is left at `size`.
  Result SetSize(uint32_t size) override;
  // Moves the file to its start; answers the position (0).
  Result Rewind() override;

 protected:
  Result OpenFile(const std::string& path, uint32_t flags, int mode) override;
  Result CloseFile() override;
  Result MovePointer(int32_t offset, Origin origin, uint32_t* position) override;
  Result QuerySize(uint32_t* size) override;

 private:
  void* handle_ = reinterpret_cast<void*>(-1);  // INVALID_HANDLE_VALUE when closed
};

// Opens `path` with kFileStreamMode in a Win32FileStream when `flags` hold OpenWin32, else in a
// CrtFileStream. *out is cleared first and receives the stream only on success; the open's
// failure is returned; rc::kOutOfMemory when no stream object can be had.
Result OpenFileStream(const char* path, uint32_t flags, std::unique_ptr<FileStream>* out);
