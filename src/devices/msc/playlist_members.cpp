#include "devices/msc/playlist_members.h"

std::vector<PlaylistMember> RecordMembers(RecordSet& record) {
  uint32_t length = 0;
  const uint8_t* bytes = record.GetBlob("playlist", &length);
  return DecodePlaylistList(bytes, bytes ? length : 0).members;
}

Result SetRecordMembers(RecordSet& record, const std::vector<PlaylistMember>& members) {
  const std::string value = EncodePlaylistMembers(members);
  return record.SetBlob("playlist", value.data(), static_cast<uint32_t>(value.size()));
}
