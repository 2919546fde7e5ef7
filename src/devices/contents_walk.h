// Channel::EnumContents of the channels that keep no playlists: every storage, then the files
// of each storage, through the channel's own EnumStorages and EnumFiles.
#pragma once

#include "support/result_codes.h"

class Channel;
class ContentsVisitor;

// Every storage goes to visitor->Storage until it answers false; all are counted in *count.
Result PassStorages(Channel& channel, ContentsVisitor* visitor, uint32_t* count);

// The storages go to visitor->Storage until it answers false (they are still counted), then
// the files of storage 0, 1, ... to visitor->File. The first negative result ends the walk;
// otherwise the result of the last listing is returned.
Result WalkStoragesThenFiles(Channel& channel, ContentsVisitor* visitor);
