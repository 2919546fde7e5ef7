// How the mass-storage channel sees the file source's records: a track or playlist as a
// property set (the fixed metadata keys, "name" and "path", the "flags" list), the record
// update that stores a caller's metadata, and the autosync mark.
#pragma once

#include <cstdint>
#include <string>

#include "media/property_copy.h"
#include "media/record_set.h"

class FileSource;
class PropertyHolder;
class PropertySet;

// Bit of a record's "options": the track is kept in step with the PC's library.
constexpr int32_t kAutosyncOption = 0x400;

// The record keys a file's properties carry, built once.
const PropertyNames& MscMetadataKeys();

// The properties of a track or playlist record. *reportable is false (and the holder left
// alone) for records of any other type.
Result TrackPropertiesOf(RecordSet& record, PropertyHolder* properties, bool* reportable);

// The record of `file`'s "fid" gets `file`'s metadata keys; then "length" comes back from the
// record. No record with that fid: rc::kOk, nothing changes. The update runs outside the
// source lock, so the source writes the tags into the file first, and a failed write leaves
// the record as it was.
Result UpdateTrackRecord(FileSource& source, PropertySet& file);

// Sets or clears the autosync mark of the record with this fid; an unchanged mark writes
// nothing. Inside the source lock: only the record changes, never the file.
Result SetAutosyncMark(FileSource& source, uint32_t fid, bool wanted);
// True when a "flags" list text holds "autosync".
bool FlagsHoldAutosync(const std::string& flags);
