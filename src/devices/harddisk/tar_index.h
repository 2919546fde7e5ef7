// The entries of a tar image, numbered from 1 in archive order (entry 1 the root directory),
// found by normalised path. Names are read as GNU tar reads them: a GNU long name or long link
// record (type L or K) gives the next member's name or link, and the ustar prefix field is
// joined in front of the name; the records themselves are no entries. As GNU tar extracts, every
// member's folders exist: a folder without an entry of its own is made when a member below it
// is met, and a later entry of a folder takes the place of the one made, keeping its children.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/result_codes.h"

struct TarEntry {
  const uint8_t* data = nullptr;
  uint64_t available = 0;  // bytes of data inside the image (the size may claim more)
  std::string path, parent, leaf;
  uint32_t mode = 0, uid = 0, gid = 0;
  uint64_t size = 0, mtime = 0;
  char type = '0';
  std::string link_name;  // a GNU long link name when one came before the header
  uint32_t device_major = 0, device_minor = 0;
  const char* prefix = nullptr;  // the ustar prefix field (joined into the path)
  std::vector<uint32_t> children;
};

class TarIndex {
 public:
  static constexpr uint32_t kBlock = 512;

  Result Parse(const uint8_t* image, uint64_t length);
  // Whether the last Parse met a record or header that the image holds only in part.
  bool cut_short() const { return cut_short_; }
  // Backslashes become '/', then the path is normalised as the archive's names are: leading
  // '/' and "./" and trailing '/' are dropped. Null when unknown.
  const TarEntry* Find(const std::string& path) const;
  const TarEntry* Entry(uint32_t number) const;

 private:
  // Fills the header's other fields and files the entry under its path and parent.
  Result AddEntry(const uint8_t* header, TarEntry entry);
  // Files a complete entry: a path met before is taken over (a folder keeps the children of the
  // folder it replaces), missing folders above it are made first.
  Result File(TarEntry entry);
  // The number of the folder at `path`, made (with the folders above it) when missing, with
  // the owner and time of the member below it.
  Result Folder(const std::string& path, const TarEntry& below, uint32_t* number);


  std::vector<TarEntry> entries_;  // entry n at n - 1
  std::map<std::string, uint32_t> by_path_;
  bool cut_short_ = false;
  // Bytes that made folders may still take: the image bounds them, so that a few deep names
  // cannot make the index many times the size of the archive.
  uint64_t folder_budget_ = 0;
};
