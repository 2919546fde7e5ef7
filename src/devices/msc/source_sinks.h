// What the scan of a file source hands to the readers: a TagSink that fills a property set,
// and the sink of a playlist file's entries, which walks each entry that lies inside the
// source's roots.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "media/playlist.h"
#include "media/property_set.h"
#include "media/tag_reader.h"

class PropertySetTagSink : public TagSink {
 public:
  explicit PropertySetTagSink(PropertySet* properties) : properties_(properties) {}
  void SetInt(const char* key, uint32_t value) override;
  // Every value is stored as text.
  void SetString(const char* key, const char* value) override;

 private:
  RefPtr<PropertySet> properties_;
};

// Entries are walked through `walk` (a file becomes a member, a folder adds its files). Left
// out: entries that cannot be resolved or read, that are one of `open_folders` (the folders
// and the playlist being walked) or one of the roots, and entries outside every root (a
// playlist may name files on the PC, which the source must never index or touch).
class PlaylistImportSink : public PlaylistEntrySink {
 public:
  typedef std::function<Result(const std::string& path)> Walk;

  PlaylistImportSink(const std::vector<std::string>& roots,
                     const std::vector<std::string>& open_folders, Walk walk);
  Result SetTitle(const std::string& title) override;
  Result AddEntry(const std::string& path) override;

  const std::string& Title() const { return title_; }

 private:
  std::vector<std::string> roots_;
  std::vector<std::string> open_folders_;
  Walk walk_;
  std::string title_;
};
