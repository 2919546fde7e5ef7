// WMA files made by ffmpeg and tagged by mutagen, read by our reader and compared with what
// mutagen and ffprobe read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "asf_cases.inc"
#include "media/asf_tag_reader.h"
#include "testlib/id3_builder.h"

namespace {

TEST(AsfOracleTest, ReadsWhatTheToolsRead) {
  for (const AsfFixture& fixture : kAsfFixtures) {
    SCOPED_TRACE(fixture.name);
    AsfTagReader reader(fixture.path);
    id3test::RecordingSink sink;
    ASSERT_EQ(rc::kOk, reader.ReadFile(fixture.path, &sink));
    EXPECT_EQ("wma", sink.Get("codec"));
    EXPECT_EQ(fixture.title, sink.Get("title"));
    EXPECT_EQ(fixture.artist[0] ? fixture.artist : "<none>", sink.Get("artist"));
    EXPECT_EQ(fixture.album[0] ? fixture.album : "<none>", sink.Get("source"));
    EXPECT_EQ(fixture.year[0] ? fixture.year : "<none>", sink.Get("year"));
    EXPECT_EQ(fixture.genre[0] ? fixture.genre : "<none>", sink.Get("genre"));
    if (fixture.track != 0) {
      EXPECT_EQ(std::to_string(fixture.track), sink.Get("tracknr"));
      EXPECT_EQ(std::to_string(fixture.track), sink.Get("file_id"));
    } else {
      EXPECT_FALSE(sink.Has("tracknr"));
    }
    EXPECT_EQ(std::to_string(fixture.sample_rate), sink.Get("samplerate"));
    // The stream's average rate, rounded to kbit/s, stereo, fixed (WMA v2 at 128k).
    EXPECT_EQ("fs" + std::to_string((fixture.bit_rate + 500) / 1000), sink.Get("bitrate"));

    // Play duration less preroll, both in whole milliseconds: as mutagen counts it, within
    // its rounding; ffprobe derives its own from the packets, so a looser bound there.
    const long duration = std::strtol(sink.Get("duration").c_str(), nullptr, 10);
    EXPECT_LE(std::labs(duration - static_cast<long>(fixture.mutagen_ms)), 1);
    EXPECT_LE(std::labs(duration - static_cast<long>(fixture.ffprobe_ms)), 100);

    // From the Data Object to the end, so retagging leaves it alone.
    EXPECT_EQ(fixture.rid, sink.Get("rid"));
    std::string fingerprint;
    EXPECT_EQ(rc::kOk, reader.FingerprintFile(fixture.path, &fingerprint));
    EXPECT_EQ(fixture.rid, fingerprint);
  }
}

}  // namespace
