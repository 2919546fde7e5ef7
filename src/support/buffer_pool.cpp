#include "support/buffer_pool.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "support/registered_lock.h"

static_assert(sizeof(void*) != 4 || DynamicBufferPool::HeaderSizeFor(4) == 24,
              "32-bit builds keep the 24-byte header of alignment 4");
static_assert(DynamicBufferPool::HeaderSizeFor(4) >= sizeof(RefBuffer) &&
                  DynamicBufferPool::HeaderSizeFor(16) >= sizeof(RefBuffer),
              "the record must end before the data begins");

void RefBuffer::Release() {
  if (--refs_ == 0) {
    size_ = 0;
    pool_->Free(this);
  }
}

DynamicBufferPool::DynamicBufferPool(const char* name, uint32_t alignment, RawAllocator* memory)
    : memory_(memory),
      alignment_(alignment),
      placement_(PlacementFor(alignment)),
      header_size_(HeaderSizeFor(alignment)) {
  std::snprintf(name_, sizeof(name_), "%s", name ? name : "");
}

RefBuffer* DynamicBufferPool::Alloc(uint32_t size, BufferAllocator* owner) {
  // The record starts 1 to `placement` bytes past the raw start, so that much slack is asked
  // for; on 32-bit targets a size near 4 GiB must not wrap the total.
  const size_t overhead = size_t{placement_} + header_size_;
  if (size > SIZE_MAX - overhead) return nullptr;
  const size_t total = overhead + size;

  ScopedEnter hold(lock_);
  void* raw = memory_ ? memory_->Allocate(total) : std::malloc(total);
  if (!raw) return nullptr;
  auto* start = static_cast<uint8_t*>(raw);
  uint8_t* header = start + (placement_ - reinterpret_cast<uintptr_t>(raw) % placement_);
  auto* buffer = new (header)
      RefBuffer(this, raw, owner ? owner : this, header + header_size_, size);
  ++live_;
  return buffer;
}

void DynamicBufferPool::Free(RefBuffer* buffer) {
  if (!buffer) return;
  void* raw = buffer->raw_;
  ScopedEnter hold(lock_);
  --live_;
  if (memory_)
    memory_->Deallocate(raw);
  else
    std::free(raw);
}

uint32_t DynamicBufferPool::LiveCount() {
  ScopedEnter hold(lock_);
  return live_;
}

DynamicBufferPool& NetworkBufferPool() {
  static DynamicBufferPool* const pool = new DynamicBufferPool("network", 4);
  return *pool;
}

void RefBufferPtr::Reset(RefBuffer* adopted) {
  RefBuffer* old = ptr_;
  ptr_ = adopted;
  if (old) old->Release();
}

Result RefBufferPtr::MakeUnique() {
  if (!ptr_ || ptr_->refs_ <= 1) return rc::kOk;
  RefBuffer* copy = ptr_->owner_->Alloc(ptr_->size_, ptr_->owner_);
  if (!copy) return rc::kOutOfMemory;
  std::memcpy(copy->data_, ptr_->data_, ptr_->size_);
  Reset(copy);  // the old buffer stays alive for its other holders
  return rc::kOk;
}

Result RefBufferPtr::Truncate(uint32_t size) {
  if (!ptr_ || size >= ptr_->size_) return rc::kOk;
  const Result result = MakeUnique();
  if (rc::Failed(result)) return result;
  ptr_->size_ = size;
  return rc::kOk;
}
