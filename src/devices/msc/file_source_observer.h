// Writes changes of a file source's records back into the drive's files before the database
// stores them: a track's tags, a playlist's file, a track's picture; and tells the source's
// change listeners. A failed write vetoes the change.
#pragma once

#include <cstdint>

#include "db/simple_db.h"
#include "support/registered_lock.h"

class FileSource;

class FileSourceObserver : public RecordObserver {
 public:
  explicit FileSourceObserver(FileSource* source);

  Result OnUpdate(RecordSet* record) override;
  Result OnDelete(RecordSet* record) override;

  // Each works on the record the set stands on and may change its "length", "path",
  // "image_path" or "options" (the caller's Update then stores them).
  Result WriteTrackTags(RecordSet* record);
  Result PlacePicture(RecordSet* record);
  Result WritePlaylist(RecordSet* record);

 private:
  FileSource* source_;
  uint8_t picture_placement_;
  RegisteredLock lock_{"Anonymous"};  // one tag write at a time
};
