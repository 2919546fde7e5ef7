#include "testlib/guarded_buffer.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <utility>

GuardedBuffer::GuardedBuffer(const std::string& bytes) : size_(bytes.size()) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  span_ = (bytes.size() / page + 2) * page;
  base_ = static_cast<char*>(
      VirtualAlloc(nullptr, span_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!base_) throw std::bad_alloc();
  DWORD old_protect;
  VirtualProtect(base_ + span_ - page, page, PAGE_NOACCESS, &old_protect);
  data_ = base_ + span_ - page - bytes.size();
  std::memcpy(data_, bytes.data(), bytes.size());
}

GuardedBuffer GuardedBuffer::Wide(const std::wstring& units) {
  return GuardedBuffer(std::string(reinterpret_cast<const char*>(units.data()),
                                   units.size() * sizeof(wchar_t)));
}

GuardedBuffer::GuardedBuffer(GuardedBuffer&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      span_(other.span_),
      data_(other.data_),
      size_(other.size_) {}

GuardedBuffer::~GuardedBuffer() {
  if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}
