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

std::string Normalise(std::string path) {
  if (!path.empty() && path.back() == '/') path.pop_back();
  if (path.size() >= 2 && path.compare(0, 2, "./") == 0) path.erase(0, 2);
  if (path == ".") path.clear();
  return path;
}

}  // namespace

Result TarIndex::Parse(const uint8_t* image, uint64_t length) {
  entries_.clear();
  by_path_.clear();
  TarEntry root;
  root.type = '5';
  root.mode = 511;
  entries_.push_back(root);
  by_path_[""] = 1;

  uint64_t at = 0;
  // A header is read only where a whole block remains.
  while (at < length && length - at >= kBlock) {
    const uint8_t* header = image + at;
    if (header[0] == 0) {
      at += kBlock;
      continue;
    }
    TarEntry entry;
    entry.path = Normalise(Text(header, 100));
    entry.mode = static_cast<uint32_t>(Octal(header + 100, 8) & 0xFFF);
    entry.uid = static_cast<uint32_t>(Octal(header + 108, 8));
    entry.gid = static_cast<uint32_t>(Octal(header + 116, 8));
    entry.size = Octal(header + 124, 12);
    entry.mtime = Octal(header + 136, 12);
    entry.type = header[156] ? static_cast<char>(header[156]) : '0';
    entry.link_name = reinterpret_cast<const char*>(header + 157);
    entry.device_major = static_cast<uint32_t>(Octal(header + 329, 8));
    entry.device_minor = static_cast<uint32_t>(Octal(header + 337, 8));
    entry.prefix = reinterpret_cast<const char*>(header + 345);
    entry.data = header + kBlock;
    const uint64_t data_start = at + kBlock;
    entry.available = data_start >= length ? 0 : std::min(entry.size, length - data_start);
    if (entry.available == 0) entry.data = nullptr;
    const size_t slash = entry.path.rfind('/');
    if (slash == std::string::npos) {
      entry.leaf = entry.path;
    } else {
      entry.parent = entry.path.substr(0, slash);
      entry.leaf = entry.path.substr(slash + 1);
    }

    const uint64_t size = entry.size;
    if (entry.path.empty()) {
      entry.children = std::move(entries_[0].children);
      entries_[0] = std::move(entry);
    } else {
      entries_.push_back(entry);
      const uint32_t number = static_cast<uint32_t>(entries_.size());
      by_path_[entries_.back().path] = number;
      auto parent = by_path_.find(entries_.back().parent);
      if (parent != by_path_.end()) entries_[parent->second - 1].children.push_back(number);
    }

    // The next header, computed in 64 bits; a size that would not move the walk forward or
    // would pass the end ends it.
    const uint64_t blocks = size / kBlock + (size % kBlock != 0);
    if (blocks > (UINT64_MAX - at) / kBlock - 1) break;
    const uint64_t next = at + kBlock * (1 + blocks);
    if (next <= at || next > length) break;
    at = next;
  }
  return rc::kOk;
}

const TarEntry* TarIndex::Find(const std::string& raw) const {
  std::string path = raw;
  for (char& c : path)
    if (c == '\\') c = '/';
  if (!path.empty() && path[0] == '/') path.erase(0, 1);
  auto it = by_path_.find(path);
  return it == by_path_.end() ? nullptr : &entries_[it->second - 1];
}

const TarEntry* TarIndex::Entry(uint32_t number) const {
  return number >= 1 && number <= entries_.size() ? &entries_[number - 1] : nullptr;
}
