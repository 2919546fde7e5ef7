// Files tagged at build time by id3v2, eyeD3 and mutagen, with the values mutagen reads back
// from them (tests/oracle/id3_fixtures.py).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <vector>

#include "id3_cases.inc"
#include "media/mp3_tag_reader.h"
#include "media/tag_reader_factory.h"
#include "support/file_stream.h"
#include "support/md5.h"
#include "testlib/id3_builder.h"

namespace {

std::string Md5Hex(const std::string& bytes) {
  uint8_t digest[kMd5DigestSize];
  Md5Digest(digest, bytes.data(), static_cast<int32_t>(bytes.size()));
  std::string hex;
  char two[3];
  for (uint8_t b : digest) {
    snprintf(two, sizeof(two), "%02x", b);
    hex += two;
  }
  return hex;
}

std::string AlbumArtMd5(TagReader* reader, const std::string& path) {
  std::unique_ptr<FileStream> file;
  EXPECT_EQ(rc::kOk, OpenFileStream(path.c_str(), OpenRead, &file));
  if (!file) return "<no file>";
  std::unique_ptr<SeekableStream> picture;
  EXPECT_EQ(rc::kOk, reader->GetAlbumArt(file.get(), &picture));
  if (!picture) return "<none>";
  std::string bytes;
  char buffer[4096];
  uint32_t count = 0;
  while (picture->Read(buffer, sizeof(buffer), &count) == rc::kOk && count > 0)
    bytes.append(buffer, count);
  return Md5Hex(bytes);
}

}  // namespace

TEST(Mp3TagOracleTest, ReadsWhatTheToolsWrote) {
  std::map<std::string, std::vector<const Id3OracleCase*>> files;
  for (const Id3OracleCase& c : kId3OracleCases) files[c.path].push_back(&c);
  ASSERT_GE(files.size(), 7u);

  for (const auto& file : files) {
    const std::string& path = file.first;
    SCOPED_TRACE(path);
    std::unique_ptr<TagReader> reader;
    ASSERT_EQ(rc::kOk, TagReaderFactory(path, "", &reader));
    auto* mp3 = dynamic_cast<Mp3TagReader*>(reader.get());
    ASSERT_NE(nullptr, mp3);
    id3test::RecordingSink sink;
    EXPECT_EQ(rc::kOk, reader->ReadFile(path, &sink));
    const uint32_t audio_start = mp3->AudioStart();
    std::string rid;
    EXPECT_EQ(rc::kOk, reader->FingerprintFile(path, &rid));
    EXPECT_EQ(sink.Get("rid"), rid);

    for (const Id3OracleCase* c : file.second) {
      const std::string key = c->key;
      if (key == "@art") {
        EXPECT_EQ(c->value, AlbumArtMd5(reader.get(), path));
      } else if (key == "offset/tag") {
        EXPECT_EQ(c->value, std::to_string(audio_start));
      } else {
        EXPECT_EQ(c->value, sink.Get(key)) << key;
      }
    }
  }
}
