// ID3v2 tags: the frame table shared by the tag reader and writer, the tag header at the
// front of a file, and the walk over the tag's frames.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class SeekableStream;

namespace rc {
constexpr Result kId3v2Short = static_cast<Result>(0x80048004);    // fewer than 10 bytes
constexpr Result kId3v2Missing = static_cast<Result>(0x80048006);  // no "ID3" at the start
constexpr Result kId3v2Version = static_cast<Result>(0x80048007);  // major version above 4
}  // namespace rc

enum class Id3Handler : uint8_t { kSkip, kText, kComment, kPicture };

struct Id3FrameInfo {
  const char* id;    // ID3v2.3/2.4 id, 4 characters; empty in the end row
  const char* id22;  // ID3v2.2 id, 3 characters; empty when 2.2 lacks the frame
  const char* name;  // as the ID3v2 standards word it
  Id3Handler handler;
};

// 92 rows, then an end row with an empty id.
extern const Id3FrameInfo kId3FrameTable[];
constexpr int kId3FrameTableRows = 92;

// The row of a 4-character id, or null.
const Id3FrameInfo* FindId3Frame(const char* id);
// The row whose 2.2 id is the 3-character `id22`, or null.
const Id3FrameInfo* FindId3Frame22(const char* id22);

constexpr uint32_t kId3v2HeaderSize = 10;

struct Id3v2Header {
  uint8_t major = 0;
  uint8_t revision = 0;
  uint8_t flags = 0;
  // The size field as stored: 7 bits per byte, bit 7 of each byte not masked.
  uint32_t size = 0;

  // Where the audio behind the tag begins in a file large enough to hold it.
  uint32_t AudioStart() const { return size + kId3v2HeaderSize; }
};

// Reads the header at position 0. rc::kId3v2Short when 10 bytes cannot be read,
// rc::kId3v2Missing without "ID3", rc::kId3v2Version for a major version above 4 (the header
// is filled all the same).
Result ReadId3v2Header(SeekableStream* stream, Id3v2Header* header);

struct Id3Frame {
  char id[5];                // 4-character id (2.2 ids mapped through the table), with a NUL
  char id22[4];              // a 2.2 frame's own 3-character id with a NUL; empty later
  const Id3FrameInfo* info;  // the table row, null for an id the table lacks
  uint8_t major;             // the tag's major version
  uint32_t position;         // start of the body in the walked stream
  uint32_t size;             // length of the body; it lies inside the tag
  bool unsynchronised;       // the body still carries unsynchronisation to undo
  // True: position is a position in the file. False: the body lies in a decoded copy of the
  // tag that lives only during OnFrame.
  bool in_file;
  uint8_t status_flags;  // the frame header's two flag bytes as found (0 in 2.2)
  uint8_t format_flags;
};

class Id3FrameVisitor {
 public:
  virtual ~Id3FrameVisitor() = default;
  // `stream` holds the body at frame.position; the visitor may move it.
  virtual void OnFrame(SeekableStream* stream, const Id3Frame& frame) = 0;
  // A compressed or encrypted frame: the body is the frame's data as stored, with the bytes
  // its format flags put in front (in 2.4, unsynchronisation is still to be undone as
  // flagged). Readers pass these over.
  virtual void OnSealedFrame(SeekableStream* /*stream*/, const Id3Frame& /*frame*/) {}
};

// The body of a frame that OnFrame was given, with unsynchronisation undone where flagged.
Result ReadId3FrameBody(SeekableStream* stream, const Id3Frame& frame, std::string* body);

// Calls the visitor for every frame of a tag whose header was read (major version 4 or
// below). The walk stays inside the tag and the tag inside `file_size`; it ends quietly at
// padding, at a frame that would reach past the tag, at a malformed size, and at a failed
// read, and steps over empty frames. A 2.4 size stored as a plain number is taken as one where
// only that reading ends on a frame boundary. Compressed and encrypted frames go to
// OnSealedFrame.
void WalkId3v2Frames(SeekableStream* stream, const Id3v2Header& header, uint32_t file_size,
                     Id3FrameVisitor* visitor);
