// An array of T taken from a RecordAllocator and given back when the block is replaced or
// destroyed. Moves, never copies.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include "db/record_allocator.h"

template <typename T>
class TableBlock {
 public:
  TableBlock() = default;
  TableBlock(const TableBlock&) = delete;
  TableBlock& operator=(const TableBlock&) = delete;
  TableBlock(TableBlock&& other) noexcept { Swap(other); }
  TableBlock& operator=(TableBlock&& other) noexcept {
    if (this != &other) {
      Reset();
      Swap(other);
    }
    return *this;
  }
  ~TableBlock() { Reset(); }

  // Replaces the block with `count` zeroed elements; false (and an empty block) when the size
  // does not fit 32 bits or the allocator has no memory.
  bool Allocate(RecordAllocator* allocator, uint64_t count) {
    Reset();
    const uint64_t bytes = count * sizeof(T);
    if (count > UINT32_MAX / sizeof(T)) return false;
    void* block = allocator->Allocate(static_cast<uint32_t>(bytes), 0, 0);
    if (!block) return false;
    std::memset(block, 0, static_cast<size_t>(bytes));
    allocator_ = allocator;
    data_ = static_cast<T*>(block);
    count_ = static_cast<uint32_t>(count);
    return true;
  }

  void Reset() {
    if (data_) allocator_->Free(data_, 0, 0);
    data_ = nullptr;
    count_ = 0;
    allocator_ = nullptr;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  uint32_t size() const { return count_; }
  bool empty() const { return data_ == nullptr; }
  T& operator[](uint32_t i) { return data_[i]; }
  const T& operator[](uint32_t i) const { return data_[i]; }

 private:
  void Swap(TableBlock& other) {
    std::swap(allocator_, other.allocator_);
    std::swap(data_, other.data_);
    std::swap(count_, other.count_);
  }

  RecordAllocator* allocator_ = nullptr;
  T* data_ = nullptr;
  uint32_t count_ = 0;
};
