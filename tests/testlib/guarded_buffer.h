// Bytes that end right before an inaccessible page, so a read or write past them faults.
#pragma once

#include <cstddef>
#include <string>

class GuardedBuffer {
 public:
  explicit GuardedBuffer(const std::string& bytes);
  // UTF-16 units, for the wide-text readers.
  static GuardedBuffer Wide(const std::wstring& units);
  GuardedBuffer(GuardedBuffer&& other) noexcept;
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  char* data() const { return data_; }
  size_t size() const { return size_; }
  const char* text() const { return data_; }
  const wchar_t* wide() const { return reinterpret_cast<const wchar_t*>(data_); }

 private:
  char* base_;
  size_t span_;
  char* data_;
  size_t size_;
};
