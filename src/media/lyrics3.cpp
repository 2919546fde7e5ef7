#include "media/lyrics3.h"

#include <cstring>

#include "support/stream.h"
#include "support/stream_io.h"

namespace {

constexpr uint32_t kFooterSize = 15;  // six digits of size, then "LYRICS200"
constexpr uint32_t kBeginSize = 11;   // "LYRICSBEGIN"

bool ReadAt(SeekableStream* stream, uint32_t position, void* buffer, uint32_t length) {
  return stream->Seek(position) == rc::kOk && ReadExact(stream, buffer, length) == rc::kOk;
}

}  // namespace

uint32_t ProbeLyrics3(SeekableStream* stream, uint32_t stream_size, uint32_t trailer) {
  if (trailer > stream_size || stream_size - trailer < kFooterSize) return trailer;
  const uint32_t end = stream_size - trailer;
  char footer[kFooterSize];
  if (!ReadAt(stream, end - kFooterSize, footer, kFooterSize) ||
      std::memcmp(footer + 6, "LYRICS", 6) != 0)
    return trailer;
  uint32_t length = 0;
  for (int i = 0; i < 6 && footer[i] >= '0' && footer[i] <= '9'; ++i)
    length = length * 10 + static_cast<uint32_t>(footer[i] - '0');
  if (static_cast<uint64_t>(trailer) + length + kFooterSize >= stream_size) return trailer;
  char begin[kBeginSize];
  if (!ReadAt(stream, end - length - kFooterSize, begin, kBeginSize) ||
      std::memcmp(begin, "LYRICSBEGIN", kBeginSize) != 0)
    return trailer;
  return trailer + length;
}
