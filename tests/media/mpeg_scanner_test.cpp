#include "media/mpeg_scanner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "support/file_stream.h"
#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"
#include "testlib/id3_builder.h"
#include "testlib/mpeg_frames.h"

namespace {

using id3test::RecordingSink;
using namespace mpegtest;

std::string Garbage(size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>((i * 7 + 1) & 0x7F);
  return out;
}

struct Scan {
  Result result;
  RecordingSink sink;
  uint32_t first_frame = 0;
};

Scan Analyse(const std::string& bytes, uint32_t audio_start = 0) {
  MemoryStream memory(bytes);
  MpegScanner scanner(&memory);
  Scan scan;
  scan.result = scanner.Run(audio_start, &scan.sink);
  scan.first_frame = scanner.FirstFramePosition();
  return scan;
}

TEST(MpegScannerTest, ConstantRateStereo) {
  const std::string audio = Frames(kMpeg1L3, 40);
  const Scan scan = Analyse(audio);
  ASSERT_EQ(rc::kOk, scan.result);
  EXPECT_EQ("fs128", scan.sink.Get("bitrate"));
  EXPECT_EQ("44100", scan.sink.Get("samplerate"));
  EXPECT_EQ(std::to_string(audio.size() * 8 / 128), scan.sink.Get("duration"));
  EXPECT_EQ("0", scan.sink.Get("offset"));
  EXPECT_EQ("no", scan.sink.Get("copyright"));
  EXPECT_EQ("no", scan.sink.Get("copy")) << "the original bit is set";
  const std::vector<std::string> order = {"bitrate", "samplerate", "duration", "offset",
                                          "copyright", "copy"};
  EXPECT_EQ(order, scan.sink.order);
}

TEST(MpegScannerTest, MonoCopyrightedCopy) {
  const uint32_t word = (kMpeg1L3Mono | 0x8) & ~0x4u;  // copyright set, original clear
  const Scan scan = Analyse(Frames(word, 5));
  ASSERT_EQ(rc::kOk, scan.result);
  EXPECT_EQ("fm128", scan.sink.Get("bitrate"));
  EXPECT_EQ("yes", scan.sink.Get("copyright"));
  EXPECT_EQ("yes", scan.sink.Get("copy"));
}

TEST(MpegScannerTest, GarbageBeforeTheAudioMovesTheFirstFrame) {
  const std::string tag = std::string(10, 'T');
  const std::string audio = Frames(kMpeg1L3, 10);
  const Scan scan = Analyse(tag + Garbage(20) + audio, 10);
  ASSERT_EQ(rc::kOk, scan.result);
  EXPECT_EQ(30u, scan.first_frame);
  EXPECT_EQ("30", scan.sink.Get("offset"));
  EXPECT_EQ(std::to_string(audio.size() * 8 / 128), scan.sink.Get("duration"));
}

TEST(MpegScannerTest, AFrameIsConfirmedOnlyByANextFrameOfItsSampleRate) {
  // A lone header in the garbage, a 48 kHz frame followed by a 44.1 kHz one, then a real run.
  const std::string bytes = Garbage(50) + BigEndian(kMpeg1L3) + Garbage(50) +
                            Frame(kMpeg1L3At48k) + Frame(kMpeg1L3) + Frames(kMpeg1L3, 5);
  const Scan scan = Analyse(bytes);
  ASSERT_EQ(rc::kOk, scan.result);
  // The search goes on behind the header that disproved the 48 kHz frame, so the first
  // confirmed frame is the one after it.
  EXPECT_EQ(104u + 384u + 417u, scan.first_frame);
  EXPECT_EQ("44100", scan.sink.Get("samplerate"));
}

TEST(MpegScannerTest, XingHeaderGivesDurationAndAverageRate) {
  const std::string bytes =
      FrameWith(kMpeg1L3, Xing("Xing", 0x3, 1000, 417 * 1000)) + Frames(kMpeg1L3, 12);
  const Scan scan = Analyse(bytes);
  ASSERT_EQ(rc::kOk, scan.result);
  EXPECT_EQ("26122", scan.sink.Get("duration"));  // 1000 x 1152 x 1000 / 44100
  EXPECT_EQ("vs127", scan.sink.Get("bitrate"));   // 417000 x 8 x 44100 / 1152000
  EXPECT_EQ("44100", scan.sink.Get("samplerate"));
  EXPECT_EQ("0", scan.sink.Get("offset"));
  const std::vector<std::string> order = {"duration", "bitrate", "samplerate", "offset",
                                          "copyright", "copy"};
  EXPECT_EQ(order, scan.sink.order);
}

TEST(MpegScannerTest, VbrHeaderBehindGarbageOverridesTheFixedRate) {
  const std::string bytes =
      Garbage(20) + FrameWith(kMpeg1L3Mono, Vbri(4170, 1000)) + Frames(kMpeg1L3Mono, 12);
  const Scan scan = Analyse(bytes);
  ASSERT_EQ(rc::kOk, scan.result);
  EXPECT_EQ("26122", scan.sink.Get("duration"));
  EXPECT_EQ("vm1", scan.sink.Get("bitrate"));  // 4170 x 8 x 44100 / 1152000 = 1277 bit/s
  const std::vector<std::string> order = {"bitrate", "samplerate", "duration", "offset",
                                          "copyright", "copy", "duration", "bitrate",
                                          "samplerate"};
  EXPECT_EQ(order, scan.sink.order);
}

TEST(MpegScannerTest, DamagedVbrHeaders) {
  struct Case {
    const char* what;
    std::string first;
    const char* bitrate;
    const char* duration;
  };
  const std::string run = Frames(kMpeg1L3, 12);
  const std::string cbr_duration = std::to_string((run.size() + 417) * 8 / 128);
  const Case cases[] = {
      // More frames than the file has bytes for: ignored, the frames give the values.
      {"frame count beyond the file", FrameWith(kMpeg1L3, Xing("Xing", 0x3, 0x7FFFFFFF, 5000)),
       "fs128", cbr_duration.c_str()},
      // No frame count: no duration from it, and the frame's own rate.
      {"no frame count", FrameWith(kMpeg1L3, Xing("Xing", 0x2, 0, 5000)), "vs128", "0"},
      // A byte count that gives an average no MPEG audio reaches: the frame's own rate.
      {"byte count beyond any rate", FrameWith(kMpeg1L3, Xing("Xing", 0x3, 1, 0xFFFFFFFF)),
       "vs128", "26"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Scan scan = Analyse(c.first + run);
    ASSERT_EQ(rc::kOk, scan.result);
    EXPECT_EQ(c.bitrate, scan.sink.Get("bitrate"));
    EXPECT_EQ(c.duration, scan.sink.Get("duration"));
  }
}

// A free-format header (bit-rate index 0) without padding has a frame length of 0, so it would
// "confirm" itself; such headers must not make junk into audio.
TEST(MpegScannerTest, FreeFormatHeadersConfirmNothing) {
  const std::string free_format("\xFF\xFB\x00\x64\x00\x00\x00\x00", 8);
  EXPECT_EQ(rc::kNoAudioFrame, Analyse(free_format).result);

  std::string random(300 * 1024, '\0');
  uint32_t state = 12345;
  for (char& c : random) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  const Scan junk = Analyse(random);
  EXPECT_EQ(rc::kNoAudioFrame, junk.result);
  EXPECT_TRUE(junk.sink.order.empty());

  const std::string audio = Frames(kMpeg1L3, 10);
  const Scan real = Analyse(free_format + free_format + audio);
  ASSERT_EQ(rc::kOk, real.result);
  EXPECT_EQ(16u, real.first_frame);
  EXPECT_EQ("fs128", real.sink.Get("bitrate"));
}

TEST(MpegScannerTest, NoConfirmedFrameDeliversNothing) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t audio_start;
  };
  const Case cases[] = {
      {"empty", "", 0},
      {"three bytes", "\xFF\xFB\x90", 0},
      {"garbage only", Garbage(5000), 0},
      {"a single frame", Frame(kMpeg1L3), 0},
      {"frames cut after one header", Frame(kMpeg1L3) + BigEndian(kMpeg1L3).substr(0, 3), 0},
      {"audio start behind the end", Frames(kMpeg1L3, 5), 5000},
      // The last search starts just below 192 KiB and may read a whole budget past it.
      {"frames begin beyond the scan range", Garbage(196608 + 65536 + 100) + Frames(kMpeg1L3, 5),
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Scan scan = Analyse(c.bytes, c.audio_start);
    EXPECT_EQ(rc::kNoAudioFrame, scan.result);
    EXPECT_TRUE(scan.sink.order.empty());
  }
}

TEST(MpegScannerTest, TheLastSearchOfTheScanRangeReadsItsWholeBudget) {
  const Scan scan = Analyse(Garbage(250000) + Frames(kMpeg1L3, 5));
  ASSERT_EQ(rc::kOk, scan.result);
  EXPECT_EQ(250000u, scan.first_frame);
}

TEST(MpegScannerTest, CorruptedStreamsEndCleanly) {
  // Every single-byte corruption of the first frames either still finds audio or gives the
  // clear result; none may crash or hang.
  const std::string clean =
      FrameWith(kMpeg1L3, Xing("Xing", 0x3, 10, 4170)) + Frames(kMpeg1L3Padded, 3);
  for (size_t at = 0; at < 120; ++at) {
    for (const uint8_t value : {0x00, 0xFF, 0x5A}) {
      std::string bytes = clean;
      bytes[at] = static_cast<char>(value);
      const Result result = Analyse(bytes).result;
      EXPECT_TRUE(result == rc::kOk || result == rc::kNoAudioFrame) << at << " " << result;
    }
  }
}

// The frames of a 128 kbit/s stream of any size, made up on the fly.
class EndlessFrames : public SeekableStream {
 public:
  explicit EndlessFrames(uint32_t size) : size_(size), frame_(Frame(kMpeg1L3)) {}
  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    *count = 0;
    if (position_ >= size_) return rc::kEndOfData;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (; *count < length && position_ < size_; ++*count, ++position_) {
      out[*count] = static_cast<uint8_t>(frame_[position_ % frame_.size()]);
    }
    return rc::kOk;
  }
  Result Write(const void*, uint32_t, uint32_t*) override { return rc::kNotImplemented; }
  Result GetPosition(uint32_t* position) override {
    *position = position_;
    return rc::kOk;
  }
  Result Seek(uint32_t position) override {
    position_ = position;
    return rc::kOk;
  }
  Result Skip(int32_t delta) override { return Seek(position_ + delta); }
  Result GetSize(uint32_t* size) override {
    *size = size_;
    return rc::kOk;
  }
  Result SetSize(uint32_t) override { return rc::kNotImplemented; }

 private:
  uint32_t size_;
  uint32_t position_ = 0;
  std::string frame_;
};

TEST(MpegScannerTest, DurationOfFilesBeyond512MiBDoesNotWrap) {
  const uint32_t size = 600u << 20;  // 600 MiB: bytes x 8 exceeds 32 bits
  EndlessFrames stream(size);
  MpegScanner scanner(&stream);
  RecordingSink sink;
  ASSERT_EQ(rc::kOk, scanner.Run(0, &sink));
  EXPECT_EQ(std::to_string(uint64_t{size} * 8 / 128), sink.Get("duration"));
}

TEST(MpegScannerTest, SearchThroughAFileWithoutAudioMakesFewReads) {
  MemoryStream memory(Garbage(200 * 1024));
  FaultInjectingStream counting(&memory);
  MpegScanner scanner(&counting);
  RecordingSink sink;
  EXPECT_EQ(rc::kNoAudioFrame, scanner.Run(0, &sink));
  EXPECT_LE(counting.reads(), 8);
}

TEST(MpegScannerTest, ReadFailuresEndTheScan) {
  // Fails every read from the nth on: once a read fails, searching again cannot succeed.
  const std::string bytes = Garbage(150000) + Frames(kMpeg1L3, 5);
  for (int nth = 1; nth <= 3; ++nth) {
    SCOPED_TRACE(nth);
    MemoryStream memory(bytes);
    FaultInjectingStream faulty(&memory);
    faulty.FailRead(nth, rc::kFail, true);
    MpegScanner scanner(&faulty);
    RecordingSink sink;
    EXPECT_EQ(rc::kFail, scanner.Run(0, &sink));
    EXPECT_TRUE(sink.order.empty());
  }
}

// A stream whose data ends before the size it claims (a file cut while it is read).
class OversizedStream : public FaultInjectingStream {
 public:
  OversizedStream(SeekableStream* base, uint32_t claimed)
      : FaultInjectingStream(base), claimed_(claimed) {}
  Result GetSize(uint32_t* size) override {
    *size = claimed_;
    return rc::kOk;
  }

 private:
  uint32_t claimed_;
};

TEST(MpegScannerTest, DataEndingBeforeTheClaimedSizeEndsTheScan) {
  MemoryStream memory(Garbage(5000));
  OversizedStream cut(&memory, 100000);
  MpegScanner scanner(&cut);
  RecordingSink sink;
  EXPECT_EQ(rc::kNoAudioFrame, scanner.Run(0, &sink));
}

}  // namespace
