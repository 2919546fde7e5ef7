#include "devices/playlist_members.h"

#include "support/byte_order.h"

namespace {

void AppendWord(uint32_t word, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(word >> shift));
}

}  // namespace

std::string EncodePairedList(const std::vector<PlaylistMember>& members) {
  std::string value;
  value.reserve(4 + 8 * members.size());
  AppendWord(kPlaylistMembersHeader, &value);
  for (const PlaylistMember& member : members) {
    AppendWord(member.fid, &value);
    AppendWord(member.generation, &value);
  }
  return value;
}

std::string EncodePlaylistMembers(const std::vector<PlaylistMember>& members) {
  return members.empty() ? std::string() : EncodePairedList(members);
}

DecodedPlaylistList DecodePlaylistList(const uint8_t* value, size_t length) {
  DecodedPlaylistList list;
  if (value == nullptr || length == 0 || length % 4 != 0) return list;
  if ((value[0] & 0x0F) == 0) {
    list.form = PlaylistListForm::kPlain;
    for (size_t offset = 0; offset < length; offset += 4) {
      list.members.push_back({bytes::Le32(value + offset), 0});
    }
    return list;
  }
  list.form = PlaylistListForm::kPaired;
  for (size_t offset = 4; offset + 8 <= length; offset += 8) {
    list.members.push_back({bytes::Le32(value + offset), bytes::Le32(value + offset + 4)});
  }
  return list;
}

std::vector<PlaylistMember> DecodePlaylistMembers(const std::string& value) {
  return DecodePlaylistList(reinterpret_cast<const uint8_t*>(value.data()), value.size()).members;
}
