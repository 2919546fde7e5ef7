#include "media/mpeg_scanner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "support/file_stream.h"
#include "testlib/id3_builder.h"

#include "mpeg_cases.inc"

namespace {

using id3test::RecordingSink;

// Files made by lame and ffmpeg, with what ffprobe and mutagen read from them.
TEST(MpegOracleTest, FilesOfOtherEncodersAgreeWithOtherReaders) {
  for (const MpegFixture& fixture : kMpegFixtures) {
    SCOPED_TRACE(fixture.name);
    std::unique_ptr<FileStream> file;
    ASSERT_EQ(rc::kOk, OpenFileStream(fixture.path, OpenRead, &file));
    MpegScanner scanner(file.get());
    RecordingSink sink;
    ASSERT_EQ(rc::kOk, scanner.Run(0, &sink));
    EXPECT_EQ(std::to_string(fixture.sample_rate), sink.Get("samplerate"));
    EXPECT_EQ("0", sink.Get("offset"));

    const std::string bitrate = sink.Get("bitrate");
    ASSERT_GE(bitrate.size(), 3u);
    // An encoder's Info header in a constant-rate file is read like a Xing header, so such a
    // file is listed as variable with the average over the header's counts; the tools call it
    // constant.
    EXPECT_EQ(fixture.has_vbr_header ? 'v' : 'f', bitrate[0]);
    EXPECT_EQ(fixture.channels == 1 ? 'm' : 's', bitrate[1]);
    const long kbits = std::strtol(bitrate.c_str() + 2, nullptr, 10);
    if (fixture.has_vbr_header) {
      // Our average comes from the header's byte and frame counts, the tool's from the file
      // size and its duration.
      EXPECT_NEAR(fixture.kbits, kbits, 1);
    } else {
      EXPECT_EQ(static_cast<long>(fixture.kbits), kbits);
    }
    // A fixed-rate duration counts the bytes from the first frame on at the frame's rate, a
    // VBR header's the frames it names; the tools may differ by a frame.
    const long duration = std::strtol(sink.Get("duration").c_str(), nullptr, 10);
    EXPECT_NEAR(fixture.duration_ms, duration, fixture.frame_ms);
  }
}

}  // namespace
