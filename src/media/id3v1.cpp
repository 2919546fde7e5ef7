#include "media/id3v1.h"

#include <cstring>

#include "support/stream.h"
#include "support/stream_io.h"
#include "support/text_convert.h"

namespace {

std::string Field(const uint8_t* block, size_t offset, size_t length) {
  const char* start = reinterpret_cast<const char*>(block) + offset;
  std::string text(start, strnlen(start, length));
  text.erase(text.find_last_not_of(' ') + 1);
  return AnsiToUtf8String(text);
}

}  // namespace

bool ParseId3v1(const uint8_t* block, Id3v1Tag* tag) {
  if (std::memcmp(block, "TAG", 3) != 0) return false;
  tag->title = Field(block, 3, 30);
  tag->artist = Field(block, 33, 30);
  tag->album = Field(block, 63, 30);
  tag->year = Field(block, 93, 4);
  tag->comment = Field(block, 97, 30);
  // ID3v1.1 gives up the last comment byte but one for a zero and the track number.
  tag->track = block[125] == 0 ? block[126] : 0;
  tag->genre = static_cast<int8_t>(block[127]);
  return true;
}

Result ReadId3v1(SeekableStream* stream, uint32_t stream_size, Id3v1Tag* tag, bool* found) {
  *found = false;
  if (stream_size < kId3v1Size) return rc::kOk;
  uint8_t block[kId3v1Size];
  Result result = stream->Seek(stream_size - kId3v1Size);
  if (result == rc::kOk) result = ReadExact(stream, block, sizeof(block));
  if (result != rc::kOk) return result;
  *found = ParseId3v1(block, tag);
  return rc::kOk;
}
