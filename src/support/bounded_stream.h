// A window [start, start + limit) of another seekable stream, seen as a stream of its own:
// positions are relative to start and the size is the limit.
#pragma once

#include <cstdint>

#include "support/stream.h"

class BoundedStream : public SeekableStream {
 public:
  // The base stream is not owned and must outlive the view. A window that would reach past
  // 4 GiB in the base is cut there.
  BoundedStream(SeekableStream* base, uint32_t start, uint32_t limit);

  // Both place the base at the view's position first (the base may have moved in between) and
  // move at most the bytes left before the limit. At the limit, Read answers 1 and Write 0,
  // each with a count of 0.
  Result Read(void* buffer, uint32_t length, uint32_t* count) override;
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override;

  Result GetPosition(uint32_t* position) override;
  // Both clamp the position to 0..limit; it is kept only when the base could follow.
  Result Seek(uint32_t position) override;
  Result Skip(int32_t delta) override;
  Result GetSize(uint32_t* size) override;
  Result SetSize(uint32_t size) override;  // rc::kNotImplemented: the window is fixed

 private:
  // Places the base at the view's position; *room receives the bytes left before the limit.
  Result PlaceBase(uint32_t* room);

  SeekableStream* base_;
  uint32_t start_;
  uint32_t limit_;
  uint32_t position_ = 0;
};
