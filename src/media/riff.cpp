#include "media/riff.h"

#include "support/byte_order.h"
#include "support/stream.h"
#include "support/stream_io.h"

Result ReadLe16(Stream* stream, uint16_t* value) {
  uint8_t raw[2];
  const Result r = ReadExact(stream, raw, sizeof(raw));
  if (rc::Succeeded(r)) *value = bytes::Le16(raw);
  return r;
}

Result ReadLe32(Stream* stream, uint32_t* value) {
  uint8_t raw[4];
  const Result r = ReadExact(stream, raw, sizeof(raw));
  if (rc::Succeeded(r)) *value = bytes::Le32(raw);
  return r;
}

Result SkipForward(SeekableStream* stream, uint64_t bytes) {
  uint32_t position = 0;
  const Result r = stream->GetPosition(&position);
  if (rc::Failed(r)) return r;
  if (position + bytes > UINT32_MAX) return rc::kShortTransfer;
  return stream->Seek(static_cast<uint32_t>(position + bytes));
}
