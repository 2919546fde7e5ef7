// The file record buffer of the system log: two rings of 2048 bytes used in turn. A record is
// a 12-byte header (event code, time stamp, text length as big-endian 16 bits at byte 10) and
// the text, padded to a multiple of 4 bytes; the oldest records make room for new ones.
#pragma once

#include <cstdint>
#include <cstddef>

#include "support/result_codes.h"

struct RecordSpans {
  const uint8_t* first;
  size_t first_length;
  const uint8_t* second;
  size_t second_length;
};

struct RecordCounters {
  uint32_t appended;  // records written to the handed-over ring
  uint32_t dropped;   // of those, records dropped to make room
};

class RecordRings {
 public:
  static constexpr size_t kRingSize = 2048;
  static constexpr size_t kHeaderSize = 12;

  // Header layout: bytes 0-3 event code, 4-9 wall time in milliseconds (48 bits), 10-11 the
  // text length; all big-endian.
  Result Append(uint32_t code, int64_t wall_ns, const char* text, size_t length);
  // Hands over the current ring (valid until the next Take) and switches to the other one.
  void Take(RecordSpans* spans, RecordCounters* counters);
  // Percent of the current ring in use; 100 once it has dropped a record.
  uint32_t FillLevel() const;

 private:
  struct Ring {
    uint8_t bytes[kRingSize];
    size_t head = 0;  // oldest record
    size_t used = 0;
    bool wrapped = false;
    RecordCounters counters{0, 0};
  };
  static size_t RecordSize(size_t text_length) { return (kHeaderSize + text_length + 3) & ~size_t{3}; }
  void Write(Ring& ring, size_t offset, const uint8_t* data, size_t length);
  void DropOldest(Ring& ring);

  Ring rings_[2];
  int current_ = 0;
};
