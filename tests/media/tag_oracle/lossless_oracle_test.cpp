// FLAC, Ogg Vorbis and WAV files made by flac, oggenc, vorbiscomment, ffmpeg and mutagen, read
// by our readers and compared with what mutagen, exiftool and the formats' own layout say
// (tests/oracle/lossless_fixtures.py).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lossless_cases.inc"
#include "media/tag_reader_factory.h"
#include "testlib/id3_builder.h"

namespace {

TEST(LosslessOracleTest, ReadersDeliverWhatTheToolsRead) {
  std::map<std::string, std::vector<const LosslessCase*>> files;
  for (const LosslessCase& c : kLosslessCases) files[c.path].push_back(&c);
  ASSERT_GE(files.size(), 12u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.first);
    std::unique_ptr<TagReader> reader;
    ASSERT_EQ(rc::kOk, TagReaderFactory(file.first, "", &reader));
    id3test::RecordingSink sink;
    const Result result = reader->ReadFile(file.first, &sink);
    for (const LosslessCase* c : file.second) {
      const std::string key = c->key;
      if (key == "=result") {
        EXPECT_EQ(std::atol(c->value), result);
      } else if (c->value == nullptr) {
        EXPECT_FALSE(sink.Has(key)) << key << " = " << sink.Get(key);
      } else if (key[0] == '~') {
        const long got = std::atol(sink.Get(key.substr(1)).c_str());
        EXPECT_LE(std::labs(got - std::atol(c->value)), 1) << key;
      } else {
        EXPECT_EQ(c->value, sink.Get(key)) << key;
      }
    }
    // The fingerprint alone gives the same "rid".
    std::string rid;
    if (result == rc::kOk && sink.Has("rid")) {
      EXPECT_EQ(rc::kOk, reader->FingerprintFile(file.first, &rid));
      EXPECT_EQ(sink.Get("rid"), rid);
    }
  }
}

}  // namespace
