#include "devices/tarnu_row_collector.h"

#include <algorithm>
#include <new>

#include "db/record_database.h"
#include "devices/playlist_members.h"
#include "devices/row_flags.h"
#include "devices/visitors.h"
#include "media/property_copy.h"
#include "media/property_holder.h"

namespace {

const char kPlaylistType[] = "playlist";
// Paired entries below this fid are never members (0x100 is the root, 0x110 is reserved).
constexpr uint32_t kFirstMemberFid = 0x120;

}  // namespace

Result TarnuRowCollector::AddRow(RecordSet* row) {
  PropertyHolder holder;
  RefPtr<PropertySet> set = holder.GetSet();
  if (!set) return rc::kOutOfMemory;
  const Result copied = CopyPropertiesExcept(set, RefPtr<RecordSet>(row), {"playlist", "flags"});
  if (rc::Failed(copied)) return copied;
  const Result flagged =
      set->SetString("flags", FlagsFromOptions(static_cast<uint32_t>(row->GetInt("options"))));
  if (rc::Failed(flagged)) return flagged;

  if (list_ != nullptr && !list_->Visit(holder)) return rc::kEnumerationStopped;
  if (visitor_ == nullptr) return rc::kOk;

  const uint32_t fid = static_cast<uint32_t>(row->GetInt("fid"));
  try {
    generations_[fid] = static_cast<uint32_t>(row->GetInt("fid_generation"));
    if (row->GetString("type") == kPlaylistType) {
      uint32_t length = 0;
      const uint8_t* bytes = row->GetBlob("playlist", &length);
      lists_[fid] = bytes != nullptr ? std::string(reinterpret_cast<const char*>(bytes), length)
                                     : std::string();
    }
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  uint32_t handle = 0;
  const bool go_on = fid == kRootPlaylist ? visitor_->RootPlaylist(0, holder, &handle)
                                                      : visitor_->File(0, holder, &handle);
  try {
    handles_[fid] = handle;
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  return go_on ? rc::kOk : rc::kEnumerationStopped;
}

std::vector<uint32_t> TarnuRowCollector::Members(uint32_t playlist_fid,
                                                 const std::string& list) const {
  const DecodedPlaylistList decoded =
      DecodePlaylistList(reinterpret_cast<const uint8_t*>(list.data()), list.size());
  std::vector<uint32_t> members;
  for (const PlaylistMember& member : decoded.members) {
    // A playlist never contains itself: a visitor walking members would not come back.
    if (member.fid == playlist_fid || handles_.count(member.fid) == 0) continue;
    if (decoded.form == PlaylistListForm::kPaired) {
      if ((member.fid & 0x0F) != 0 || member.fid < kFirstMemberFid) continue;
      const auto generation = generations_.find(member.fid);
      if (generation == generations_.end() || generation->second != member.generation) continue;
    }
    members.push_back(member.fid);
  }
  return members;
}

std::vector<uint32_t> TarnuRowCollector::Handles(const std::vector<uint32_t>& fids) const {
  std::vector<uint32_t> handles;
  handles.reserve(fids.size());
  for (uint32_t fid : fids) {
    const auto handle = handles_.find(fid);
    if (handle != handles_.end()) handles.push_back(handle->second);
  }
  return handles;
}

Result TarnuRowCollector::WalkPlaylists() {
  if (visitor_ == nullptr) return rc::kOk;
  try {
    bool root_seen = false;
    for (const auto& playlist : lists_) {
      const uint32_t fid = playlist.first;
      std::vector<uint32_t> members = Members(fid, playlist.second);
      if (!nested_playlists_) {
        if (fid != kRootPlaylist) {
          members.erase(std::remove_if(members.begin(), members.end(),
                                       [this](uint32_t m) { return IsPlaylist(m); }),
                        members.end());
        } else {
          root_seen = true;
          members.erase(std::remove_if(members.begin(), members.end(),
                                       [this](uint32_t m) { return !IsPlaylist(m); }),
                        members.end());
          for (const auto& other : lists_) {
            if (other.first == kRootPlaylist) continue;
            if (std::find(members.begin(), members.end(), other.first) == members.end()) {
              members.push_back(other.first);
            }
          }
        }
      }
      const auto own = handles_.find(fid);
      visitor_->PlaylistMembers(own != handles_.end() ? own->second : 0, Handles(members));
    }
    if (root_seen || nested_playlists_) return rc::kOk;

    std::vector<uint32_t> playlists;
    for (const auto& playlist : lists_) playlists.push_back(playlist.first);
    PropertyHolder root;
    if (!root.GetSet()) return rc::kOutOfMemory;
    root.SetString("type", kPlaylistType);
    root.SetInt("fid", static_cast<int32_t>(kRootPlaylist));
    uint32_t handle = 0;
    visitor_->RootPlaylist(0, root, &handle);
    visitor_->PlaylistMembers(handle, Handles(playlists));
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  }
  return rc::kOk;
}

Result ForEachRow(TarnuRowCollector* collector, RecordDatabase* table) {
  RefPtr<RecordQuery> query;
  Result status = table->CreateQuery(&query);
  if (rc::Failed(status)) return status;
  if (!query) return rc::kOutOfMemory;
  RefPtr<RecordSet> rows;
  status = query->Execute(&rows);
  if (rc::Failed(status)) return status;
  while (rows && !rows->IsEOF()) {
    status = collector->AddRow(rows.Get());
    if (rc::Failed(status)) return status;
    status = rows->MoveNext();
    if (rc::Failed(status)) return status;
  }
  return rc::kOk;
}
