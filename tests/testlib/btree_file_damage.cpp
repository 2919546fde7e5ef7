#include "testlib/btree_file_damage.h"

#include <windows.h>

namespace {

constexpr size_t kMetaPageSizeAt = 20;
constexpr size_t kEntriesAt = 20;
constexpr size_t kPageTypeAt = 25;
constexpr size_t kItemOffsetsAt = 26;
constexpr uint8_t kBtreeMetaPage = 9;
constexpr uint8_t kBtreeLeafPage = 5;
constexpr uint8_t kNoSuchPageType = 0x63;

uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

uint16_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               static_cast<uint8_t>(bytes[at + 1]) << 8);
}

void PutLe16(std::string* bytes, size_t at, uint32_t value) {
  (*bytes)[at] = static_cast<char>(value & 0xFF);
  (*bytes)[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

// The byte position of the first leaf page with at least one item; 0 when there is none.
size_t FirstLeafPage(const std::string& bytes, uint32_t page_size) {
  for (size_t page = page_size; page + page_size <= bytes.size(); page += page_size) {
    if (static_cast<uint8_t>(bytes[page + kPageTypeAt]) == kBtreeLeafPage &&
        Le16(bytes, page + kEntriesAt) > 0) {
      return page;
    }
  }
  return 0;
}

}  // namespace

const char* BtreeDamageName(BtreeDamage damage) {
  switch (damage) {
    case BtreeDamage::kItemOffsetAtPageEnd: return "item offset at the page's end";
    case BtreeDamage::kItemOffsetPastPage: return "item offset past the page";
    case BtreeDamage::kUnknownLeafPageType: return "unknown leaf page type";
    case BtreeDamage::kZeroPageSize: return "zero page size";
  }
  return "?";
}

bool DamageBtreeFile(std::string* bytes, BtreeDamage damage) {
  if (bytes->size() < 512 || static_cast<uint8_t>((*bytes)[kPageTypeAt]) != kBtreeMetaPage) {
    return false;
  }
  const uint32_t page_size = Le32(*bytes, kMetaPageSizeAt);
  if (damage == BtreeDamage::kZeroPageSize) {
    for (size_t i = 0; i < 4; ++i) (*bytes)[kMetaPageSizeAt + i] = 0;
    return true;
  }
  if (page_size < 512 || page_size > 65536) return false;
  const size_t leaf = FirstLeafPage(*bytes, page_size);
  if (leaf == 0) return false;
  switch (damage) {
    case BtreeDamage::kItemOffsetAtPageEnd:
      PutLe16(bytes, leaf + kItemOffsetsAt, page_size - 1);
      break;
    case BtreeDamage::kItemOffsetPastPage:
      PutLe16(bytes, leaf + kItemOffsetsAt, page_size + 0x100);
      break;
    case BtreeDamage::kUnknownLeafPageType:
      (*bytes)[leaf + kPageTypeAt] = static_cast<char>(kNoSuchPageType);
      break;
    case BtreeDamage::kZeroPageSize:
      break;
  }
  return true;
}

uint32_t ProcessHandleCount() {
  // Bound by name: the headers are set to a Windows older than the function.
  typedef BOOL(WINAPI * HandleCountFunction)(HANDLE, PDWORD);
  static const auto handle_count = reinterpret_cast<HandleCountFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessHandleCount")));
  DWORD count = 0;
  if (handle_count && handle_count(GetCurrentProcess(), &count) && count > 0) return count;
  // Wine answers 0: count the handle values that name an object instead.
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}
