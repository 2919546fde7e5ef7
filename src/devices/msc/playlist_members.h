// The member list of a playlist record as the player database stores it: each member is its
// fid and the member record's "fid_generation" at the time it was added, so that a fid used
// again for another file can be told apart. Stored as the word 0x000002FF followed by the
// pairs, all little-endian 32-bit words; an empty list is an empty value. An older form holds
// the fids alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/record_set.h"

struct PlaylistMember {
  uint32_t fid = 0;
  uint32_t generation = 0;
  bool operator==(const PlaylistMember& other) const {
    return fid == other.fid && generation == other.generation;
  }
};

std::string EncodePlaylistMembers(const std::vector<PlaylistMember>& members);
// A value whose length is not a multiple of 4 gives no members; one that starts with a fid
// (low four bits of its first byte clear) is the older form, read with generations 0.
std::vector<PlaylistMember> DecodePlaylistMembers(const std::string& value);

// The member list in the "playlist" column of the record the set stands on.
std::vector<PlaylistMember> RecordMembers(RecordSet& record);
Result SetRecordMembers(RecordSet& record, const std::vector<PlaylistMember>& members);
