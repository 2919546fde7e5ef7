// Base of streams that move whole RefBuffers (the network channel's socket stream).
#pragma once

#include <cstdint>

#include "support/buffer_pool.h"
#include "support/stream.h"

class RefBufferStream : public Stream {
 public:
  // The pool must outlive the stream.
  explicit RefBufferStream(BufferAllocator* pool) : pool_(pool) {}

  // Replaces what *holder held with a new buffer of `size` bytes filled by one Read; a short
  // read cuts the buffer to the bytes read. kOutOfMemory when the pool gives no buffer; a
  // failed Read is returned and leaves the holder empty.
  virtual Result ReadBuffer(RefBufferPtr* holder, uint32_t size);
  // Writes the whole buffer, then releases it and clears the holder (also when the write
  // fails). An empty holder is kInvalidArg.
  virtual Result WriteBuffer(RefBufferPtr* holder);

 protected:
  BufferAllocator* pool() const { return pool_; }

 private:
  BufferAllocator* pool_;
};
