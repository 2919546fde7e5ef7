#include "db/record_allocator.h"

#include <cstdlib>

namespace {

class HeapAllocator : public RecordAllocator {
 public:
  void* Allocate(uint32_t size, uint32_t, uint32_t) override {
    return std::malloc(size == 0 ? 1 : size);
  }
  void Free(void* block, uint32_t, uint32_t) override { std::free(block); }
  void* Reallocate(void* block, uint32_t size, uint32_t) override {
    return std::realloc(block, size == 0 ? 1 : size);
  }
};

}  // namespace

RecordAllocator* RecordAllocator::Default() {
  static HeapAllocator heap;
  return &heap;
}
