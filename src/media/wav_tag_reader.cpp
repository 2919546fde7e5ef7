#include "media/wav_tag_reader.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/content_fingerprint.h"
#include "media/create_for_path.h"
#include "media/riff.h"
#include "support/buffered_reader.h"
#include "support/stream.h"
#include "support/stream_io.h"
#include "support/text_convert.h"

namespace {

constexpr uint16_t kPcm = 1;
constexpr uint16_t kAdpcm = 2;
constexpr uint16_t kImaAdpcm = 17;
constexpr uint16_t kExtensible = 0xFFFE;
constexpr uint32_t kLongestInfoValue = 2048;
// Ten times the highest rate audio formats use (768 kHz), so that radio recordings kept as
// WAV still read; anything above, or 0, is a damaged header.
constexpr uint32_t kHighestSampleRate = 10000000;

struct InfoRow {
  uint32_t id;
  const char* key;
  bool number;
};

const InfoRow kInfoRows[] = {
    {FourCc("INAM"), "title", false}, {FourCc("IART"), "artist", false},
    {FourCc("IPRD"), "source", false}, {FourCc("ICMT"), "comment", false},
    {FourCc("IGNR"), "genre", false}, {FourCc("ICRD"), "year", true},
    {FourCc("itrk"), "tracknr", true}, {FourCc("ITRK"), "tracknr", true},
    {FourCc("IPRT"), "tracknr", true},
};

struct WaveFormat {
  uint16_t tag = 0;
  uint32_t bytes_per_second = 0;
};

// An extensible header names its real format in the first two bytes of its sub-format GUID.
Result ReadExtensibleTag(SeekableStream* stream, uint32_t size, uint16_t* tag) {
  if (size < 26) return rc::kUnsupportedWaveFormat;
  uint8_t extension[8];  // extension size, valid bits, channel mask
  Result r = ReadExact(stream, extension, sizeof(extension));
  if (rc::Failed(r)) return r;
  return ReadLe16(stream, tag);
}

Result ReadFormat(SeekableStream* stream, uint32_t size, TagSink* sink, WaveFormat* format) {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t sample_rate = 0;
  uint16_t block_align = 0;
  uint16_t bits = 0;
  Result r = ReadLe16(stream, &tag);
  if (rc::Succeeded(r)) r = ReadLe16(stream, &channels);
  if (rc::Succeeded(r)) r = ReadLe32(stream, &sample_rate);
  if (rc::Succeeded(r)) r = ReadLe32(stream, &format->bytes_per_second);
  if (rc::Succeeded(r)) r = ReadLe16(stream, &block_align);
  if (rc::Succeeded(r)) r = ReadLe16(stream, &bits);
  if (rc::Succeeded(r) && tag == kExtensible) r = ReadExtensibleTag(stream, size, &tag);
  if (rc::Failed(r)) return r;
  if (tag != kPcm && tag != kAdpcm && tag != kImaAdpcm) return rc::kUnsupportedWaveFormat;
  if (sample_rate == 0 || sample_rate > kHighestSampleRate) return rc::kUnsupportedWaveFormat;
  format->tag = tag;
  sink->SetInt("samplerate", sample_rate);
  const uint64_t kbits = uint64_t{channels} * bits * sample_rate / 1000;
  const std::string bitrate =
      std::string("f") + (channels == 1 ? 'm' : 's') + std::to_string(kbits);
  sink->SetString("bitrate", bitrate.c_str());
  return rc::kOk;
}

Result ReadInfoList(SeekableStream* stream, uint32_t size, TagSink* sink) {
  uint64_t rest = size;
  while (rest > 8) {
    uint32_t id = 0;
    uint32_t length = 0;
    Result r = ReadLe32(stream, &id);
    if (rc::Succeeded(r)) r = ReadLe32(stream, &length);
    if (rc::Failed(r)) return r;
    rest -= 8;
    if (length > rest) return rc::kOk;
    const uint64_t taken = std::min<uint64_t>(PaddedSize(length), rest);
    rest -= taken;
    if (length >= kLongestInfoValue) {
      r = SkipForward(stream, taken);
      if (rc::Failed(r)) return r;
      continue;
    }
    std::vector<char> value(length + 1, '\0');
    r = ReadExact(stream, value.data(), length);
    if (rc::Succeeded(r) && taken > length) r = SkipForward(stream, taken - length);
    if (rc::Failed(r)) return r;
    const std::string text = AnsiToUtf8(value.data());  // cut at the first NUL
    for (const InfoRow& row : kInfoRows) {
      if (row.id != id) continue;
      if (row.number) {
        sink->SetInt(row.key, static_cast<uint32_t>(std::atoi(text.c_str())));
      } else {
        sink->SetString(row.key, text.c_str());
      }
    }
  }
  return rc::kOk;
}

// Walks the chunks through `stream`; delivers the format, the INFO tags and, with both "fmt "
// (with a byte rate) and "data", the codec, duration, length and "rid" (read from `file`).
Result WalkChunks(SeekableStream* stream, SeekableStream* file, TagSink* sink, bool fingerprint) {
  uint32_t riff = 0;
  uint32_t riff_size = 0;
  uint32_t form = 0;
  Result r = ReadLe32(stream, &riff);
  if (rc::Succeeded(r)) r = ReadLe32(stream, &riff_size);
  if (rc::Succeeded(r)) r = ReadLe32(stream, &form);
  if (rc::Failed(r)) return r;
  if (riff != FourCc("RIFF") || form != FourCc("WAVE")) return rc::kNotWave;
  uint32_t file_size = 0;
  r = stream->GetSize(&file_size);
  if (rc::Failed(r)) return r;
  uint64_t remaining = riff_size >= 4 ? riff_size - 4 : 0;
  WaveFormat format;
  bool have_format = false;
  bool have_data = false;
  uint32_t data_size = 0;
  while (remaining >= 8) {
    uint32_t header = 0;
    r = stream->GetPosition(&header);
    if (rc::Failed(r)) return r;
    // Streaming writers leave a RIFF size larger than the file (0xFFFFFFFF when piped): a
    // walk that meets the file's end between chunks ends with what it found.
    if (uint64_t{header} + 8 > file_size) break;
    uint32_t id = 0;
    uint32_t size = 0;
    r = ReadLe32(stream, &id);
    if (rc::Succeeded(r)) r = ReadLe32(stream, &size);
    if (rc::Failed(r)) return r;
    const uint32_t body = header + 8;
    if (id == FourCc("data")) {
      have_data = true;
      data_size = size;
      // Audio whose size was never filled in, or cut short: the duration comes from what
      // is there.
      const uint64_t there = std::min<uint64_t>(remaining - 8, file_size - body);
      if (size > there) {
        data_size = static_cast<uint32_t>(there);
        break;
      }
    }
    if (size > remaining - 8) break;
    // The pad byte of an odd chunk belongs to it; a last chunk may lack it.
    const uint64_t taken = std::min<uint64_t>(PaddedSize(size), remaining - 8);
    remaining -= 8 + taken;
    if (id == FourCc("fmt ")) {
      r = ReadFormat(stream, size, sink, &format);
      if (rc::Failed(r)) return r;
      // Without a byte rate there is no duration, but the walk goes on for the tags.
      have_format = format.bytes_per_second != 0;
    } else if (id == FourCc("LIST") && size >= 4) {
      uint32_t type = 0;
      r = ReadLe32(stream, &type);
      if (rc::Failed(r)) return r;
      if (type == FourCc("INFO")) {
        r = ReadInfoList(stream, size - 4, sink);
        if (rc::Failed(r)) return r;
      }
    }
    if (body + taken > UINT32_MAX) break;
    r = stream->Seek(static_cast<uint32_t>(body + taken));
    if (rc::Failed(r)) return r;
  }
  if (!have_format || !have_data) return rc::kOk;
  sink->SetString("codec", format.tag == kImaAdpcm ? "wave-ima-adpcm" : "wave");
  sink->SetInt("duration",
               static_cast<uint32_t>(uint64_t{data_size} * 1000 / format.bytes_per_second));
  sink->SetInt("length", file_size);
  if (!fingerprint) return rc::kOk;
  std::string rid;
  r = ContentFingerprint(file, 0, file_size, &rid);
  if (rc::Failed(r)) return r;
  sink->SetString("rid", rid.c_str());
  return rc::kOk;
}

}  // namespace

Result WavTagReader::Read(SeekableStream* stream, TagSink* sink) {
  sink->SetString("title", AnsiToUtf8String(TitleFromFileName(Path())).c_str());
  const Result r = stream->Seek(0);
  if (rc::Failed(r)) return r;
  // The chunk headers are small reads: they go through a read-ahead window.
  BufferedReader reader(stream);
  return WalkChunks(&reader, stream, sink, ComputesFingerprint());
}

Result WavTagReader::Fingerprint(SeekableStream* stream, std::string* fingerprint) {
  uint32_t size = 0;
  const Result r = stream->GetSize(&size);
  if (rc::Failed(r)) return r;
  return ContentFingerprint(stream, 0, size, fingerprint);
}

Result CreateWavTagReader(const std::string& path, std::unique_ptr<TagReader>* out) {
  return CreateForPath<TagReader, WavTagReader>(path, out);
}
