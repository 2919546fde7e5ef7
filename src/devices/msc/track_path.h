// Where a track or playlist sent to a mass-storage player lands on its drive: a path built
// from the file's properties under the drive's folder templates, made unique by a number.
#pragma once

#include <string>

#include "support/result_codes.h"

class PropertySet;

// The folder templates of tracks (type "tune") and playlists (type "playlist").
extern const char kTrackPathTemplate[];
extern const char kPlaylistPathTemplate[];

// The extension a track of `codec` gets on the drive ("mp3", "ogg"); empty for unknown codecs.
std::string TrackExtensionForCodec(const std::string& codec);

// `path` + `extension` when that is free, else the first free "path_NN" + `extension`
// (NN from 01 to 99). When all of them exist the result is the ERROR_ALREADY_EXISTS code and
// `out` is untouched: an existing file is never handed out.
Result MakeUniqueName(const std::string& path, const std::string& extension, std::string* out);

// The path of a file described by `properties` on drive `drive_letter` before it is made
// unique: `base` is the full ANSI path without the extension, `extension` the extension with
// its dot (empty for an unknown type). Missing folders are created; `first_made` (may be null)
// receives the outermost of them, empty when none was missing.
Result BuildTrackPathParts(PropertySet& properties, char drive_letter, std::string* base,
                           std::string* extension, std::string* first_made = nullptr);

// The full ANSI path on drive `drive_letter` for a file described by `properties` ("type",
// "file_format", "title", "source", "artist", "tracknr", "codec", and "path" for the source
// file's name when the template leaves no name). Missing folders are created.
Result BuildTrackPath(PropertySet& properties, char drive_letter, std::string* out);
