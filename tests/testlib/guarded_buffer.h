// Bytes that end right before an inaccessible page, so a read or write past them faults.
#pragma once

#include <cstddef>
#include <string>

class GuardedBuffer {
 public:
  explicit GuardedBuffer(const std::string& bytes);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  char* base_;
  size_t span_;
  char* data_;
  size_t size_;
};
