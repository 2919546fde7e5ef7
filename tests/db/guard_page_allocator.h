// A RecordAllocator that ends every block right before an inaccessible page, so that a table or
// record set reading past a column array or pool faults at once instead of reading a
// neighbour's bytes. Freed blocks are made inaccessible too and never reused, so a read of a
// block after it was replaced faults as well.
#pragma once

#include <cstdint>

#include "db/record_allocator.h"

class GuardPageAllocator : public RecordAllocator {
 public:
  void* Allocate(uint32_t size, uint32_t, uint32_t) override;
  void Free(void* block, uint32_t, uint32_t) override;
  void* Reallocate(void* block, uint32_t size, uint32_t) override;
};
