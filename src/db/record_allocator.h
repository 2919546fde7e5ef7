// The memory a ColumnTable takes for its column arrays, sort orders and pools. Blocks must be
// aligned for 32-bit values. A null answer means the memory is not to be had.
#pragma once

#include <cstdint>

class RecordAllocator {
 public:
  virtual ~RecordAllocator() = default;
  // The two trailing words are passed as 0.
  virtual void* Allocate(uint32_t size, uint32_t, uint32_t) = 0;
  virtual void Free(void* block, uint32_t, uint32_t) = 0;
  virtual void* Reallocate(void* block, uint32_t size, uint32_t) = 0;
  // Kept for the interface's layout; no caller.
  virtual void* Reserved(void* block, uint32_t size, uint32_t) { return nullptr; }

  // The shared allocator over the runtime heap.
  static RecordAllocator* Default();
};
