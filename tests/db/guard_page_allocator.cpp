#include "db/guard_page_allocator.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr uintptr_t kPage = 4096;

}  // namespace

// Blocks stay aligned for 32-bit values: a size that is no multiple of 4 leaves up to 3 bytes
// before the guard.
void* GuardPageAllocator::Allocate(uint32_t size, uint32_t, uint32_t) {
  const uintptr_t rounded = (uintptr_t{size} + 3) & ~uintptr_t{3};
  const uintptr_t pages = (rounded + kPage - 1) / kPage;
  char* region = static_cast<char*>(
      VirtualAlloc(nullptr, (pages + 1) * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!region) return nullptr;
  DWORD old = 0;
  VirtualProtect(region + pages * kPage, kPage, PAGE_NOACCESS, &old);
  return region + pages * kPage - rounded;
}

// The pages are decommitted but stay reserved, so no later block takes their addresses.
void GuardPageAllocator::Free(void* block, uint32_t, uint32_t) {
  if (!block) return;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(block, &info, sizeof info) == 0) return;
  MEMORY_BASIC_INFORMATION pages{};
  if (VirtualQuery(info.AllocationBase, &pages, sizeof pages) == 0) return;
  if (pages.Protect == PAGE_READWRITE) VirtualFree(info.AllocationBase, pages.RegionSize, MEM_DECOMMIT);
}

void* GuardPageAllocator::Reallocate(void* block, uint32_t size, uint32_t) {
  void* fresh = Allocate(size, 0, 0);
  if (fresh && block) {
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(block, &info, sizeof info);
    const uintptr_t left = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize -
                           reinterpret_cast<uintptr_t>(block);
    std::memcpy(fresh, block, left < size ? left : size);
    Free(block, 0, 0);
  }
  return fresh;
}
