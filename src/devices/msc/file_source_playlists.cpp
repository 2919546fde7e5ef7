// Playlist records made and changed by the channel.
#include <ctime>
#include <set>

#include "devices/msc/file_source.h"
#include "support/format_string.h"
#include "support/text_convert.h"

namespace {

// At most `limit` bytes of a UTF-8 text, cut between characters.
std::string CutTitle(const std::string& title, size_t limit) {
  if (title.size() <= limit) return title;
  return title.substr(0, Utf8BoundedLength(title.c_str(), limit));
}

}  // namespace

Result FileSource::UniquePlaylistTitle(const std::string& title, std::string* unique) {
  RefPtr<RecordQuery> query;
  Result status = db_.CreateQuery(&query);
  if (rc::Succeeded(status) && !query) status = rc::kOutOfMemory;
  if (rc::Succeeded(status)) status = query->AddTextCondition("type", kOpEqual, "playlist");
  RefPtr<RecordSet> playlists;
  if (rc::Succeeded(status)) status = query->Execute(&playlists);
  if (rc::Failed(status)) return status;
  std::set<std::string> taken;
  for (; playlists && !playlists->IsEOF(); playlists->MoveNext()) {
    taken.insert(playlists->GetString("title"));
  }
  *unique = title_limit_ == 0 ? title : CutTitle(title, title_limit_);
  for (uint32_t number = 2; taken.count(*unique) != 0; ++number) {
    const std::string suffix = FormatString(" %u", number);
    size_t room = title.size();
    if (title_limit_ != 0) room = title_limit_ > suffix.size() ? title_limit_ - suffix.size() : 0;
    *unique = CutTitle(title, room) + suffix;
  }
  return rc::kOk;
}

std::vector<PlaylistMember> FileSource::MembersOf(const std::vector<uint32_t>& fids) {
  std::vector<PlaylistMember> members;
  for (uint32_t fid : fids) {
    RefPtr<RecordSet> track;
    if (rc::Failed(RecordDb().FindRow(&track, fid))) continue;
    // Only tracks are members: a folder or the root would put a folder into the file.
    if (track->GetString("type") != "tune") continue;
    PlaylistMember member;
    member.fid = fid;
    member.generation = static_cast<uint32_t>(track->GetInt("fid_generation"));
    members.push_back(member);
    if (member_limit_ != 0 && members.size() == member_limit_) break;
  }
  return members;
}

namespace {

Result StoreMembers(RecordSet* playlist, const std::vector<PlaylistMember>& members) {
  const std::string value = EncodePlaylistMembers(members);
  return playlist->SetBlob("playlist", value.data(), static_cast<uint32_t>(value.size()));
}

}  // namespace

Result FileSource::CreatePlaylist(const std::string& title, const std::string& path,
                                  const std::vector<uint32_t>& member_fids, uint32_t* fid) {
  Result status = NewFid(fid);
  if (rc::Failed(status)) return status;
  std::string unique;
  status = UniquePlaylistTitle(title, &unique);
  RefPtr<RecordSet> record;
  if (rc::Succeeded(status)) status = db_.OpenRecordSet(&record);
  if (rc::Succeeded(status) && !record) status = rc::kOutOfMemory;
  if (rc::Succeeded(status)) status = record->AddNew();
  if (rc::Failed(status)) return status;
  const int32_t now = static_cast<int32_t>(std::time(nullptr));
  record->SetInt("fid", static_cast<int32_t>(*fid));
  record->SetString("type", "playlist");
  record->SetInt("ctime", now);
  record->SetInt("fid_generation", now);
  record->SetString("state", "changed");
  record->SetString("title", unique);
  if (!path.empty()) record->SetString("path", Latin1ToUtf8(path));
  status = StoreMembers(record.Get(), MembersOf(member_fids));
  return rc::Succeeded(status) ? record->Update() : status;
}

Result FileSource::SetPlaylistMembers(uint32_t playlist_fid,
                                      const std::vector<uint32_t>& member_fids) {
  RefPtr<RecordSet> playlist;
  Result status = RecordDb().FindRow(&playlist, playlist_fid);
  if (rc::Failed(status)) return status;
  // Only a playlist has members: a track's record must not be rewritten as one.
  if (playlist->GetString("type") == "tune") return rc::kNotFound;
  status = StoreMembers(playlist.Get(), MembersOf(member_fids));
  return rc::Succeeded(status) ? playlist->Update() : status;
}
