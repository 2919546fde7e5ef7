#include "media/mpeg_audio.h"

#include <gtest/gtest.h>

#include "support/buffered_reader.h"
#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"
#include "testlib/mpeg_frames.h"

namespace {

using namespace mpegtest;

struct HeaderCase {
  const char* what;
  uint32_t word;
  bool valid;
  int32_t bit_rate;
  int32_t sample_rate;
  uint32_t channels;
  uint32_t samples;
  int32_t length;
};

const HeaderCase kHeaderCases[] = {
    {"MPEG-1 L3 128k 44.1k", kMpeg1L3, true, 128000, 44100, 2, 1152, 417},
    {"... padded", kMpeg1L3Padded, true, 128000, 44100, 2, 1152, 418},
    {"... mono", kMpeg1L3Mono, true, 128000, 44100, 1, 1152, 417},
    {"... 48k", kMpeg1L3At48k, true, 128000, 48000, 2, 1152, 384},
    {"MPEG-1 L3 320k 32k", 0xFFFBE844, true, 320000, 32000, 2, 1152, 1440},
    {"MPEG-1 L2 192k", 0xFFFDA044, true, 192000, 44100, 2, 1152, 626},
    {"MPEG-1 L1 384k", 0xFFFFC044, true, 384000, 44100, 2, 384, 416},
    {"MPEG-2 L3 64k 22.05k", 0xFFF38044, true, 64000, 22050, 2, 576, 208},
    {"MPEG-2 L1 64k", 0xFFF74044, true, 64000, 22050, 2, 384, 136},
    {"MPEG-2.5 L3 16k 8k", 0xFFE32844, true, 16000, 8000, 2, 576, 144},
    {"free format", 0xFFFB0044, true, 0, 44100, 2, 1152, 0},
    {"free format padded (length 1)", 0xFFFB0244, false, 0, 44100, 2, 1152, 1},
    {"bit-rate index 15", 0xFFFBF044, false, MpegAudioHeader::kInvalid, 44100, 2, 1152,
     MpegAudioHeader::kInvalid},
    {"reserved version", 0xFFEB9044, false, MpegAudioHeader::kInvalid,
     MpegAudioHeader::kInvalid, 2, 576, MpegAudioHeader::kInvalid},
    {"reserved layer", 0xFFF99044, false, MpegAudioHeader::kInvalid, 44100, 2, 0,
     MpegAudioHeader::kInvalid},
    {"sample-rate index 3", 0xFFFB9C44, false, 128000, MpegAudioHeader::kInvalid, 2, 1152,
     MpegAudioHeader::kInvalid},
    {"sync bit missing", 0xFFDB9044, false, 128000, 44100, 2, 1152, 417},
};

TEST(MpegAudioHeaderTest, DerivedValuesAndValidity) {
  for (const HeaderCase& c : kHeaderCases) {
    SCOPED_TRACE(c.what);
    const MpegAudioHeader h = MpegAudioHeader::Decode(c.word);
    EXPECT_EQ(c.valid, h.IsValid());
    EXPECT_EQ(c.bit_rate, h.BitRate());
    EXPECT_EQ(c.sample_rate, h.SampleRate());
    EXPECT_EQ(c.channels, h.Channels());
    EXPECT_EQ(c.samples, h.SamplesPerFrame());
    EXPECT_EQ(c.length, h.FrameLength());
  }
}

TEST(MpegAudioHeaderTest, DecodesEveryField) {
  const MpegAudioHeader h = MpegAudioHeader::Decode(0xFFFA96FE);
  EXPECT_EQ(3, h.version_id);
  EXPECT_EQ(1, h.layer_bits);
  EXPECT_EQ(0, h.protection);
  EXPECT_EQ(9, h.bitrate_index);
  EXPECT_EQ(1, h.sample_rate_index);
  EXPECT_EQ(1, h.padding);
  EXPECT_EQ(0, h.private_bit);
  EXPECT_EQ(3, h.channel_mode);
  EXPECT_EQ(3, h.mode_extension);
  EXPECT_EQ(1, h.copyright);
  EXPECT_EQ(1, h.original);
  EXPECT_EQ(2, h.emphasis);
  EXPECT_EQ(0xFFFA96FEu, h.raw);
}

TEST(FindFrameHeaderTest, StopsJustBehindTheFirstValidHeader) {
  MemoryStream memory(std::string("\x12\x34\xFF\x00\x56\x78", 6) + Frame(kMpeg1L3));
  BufferedReader reader(&memory);
  MpegAudioHeader header;
  ASSERT_EQ(rc::kOk, FindFrameHeader(&reader, 100, &header));
  EXPECT_EQ(kMpeg1L3, header.raw);
  uint32_t position = 0;
  reader.GetPosition(&position);
  EXPECT_EQ(10u, position);
}

TEST(FindFrameHeaderTest, EndsAtTheBudgetTheEndOrAFailure) {
  MemoryStream memory(std::string(100, '\x11') + Frame(kMpeg1L3));
  MpegAudioHeader header;
  {
    BufferedReader reader(&memory);
    EXPECT_EQ(rc::kNotFound, FindFrameHeader(&reader, 100, &header));
    uint32_t position = 0;
    reader.GetPosition(&position);
    EXPECT_EQ(100u, position);
    EXPECT_EQ(rc::kOk, FindFrameHeader(&reader, 4, &header)) << "exactly the next 4 bytes";
  }
  {
    BufferedReader reader(&memory);
    reader.Seek(110);
    EXPECT_EQ(rc::kEndOfData, FindFrameHeader(&reader, 100000, &header));
  }
  {
    FaultInjectingStream faulty(&memory);
    faulty.FailRead(1, rc::kFail);
    BufferedReader reader(&faulty);
    EXPECT_EQ(rc::kFail, FindFrameHeader(&reader, 1000, &header));
  }
}

struct VbrCase {
  const char* what;
  std::string stream;
  Result result;
  uint32_t frames;
  uint64_t bytes;
  uint64_t total_samples;
};

TEST(ProbeVbrHeaderTest, Headers) {
  const std::string after = Frames(kMpeg1L3, 2);
  const VbrCase cases[] = {
      {"Xing with frames and bytes", FrameWith(kMpeg1L3, Xing("Xing", 0xF, 300, 125100)) + after,
       rc::kOk, 300, 125100, 345600},
      {"Info", FrameWith(kMpeg1L3, Xing("Info", 0x3, 10, 4170)) + after, rc::kOk, 10, 4170,
       11520},
      {"Xing without a frame count", FrameWith(kMpeg1L3, Xing("Xing", 0x2, 0, 777)) + after,
       rc::kOk, 0, 777, 0},
      {"VBRI", FrameWith(kMpeg1L3, Vbri(9000, 20)) + after, rc::kOk, 20, 9000, 23040},
      {"MPEG-2 Xing behind 17 bytes of side information",
       FrameWith(0xFFF38044, Xing("Xing", 0x1, 5, 0), 21) + after, rc::kOk, 5, 0, 2880},
      {"plain frame", Frames(kMpeg1L3, 3), 1, 0, 0, 0},
      {"tag beyond 64 bytes", FrameWith(kMpeg1L3, Xing("Xing", 0x1, 5, 0), 4 + 64) + after, 1,
       0, 0, 0},
      {"no frame header", std::string(500, '\x01'), rc::kNoAudioFrame, 0, 0, 0},
      {"shorter than a header", std::string("\xFF\xFB", 2), rc::kNoAudioFrame, 0, 0, 0},
      {"fields cut by the end of the file",
       FrameWith(kMpeg1L3, Xing("Xing", 0x3, 1000, 5000)).substr(0, 44), rc::kOk, 0, 0, 0},
      // A frame count no stream of this size can hold: ignored, not a duration of years.
      {"damaged frame count", FrameWith(kMpeg1L3, Xing("Xing", 0x1, 0xFFFFFFF0, 0)) + after,
       rc::kBadData, 0, 0, 0},
      {"damaged VBRI frame count", FrameWith(kMpeg1L3, Vbri(9000, 100000)) + after, rc::kBadData,
       0, 0, 0},
  };
  for (const VbrCase& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryStream memory(c.stream);
    BufferedReader reader(&memory);
    VbrInfo info;
    info.frames = 99;
    EXPECT_EQ(c.result, ProbeVbrHeader(&reader, &info));
    EXPECT_EQ(c.frames, info.frames);
    EXPECT_EQ(c.bytes, info.bytes);
    EXPECT_EQ(c.total_samples, info.total_samples);
  }
}

}  // namespace
