// Frames as the ID3 writer puts them into its version 2.3 tag: its own text frames, and the
// frames of an old 2.2 or 2.4 tag converted to their 2.3 form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/id3_frames.h"

// One frame as written into a 2.3 tag: id, big-endian size, the two flag bytes, body.
std::string Id3v23Frame(const char* id, const std::string& body, uint8_t status_flags = 0,
                        uint8_t format_flags = 0);
// The body of a text frame for a UTF-8 value: Latin-1 when it fits, else UTF-16 with a
// byte-order mark; empty for an empty value.
std::string Id3TextBody(const std::string& value);

struct Id3v23Part {
  std::string id;  // 4 characters
  std::string body;
  uint8_t status_flags;
};

// The 2.3 frames that stand for a frame of a 2.2 or 2.4 tag (`body` as ReadId3FrameBody gives
// it): flags as 2.3 has them, texts re-encoded as Latin-1 or UTF-16 with a byte-order mark
// (a 2.2 text ends at its terminator), 2.2 ids and picture formats as 2.3 names them, a
// recording time as year, date and time frames, other times that 2.3 lacks as user texts
// named by their 2.4 id, genre references as references. None for a frame
// that asks to be dropped when the tag changes, or that 2.3 cannot hold (seek points,
// signatures, the 2.4 equaliser and volume frames, 2.2 frames of unknown layout, texts in an
// unknown encoding).
std::vector<Id3v23Part> ConvertToId3v23(const Id3Frame& frame, const std::string& body);

// A compressed or encrypted 2.4 frame as the same sealed data in a 2.3 frame: the group,
// method and data-length bytes in front of the data in 2.3's order and form. False (nothing
// appended) when it cannot be: compressed without its data length, a body too short, or a
// frame that 2.3 cannot hold even unsealed.
bool AppendSealedAsId3v23(const Id3Frame& frame, const std::string& body, std::string* out);
