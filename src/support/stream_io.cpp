#include "support/stream_io.h"

Result ReadExact(Stream* stream, void* buffer, uint32_t length) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    uint32_t count = 0;
    const Result result = stream->Read(bytes + done, length - done, &count);
    if (rc::Failed(result)) return result;
    if (result == rc::kEndOfData || count == 0) return rc::kShortTransfer;
    done += count;
  }
  return rc::kOk;
}

Result WriteExact(Stream* stream, const void* buffer, uint32_t length) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    uint32_t count = 0;
    const Result result = stream->Write(bytes + done, length - done, &count);
    if (rc::Failed(result)) return result;
    if (count == 0) return rc::kShortTransfer;
    done += count;
  }
  return rc::kOk;
}
