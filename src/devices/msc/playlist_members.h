// The member list in a record's "playlist" column; the codec itself is shared by every channel
// that keeps playlists in a database.
#pragma once

#include <vector>

#include "devices/playlist_members.h"
#include "media/record_set.h"

// The member list in the "playlist" column of the record the set stands on.
std::vector<PlaylistMember> RecordMembers(RecordSet& record);
Result SetRecordMembers(RecordSet& record, const std::vector<PlaylistMember>& members);
