// Moves files between the property sets of the device library and the records of a packed
// track database: "tune" files become tracks, every other file an item of the "playlist" list
// (type "playlist") or of the "vund" list.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class HolderVisitor;
class PackedTrackDatabase;
class PropertyHolder;

class FidTagMapper {
 public:
  // Adds the file under its "fid", then serialises and attaches the image.
  // rc::FromWin32(ERROR_ALREADY_EXISTS) when the fid is in the database already.
  static Result StoreNewTrack(PackedTrackDatabase* database, PropertyHolder& file);
  // Replaces the record of the file's "fid", then serialises and attaches the image.
  // rc::kNotFound when no record of that kind has the fid.
  static Result StoreTrack(PackedTrackDatabase* database, PropertyHolder& file);
  // Removes the record of `fid`, then serialises and attaches. rc::kNotFound when absent; the
  // database is unchanged after any failure.
  static Result RemoveRecord(PackedTrackDatabase* database, uint32_t fid);
  // Hands every record to the visitor in a holder of its own: the tracks by title (then artist,
  // source and track number), then the "playlist" items and the "vund" items by name. A visitor
  // answering false ends the walk with 0. A track whose type code has no names is handed out
  // without "type", "codec" and "drm". rc::kFail when the image is damaged.
  static Result WalkRecords(const PackedTrackDatabase& database, HolderVisitor* visitor);

  // The file type code of a track record (0 to 9; 10 for anything else): "tune" with "mp3" 0,
  // "wma" 1 (2 with a "drm"), "aac" 3, "aclp" 4; "i2c" 5, "binary" 6, "playlist" 7, "vund" 8,
  // "preferences" 9.
  static uint32_t TypeCodeOf(const std::string& type, const std::string& codec,
                             const std::string& drm);
  // The names of a code; rc::kFail for 5, 10 and above, which have no property form.
  static Result TypeNamesOf(uint32_t code, std::string* type, std::string* codec,
                            std::string* drm);

  // Failures besides those named: rc::kInvalidArg for a fid with bits 0 to 3 set or of 2^24 or
  // more, rc::kOutOfMemory, rc::kFail when the image cannot be written.
};
