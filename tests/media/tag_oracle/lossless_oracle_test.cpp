// FLAC, Ogg Vorbis and WAV files made by flac, oggenc, vorbiscomment, ffmpeg and mutagen, read
// by our readers and compared with what mutagen, exiftool and the formats' own layout say
// (tests/oracle/lossless_fixtures.py).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lossless_cases.inc"
#include "media/tag_reader_factory.h"
#include "media/tag_writer_factory.h"
#include "support/file_stream.h"
#include "support/memory_stream.h"
#include "testlib/id3_builder.h"
#include "testlib/temp_dir.h"

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

namespace {

std::string ReadBytes(const std::string& path) {
  std::unique_ptr<FileStream> file;
  std::string bytes;
  if (OpenFileStream(path.c_str(), OpenRead, &file) != rc::kOk) return bytes;
  char buffer[65536];
  uint32_t count = 0;
  while (file->Read(buffer, sizeof(buffer), &count) >= 0 && count > 0) bytes.append(buffer, count);
  return bytes;
}

// Damaged copies of every fixture, each read from memory: any result, but an end.
TEST(LosslessOracleTest, MutatedFilesEndCleanly) {
  std::map<std::string, bool> seen;
  uint32_t state = 16;
  auto next = [&state](uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return n == 0 ? 0 : (state >> 8) % n;
  };
  for (const LosslessCase& c : kLosslessCases) {
    if (seen[c.path]) continue;
    seen[c.path] = true;
    const std::string original = ReadBytes(c.path);
    ASSERT_FALSE(original.empty()) << c.path;
    for (int i = 0; i < 60; ++i) {
      std::string bytes = original;
      // Damage where the metadata lives: the first 8 KiB, sometimes cut the file short.
      const uint32_t window = std::min<uint32_t>(8192, static_cast<uint32_t>(bytes.size()));
      for (int k = 0, n = 1 + next(12); k < n; ++k) bytes[next(window)] = static_cast<char>(next(256));
      if (i % 4 == 0) bytes.resize(next(static_cast<uint32_t>(bytes.size())));
      MemoryStream memory(bytes);
      std::unique_ptr<TagReader> reader;
      ASSERT_EQ(rc::kOk, TagReaderFactory(c.path, "", &reader));
      id3test::RecordingSink sink;
      reader->Read(&memory, &sink);
      std::string rid;
      reader->Fingerprint(&memory, &rid);
    }
  }
}

}  // namespace

namespace {

// The FLAC and Ogg writers on encoder-made files whose replace step fails (another handle
// holds the file without delete sharing): the original stays byte for byte, no sibling stays.
TEST(LosslessOracleTest, WritersThatCannotReplaceKeepTheOriginal) {
  TempDir dir;
  int tried = 0;
  for (const LosslessCase& c : kLosslessCases) {
    const std::string source = c.path;
    const bool wanted = source.size() > 11 && (source.substr(source.size() - 11) == "tagged.flac" ||
                                               source.substr(source.size() - 10) == "tagged.ogg");
    if (!wanted || std::string(c.key) != "=result") continue;
    const std::string original = ReadBytes(source);
    const std::string path = dir.WriteFile(source.substr(source.rfind('\\') + 1), original);
    // A long value makes the metadata outgrow its room, so the whole file is rewritten.
    std::unique_ptr<TagWriter> writer;
    ASSERT_EQ(rc::kOk, TagWriterFactory(path, "", &writer));
    writer->SetProperty("title", std::string(20000, 't').c_str());
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_LT(writer->Write(), 0) << path;
    CloseHandle(held);
    EXPECT_EQ(original, TempDir::ReadFile(path)) << path;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".new").c_str())) << path;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".new.tmp").c_str())) << path;
    // Once nothing holds it, the same writer succeeds.
    EXPECT_EQ(rc::kOk, writer->Write()) << path;
    ++tried;
  }
  EXPECT_GE(tried, 2);
}

}  // namespace
