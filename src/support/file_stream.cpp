#include "support/file_stream.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "support/stream_io.h"

namespace {

Result LastWin32Error() { return rc::FromWin32(GetLastError()); }

// Cuts or extends the file at `size`; the handle's pointer is left there.
Result SetEndAt(HANDLE handle, uint32_t size) {
  if (SetFilePointer(handle, static_cast<LONG>(size), nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(handle)) {
    return LastWin32Error();
  }
  return rc::kOk;
}

}  // namespace

// ---- CachedFileStream ----

Result CachedFileStream::GetPosition(uint32_t* position) {
  const Result result = EnsureInfo();
  if (rc::Failed(result)) return result;
  *position = position_;
  return rc::kOk;
}

Result CachedFileStream::GetSize(uint32_t* size) {
  const Result result = EnsureInfo();
  if (rc::Failed(result)) return result;
  *size = size_;
  return rc::kOk;
}

Result CachedFileStream::Seek(uint32_t position) {
  Result result = EnsureInfo();
  if (rc::Failed(result)) return result;
  if (position == position_) return rc::kOk;
  uint32_t moved = 0;
  result = MovePointer(static_cast<int32_t>(position), kFromStart, &moved);
  if (rc::Failed(result)) return result;
  position_ = moved;
  return rc::kOk;
}

Result CachedFileStream::Skip(int32_t delta) {
  if (delta == 0) return rc::kOk;
  Result result = EnsureInfo();
  if (rc::Failed(result)) return result;
  uint32_t moved = 0;
  result = MovePointer(delta, kFromCurrent, &moved);
  if (rc::Failed(result)) return result;
  position_ = moved;
  return rc::kOk;
}

Result CachedFileStream::LoadInfo() {
  uint32_t position = 0;
  uint32_t size = 0;
  Result result = MovePointer(0, kFromCurrent, &position);
  if (rc::Succeeded(result)) result = QuerySize(&size);
  if (rc::Failed(result)) return result;
  position_ = position;
  size_ = size;
  loaded_ = true;
  return rc::kOk;
}

Result CachedFileStream::Open(const std::string& path, uint32_t flags, int mode) {
  if ((flags & (OpenRead | OpenWrite)) == 0) return rc::kNotImplemented;
  Result result = Close();
  if (rc::Failed(result)) return result;
  path_ = path;
  flags_ = flags;
  result = OpenFile(path, flags, mode);
  if (rc::Succeeded(result)) open_ = true;
  return result;
}

Result CachedFileStream::Close() {
  if (!open_) return rc::kOk;
  const Result result = CloseFile();
  if (rc::Failed(result)) return result;
  open_ = false;
  loaded_ = false;
  return rc::kOk;
}

void CachedFileStream::Advance(uint32_t count) {
  position_ += count;
  if (loaded_ && position_ > size_) size_ = position_;
}

void CachedFileStream::Resized(Result result, uint32_t size) {
  if (rc::Failed(result)) {
    loaded_ = false;
    return;
  }
  position_ = size;
  size_ = size;
  loaded_ = true;
}

// ---- CrtFileStream ----

CrtFileStream::~CrtFileStream() {
  if (open_) Close();
}

Result CrtFileStream::Read(void* buffer, uint32_t length, uint32_t* count) {
  const int got = _read(fd_, buffer, length);
  if (got < 0) {
    *count = 0;
    return rc::FromErrno(errno);
  }
  *count = static_cast<uint32_t>(got);
  Advance(*count);
  return *count == length ? rc::kOk : rc::kEndOfData;
}

Result CrtFileStream::Write(const void* buffer, uint32_t length, uint32_t* count) {
  const int put = _write(fd_, buffer, length);
  if (put < 0) {
    *count = 0;
    return rc::FromErrno(errno);
  }
  *count = static_cast<uint32_t>(put);
  Advance(*count);
  // An appending descriptor moved to the end before writing: reload rather than guess.
  if (flags_ & OpenAppend) loaded_ = false;
  return rc::kOk;
}

Result CrtFileStream::Flush() { return _commit(fd_) == 0 ? rc::kOk : rc::FromErrno(errno); }

Result CrtFileStream::SetSize(uint32_t size) {
  const Result result = SetEndAt(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)), size);
  Resized(result, size);
  return result;
}

Result CrtFileStream::Rewind() {
  const Result result = MovePointer(0, kFromCurrent, &position_);
  return rc::Failed(result) ? result : static_cast<Result>(position_);
}

Result CrtFileStream::OpenFile(const std::string& path, uint32_t flags, int mode) {
  static const int kAccess[4] = {0, _O_RDONLY, _O_WRONLY, _O_RDWR};
  int oflag = _O_BINARY | kAccess[flags & (OpenRead | OpenWrite)];
  if (flags & OpenCreate) oflag |= _O_CREAT;
  if (flags & OpenExclusive) oflag |= _O_EXCL;
  if (flags & OpenTruncate) oflag |= _O_TRUNC;
  if (flags & OpenAppend) oflag |= _O_APPEND;
  if (flags & OpenSequential) oflag |= _O_SEQUENTIAL;
  const int fd = _open(path.c_str(), oflag, mode);
  if (fd < 0) return rc::FromErrno(errno);
  fd_ = fd;
  return rc::kOk;
}

Result CrtFileStream::CloseFile() {
  if (_close(fd_) != 0) return rc::FromErrno(errno);
  fd_ = -1;
  return rc::kOk;
}

Result CrtFileStream::MovePointer(int32_t offset, Origin origin, uint32_t* position) {
  static const int kWhence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  const long moved = _lseek(fd_, offset, kWhence[origin]);
  if (moved == -1) return rc::FromErrno(errno);
  *position = static_cast<uint32_t>(moved);
  return rc::kOk;
}

Result CrtFileStream::QuerySize(uint32_t* size) {
  struct _stat status;
  if (_fstat(fd_, &status) != 0) return rc::FromErrno(errno);
  *size = static_cast<uint32_t>(status.st_size);
  return rc::kOk;
}

// ---- Win32FileStream ----

Win32FileStream::~Win32FileStream() {
  if (open_) Close();
}

Result Win32FileStream::Read(void* buffer, uint32_t length, uint32_t* count) {
  DWORD got = 0;
  if (!ReadFile(handle_, buffer, length, &got, nullptr)) {
    *count = 0;
    return LastWin32Error();
  }
  *count = got;
  Advance(got);
  return got == length ? rc::kOk : rc::kEndOfData;
}

Result Win32FileStream::Write(const void* buffer, uint32_t length, uint32_t* count) {
  DWORD put = 0;
  if (!WriteFile(handle_, buffer, length, &put, nullptr)) {
    *count = 0;
    return LastWin32Error();
  }
  *count = put;
  Advance(put);
  return rc::kOk;
}

Result Win32FileStream::Flush() { return FlushFileBuffers(handle_) ? rc::kOk : LastWin32Error(); }

Result Win32FileStream::SetSize(uint32_t size) {
  uint32_t current = 0;
  Result result = GetSize(&current);
  if (rc::Failed(result) || size == current) return result;
  if (size < current) {
    result = SetEndAt(handle_, size);
  } else {
    static const uint8_t kZeros[4096] = {};
    result = MovePointer(0, kFromEnd, &position_);
    for (uint32_t left = size - current; left != 0 && rc::Succeeded(result);) {
      const uint32_t piece = std::min<uint32_t>(left, sizeof(kZeros));
      result = WriteExact(this, kZeros, piece);
      left -= piece;
    }
  }
  Resized(result, size);
  return result;
}

Result Win32FileStream::Rewind() {
  const Result result = MovePointer(0, kFromStart, &position_);
  return rc::Failed(result) ? result : static_cast<Result>(position_);
}

Result Win32FileStream::OpenFile(const std::string& path, uint32_t flags, int /*mode*/) {
  DWORD access = 0;
  if (flags & OpenRead) access |= GENERIC_READ;
  if (flags & OpenWrite) access |= GENERIC_WRITE;
  const bool create = flags & OpenCreate;
  DWORD disposition = OPEN_EXISTING;
  if (create && (flags & OpenExclusive)) {
    disposition = CREATE_NEW;
  } else if (flags & OpenTruncate) {
    disposition = create ? CREATE_ALWAYS : TRUNCATE_EXISTING;
  } else if (create) {
    disposition = OPEN_ALWAYS;
  }
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (flags & OpenWin32) attributes |= FILE_FLAG_WRITE_THROUGH;
  if (flags & OpenSequential) attributes |= FILE_FLAG_SEQUENTIAL_SCAN;
  const HANDLE handle =
      CreateFileA(path.c_str(), access, 0, nullptr, disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastWin32Error();
  handle_ = handle;
  return rc::kOk;
}

Result Win32FileStream::CloseFile() {
  FlushFileBuffers(handle_);  // a read-only handle cannot flush; nothing to lose then
  if (!CloseHandle(handle_)) return LastWin32Error();
  handle_ = INVALID_HANDLE_VALUE;
  return rc::kOk;
}

Result Win32FileStream::MovePointer(int32_t offset, Origin origin, uint32_t* position) {
  static const DWORD kMethod[3] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  const DWORD moved = SetFilePointer(handle_, offset, nullptr, kMethod[origin]);
  if (moved == INVALID_SET_FILE_POINTER) return LastWin32Error();
  *position = moved;
  return rc::kOk;
}

Result Win32FileStream::QuerySize(uint32_t* size) {
  const DWORD found = GetFileSize(handle_, nullptr);
  if (found == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return LastWin32Error();
  *size = found;
  return rc::kOk;
}

// ---- OpenFileStream ----

Result OpenFileStream(const char* path, uint32_t flags, std::unique_ptr<FileStream>* out) {
  out->reset();
  if (path == nullptr) return rc::kInvalidArg;
  std::unique_ptr<FileStream> stream;
  if (flags & OpenWin32) stream.reset(new (std::nothrow) Win32FileStream);
  if (!stream) stream.reset(new (std::nothrow) CrtFileStream);
  if (!stream) return rc::kOutOfMemory;
  const Result result = stream->Open(path, flags, kFileStreamMode);
  if (rc::Failed(result)) return result;
  *out = std::move(stream);
  return rc::kOk;
}
