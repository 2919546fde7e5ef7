// Listing a player's music database: every row becomes one file's properties, handed to a
// caller's list (EnumFiles) or to a contents visitor (EnumContents), which then receives the
// playlists' members as its own handles. Rows of type "playlist" carry their members in the
// binary column "playlist" (see devices/playlist_members.h); fid 0x100 is the root playlist,
// whose members are the other playlists. Shared by the hard-disk and network channels.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "support/ref_counted.h"

class ContentsVisitor;
class HolderVisitor;
class RecordDatabase;
class RecordSet;

class TarnuRowCollector {
 public:
  // The root playlist's fid; its members are the other playlists.
  static constexpr uint32_t kRootPlaylist = 0x100;

  // One of the two is null.
  TarnuRowCollector(HolderVisitor* list, ContentsVisitor* visitor)
      : list_(list), visitor_(visitor) {}

  // Nested playlists: a playlist may list other playlists and the root lists only what its row
  // names. Off (the hard-disk players): playlists list files, the root lists every playlist.
  void set_nested_playlists(bool nested) { nested_playlists_ = nested; }

  // One row (the record set's current row): its columns but "playlist" and "flags", with the
  // text "flags" made from "options". rc::kEnumerationStopped when the list or visitor answers
  // false.
  Result AddRow(RecordSet* row);
  // Every playlist's members, in ascending fid order, to the visitor; a root playlist (fid
  // 256) is made up when the database has none. Members not reported to the visitor, or whose
  // generation no longer matches, are left out.
  Result WalkPlaylists();

 private:
  std::vector<uint32_t> Members(uint32_t playlist_fid, const std::string& list) const;
  bool IsPlaylist(uint32_t fid) const { return lists_.count(fid) != 0; }
  std::vector<uint32_t> Handles(const std::vector<uint32_t>& fids) const;

  HolderVisitor* list_;
  ContentsVisitor* visitor_;
  bool nested_playlists_ = false;
  std::map<uint32_t, uint32_t> handles_;      // fid -> the visitor's handle
  std::map<uint32_t, uint32_t> generations_;  // fid -> "fid_generation"
  std::map<uint32_t, std::string> lists_;     // playlist fid -> its member list bytes
};

// Runs every row of the table through the collector, in row order; the first failure ends the
// walk and is the result.
Result ForEachRow(TarnuRowCollector* collector, RecordDatabase* table);
