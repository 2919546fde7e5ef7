#include "media/mp3_tag_reader.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "media/mpeg_audio.h"
#include "media/tag_reader_factory.h"
#include "support/md5.h"
#include "support/memory_stream.h"
#include "support/stream_io.h"
#include "testlib/fault_injecting_stream.h"
#include "testlib/id3_builder.h"
#include "testlib/temp_dir.h"

using namespace id3test;

namespace {

const char kPath[] = "C:\\music\\My_Song.mp3";

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

std::string Picture(size_t size) {
  std::string bytes = "\xFF\xD8\xFF\xE0";
  for (size_t i = bytes.size(); i < size; ++i) bytes.push_back(static_cast<char>(i * 7));
  return bytes;
}

std::string ApicBody(const std::string& picture, const std::string& description = "cover") {
  return std::string("\0image/jpeg\0\x03", 13) + description + std::string(1, '\0') + picture;
}

struct Mp3File {
  std::string tag, audio, trailer;
  std::string Bytes() const { return tag + audio + trailer; }
};

// A 2.3 tag with most kinds of frame, ten audio frames, Lyrics3 and ID3v1.
Mp3File RichFile() {
  const std::string frames =
      Frame23("TIT2", Text(0, "Title")) +
      Frame23("TPE1", Text(1, std::string("\xFF\xFEM\0\xE9\0", 6))) +
      Frame23("TALB", Text(2, std::string("\0A\0l\0b", 6))) + Frame23("TYER", Text(0, "2001")) +
      Frame23("COMM", std::string("\x01"
                                  "eng\xFF\xFE\0\0\xFF\xFE"
                                  "c\0\xE9\0",
                                  14)) +
      Frame23("TCON", Text(0, "(17)Rock")) + Frame23("TRCK", Text(0, "5/12")) +
      Frame23("TXXX", Text(0, std::string("k\0v", 3))) + Frame23("APIC", ApicBody(Picture(300)));
  return {Tag(3, frames, 0, 100), Audio(10),
          Lyrics3("LYR00005hello") + Id3v1("v1 title", "v1 artist", "", "1999", "", 9, 2)};
}

RecordingSink ReadBytes(const std::string& bytes, Result* result = nullptr,
                        const char* path = kPath, bool tags_only = false) {
  MemoryStream stream(bytes);
  Mp3TagReader reader(path);
  reader.SetTagsOnly(tags_only);
  RecordingSink sink;
  const Result r = reader.Read(&stream, &sink);
  if (result != nullptr) *result = r;
  return sink;
}

std::string ReadAll(SeekableStream* stream) {
  std::string bytes;
  char buffer[100];
  uint32_t count = 0;
  while (stream->Read(buffer, sizeof(buffer), &count) == rc::kOk && count > 0)
    bytes.append(buffer, count);
  return bytes;
}

std::string AlbumArt(const std::string& bytes) {
  MemoryStream stream(bytes);
  Mp3TagReader reader(kPath);
  std::unique_ptr<SeekableStream> picture;
  EXPECT_EQ(rc::kOk, reader.GetAlbumArt(&stream, &picture));
  return picture ? ReadAll(picture.get()) : "<none>";
}

// Fails every read that begins at one position.
class FailingAtStream : public MemoryStream {
 public:
  FailingAtStream(std::string bytes, uint32_t position)
      : MemoryStream(std::move(bytes)), position_(position) {}
  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    uint32_t at = 0;
    GetPosition(&at);
    if (at == position_) {
      *count = 0;
      return rc::kFail;
    }
    return MemoryStream::Read(buffer, length, count);
  }

 private:
  uint32_t position_;
};

}  // namespace

TEST(Mp3TagReaderTest, ReadsEveryPart) {
  const Mp3File file = RichFile();
  Result result = rc::kFail;
  RecordingSink sink = ReadBytes(file.Bytes(), &result);
  EXPECT_EQ(rc::kOk, result);
  const uint32_t lyrics_size = static_cast<uint32_t>(file.trailer.size() - 128 - 15);
  const std::map<std::string, std::string> want = {
      {"codec", "mp3"},
      {"offset", std::to_string(file.tag.size())},
      {"trailer", std::to_string(128 + lyrics_size)},
      {"title", "Title"},
      {"artist", "M\xC3\xA9"},
      {"source", "Alb"},
      {"year", "2001"},
      {"comment", "c\xC3\xA9"},  // UTF-16 comment converted like any text frame
      {"genre", "Rock"},
      {"tracknr", "5/12"},
      {"file_id", "5/12"},
      {"options", "4096"},
      // The trailer leaves the Lyrics3 size field and end marker with the audio.
      {"rid", Md5Hex(file.audio + file.trailer.substr(0, 15))},
      {"bitrate", "fs128"},
      {"samplerate", "44100"},
      {"duration", std::to_string((file.audio.size() + file.trailer.size()) * 8 / 128)},
      {"copyright", "no"},
      {"copy", "no"},  // the frames are marked original
  };
  for (const auto& w : want) EXPECT_EQ(w.second, sink.Get(w.first)) << w.first;
  const std::vector<std::string> head(sink.order.begin(), sink.order.begin() + 3);
  EXPECT_EQ((std::vector<std::string>{"codec", "offset", "trailer"}), head);
}

TEST(Mp3TagReaderTest, TitleFallsBackToId3v1ThenTheFileName) {
  const std::string audio = Audio(3);
  const struct {
    const char* what;
    std::string bytes;
    const char* path;
    const char* title;
  } cases[] = {
      {"both", Tag(3, Frame23("TIT2", Text(0, "Tag"))) + audio + Id3v1("v1"), kPath, "Tag"},
      {"v1 only", audio + Id3v1("v1"), kPath, "v1"},
      {"empty TIT2", Tag(3, Frame23("TIT2", Text(0, ""))) + audio + Id3v1("v1"), kPath, "v1"},
      {"none", audio, kPath, "My Song"},
      {"ANSI file name", audio, "C:\\m\\Caf\xE9_Song.mp3", "Caf\xC3\xA9 Song"},
      {"2.2", Tag(2, Frame22("TT2", Text(0, "Old"))) + audio, kPath, "Old"},
      {"2.4 UTF-8", Tag(4, Frame24("TIT2", Text(3, "N\xC3\xA9w"))) + audio, kPath, "N\xC3\xA9w"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.title, ReadBytes(c.bytes, nullptr, c.path).Get("title")) << c.what;
}

TEST(Mp3TagReaderTest, Id3v24YearAndGenreFallback) {
  const std::string tag =
      Tag(4, Frame24("TDRC", Text(0, "2004-05-06")) + Frame24("TCON", Text(0, "(200)")));
  RecordingSink sink = ReadBytes(tag + Audio(3) + Id3v1("", "", "", "1999", "", 200, 200));
  EXPECT_EQ("2004", sink.Get("year"));
  EXPECT_EQ("<none>", sink.Get("genre"));  // neither (200) nor genre byte 200 names one
  EXPECT_EQ("200", sink.Get("tracknr"));
}

// 2.4 may name a genre by its bare number; 2.3 only in parentheses.
TEST(Mp3TagReaderTest, BareGenreNumbers) {
  const struct {
    uint8_t major;
    const char* genre;
    const char* expected;
  } cases[] = {{4, "17", "Rock"}, {4, "(17)", "Rock"}, {4, "Synth", "Synth"},
               {4, "999", "<none>"}, {3, "17", "17"}, {3, "(17)", "Rock"},
               {3, "((Live) Jazz", "(Live) Jazz"}};
  for (const auto& c : cases) {
    const std::string frame = c.major == 4 ? Frame24("TCON", Text(0, c.genre))
                                           : Frame23("TCON", Text(0, c.genre));
    EXPECT_EQ(c.expected, ReadBytes(Tag(c.major, frame) + Audio(3)).Get("genre"))
        << int{c.major} << " " << c.genre;
  }
}

TEST(Mp3TagReaderTest, TagsOnlyLeavesTheEndAndTheAudioAlone) {
  const Mp3File file = RichFile();
  Result result = rc::kFail;
  RecordingSink sink = ReadBytes(file.Bytes(), &result, kPath, true);
  EXPECT_EQ(rc::kOk, result);
  EXPECT_EQ("0", sink.Get("trailer"));
  EXPECT_EQ("Title", sink.Get("title"));
  EXPECT_FALSE(sink.Has("bitrate"));
  EXPECT_EQ(Md5Hex(file.audio + file.trailer), sink.Get("rid"));
}

TEST(Mp3TagReaderTest, FingerprintIgnoresTheTags) {
  const Mp3File file = RichFile();
  const std::string other = Tag(4, Frame24("TIT2", Text(0, "Other"))) + file.audio +
                            file.trailer.substr(0, 15) + Id3v1("other");
  std::string first, second;
  MemoryStream a(file.Bytes()), b(other);
  Mp3TagReader reader(kPath);
  EXPECT_EQ(rc::kOk, reader.Fingerprint(&a, &first));
  EXPECT_EQ(rc::kOk, reader.Fingerprint(&b, &second));
  EXPECT_EQ(first, second);
  EXPECT_EQ(ReadBytes(file.Bytes()).Get("rid"), first);

  Mp3TagReader off(kPath);
  off.SetComputeFingerprint(false);
  RecordingSink sink;
  MemoryStream c(file.Bytes());
  off.Read(&c, &sink);
  EXPECT_FALSE(sink.Has("rid"));
}

TEST(Mp3TagReaderTest, TagSizeBeyondTheFileIsBoundedByIt) {
  std::string bytes = Tag(3, Frame23("TIT2", Text(0, "Title"))) + Audio(2) + Id3v1("v1");
  bytes.replace(6, 4, std::string("\x7F\x7F\x7F\x7F", 4));
  Result result = rc::kOk;
  RecordingSink sink = ReadBytes(bytes, &result);
  EXPECT_EQ("Title", sink.Get("title"));
  EXPECT_EQ(std::to_string(bytes.size()), sink.Get("offset"));
  EXPECT_EQ(Md5Hex(""), sink.Get("rid"));  // no audio between the tags
  EXPECT_EQ(rc::kNoAudioFrame, result);

  MemoryStream stream(bytes);
  Mp3TagReader reader(kPath);
  std::string rid;
  EXPECT_EQ(rc::kOk, reader.Fingerprint(&stream, &rid));
  EXPECT_EQ(Md5Hex(""), rid);
}

TEST(Mp3TagReaderTest, FingerprintFailureEndsRead) {
  const Mp3File file = RichFile();
  FailingAtStream stream(file.Bytes(), static_cast<uint32_t>(file.tag.size()));
  Mp3TagReader reader(kPath);
  RecordingSink sink;
  EXPECT_EQ(rc::kFail, reader.Read(&stream, &sink));
  EXPECT_EQ("Title", sink.Get("title"));
  EXPECT_FALSE(sink.Has("rid"));
  EXPECT_FALSE(sink.Has("bitrate"));
}

TEST(Mp3TagReaderTest, AlbumArtIsExactlyThePicture) {
  const std::string picture = Picture(5000);
  const std::string audio = Audio(2);
  const std::string unsynchronised = [&] {
    std::string out;
    for (char c : ApicBody(picture)) {
      out.push_back(c);
      if (static_cast<uint8_t>(c) == 0xFF) out.push_back('\0');
    }
    return out;
  }();
  const struct {
    const char* what;
    std::string bytes;
    std::string art;
  } cases[] = {
      {"2.3", RichFile().Bytes(), Picture(300)},
      {"last of two",
       Tag(3, Frame23("APIC", ApicBody("first")) + Frame23("APIC", ApicBody(picture))) + audio,
       picture},
      {"long description",
       Tag(3, Frame23("APIC", ApicBody(picture, std::string(6000, 'd')))) + audio, picture},
      {"2.2", Tag(2, Frame22("PIC", std::string("\0JPG\x03\0", 6) + picture)) + audio, picture},
      {"2.4 unsynchronised", Tag(4, Frame24("APIC", unsynchronised, 0x0002)) + audio, picture},
      {"no picture", Tag(3, Frame23("TIT2", Text(0, "t"))) + audio, "<none>"},
      {"no tag", audio, "<none>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.art, AlbumArt(c.bytes)) << c.what;
    EXPECT_EQ(c.art == "<none>" ? "<none>" : "4096", ReadBytes(c.bytes).Get("options")) << c.what;
  }
}

TEST(Mp3TagReaderTest, ReadsFilesThroughTheFactory) {
  TempDir dir;
  const std::string path = dir.WriteFile("Caf\xE9_Song.MP3", Audio(3));
  std::unique_ptr<TagReader> reader;
  ASSERT_EQ(rc::kOk, TagReaderFactory(path, "", &reader));
  ASSERT_NE(nullptr, dynamic_cast<Mp3TagReader*>(reader.get()));
  RecordingSink sink;
  EXPECT_EQ(rc::kOk, reader->ReadFile(path, &sink));
  EXPECT_EQ("Caf\xC3\xA9 Song", sink.Get("title"));
  EXPECT_EQ("fs128", sink.Get("bitrate"));
  ASSERT_EQ(rc::kOk, TagReaderFactory("x", "mp2", &reader));
  EXPECT_NE(nullptr, dynamic_cast<Mp3TagReader*>(reader.get()));
}

// Damaged files must end with a result, never a crash, a hang or a read past the data.
TEST(Mp3TagReaderTest, SurvivesMutatedFiles) {
  const std::string valid = RichFile().Bytes();
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  for (int round = 0; round < 400; ++round) {
    std::string bytes = valid;
    if (round % 5 == 4) {
      bytes.resize(next(static_cast<uint32_t>(bytes.size())));
    } else {
      for (int flips = 1 + next(4); flips > 0; --flips) {
        // Mostly in the tags, where the parsing is.
        const uint32_t where = next(3) == 0   ? next(static_cast<uint32_t>(bytes.size()))
                               : next(2) == 0 ? next(400)
                                              : static_cast<uint32_t>(bytes.size()) - 1 - next(200);
        bytes[where] = static_cast<char>(next(3) == 0 ? 0xFF : next(256));
      }
    }
    SCOPED_TRACE(round);
    Result result = rc::kOk;
    ReadBytes(bytes, &result);
    EXPECT_LE(result, rc::kOk);
    MemoryStream stream(bytes);
    Mp3TagReader reader(kPath);
    std::string rid;
    EXPECT_EQ(rc::kOk, reader.Fingerprint(&stream, &rid));
    EXPECT_EQ(32u, rid.size());
    AlbumArt(bytes);
  }
}

TEST(Mp3TagReaderTest, SurvivesFailingReads) {
  const std::string valid = RichFile().Bytes();
  int nth = 1;
  for (;; ++nth) {
    SCOPED_TRACE(nth);
    MemoryStream base(valid);
    FaultInjectingStream stream(&base);
    stream.FailRead(nth, rc::kFail);
    Mp3TagReader reader(kPath);
    RecordingSink sink;
    const Result result = reader.Read(&stream, &sink);
    EXPECT_LE(result, rc::kOk);
    EXPECT_EQ("mp3", sink.Get("codec"));
    if (stream.reads() < nth) break;  // the fault never fired: every read was tried
  }
  EXPECT_GT(nth, 5);
}

// The comment is the COMM frame without a description; those with one (a player's volume
// data, disc ids) stand in only when no frame lacks one.
TEST(Mp3TagReaderTest, CommentIsTheFrameWithoutADescription) {
  const std::string itunes = std::string("\0engiTunNORM\0", 13) + " 00000A2B 00000B3C";
  const std::string plain = std::string("\0eng\0", 5) + "Plain";
  const std::string second = std::string("\0deu\0", 5) + "Zweite";
  // UTF-16 with an empty description written as a byte-order mark alone.
  const std::string wide_plain = std::string("\x01" "eng\xFF\xFE\0\0\xFF\xFEW\0", 12);
  const struct {
    const char* what;
    uint8_t major;
    std::vector<std::string> bodies;
    std::string v1_comment;
    const char* expected;
  } cases[] = {
      {"described one first", 3, {itunes, plain}, "", "Plain"},
      {"first of those without", 3, {plain, second}, "", "Plain"},
      {"only described ones", 3, {itunes}, "", " 00000A2B 00000B3C"},
      {"described one before ID3v1", 3, {itunes}, "v1", " 00000A2B 00000B3C"},
      {"mark-only description", 3, {itunes, wide_plain}, "", "W"},
      {"2.4", 4, {itunes, plain}, "", "Plain"},
      {"2.2", 2, {itunes, plain}, "", "Plain"},
  };
  for (const auto& c : cases) {
    std::string frames;
    for (const std::string& body : c.bodies) {
      frames += c.major == 2   ? Frame22("COM", body)
                : c.major == 3 ? Frame23("COMM", body)
                               : Frame24("COMM", body);
    }
    const std::string trailer = c.v1_comment.empty() ? "" : Id3v1("", "", "", "", c.v1_comment);
    EXPECT_EQ(c.expected, ReadBytes(Tag(c.major, frames) + Audio(3) + trailer).Get("comment"))
        << c.what;
  }
}
