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

// One form for the names of the archive and the paths asked for: the folders of the path without
// empty or "." steps (so no leading '/' or "./", no trailing or doubled '/'), and the root as the
// empty path; the path names the node GNU tar would extract it to. A backslash in an archive's
// name stays (GNU tar keeps it as a character; the tree copy refuses such a name), and so does a
// ".." step (the tree copy refuses it).
std::string Normalise(const std::string& path) {
  std::string normal;
  normal.reserve(path.size());
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const size_t length = end - start;
    if (length != 0 && !(length == 1 && path[start] == '.')) {
      if (!normal.empty()) normal += '/';
      normal.append(path, start, length);
    }
    start = end + 1;
  }
  return normal;
}

// Folders made for members below them: what GNU tar makes with its default permissions.
constexpr uint32_t kMadeFolderMode = 0755;
// What made folders may take: each costs its path and a share for the entry itself; every byte
// of the image pays for a few such bytes, and a floor lets one name as long as a Linux path
// (4096 bytes) have all its folders made whatever their number.
constexpr uint64_t kFolderEntryCost = 256;
constexpr uint64_t kFolderBytesPerImageByte = 8;
constexpr uint64_t kFolderBytesFloor = 8 * 1024 * 1024;

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
  folder_budget_ =
      kFolderBytesFloor + std::min<uint64_t>(length, UINT64_MAX / 16) * kFolderBytesPerImageByte;
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
      const Result added = AddEntry(header, std::move(entry));
      if (rc::Failed(added)) return added;
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

Result TarIndex::AddEntry(const uint8_t* header, TarEntry entry) {
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
  return File(std::move(entry));
}

Result TarIndex::File(TarEntry entry) {
  if (entry.path.empty()) {
    entry.children = std::move(entries_[0].children);
    entries_[0] = std::move(entry);
    return rc::kOk;
  }
  uint32_t parent = 0;
  const Result result = Folder(entry.parent, entry, &parent);
  if (rc::Failed(result)) return result;
  const auto earlier = by_path_.find(entry.path);
  entries_.push_back(std::move(entry));
  const uint32_t number = static_cast<uint32_t>(entries_.size());
  TarEntry& added = entries_.back();
  std::vector<uint32_t>& siblings = entries_[parent - 1].children;
  if (earlier == by_path_.end()) {
    by_path_[added.path] = number;
    siblings.push_back(number);
    return rc::kOk;
  }
  // Extracted over the earlier node: one name in the folder, and a folder's files stay in it.
  TarEntry& replaced = entries_[earlier->second - 1];
  if (added.type == '5' && replaced.type == '5') added.children = std::move(replaced.children);
  const auto place = std::find(siblings.begin(), siblings.end(), earlier->second);
  if (place != siblings.end())
    *place = number;
  else
    siblings.push_back(number);
  earlier->second = number;
  return rc::kOk;
}

Result TarIndex::Folder(const std::string& path, const TarEntry& below, uint32_t* number) {
  // Up from the folder to the first one known (the root at least), then made downwards.
  std::vector<size_t> missing;  // path lengths of the folders to make, deepest first
  size_t length = path.size();
  for (;;) {
    const auto found = by_path_.find(path.substr(0, length));
    if (found != by_path_.end()) {
      *number = found->second;
      break;
    }
    const uint64_t cost = length + kFolderEntryCost;
    if (cost > folder_budget_) return rc::kBadData;
    folder_budget_ -= cost;
    missing.push_back(length);
    const size_t slash = path.rfind('/', length - 1);
    length = slash == std::string::npos ? 0 : slash;
  }
  for (auto made = missing.rbegin(); made != missing.rend(); ++made) {
    TarEntry folder;
    folder.type = '5';
    folder.mode = kMadeFolderMode;
    folder.uid = below.uid;
    folder.gid = below.gid;
    folder.mtime = below.mtime;
    folder.path = path.substr(0, *made);
    const size_t slash = folder.path.rfind('/');
    folder.parent = slash == std::string::npos ? std::string() : folder.path.substr(0, slash);
    folder.leaf = slash == std::string::npos ? folder.path : folder.path.substr(slash + 1);
    entries_.push_back(std::move(folder));
    const uint32_t made_number = static_cast<uint32_t>(entries_.size());
    by_path_[entries_.back().path] = made_number;
    entries_[*number - 1].children.push_back(made_number);
    *number = made_number;
  }
  return rc::kOk;
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
