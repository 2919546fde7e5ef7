// Copying one stream into another: in fixed chunks, or in chunks whose size follows the
// measured time per round so that progress reports come at a steady pace.
#pragma once

#include <cstdint>

#include "devices/progress_sink.h"
#include "support/stream.h"

// Copies until the reader reports the end (result 0) or fails (its failure).
Result CopyStream(Stream* reader, Stream* writer, uint32_t chunk_size);

// Writes all of the bytes, with repeated writes.
Result WriteAll(Stream* writer, const uint8_t* data, uint32_t length);

struct AdaptiveCopySettings {
  uint32_t ceiling = 0x200000;        // largest chunk in bytes
  uint32_t chunk = 0x10000;           // current chunk, carried from one copy to the next
  uint32_t lower_bound_ms = 850;
  uint32_t upper_bound_ms = 1150;
  bool flush_after_write = false;
};

class AdaptiveStreamCopy {
 public:
  static constexpr uint32_t kSmallestChunk = 4096;

  // Milliseconds of a steady clock; tests replace it.
  using Clock = uint32_t (*)();

  // The reader's size is read first. Result: 1 when the reader reached its end, else the first
  // failure (of the reader, the writer or the sink).
  static Result Copy(AdaptiveCopySettings* settings, SeekableStream* reader, Stream* writer,
                     ProgressSink* sink, Clock clock = nullptr);
  // The chunk of the next round after a round of `elapsed_ms`.
  static uint32_t NextChunk(const AdaptiveCopySettings& settings, uint32_t chunk,
                            uint32_t elapsed_ms);
};

// Turns a count of finished items into a figure that approaches 10,000,000 but never reaches
// it: each step covers 1/steps of what is left.
class ProgressStepper {
 public:
  static constexpr uint32_t kTotal = 10000000;
  ProgressStepper(ProgressSink* sink, uint32_t steps) : sink_(sink), steps_(steps ? steps : 1) {}
  Result Step();

 private:
  ProgressSink* sink_;
  uint32_t position_ = 0;
  uint32_t steps_;
};
