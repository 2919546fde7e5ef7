#include "devices/msc/playlist_members.h"

#include <cstdint>


namespace {

constexpr uint32_t kMemberListHeader = 0x000002FF;

void AppendWord(uint32_t word, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(word >> shift));
}

uint32_t WordAt(const std::string& value, size_t offset) {
  uint32_t word = 0;
  for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<uint8_t>(value[offset + i]);
  return word;
}

}  // namespace

std::string EncodePlaylistMembers(const std::vector<PlaylistMember>& members) {
  std::string value;
  if (members.empty()) return value;
  AppendWord(kMemberListHeader, &value);
  for (const PlaylistMember& member : members) {
    AppendWord(member.fid, &value);
    AppendWord(member.generation, &value);
  }
  return value;
}

std::vector<PlaylistMember> DecodePlaylistMembers(const std::string& value) {
  std::vector<PlaylistMember> members;
  if (value.empty() || value.size() % 4 != 0) return members;
  if ((static_cast<uint8_t>(value[0]) & 0x0F) == 0) {
    for (size_t offset = 0; offset < value.size(); offset += 4) {
      members.push_back({WordAt(value, offset), 0});
    }
    return members;
  }
  for (size_t offset = 4; offset + 8 <= value.size(); offset += 8) {
    members.push_back({WordAt(value, offset), WordAt(value, offset + 4)});
  }
  return members;
}

std::vector<PlaylistMember> RecordMembers(RecordSet& record) {
  uint32_t length = 0;
  const uint8_t* bytes = record.GetBlob("playlist", &length);
  return DecodePlaylistMembers(
      std::string(reinterpret_cast<const char*>(bytes), bytes ? length : 0));
}

Result SetRecordMembers(RecordSet& record, const std::vector<PlaylistMember>& members) {
  const std::string value = EncodePlaylistMembers(members);
  return record.SetBlob("playlist", value.data(), static_cast<uint32_t>(value.size()));
}
