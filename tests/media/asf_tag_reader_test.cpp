#include "media/asf_tag_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/content_fingerprint.h"
#include "media/tag_reader_factory.h"
#include "support/md5.h"
#include "support/memory_stream.h"
#include "testlib/asf_builder.h"
#include "testlib/fake_metadata_editor.h"
#include "testlib/fault_injecting_stream.h"
#include "testlib/id3_builder.h"

namespace {

using asftest::BinaryAttribute;
using asftest::BoolAttribute;
using asftest::ContentDescription;
using asftest::DwordAttribute;
using asftest::ExtendedContentDescription;
using asftest::FileProperties;
using asftest::QwordAttribute;
using asftest::StringAttribute;
using asftest::WordAttribute;
using id3test::RecordingSink;

const std::string kAudio(300, '\x42');

struct Outcome {
  Result result = rc::kOk;
  RecordingSink sink;
};

Outcome ReadBytes(const std::string& bytes, const std::string& path = "C:\\Music\\My_Song.wma",
                  bool fingerprint = false, MetadataEditor* editor = nullptr) {
  AsfTagReader reader(path);
  reader.SetComputeFingerprint(fingerprint);
  reader.UseMetadataEditor(editor);
  MemoryStream stream(bytes);
  Outcome outcome;
  outcome.result = reader.Read(&stream, &outcome.sink);
  return outcome;
}

Outcome ReadAttributes(const std::vector<std::string>& descriptors) {
  return ReadBytes(asftest::File({ExtendedContentDescription(descriptors)}, kAudio));
}

std::string Hex(const uint8_t digest[kMd5DigestSize]) {
  std::string text;
  char pair[3];
  for (uint32_t i = 0; i < kMd5DigestSize; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", digest[i]);
    text += pair;
  }
  return text;
}

std::string Md5Hex(const std::string& bytes) {
  uint8_t digest[kMd5DigestSize];
  Md5Digest(digest, bytes.data(), static_cast<int32_t>(bytes.size()));
  return Hex(digest);
}

TEST(AsfTagReaderTest, DeliversTheHeaderInFileOrder) {
  const std::string file =
      asftest::File({FileProperties(5000, 30000000 + 20000000, 2000, 99000),
                     asftest::AudioStreamProperties(2, 44100, 16000),
                     ContentDescription("Caf\xC3\xA9", "The Artist", "(c)", "Nice", "PG"),
                     ExtendedContentDescription({StringAttribute("WM/AlbumTitle", "Album"),
                                                 StringAttribute("WM/Genre", "Jazz")})},
                    kAudio);
  const Outcome out = ReadBytes(file);
  EXPECT_EQ(rc::kOk, out.result);
  const std::vector<std::string> order = {"codec",   "duration", "bitrate", "samplerate",
                                          "bitrate", "title",    "artist",  "comment",
                                          "source",  "genre",    "offset"};
  EXPECT_EQ(order, out.sink.order);
  EXPECT_EQ("wma", out.sink.Get("codec"));
  EXPECT_EQ("3000", out.sink.Get("duration"));  // 5 s played, 2 s of it preroll
  EXPECT_EQ("44100", out.sink.Get("samplerate"));
  EXPECT_EQ("fs128", out.sink.Get("bitrate"));  // the stream's rate wins over the file's
  EXPECT_EQ("Caf\xC3\xA9", out.sink.Get("title"));
  EXPECT_EQ("The Artist", out.sink.Get("artist"));
  EXPECT_EQ("Nice", out.sink.Get("comment"));
  EXPECT_EQ("Album", out.sink.Get("source"));
  EXPECT_EQ("Jazz", out.sink.Get("genre"));
  EXPECT_EQ("0", out.sink.Get("offset"));
  EXPECT_FALSE(out.sink.Has("rid"));
}

TEST(AsfTagReaderTest, BitRateText) {
  const struct {
    uint16_t channels;
    uint32_t bytes_per_second;
    bool vbr;
    const char* text;
  } cases[] = {
      {2, 15950, false, "fs128"},  // 127600 bit/s rounds to the nearest kbit/s
      {2, 15937, false, "fs127"},  // 127496
      {1, 8000, false, "fm64"},
      {1, 8000, true, "vm64"},
      {6, 48000, false, "fs384"},           // anything but one channel counts as stereo
      {2, 0xFFFFFFFF, false, "fs4294967"},  // clamped, not wrapped
  };
  for (const auto& c : cases) {
    std::vector<std::string> attributes;
    if (c.vbr) attributes.push_back(BoolAttribute("IsVBR", true));
    const Outcome out = ReadBytes(
        asftest::File({asftest::AudioStreamProperties(c.channels, 44100, c.bytes_per_second),
                       ExtendedContentDescription(attributes)},
                      kAudio));
    EXPECT_EQ(c.text, out.sink.Get("bitrate")) << c.text;
  }
}

TEST(AsfTagReaderTest, BitRateFromTheFilePropertiesAlone) {
  const struct {
    uint64_t file_size;
    uint64_t duration_100ns;
    uint32_t max_bitrate;
    const char* duration;
    const char* text;
  } cases[] = {
      {160000, 100000000, 7, "9000", "fs128"},  // 160000 bytes over 10 s
      {160000, 0, 64000, "0", "fs64"},          // no duration: the maximum rate
      {~0ull, 10000, 0, "0", "fs4294967"},      // clamped, not wrapped
  };
  for (const auto& c : cases) {
    const Outcome out = ReadBytes(asftest::File(
        {FileProperties(c.file_size, c.duration_100ns, 1000, c.max_bitrate)}, kAudio));
    EXPECT_EQ(c.text, out.sink.Get("bitrate")) << c.text;
    EXPECT_EQ(c.duration, out.sink.Get("duration")) << c.text;
  }
}

TEST(AsfTagReaderTest, OnlyAudioStreamsCount) {
  std::string video = asftest::AudioStreamProperties(1, 8000, 1000);
  video[24] ^= 1;  // another stream type
  const Outcome out = ReadBytes(asftest::File({video}, kAudio));
  EXPECT_FALSE(out.sink.Has("samplerate"));
  EXPECT_FALSE(out.sink.Has("bitrate"));
}

TEST(AsfTagReaderTest, ContentKeyTableIgnoresCase) {
  const char* const rows[][2] = {
      {"WM/AlbumTitle", "source"},   {"wm/beatsperminute", "bpm"},
      {"WM/Conductor", "conductor"}, {"WM/ContentDistributor", "provider"},
      {"WM/COMPOSER", "composer"},   {"WM/Genre", "genre"},
      {"WM/Mood", "mood"},           {"WM/OriginalArtist", "originalartist"},
      {"WM/Track", "tracknr"},       {"WM/TrackNumber", "tracknr"},
      {"WM/Writer", "lyricist"},     {"WM/Year", "year"},
  };
  for (const auto& row : rows) EXPECT_STREQ(row[1], AsfContentKey(row[0])) << row[0];
  for (const char* other : {"WM/Album", "WM/TrackNumberX", "Title", ""})
    EXPECT_EQ(nullptr, AsfContentKey(other)) << other;
}

TEST(AsfTagReaderTest, TypedValues) {
  const Outcome out = ReadAttributes({
      StringAttribute("WM/Composer", "Bach \xE2\x99\xAA"),
      DwordAttribute("WM/BeatsPerMinute", 120),
      QwordAttribute("WM/Year", 1999),  // other types are not read
      WordAttribute("WM/Mood", 3),
      BinaryAttribute("WM/Genre", "Rock"),
      BoolAttribute("WM/Writer", true),
      StringAttribute("WM/Unknown", "x"),  // no key
      StringAttribute("WM/Conductor", ""),
  });
  EXPECT_EQ(rc::kOk, out.result);
  EXPECT_EQ("Bach \xE2\x99\xAA", out.sink.Get("composer"));
  EXPECT_EQ("120", out.sink.Get("bpm"));
  EXPECT_EQ("", out.sink.Get("conductor"));
  for (const char* key : {"year", "mood", "genre", "lyricist", "bitrate"})
    EXPECT_FALSE(out.sink.Has(key)) << key;
}

TEST(AsfTagReaderTest, IsVbrMarksTheBitRate) {
  const auto stream = asftest::AudioStreamProperties(2, 44100, 16000);
  const struct {
    std::string attribute;
    const char* text;
  } cases[] = {
      {BoolAttribute("IsVBR", true), "vs128"},
      {BoolAttribute("IsVBR", false), "fs128"},
      {BoolAttribute("isvbr", true), "fs128"},  // the name must match exactly
      {DwordAttribute("IsVBR", 1), "fs128"},
  };
  for (const auto& c : cases) {
    const Outcome out =
        ReadBytes(asftest::File({stream, ExtendedContentDescription({c.attribute})}, kAudio));
    EXPECT_EQ(c.text, out.sink.Get("bitrate")) << c.text;
  }
}

TEST(AsfTagReaderTest, TrackPrecedence) {
  const auto dword_track = DwordAttribute("WM/Track", 5);
  const auto dword_number = DwordAttribute("WM/TrackNumber", 9);
  const auto text_track = StringAttribute("WM/Track", "0x10");
  const auto text_number = StringAttribute("WM/TrackNumber", "7");
  const struct {
    std::vector<std::string> attributes;
    const char* track;
  } cases[] = {
      {{text_number, dword_track}, "7"},
      {{dword_track, text_number}, "7"},
      {{DwordAttribute("WM/Track", 0)}, "1"},  // counts from 0
      {{dword_track}, "6"},
      {{dword_track, dword_number}, "9"},
      {{dword_number, dword_track}, "9"},
      {{text_track}, "17"},  // 0x10 read in base 16, plus 1
      {{StringAttribute("WM/Track", "4")}, "5"},
      {{text_track, dword_number}, "17"},
      {{dword_number, text_track}, "17"},
      {{text_track, text_number}, "7"},
      {{text_number, text_track}, "7"},
      {{text_number, dword_number}, "7"},
  };
  for (const auto& c : cases) {
    const Outcome out = ReadAttributes(c.attributes);
    EXPECT_EQ(c.track, out.sink.Get("tracknr")) << c.track;
    EXPECT_EQ(c.track, out.sink.Get("file_id")) << c.track;
  }
}

// File names are in the ANSI code page (1252 here); the sink takes UTF-8.
TEST(AsfTagReaderTest, TitleFromTheFileNameIsUtf8) {
  const std::string path = "C:\\M\xFCsic\\Caf\xE9_Song.wma";
  for (const std::string& file :
       {asftest::File({}, kAudio), asftest::File({ContentDescription("", "Artist")}, kAudio),
        std::string("not an asf file")}) {
    const Outcome out = ReadBytes(file, path);
    EXPECT_EQ(rc::kOk, out.result);
    EXPECT_EQ("Caf\xC3\xA9 Song", out.sink.Get("title"));
  }
}

TEST(AsfTagReaderTest, NotAsfDeliversOnlyTheBasics) {
  const Outcome out = ReadBytes(std::string(1000, 'x'), "a/b.wma", true);
  EXPECT_EQ(rc::kOk, out.result);
  const std::vector<std::string> order = {"codec", "title", "offset", "rid"};
  EXPECT_EQ(order, out.sink.order);
  EXPECT_EQ(Md5Hex(std::string(1000, 'x')), out.sink.Get("rid"));
}

TEST(AsfTagReaderTest, FingerprintCoversTheDataObjectOn) {
  const std::string header = asftest::Header({ContentDescription("One", "A")});
  const std::string data = asftest::Data(std::string(70000, '\x17') + "end");
  MemoryStream whole(header + data);
  std::string expected;
  ASSERT_EQ(rc::kOk, ContentFingerprint(&whole, static_cast<uint32_t>(header.size()), whole.Size(),
                                        &expected));

  // Other tags, the same audio: the same fingerprint.
  const std::string retagged = asftest::Header({ContentDescription("Two", "Other artist")});
  for (const std::string& bytes : {header + data, retagged + data}) {
    const Outcome out = ReadBytes(bytes, "x.wma", true);
    EXPECT_EQ(expected, out.sink.Get("rid"));
    AsfTagReader reader("x.wma");
    MemoryStream stream(bytes);
    std::string fingerprint;
    EXPECT_EQ(rc::kOk, reader.Fingerprint(&stream, &fingerprint));
    EXPECT_EQ(expected, fingerprint);
  }
}

TEST(AsfTagReaderTest, OversizedObjectsAreRefused) {
  // 5 MB of File Properties: too large to read whole.
  const std::string big = FileProperties(1, 2, 3, 4) + std::string(5 * 1024 * 1024, '\0');
  std::string file = asftest::File({big}, kAudio);
  file.replace(30 + 16, 8, asftest::Le64(big.size()));
  const Outcome out = ReadBytes(file);
  EXPECT_EQ(rc::kOutOfMemory, out.result);
  EXPECT_FALSE(out.sink.Has("duration"));

  // An object the reader does not handle may be of any size.
  std::string padding =
      asftest::Object(MakeAsfGuid(1, 2, 3, 4, 5), std::string(5 * 1024 * 1024, '\0'));
  const Outcome skipped = ReadBytes(asftest::File({padding, ContentDescription("T", "")}, kAudio));
  EXPECT_EQ(rc::kOk, skipped.result);
  EXPECT_EQ("T", skipped.sink.Get("title"));
}

TEST(AsfTagReaderTest, FailingReadsAreReturned) {
  const std::string file = asftest::File({ContentDescription("T", "A")}, kAudio);
  for (int nth = 1; nth <= 3; ++nth) {
    MemoryStream memory(file);
    FaultInjectingStream stream(&memory);
    stream.FailRead(nth, rc::kTimeout);
    AsfTagReader reader("x.wma");
    reader.SetComputeFingerprint(false);
    RecordingSink sink;
    // The second read is an object head, whose failure only ends the walk.
    EXPECT_EQ(nth == 2 ? rc::kOk : rc::kTimeout, reader.Read(&stream, &sink)) << nth;
  }
}

// Lengths and counts inside an object are bounded by the object, not trusted.
TEST(AsfTagReaderTest, CountsAndLengthsBeyondTheObject) {
  {
    const Outcome out = ReadBytes(asftest::File(
        {ExtendedContentDescription(
            {StringAttribute("WM/Genre", "Pop"), StringAttribute("WM/Year", "1990")}, 0xFFFF)},
        kAudio));
    EXPECT_EQ("Pop", out.sink.Get("genre"));
    EXPECT_EQ("1990", out.sink.Get("year"));
  }
  {
    // The last descriptor's value runs past the object: dropped, the earlier ones stay.
    std::string last = StringAttribute("WM/Mood", "Calm");
    last.replace(last.size() - 10 - 2, 2, asftest::Le16(0x4000));
    const Outcome out = ReadAttributes({StringAttribute("WM/Genre", "Pop"), last});
    EXPECT_EQ("Pop", out.sink.Get("genre"));
    EXPECT_FALSE(out.sink.Has("mood"));
  }
  {
    std::string descriptor = StringAttribute("WM/Mood", "Calm");
    descriptor.replace(0, 2, asftest::Le16(0xFFFF));  // the name runs past the object
    const Outcome out = ReadAttributes({descriptor});
    EXPECT_EQ(rc::kOk, out.result);
    EXPECT_FALSE(out.sink.Has("mood"));
  }
  {
    // A double word of two bytes is not read beyond its value.
    const Outcome out =
        ReadAttributes({asftest::Descriptor("WM/BeatsPerMinute", asf::kDword, "\x01\x02")});
    EXPECT_FALSE(out.sink.Has("bpm"));
  }
  {
    // The author's length claims more than the object holds: what is there is taken.
    std::string description = ContentDescription("Title", "Author");
    description.replace(24 + 2, 2, asftest::Le16(0x7000));
    const Outcome out = ReadBytes(asftest::File({description}, kAudio));
    EXPECT_EQ("Title", out.sink.Get("title"));
    EXPECT_EQ("Author", out.sink.Get("artist"));
  }
  {
    // Objects too short for their fields are passed over.
    const Outcome out = ReadBytes(asftest::File(
        {asftest::Object(asf::kFileProperties, std::string(79, '\1')),
         asftest::Object(asf::kStreamProperties, asftest::GuidBytes(asf::kAudioMedia)),
         asftest::Object(asf::kContentDescription, std::string(9, '\0')),
         asftest::Object(asf::kExtendedContentDescription, "\x05")},
        kAudio));
    EXPECT_EQ(rc::kOk, out.result);
    const std::vector<std::string> order = {"codec", "title", "offset"};
    EXPECT_EQ(order, out.sink.order);
  }
}

TEST(AsfTagReaderTest, PrerollLongerThanThePlayIsNoDuration) {
  const Outcome out = ReadBytes(asftest::File({FileProperties(1000, 10000000, 3000, 0)}, kAudio));
  EXPECT_EQ("0", out.sink.Get("duration"));  // not 1000 - 3000 wrapped to 4 billion
}

class AsfProtectedTest : public ::testing::Test {
 protected:
  Outcome ReadProtected(bool fingerprint = true) {
    const std::string file = asftest::File(
        {asftest::ContentEncryption(), ContentDescription("Locked", "Someone")}, kAudio);
    return ReadBytes(file, "C:\\M\xFCsic\\locked.wma", fingerprint, &editor_);
  }
  FakeMetadataEditor editor_;
};

TEST_F(AsfProtectedTest, ContentIdentifierIsHashed) {
  editor_.AddString(L"Author", L"Someone");
  editor_.AddBinary(L"DRMHeader.CID", "content-id-42");
  const Outcome out = ReadProtected();
  EXPECT_EQ(rc::kOk, out.result);
  EXPECT_EQ("msasf", out.sink.Get("drm"));
  EXPECT_EQ(Md5Hex("content-id-42"), out.sink.Get("rid"));
  EXPECT_EQ(L"C:\\M\u00FCsic\\locked.wma", editor_.opened_path);
  EXPECT_EQ(1, editor_.closes);
  EXPECT_FALSE(editor_.is_open);
}

TEST_F(AsfProtectedTest, AttributesAreHashedWithoutAContentIdentifier) {
  editor_.AddString(L"WM/AlbumTitle", L"Alb\u00E9");
  editor_.AddString(L"Author", L"Someone");
  editor_.AddString(L"Title", L"Locked");
  editor_.AddQword(L"Duration", 0x123456789ABull);
  const Outcome out = ReadProtected();
  // The album title in the ANSI code page (1252): one byte 0xE9.
  EXPECT_EQ(Md5Hex("00000123456789ABAlb\xE9SomeoneLocked"), out.sink.Get("rid"));
  EXPECT_EQ(1, editor_.closes);
}

TEST_F(AsfProtectedTest, ThirtyTwoBitDurationIsWidened) {
  editor_.AddString(L"Author", L"A");
  editor_.AddString(L"Title", L"T");
  editor_.AddDword(L"Duration", 0xABCDEF);
  EXPECT_EQ(Md5Hex("0000000000ABCDEFAT"), ReadProtected().sink.Get("rid"));
}

TEST_F(AsfProtectedTest, NoRidWithoutUsableAttributes) {
  const struct {
    const char* what;
    bool author, title;
    int duration_kind;  // 0 none, 1 qword, 2 string
    Result open;
  } cases[] = {
      {"no author", false, true, 1, rc::kOk},
      {"no title", true, false, 1, rc::kOk},
      {"no duration", true, true, 0, rc::kOk},
      {"duration of another type", true, true, 2, rc::kOk},
      {"editor cannot open", true, true, 1, rc::kNotImplemented},
  };
  for (const auto& c : cases) {
    FakeMetadataEditor editor;
    if (c.author) editor.AddString(L"Author", L"A");
    if (c.title) editor.AddString(L"Title", L"T");
    if (c.duration_kind == 1) editor.AddQword(L"Duration", 5);
    if (c.duration_kind == 2) editor.AddString(L"Duration", L"5");
    editor.AddBinary(L"DRMHeader.KID", "not the content id");
    editor.open_result = c.open;
    const Outcome out =
        ReadBytes(asftest::File({asftest::ContentEncryption()}, kAudio), "x.wma", true, &editor);
    EXPECT_EQ(rc::kOk, out.result) << c.what;
    EXPECT_EQ("msasf", out.sink.Get("drm")) << c.what;
    EXPECT_FALSE(out.sink.Has("rid")) << c.what;
    EXPECT_EQ(1, editor.closes) << c.what;
  }
}

TEST_F(AsfProtectedTest, NoFingerprintNoEditor) {
  editor_.AddBinary(L"DRMHeader.CID", "id");
  const Outcome out = ReadProtected(false);
  EXPECT_FALSE(out.sink.Has("rid"));
  EXPECT_EQ(0, editor_.opens);
}

TEST(AsfTagReaderTest, EachReadStartsAfresh) {
  FakeMetadataEditor editor;
  editor.AddBinary(L"DRMHeader.CID", "id");
  AsfTagReader reader("x.wma");
  reader.UseMetadataEditor(&editor);
  const std::string first = asftest::File(
      {asftest::ContentEncryption(), ContentDescription("T", ""),
       asftest::AudioStreamProperties(1, 8000, 2000),
       ExtendedContentDescription({BoolAttribute("IsVBR", true),
                                   StringAttribute("WM/TrackNumber", "4")})},
      kAudio);
  const std::string second = asftest::File(
      {FileProperties(2000, 10000000, 0, 0),
       ExtendedContentDescription({DwordAttribute("WM/TrackNumber", 2)})},
      kAudio);
  for (const std::string* bytes : {&first, &second}) {
    MemoryStream stream(*bytes);
    RecordingSink sink;
    EXPECT_EQ(rc::kOk, reader.Read(&stream, &sink));
    if (bytes == &first) continue;
    EXPECT_EQ("fs16", sink.Get("bitrate"));  // not variable, not mono, from the file size
    EXPECT_EQ("2", sink.Get("tracknr"));
    EXPECT_EQ("x", sink.Get("title"));
    EXPECT_FALSE(sink.Has("drm"));
    EXPECT_NE(Md5Hex("id"), sink.Get("rid"));
  }
  EXPECT_EQ(1, editor.opens);
}

TEST(AsfTagReaderTest, FactoryCreatesTheReader) {
  for (const char* path : {"a.wma", "b.ASF"}) {
    std::unique_ptr<TagReader> reader;
    ASSERT_EQ(rc::kOk, TagReaderFactory(path, "", &reader));
    EXPECT_NE(nullptr, dynamic_cast<AsfTagReader*>(reader.get())) << path;
  }
}

// Every byte of a valid file flipped, and the file cut at every length: no crash, no hang,
// no over-read (which the memory stream would not allow anyway, but the buffers would).
TEST(AsfTagReaderTest, MutatedFilesAreSurvived) {
  const std::string file = asftest::File(
      {FileProperties(800, 50000000, 1000, 128000), asftest::AudioStreamProperties(2, 44100, 16000),
       ContentDescription("Title", "Artist", "", "Comment"),
       ExtendedContentDescription({StringAttribute("WM/AlbumTitle", "Album"),
                                   DwordAttribute("WM/TrackNumber", 3),
                                   StringAttribute("WM/Track", "2"), BoolAttribute("IsVBR", true)}),
       asftest::ContentEncryption()},
      kAudio);
  FakeMetadataEditor editor;
  size_t reads = 0;
  for (size_t i = 0; i < file.size(); ++i) {
    for (const uint8_t change : {0x00, 0xFF, 0x80, 0x01}) {
      std::string bytes = file;
      bytes[i] = static_cast<char>(change == 0x80 || change == 0x01 ? bytes[i] ^ change : change);
      const Outcome out = ReadBytes(bytes, "m.wma", true, &editor);
      EXPECT_TRUE(out.result == rc::kOk || out.result == rc::kOutOfMemory) << i;
      ++reads;
    }
    const Outcome cut = ReadBytes(file.substr(0, i), "m.wma", true, &editor);
    EXPECT_EQ(rc::kOk, cut.result) << i;
  }
  EXPECT_EQ(4 * file.size(), reads);
}

}  // namespace
