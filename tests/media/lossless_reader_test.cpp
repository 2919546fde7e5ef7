// Hand-made edge cases of the FLAC, Ogg Vorbis and WAV readers; files made by the encoders
// are read in the tag oracle.
#include <gtest/gtest.h>

#include <string>

#include "media/flac_tag_reader.h"
#include "media/ogg_tag_reader.h"
#include "media/riff.h"
#include "media/vorbis_comment_keys.h"
#include "media/wav_tag_reader.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"
#include "testlib/id3_builder.h"

namespace {

using id3test::RecordingSink;

std::string Le32Text(uint32_t v) {
  std::string s(4, '\0');
  bytes::PutLe32(reinterpret_cast<uint8_t*>(&s[0]), v);
  return s;
}

std::string Chunk(const std::string& id, const std::string& body, bool pad = true) {
  std::string out = id + Le32Text(static_cast<uint32_t>(body.size())) + body;
  if (pad && body.size() % 2) out += '\0';
  return out;
}

std::string Riff(const std::string& chunks) {
  return "RIFF" + Le32Text(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
}

std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint32_t per_second = rate * channels * bits / 8;
  std::string body(16, '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(&body[0]);
  bytes::PutLe16(p, tag);
  bytes::PutLe16(p + 2, channels);
  bytes::PutLe32(p + 4, rate);
  bytes::PutLe32(p + 8, per_second);
  bytes::PutLe16(p + 12, static_cast<uint16_t>(channels * bits / 8));
  bytes::PutLe16(p + 14, bits);
  return Chunk("fmt ", body);
}

RecordingSink ReadWav(const std::string& bytes, Result* result, const char* path = "a_b.wav") {
  MemoryStream memory(bytes);
  WavTagReader reader(path);
  RecordingSink sink;
  *result = reader.Read(&memory, &sink);
  return sink;
}

TEST(WavTagReader, OddChunksKeepTheirPadBytes) {
  const std::string info = "INFO" + Chunk("INAM", std::string("Odd\0", 4)) +
                           Chunk("IART", std::string("Band5\0", 6)) +
                           Chunk("ICMT", std::string("x\0", 2) + "y", true) +
                           Chunk("ICRD", std::string("1999-05-01\0", 11)) +
                           Chunk("itrk", std::string("7\0", 2)) +
                           Chunk("IGNR", std::string(3000, 'g'));
  const std::string bytes = Riff(Chunk("junk", "abc") + Fmt(1, 2, 44100, 16) +
                                 Chunk("LIST", info) + Chunk("data", std::string(176400, 'd')));
  Result result = 1;
  const RecordingSink sink = ReadWav(bytes, &result);
  ASSERT_EQ(rc::kOk, result);
  EXPECT_EQ("wave", sink.Get("codec"));
  EXPECT_EQ("fs1411", sink.Get("bitrate"));
  EXPECT_EQ("1000", sink.Get("duration"));
  EXPECT_EQ("Odd", sink.Get("title"));
  EXPECT_EQ("Band5", sink.Get("artist"));
  EXPECT_EQ("x", sink.Get("comment"));
  EXPECT_EQ("1999", sink.Get("year"));
  EXPECT_EQ("7", sink.Get("tracknr"));
  EXPECT_FALSE(sink.Has("genre"));  // 2048 bytes and more are skipped
}

TEST(WavTagReader, FormatsAndDamage) {
  struct Case {
    const char* what;
    std::string bytes;
    Result result;
    const char* codec;  // nullptr: none delivered
  } cases[] = {
      {"ima adpcm", Riff(Fmt(17, 1, 8000, 4) + Chunk("data", "dddd")), rc::kOk,
       "wave-ima-adpcm"},
      {"float", Riff(Fmt(3, 2, 44100, 32) + Chunk("data", "dd")), rc::kUnsupportedWaveFormat,
       nullptr},
      {"no data chunk", Riff(Fmt(1, 2, 44100, 16)), rc::kOk, nullptr},
      {"not wave", "RIFF" + Le32Text(4) + "AVI ", rc::kNotWave, nullptr},
      {"cut in the fmt chunk", Riff(Fmt(1, 2, 44100, 16)).substr(0, 26), rc::kShortTransfer,
       nullptr},
      {"data larger than the file", Riff(Fmt(1, 2, 44100, 16) + "data" + Le32Text(1u << 31)),
       rc::kOk, "wave"},
      {"chunk larger than the file", Riff(Fmt(1, 2, 44100, 16) + "junk" + Le32Text(1u << 31)),
       rc::kOk, nullptr},
      {"zero rate", Riff(Fmt(1, 2, 0, 16) + Chunk("data", "dd")), rc::kUnsupportedWaveFormat,
       nullptr},
      {"rate no audio has", Riff(Fmt(1, 1, 3000000000u, 8) + Chunk("data", "dd")),
       rc::kUnsupportedWaveFormat, nullptr},
      {"no bytes per second", Riff(Fmt(1, 0, 44100, 16) + Chunk("data", "dd")), rc::kOk, nullptr},
      {"empty", "", rc::kShortTransfer, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Result result = 1;
    const RecordingSink sink = ReadWav(c.bytes, &result);
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.codec ? c.codec : "<none>", sink.Get("codec"));
    EXPECT_EQ("a b", sink.Get("title"));
  }
}

// A format chunk that gives no byte rate leaves no duration, but the INFO tags behind it are
// read all the same.
TEST(WavTagReader, TagsWhateverTheByteRate) {
  std::string fmt = Fmt(1, 2, 44100, 16);
  fmt.replace(16, 4, Le32Text(0));  // the average bytes per second
  const std::string info = Chunk("LIST", "INFO" + Chunk("INAM", std::string("Named\0", 6)) +
                                             Chunk("IART", std::string("Band\0", 5)));
  Result result = 1;
  const RecordingSink sink = ReadWav(Riff(fmt + info + Chunk("data", "dddd")), &result);
  EXPECT_EQ(rc::kOk, result);
  EXPECT_EQ("Named", sink.Get("title"));
  EXPECT_EQ("Band", sink.Get("artist"));
  EXPECT_EQ("fs1411", sink.Get("bitrate"));
  EXPECT_FALSE(sink.Has("duration"));
}

// Sizes streaming writers leave: the RIFF size and the data size say more than the file
// holds. The walk ends at the file's end; the duration comes from the audio that is there.
TEST(WavTagReader, SizesBeyondTheFile) {
  const std::string fmt = Fmt(1, 2, 44100, 16);
  const std::string info = Chunk("LIST", "INFO" + Chunk("INAM", std::string("Piped\0", 6)));
  const std::string audio(17640, 'd');
  std::string piped = Riff(fmt + info + "data" + Le32Text(0xFFFFFFFF) + audio);
  piped.replace(4, 4, Le32Text(0xFFFFFFFF));
  std::string long_riff = Riff(fmt + info + Chunk("data", audio));
  long_riff.replace(4, 4, Le32Text(static_cast<uint32_t>(long_riff.size() + 5000)));
  const std::string cut = Riff(fmt + info + Chunk("data", audio + audio)).substr(0, long_riff.size());
  for (const std::string& bytes : {piped, long_riff, cut}) {
    Result result = 1;
    const RecordingSink sink = ReadWav(bytes, &result);
    EXPECT_EQ(rc::kOk, result);
    EXPECT_EQ("wave", sink.Get("codec"));
    EXPECT_EQ("Piped", sink.Get("title"));
    EXPECT_EQ("100", sink.Get("duration"));
    EXPECT_EQ(std::to_string(bytes.size()), sink.Get("length"));
  }
}

TEST(WavTagReader, BitRateIn64Bits) {
  Result result = 1;
  // 16 channels of 32 bits at 9.6 MHz: 4,915,200,000 bit/s, beyond 32 bits.
  const RecordingSink sink =
      ReadWav(Riff(Fmt(1, 16, 9600000, 32) + Chunk("data", std::string(64, 'd'))), &result);
  EXPECT_EQ(rc::kOk, result);
  EXPECT_EQ("fs4915200", sink.Get("bitrate"));
  EXPECT_EQ("9600000", sink.Get("samplerate"));
}

// The chunk headers are read through a read-ahead window, not a few bytes at a time.
TEST(WavTagReader, ReadsHeadersInFewReads) {
  std::string chunks = Fmt(1, 2, 44100, 16);
  for (int i = 0; i < 10; ++i) chunks += Chunk("junk", std::string(33, 'j'));
  const std::string bytes = Riff(chunks + Chunk("LIST", "INFO" + Chunk("INAM", std::string("T\0", 2))) +
                                 Chunk("data", std::string(400, 'd')));
  MemoryStream memory(bytes);
  FaultInjectingStream counted(&memory);
  WavTagReader reader("a.wav");
  reader.SetComputeFingerprint(false);
  RecordingSink sink;
  ASSERT_EQ(rc::kOk, reader.Read(&counted, &sink));
  EXPECT_EQ("T", sink.Get("title"));
  EXPECT_LE(counted.reads(), 3);
}

TEST(VorbisCommentKeys, NamesAndKeys) {
  EXPECT_EQ("year", VorbisNameToKey("date"));
  EXPECT_EQ("year", VorbisNameToKey("year"));
  EXPECT_EQ("", VorbisNameToKey("rid"));
  EXPECT_EQ("", VorbisNameToKey("fid_generation"));
  EXPECT_EQ("", VorbisNameToKey("image_path"));
  EXPECT_EQ("", VorbisNameToKey("cd_toc"));
  EXPECT_EQ("mood", VorbisNameToKey("mood"));
  EXPECT_EQ("tracknumber", KeyToVorbisName("tracknr"));
  EXPECT_EQ("", KeyToVorbisName("duration"));
  EXPECT_EQ("artist", KeyToVorbisName("artist"));
  RecordingSink sink;
  DeliverVorbisComment("TITLE=a=b", 9, &sink);
  DeliverVorbisComment("Duration=5", 10, &sink);
  DeliverVorbisComment("novalue", 7, &sink);
  EXPECT_EQ("a=b", sink.Get("title"));
  EXPECT_EQ(std::vector<std::string>{"title"}, sink.order);
}

// The smallest FLAC stream: "fLaC" and a last STREAMINFO block.
std::string MinimalFlac(uint64_t total_samples, uint32_t rate) {
  std::string info(34, '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(&info[0]);
  p[0] = 0x10;  // block sizes 4096
  p[2] = 0x10;
  // sample rate (20 bits), channels - 1 (3 bits), bits - 1 (5 bits), total samples (36 bits)
  p[10] = static_cast<uint8_t>(rate >> 12);
  p[11] = static_cast<uint8_t>(rate >> 4);
  p[12] = static_cast<uint8_t>((rate & 0xF) << 4 | (1 << 1));  // stereo
  p[13] = static_cast<uint8_t>(15 << 4 | ((total_samples >> 32) & 0xF));
  bytes::PutBe32(p + 14, static_cast<uint32_t>(total_samples));
  return std::string("fLaC\x80\x00\x00\x22", 8) + info + std::string(100, '\xAA');
}

TEST(FlacTagReader, StreamInfoEdges) {
  struct Case {
    uint64_t samples;
    uint32_t rate;
    const char* duration;
    const char* bitrate;
  } cases[] = {{0, 44100, "0", "vs"},
               {44100, 44100, "1000", "vs1"},
               // A long file: size x 8 x 1000 overflows 32 bits.
               {44100ull * 3600, 44100, "3600000", "vs0"}};
  for (const Case& c : cases) {
    MemoryStream memory(MinimalFlac(c.samples, c.rate));
    FlacTagReader reader("x.flac");
    RecordingSink sink;
    EXPECT_EQ(rc::kOk, reader.Read(&memory, &sink));
    EXPECT_EQ("flac", sink.Get("codec"));
    EXPECT_EQ(c.duration, sink.Get("duration"));
    EXPECT_EQ(c.bitrate, sink.Get("bitrate"));
    EXPECT_EQ("44100", sink.Get("samplerate"));
  }
}

TEST(FlacTagReader, BitRateOfLargeFilesUses64Bits) {
  // 600 MB over 1 hour would wrap in 32 bits: 600e6 * 8 = 4.8e9.
  class LargeStream : public FaultInjectingStream {
   public:
    using FaultInjectingStream::FaultInjectingStream;
    Result GetSize(uint32_t* size) override {
      *size = 600000000;
      return rc::kOk;
    }
  };
  MemoryStream memory(MinimalFlac(44100ull * 3600, 44100));
  LargeStream large(&memory);
  FlacTagReader reader("x.flac");
  reader.SetComputeFingerprint(false);
  RecordingSink sink;
  EXPECT_EQ(rc::kOk, reader.Read(&large, &sink));
  EXPECT_EQ("vs1333", sink.Get("bitrate"));
}

TEST(FlacTagReader, FailuresAreReported) {
  const std::string flac = MinimalFlac(44100, 44100);
  for (int nth = 1; nth <= 6; ++nth) {
    MemoryStream memory(flac);
    FaultInjectingStream faulty(&memory);
    faulty.FailRead(nth, rc::kTimeout, true);
    FlacTagReader reader("x.flac");
    RecordingSink sink;
    const Result result = reader.Read(&faulty, &sink);
    if (faulty.reads() >= nth) {
      EXPECT_EQ(rc::kTimeout, result) << nth;
    }
  }
  MemoryStream junk(std::string(5000, 'j'));
  FlacTagReader reader("x.flac");
  RecordingSink sink;
  EXPECT_EQ(rc::kBadData, reader.Read(&junk, &sink));
  std::string rid;
  EXPECT_EQ(rc::kBadData, reader.Fingerprint(&junk, &rid));
}

TEST(OggTagReader, NotVorbisAndShortHeaders) {
  OggTagReader reader("x.ogg");
  MemoryStream junk(std::string(5000, 'j'));
  RecordingSink sink;
  EXPECT_EQ(rc::kNoTagHandler, reader.Read(&junk, &sink));
  // One valid page holding one packet, then the end: three packets can never come.
  std::string page("OggS\0\x02", 6);
  page += std::string(8, '\0') + std::string("\x01\x00\x00\x00", 4) + std::string(4, '\0');
  page += std::string(4, '\0') + "\x01\x05" + "hello";
  MemoryStream short_stream(page);
  std::string rid;
  EXPECT_EQ(rc::kBadData, reader.Fingerprint(&short_stream, &rid));
}

}  // namespace
