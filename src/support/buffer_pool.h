// Reference-counted data buffers for the network protocol, drawn from a DynamicBufferPool.
// Each buffer's record sits in the same allocation just before its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <utility>

#include "support/registered_lock.h"
#include "support/result_codes.h"

class BufferAllocator;

// A block of data made only by a pool. The count is a plain one (not interlocked): a buffer is
// used by one thread at a time.
class RefBuffer {
 public:
  RefBuffer(const RefBuffer&) = delete;
  RefBuffer& operator=(const RefBuffer&) = delete;

  uint8_t* Data() const { return data_; }
  uint32_t Size() const { return size_; }
  uint32_t RefCount() const { return refs_; }
  BufferAllocator* Pool() const { return pool_; }
  BufferAllocator* Owner() const { return owner_; }

  void AddRef() { ++refs_; }
  // Drops one reference; the last one returns the buffer to the pool that made it.
  void Release();

 private:
  friend class DynamicBufferPool;
  friend class RefBufferPtr;
  RefBuffer(BufferAllocator* pool, void* raw, BufferAllocator* owner, uint8_t* data,
            uint32_t size)
      : pool_(pool), raw_(raw), owner_(owner), data_(data), size_(size), refs_(1) {}

  BufferAllocator* pool_;
  void* raw_;
  BufferAllocator* owner_;  // asked for the copy when a shared buffer is about to change
  uint8_t* data_;
  uint32_t size_;
  uint32_t refs_;
};

class BufferAllocator {
 public:
  virtual ~BufferAllocator() = default;
  // A buffer of `size` bytes with count 1, or null when there is no memory. `owner` (null:
  // this allocator) is the allocator that later copies it.
  virtual RefBuffer* Alloc(uint32_t size, BufferAllocator* owner) = 0;
  virtual void Free(RefBuffer* /*buffer*/) {}
};

// Where a pool takes its memory when not from the program's heap.
class RawAllocator {
 public:
  virtual void* Allocate(size_t size) = 0;
  virtual void Deallocate(void* block) = 0;

 protected:
  ~RawAllocator() = default;
};

class DynamicBufferPool : public BufferAllocator {
 public:
  // `name` is cut to 63 characters. `memory` null: the program's heap. The pool must outlive
  // its buffers.
  DynamicBufferPool(const char* name, uint32_t alignment, RawAllocator* memory = nullptr);

  RefBuffer* Alloc(uint32_t size, BufferAllocator* owner) override;
  void Free(RefBuffer* buffer) override;

  const char* Name() const { return name_; }
  uint32_t Alignment() const { return alignment_; }
  uint32_t HeaderSize() const { return header_size_; }
  uint32_t LiveCount();

  // The alignment of both the record and the data: the one asked for, raised so that the
  // record's own fields are aligned too (a zero alignment counts as 1).
  static constexpr uint32_t PlacementFor(uint32_t alignment) {
    return std::lcm(alignment ? alignment : 1u, static_cast<uint32_t>(alignof(RefBuffer)));
  }
  // Bytes from the record to the data: the smallest multiple of the placement that holds the
  // record (24 for alignment 4 on 32-bit targets, more where pointers are 8 bytes).
  static constexpr uint32_t HeaderSizeFor(uint32_t alignment) {
    const uint32_t placement = PlacementFor(alignment);
    return (static_cast<uint32_t>(sizeof(RefBuffer)) + placement - 1) / placement * placement;
  }

 private:
  char name_[64];
  RawAllocator* memory_;
  uint32_t live_ = 0;
  RegisteredLock lock_{"DynamicBufferPool"};
  uint32_t alignment_;
  uint32_t placement_;
  uint32_t header_size_;
};

// The pool of the network channel: "network", alignment 4, the program's heap. Made on first
// use and never destroyed, so buffers held by static objects stay valid to the end.
DynamicBufferPool& NetworkBufferPool();

// Holds one reference to a RefBuffer.
class RefBufferPtr {
 public:
  RefBufferPtr() = default;
  // Takes over a reference the caller owns (Alloc hands out buffers with count 1).
  explicit RefBufferPtr(RefBuffer* adopted) : ptr_(adopted) {}
  RefBufferPtr(const RefBufferPtr& other) : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  RefBufferPtr(RefBufferPtr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  RefBufferPtr& operator=(RefBufferPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~RefBufferPtr() { Reset(); }

  void Reset(RefBuffer* adopted = nullptr);
  RefBuffer* Get() const { return ptr_; }
  RefBuffer* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // Call before changing the data: a buffer that others share is first replaced by a copy of
  // this holder's own, made by its owner. kOutOfMemory leaves the shared buffer in place.
  Result MakeUnique();
  // Cuts the data to `size` bytes (never grows it), copying a shared buffer first.
  Result Truncate(uint32_t size);

 private:
  RefBuffer* ptr_ = nullptr;
};
