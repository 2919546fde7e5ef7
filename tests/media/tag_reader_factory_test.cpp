#include "media/tag_reader_factory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/memory_stream.h"
#include "testlib/id3_builder.h"
#include "testlib/temp_dir.h"

namespace {

// Records which row created it and what the base class hands to Read and Fingerprint.
class ProbeReader : public TagReader {
 public:
  ProbeReader(std::string path, std::string kind) : TagReader(std::move(path)), kind_(kind) {}

  Result Read(SeekableStream* stream, TagSink* sink) override {
    uint32_t size = 0;
    stream->GetSize(&size);
    sink->SetInt("size", size);
    return next_result;
  }
  Result Fingerprint(SeekableStream* stream, std::string* fingerprint) override {
    char byte = 0;
    uint32_t count = 0;
    stream->Read(&byte, 1, &count);
    *fingerprint = std::string(1, byte);
    return next_result;
  }

  const std::string& kind() const { return kind_; }
  Result next_result = rc::kOk;

 private:
  std::string kind_;
};

template <const char* kKind>
Result CreateProbe(const std::string& path, std::unique_ptr<TagReader>* reader) {
  reader->reset(new ProbeReader(path, kKind));
  return rc::kOk;
}

Result FailToCreate(const std::string&, std::unique_ptr<TagReader>*) { return rc::kOutOfMemory; }

constexpr char kMp3[] = "mp3 reader";
constexpr char kAsf[] = "asf reader";
constexpr char kFlac[] = "flac reader";

const TagReaderRow kTestTable[] = {
    {"mp2", CreateProbe<kMp3>}, {"mp3", CreateProbe<kMp3>},  {"asf", CreateProbe<kAsf>},
    {"wma", CreateProbe<kAsf>}, {"wav", FailToCreate},      {"fla", CreateProbe<kFlac>},
    {"flac", CreateProbe<kFlac>}, {nullptr, nullptr},
};

TEST(FileExtensionTest, TextBehindTheLastDotOfTheName) {
  struct Case {
    const char* path;
    const char* extension;
  };
  const Case cases[] = {
      {"C:\\Music\\song.mp3", "mp3"}, {"a.b.FLAC", "FLAC"}, {"song.", ""},
      {"C:\\music.dir\\track", ""},   {"/music.dir/track", ""}, {"track", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.extension, FileExtension(c.path)) << c.path;
}

TEST(TagReaderFactoryTest, ExtensionsMatchWithoutCaseAndWithEqualLength) {
  struct Case {
    const char* path;
    const char* extension;
    Result result;
    const char* kind;
  };
  const Case cases[] = {
      {"x.MP3", "", rc::kOk, kMp3},
      {"x.Mp2", "", rc::kOk, kMp3},
      {"x.FLAC", "", rc::kOk, kFlac},
      {"x.fla", "", rc::kOk, kFlac},
      {"x.wma", "", rc::kOk, kAsf},
      {"x.mp", "", rc::kNoTagHandler, nullptr},
      {"x.flacc", "", rc::kNoTagHandler, nullptr},
      {"x.ogg", "", rc::kNoTagHandler, nullptr},
      {"C:\\music.dir\\track", "", rc::kNoTagHandler, nullptr},
      {"C:\\music.dir\\track", "mp3", rc::kOk, kMp3},
      {"x.mp3", "wma", rc::kOk, kAsf},  // a given extension wins over the path's
      {"x.wav", "", rc::kOutOfMemory, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.path << " / " << c.extension);
    std::unique_ptr<TagReader> reader;
    EXPECT_EQ(c.result, TagReaderFactory(kTestTable, c.path, c.extension, &reader));
    if (c.kind == nullptr) {
      EXPECT_EQ(nullptr, reader);
      continue;
    }
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(c.kind, static_cast<ProbeReader*>(reader.get())->kind());
    EXPECT_EQ(c.path, reader->Path());
    EXPECT_TRUE(reader->ComputesFingerprint());
  }
}

TEST(TagReaderFactoryTest, TheLibraryTableKnowsOnlyTheReadersExtensions) {
  const char* const known[] = {"mp2", "mp3", "asf", "wma", "wav", "ogg", "fla", "flac"};
  size_t next = 0;
  for (const TagReaderRow* row = TagReaderTable(); row->extension != nullptr; ++row) {
    while (next < 8 && std::strcmp(known[next], row->extension) != 0) ++next;
    ASSERT_LT(next, 8u) << row->extension << " is unknown or out of order";
    ASSERT_NE(nullptr, row->create);
  }
  std::unique_ptr<TagReader> reader;
  EXPECT_EQ(rc::kNoTagHandler, TagReaderFactory("song.txt", "", &reader));
  EXPECT_EQ(rc::kNoTagHandler, TagReaderFactory("C:\\music.dir\\track", "", &reader));
  EXPECT_EQ(nullptr, reader);
}

TEST(TagReaderTest, ReadFileAndFingerprintFileOpenTheFile) {
  TempDir dir;
  const std::string path = dir.WriteFile("a.mp3", "Zyx");
  ProbeReader reader(path, kMp3);
  id3test::RecordingSink sink;
  EXPECT_EQ(rc::kOk, reader.ReadFile(path, &sink));
  EXPECT_EQ("3", sink.Get("size"));
  std::string fingerprint;
  EXPECT_EQ(rc::kOk, reader.FingerprintFile(path, &fingerprint));
  EXPECT_EQ("Z", fingerprint);

  reader.next_result = rc::kBadData;
  EXPECT_EQ(rc::kBadData, reader.ReadFile(path, &sink));
  EXPECT_EQ(rc::kBadData, reader.FingerprintFile(path, &fingerprint));
}

TEST(TagReaderTest, AFileThatCannotBeOpenedGivesTheOpenError) {
  TempDir dir;
  ProbeReader reader(dir.File("missing.mp3"), kMp3);
  id3test::RecordingSink sink;
  const Result read = reader.ReadFile(dir.File("missing.mp3"), &sink);
  EXPECT_TRUE(rc::Failed(read));
  EXPECT_TRUE(sink.order.empty());
  std::string fingerprint = "unset";
  EXPECT_EQ(read, reader.FingerprintFile(dir.File("missing.mp3"), &fingerprint));
  EXPECT_EQ("unset", fingerprint);
}

TEST(TagReaderTest, NoAlbumArtByDefault) {
  ProbeReader reader("x.mp3", kMp3);
  std::unique_ptr<SeekableStream> picture(new MemoryStream("old"));
  EXPECT_EQ(rc::kOk, reader.GetAlbumArt(nullptr, &picture));
  EXPECT_EQ(nullptr, picture);
}

}  // namespace
