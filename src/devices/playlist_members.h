// The member list of a playlist record as the player databases store it, little-endian 32-bit
// words in one of two forms told apart by the low four bits of the first byte:
// - paired (bits not 0): the header word 0x000002FF, then per member its fid and the member
//   record's "fid_generation" at the time it was added, so that a fid used again for another
//   file can be told apart; this is the form written;
// - plain (bits 0): the fids alone, an older form.
// An empty list is an empty value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PlaylistMember {
  uint32_t fid = 0;
  uint32_t generation = 0;
  bool operator==(const PlaylistMember& other) const {
    return fid == other.fid && generation == other.generation;
  }
};

constexpr uint32_t kPlaylistMembersHeader = 0x000002FF;

enum class PlaylistListForm { kEmpty, kPlain, kPaired };

struct DecodedPlaylistList {
  PlaylistListForm form = PlaylistListForm::kEmpty;
  std::vector<PlaylistMember> members;  // generations 0 in the plain form
};

// The paired form, the header word also when there are no members.
std::string EncodePairedList(const std::vector<PlaylistMember>& members);
// The paired form, or the empty value when there are no members.
std::string EncodePlaylistMembers(const std::vector<PlaylistMember>& members);
// A value that is empty or whose length is not a multiple of 4 has no members (kEmpty).
DecodedPlaylistList DecodePlaylistList(const uint8_t* value, size_t length);
// The members alone; the plain form is read with generations 0.
std::vector<PlaylistMember> DecodePlaylistMembers(const std::string& value);
