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

Result ReadUpTo(Stream* stream, void* buffer, uint32_t size, uint32_t* got) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  *got = 0;
  while (*got < size) {
    uint32_t count = 0;
    const Result result = stream->Read(bytes + *got, size - *got, &count);
    if (count > size - *got) return rc::kBadData;
    *got += count;
    if (rc::Failed(result)) return result;
    if (result != rc::kOk || count == 0) break;
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
