#include "support/ref_buffer_stream.h"

#include "support/stream_io.h"

Result RefBufferStream::ReadBuffer(RefBufferPtr* holder, uint32_t size) {
  holder->Reset();
  holder->Reset(pool_->Alloc(size, nullptr));
  if (!*holder) return rc::kOutOfMemory;
  uint32_t count = 0;
  const Result result = Read((*holder)->Data(), size, &count);
  if (rc::Failed(result)) {
    holder->Reset();
    return result;
  }
  return holder->Truncate(count);
}

Result RefBufferStream::WriteBuffer(RefBufferPtr* holder) {
  if (!*holder) return rc::kInvalidArg;
  const Result result = WriteExact(this, (*holder)->Data(), (*holder)->Size());
  holder->Reset();
  return result;
}
