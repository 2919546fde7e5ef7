#include "media/content_fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "support/md5.h"
#include "support/stream.h"

namespace {

constexpr uint32_t kRegion = 0x10000;

// MD5 of the `length` (at most kRegion) bytes at `position`. A short read hashes the bytes
// that came, as stored fingerprints were made that way; reading goes on until the length is
// reached or the data ends, so a stream that moves less per call still gives the file's value.
Result HashRegion(SeekableStream* stream, uint32_t position, uint32_t length, uint8_t* buffer,
                  uint8_t digest[kMd5DigestSize]) {
  const Result placed = stream->Seek(position);
  if (rc::Failed(placed)) return placed;
  uint32_t done = 0;
  while (done < length) {
    uint32_t count = 0;
    const Result read = stream->Read(buffer + done, length - done, &count);
    if (rc::Failed(read)) return read;
    done += std::min(count, length - done);
    if (read == rc::kEndOfData || count == 0) break;
  }
  Md5Digest(digest, buffer, static_cast<int32_t>(done));
  return rc::kOk;
}

}  // namespace

Result ContentFingerprint(SeekableStream* stream, uint32_t start, uint32_t end,
                          std::string* fingerprint) {
  uint32_t size = 0;
  const Result sized = stream->GetSize(&size);
  if (rc::Failed(sized)) return sized;
  // Ranges come from tag sizes in the file; they must not reach outside it.
  end = std::min(end, size);
  start = std::min(start, end);
  const uint32_t length = end - start;

  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kRegion]);
  if (!buffer) return rc::kOutOfMemory;
  uint8_t digest[kMd5DigestSize] = {};
  if (length <= kRegion) {
    const Result hashed = HashRegion(stream, start, length, buffer.get(), digest);
    if (rc::Failed(hashed)) return hashed;
  } else {
    // 64 bits: the same value as 32-bit arithmetic wherever that does not wrap.
    const uint32_t middle = static_cast<uint32_t>((uint64_t{start} + end - kRegion) / 2);
    for (const uint32_t position : {start, end - kRegion, middle}) {
      uint8_t part[kMd5DigestSize];
      const Result hashed = HashRegion(stream, position, kRegion, buffer.get(), part);
      if (rc::Failed(hashed)) return hashed;
      for (uint32_t i = 0; i < kMd5DigestSize; ++i) digest[i] ^= part[i];
    }
  }
  char text[2 * kMd5DigestSize + 1];
  for (uint32_t i = 0; i < kMd5DigestSize; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  *fingerprint = text;
  return rc::kOk;
}

std::string TitleFromFileName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string title = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = title.rfind('.');
  if (dot != std::string::npos) title.erase(dot);
  std::replace(title.begin(), title.end(), '_', ' ');
  return title;
}
