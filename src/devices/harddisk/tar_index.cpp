#include "devices/harddisk/tar_index.h"

#include <algorithm>
#include <cstring>

#include "support/result_codes.h"

namespace {

// An octal field, copied and NUL-terminated first.
uint64_t Octal(const uint8_t* field, size_t size) {
  char text[16] = {};
  std::memcpy(text, field, size < sizeof text - 1 ? size : sizeof text - 1);
  uint64_t value = 0;
  for (const char* c = text; *c; ++c) {
    if (*c == ' ' && value == 0) continue;
    if (*c < '0' || *c > '7') break;
    value = value * 8 + static_cast<uint64_t>(*c - '0');
  }
  return value;
}

std::string Text(const uint8_t* field, size_t size) {
  const void* nul = std::memchr(field, 0, size);
  return std::string(reinterpret_cast<const char*>(field),
                     nul ? static_cast<const uint8_t*>(nul) - field : size);
}

// One form for the names of the archive and the paths asked for: no leading '/' or "./", no
// trailing '/', and the root as the empty path. A backslash in an archive's name stays (GNU tar
// keeps it as a character; the tree copy refuses such a name).
std::string Normalise(std::string path) {
  for (;;) {
    if (!path.empty() && path[0] == '/')
      path.erase(0, 1);
    else if (path.compare(0, 2, "./") == 0)
      path.erase(0, 2);
    else
      break;
  }
  while (!path.empty() && path.back() == '/') path.pop_back();
  if (path == ".") path.clear();
  return path;
}

// GNU tar's records that carry the long name (L) or long link name (K) of the next header.
bool IsLongNameRecord(char type) { return type == 'L' || type == 'K'; }

// The member's name as GNU tar reads it: a long name given before it, else the ustar prefix
// joined to the name field (only under the POSIX magic "ustar\0"), else the name field.
std::string HeaderPath(const uint8_t* header, const std::string* long_name) {
  if (long_name) return *long_name;
  const std::string name = Text(header, 100);
  if (header[345] == 0 || std::memcmp(header + 257, "ustar", 6) != 0) return name;
  return Text(header + 345, 155) + "/" + name;
}

}  // namespace

Result TarIndex::Parse(const uint8_t* image, uint64_t length) {
  entries_.clear();
  by_path_.clear();
  cut_short_ = false;
  TarEntry root;
  root.type = '5';
  root.mode = 511;
  entries_.push_back(root);
  by_path_[""] = 1;

  uint64_t at = 0;
  std::string long_name, long_link;
  bool has_long_name = false, has_long_link = false;
  // A header is read only where a whole block remains.
  while (at < length && length - at >= kBlock) {
    const uint8_t* header = image + at;
    if (header[0] == 0) {
      at += kBlock;
      continue;
    }
    TarEntry entry;
    entry.type = header[156] ? static_cast<char>(header[156]) : '0';
    entry.size = Octal(header + 124, 12);
    const uint64_t size = entry.size;
    const uint64_t data_start = at + kBlock;
    entry.available = data_start >= length ? 0 : std::min(entry.size, length - data_start);
    entry.data = entry.available ? header + kBlock : nullptr;
    if (entry.available < entry.size) cut_short_ = true;  // a member or a long-name record
    if (IsLongNameRecord(entry.type)) {
      // The text up to its first NUL, of the bytes the image holds.
      const std::string text = Text(header + kBlock, static_cast<size_t>(entry.available));
      if (entry.type == 'L') {
        long_name = text;
        has_long_name = true;
      } else {
        long_link = text;
        has_long_link = true;
      }
    } else {
      entry.path = Normalise(HeaderPath(header, has_long_name ? &long_name : nullptr));
      entry.link_name = has_long_link ? long_link : Text(header + 157, 100);
      has_long_name = has_long_link = false;
      AddEntry(header, std::move(entry));
    }

    // The next header, computed in 64 bits; a size that would not move the walk forward or
    // would pass the end ends it.
    const uint64_t blocks = size / kBlock + (size % kBlock != 0);
    if (blocks > (UINT64_MAX - at) / kBlock - 1) break;
    const uint64_t next = at + kBlock * (1 + blocks);
    if (next <= at || next > length) break;
    at = next;
  }
  if (at < length && length - at < kBlock) cut_short_ = true;  // a header cut short
  return rc::kOk;
}

void TarIndex::AddEntry(const uint8_t* header, TarEntry entry) {
  entry.mode = static_cast<uint32_t>(Octal(header + 100, 8) & 0xFFF);
  entry.uid = static_cast<uint32_t>(Octal(header + 108, 8));
  entry.gid = static_cast<uint32_t>(Octal(header + 116, 8));
  entry.mtime = Octal(header + 136, 12);
  entry.device_major = static_cast<uint32_t>(Octal(header + 329, 8));
  entry.device_minor = static_cast<uint32_t>(Octal(header + 337, 8));
  entry.prefix = reinterpret_cast<const char*>(header + 345);
  const size_t slash = entry.path.rfind('/');
  if (slash == std::string::npos) {
    entry.leaf = entry.path;
  } else {
    entry.parent = entry.path.substr(0, slash);
    entry.leaf = entry.path.substr(slash + 1);
  }
  if (entry.path.empty()) {
    entry.children = std::move(entries_[0].children);
    entries_[0] = std::move(entry);
    return;
  }
  entries_.push_back(std::move(entry));
  const uint32_t number = static_cast<uint32_t>(entries_.size());
  by_path_[entries_.back().path] = number;
  auto parent = by_path_.find(entries_.back().parent);
  if (parent != by_path_.end()) entries_[parent->second - 1].children.push_back(number);
}

const TarEntry* TarIndex::Find(const std::string& path) const {
  std::string asked = path;
  std::replace(asked.begin(), asked.end(), '\\', '/');
  auto it = by_path_.find(Normalise(asked));
  return it == by_path_.end() ? nullptr : &entries_[it->second - 1];
}

const TarEntry* TarIndex::Entry(uint32_t number) const {
  return number >= 1 && number <= entries_.size() ? &entries_[number - 1] : nullptr;
}
