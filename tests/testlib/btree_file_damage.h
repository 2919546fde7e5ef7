// Damage made to the bytes of a Berkeley DB B-tree file as the library's page layout
// describes it, for tests of what our code does with a damaged library file, and the count of
// the process's handles, which shows what a failed open or close leaves behind.
//
// Layout used (little-endian, as written on a PC): page 0 is the meta page, with the page size
// at byte 20 and the page type at byte 25; every other page starts with a 26-byte header
// (entries at byte 20, page type at byte 25) followed by the 2-byte offsets of its items.
#pragma once

#include <cstdint>
#include <string>

enum class BtreeDamage {
  kItemOffsetAtPageEnd,   // a leaf item starts at the page's last byte: its header runs past it
  kItemOffsetPastPage,    // a leaf item's offset points beyond the page
  kUnknownLeafPageType,   // a leaf page claims a type the library does not have
  kZeroPageSize,          // the meta page says pages are 0 bytes long
};

const char* BtreeDamageName(BtreeDamage damage);

// Applies the damage to the first leaf page (or the meta page); false when the bytes hold no
// page it could be made to (not a B-tree file of this layout).
bool DamageBtreeFile(std::string* bytes, BtreeDamage damage);

// The number of handles the process holds (GetProcessHandleCount).
uint32_t ProcessHandleCount();
