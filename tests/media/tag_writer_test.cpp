// Hand-made files through the tag writers: the ID3 rewrite rules, the WAV chunk copy, the WMA
// attribute table, the factory, and failures that must leave the original as it was. Files
// made by the encoders are rewritten in the tag writer oracle.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "media/id3_tag_writer.h"
#include "media/mp3_tag_reader.h"
#include "media/ogg_tag_writer.h"
#include "media/flac_tag_writer.h"
#include "media/tag_writer_factory.h"
#include "media/wav_tag_writer.h"
#include "media/wma_tag_writer.h"
#include "testlib/fake_metadata_editor.h"
#include "testlib/id3_builder.h"
#include "testlib/temp_dir.h"

namespace {

using namespace id3test;

std::string Le32(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                     static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

std::string WriteTags(const std::string& path,
                      const std::vector<std::pair<std::string, std::string>>& values,
                      Result* result) {
  std::unique_ptr<TagWriter> writer;
  EXPECT_EQ(rc::kOk, TagWriterFactory(path, "", &writer));
  for (const auto& v : values) writer->SetProperty(v.first.c_str(), v.second.c_str());
  *result = writer->Write();
  return TempDir::ReadFile(path);
}

RecordingSink ReadMp3(const std::string& path) {
  Mp3TagReader reader(path);
  RecordingSink sink;
  reader.ReadFile(path, &sink);
  return sink;
}

TEST(Id3TagWriter, InPlaceWhenTheFramesFitElseThroughTheSibling) {
  TempDir dir;
  const std::string audio = Audio(20);
  const std::string old_tag = Tag(3, Frame23("TIT2", Text(0, "Old")), 0, 4096);
  const std::string path = dir.WriteFile("a.mp3", old_tag + audio);
  Result result = 1;
  std::string bytes = WriteTags(path, {{"title", std::string(290, 't')}}, &result);
  ASSERT_EQ(rc::kOk, result);
  EXPECT_EQ(old_tag.size() + audio.size(), bytes.size());  // tag size kept
  EXPECT_EQ(audio, bytes.substr(old_tag.size()));
  EXPECT_EQ(std::string(290, 't'), ReadMp3(path).Get("title"));

  bytes = WriteTags(path, {{"title", std::string(5000, 'u')}}, &result);
  ASSERT_EQ(rc::kOk, result);
  EXPECT_EQ(10u + 11u + 5000u + 512u + audio.size(), bytes.size());
  EXPECT_EQ(audio, bytes.substr(bytes.size() - audio.size()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".new").c_str()));
}

// A new upload's tag grows in place: no sibling is made (one that cannot be made stands for a
// drive without room for a second copy) and the audio, longer than one copy block, moves
// behind the new tag unchanged.
TEST(Id3TagWriter, PermittedGrowthMovesTheAudioInsideTheFile) {
  TempDir dir;
  const std::string audio = Audio(400);
  const struct {
    const char* what;
    std::string old_tag;
  } cases[] = {
      {"no tag", ""},
      {"a full 2.4 tag", Tag(4, Frame24("TIT2", Text(0, "Old")) + Frame24("TPE1", Text(0, "A")))},
  };
  for (const auto& c : cases) {
    const std::string path = dir.WriteFile("a.mp3", c.old_tag + audio);
    ASSERT_NE(0, CreateDirectoryA((path + ".new").c_str(), nullptr));
    std::unique_ptr<TagWriter> writer;
    ASSERT_EQ(rc::kOk, TagWriterFactory(path, "", &writer));
    writer->SetProperty("title", std::string(3000, 'g').c_str());
    writer->PermitGrowthInPlace();
    EXPECT_EQ(rc::kOk, writer->Write()) << c.what;
    RemoveDirectoryA((path + ".new").c_str());
    const std::string bytes = TempDir::ReadFile(path);
    ASSERT_GT(bytes.size(), audio.size()) << c.what;
    EXPECT_EQ(audio, bytes.substr(bytes.size() - audio.size())) << c.what;
    EXPECT_EQ(std::string(3000, 'g'), ReadMp3(path).Get("title")) << c.what;
    if (!c.old_tag.empty()) {
      EXPECT_EQ("A", ReadMp3(path).Get("artist")) << c.what;
    }
  }
}

// A new upload's FLAC comments that fit the padding are written in the file itself: no
// sibling, no copy.
TEST(FlacTagWriter, PermittedGrowthEditsCommentsThatFitInTheFile) {
  TempDir dir;
  // STREAMINFO (4096-sample blocks, 44.1 kHz, 2 channels, 16 bits) and 1 KiB of padding.
  const std::string stream_info("\x10\x00\x10\x00\0\0\0\0\0\0\x0a\xc4\x42\xf0\0\0\0\0", 18);
  const std::string flac = std::string("fLaC\x00\x00\x00\x22", 8) + stream_info +
                           std::string(16, '\0') + std::string("\x81\x00\x04\x00", 4) +
                           std::string(1024, '\0') + "frames";
  const std::string path = dir.WriteFile("a.flac", flac);
  for (const char* sibling : {".new", ".new.tmp"}) {
    ASSERT_NE(0, CreateDirectoryA((path + sibling).c_str(), nullptr));
  }
  std::unique_ptr<TagWriter> writer;
  ASSERT_EQ(rc::kOk, TagWriterFactory(path, "", &writer));
  writer->SetProperty("title", "Grown");
  writer->PermitGrowthInPlace();
  EXPECT_EQ(rc::kOk, writer->Write());
  for (const char* sibling : {".new", ".new.tmp"}) RemoveDirectoryA((path + sibling).c_str());
  const std::string bytes = TempDir::ReadFile(path);
  EXPECT_EQ(flac.size(), bytes.size());
  EXPECT_NE(std::string::npos, bytes.find("title=Grown"));
  EXPECT_EQ("frames", bytes.substr(bytes.size() - 6));
}

// Frames of the old tag behind the new ones: 2.3 frames as they are, 2.2 and 2.4 frames in
// their 2.3 form; what 2.3 cannot hold, or what asks to go when the tag changes, goes.
TEST(Id3TagWriter, KeepsOldFramesInTheir23Form) {
  const std::string latin_desc = std::string("\0d\xE9sc\0", 6);
  const std::string wide_cafe = std::string("\x01\xFF\xFE" "C\0\xE9\0\x16\x04", 9);
  const std::string picture = std::string("\xFF\xD8\xFF\xE0\0\x01", 6);
  struct Case {
    const char* what;
    std::string tag;
    std::string kept;     // frames expected byte for byte in the new tag, or empty
    std::string dropped;  // a frame id that must be gone
  } cases[] = {
      {"2.3 frames byte for byte", Tag(3, Frame23("TXXX", Text(0, std::string("d\0v", 3))) +
                                              Frame23("APIC", std::string(40, 'p'))),
       Frame23("TXXX", Text(0, std::string("d\0v", 3))) + Frame23("APIC", std::string(40, 'p')),
       ""},
      {"2.3 frame that asks to go", Tag(3, Frame23("TCOM", Text(0, "c"), 0x8000)), "", "TCOM"},
      {"2.3 compressed and encrypted frames as stored",
       Tag(3, Frame23("TPE1", BigEndian(99, 4) + "zz", 0x0080) +
                  Frame23("PRIV", std::string("\x81zz", 3), 0x2040)),
       Frame23("TPE1", BigEndian(99, 4) + "zz", 0x0080) +
           Frame23("PRIV", std::string("\x81zz", 3), 0x2040),
       ""},
      {"2.4 UTF-8 text re-encoded", Tag(4, Frame24("TCOM", Text(3, "C\xC3\xA9"))),
       Frame23("TCOM", Text(0, "C\xE9")), ""},
      {"2.4 values joined", Tag(4, Frame24("TPE2", Text(3, std::string("A\0B\0", 4)))),
       Frame23("TPE2", Text(0, "A/B")), ""},
      {"2.4 bare genre number", Tag(4, Frame24("TCON", Text(0, std::string("17\0Pop", 6)))),
       Frame23("TCON", Text(0, "(17)Pop")), ""},
      {"2.4 recording time", Tag(4, Frame24("TDRC", Text(3, "2001-05-03T10:20"))),
       Frame23("TYER", Text(0, "2001")) + Frame23("TDAT", Text(0, "0305")) +
           Frame23("TIME", Text(0, "1020")),
       "TDRC"},
      {"2.4 release time as a user text", Tag(4, Frame24("TDRL", Text(0, "2002"))),
       Frame23("TXXX", Text(0, std::string("TDRL\0" "2002", 9))), ""},
      {"2.4 user text in UTF-8",
       Tag(4, Frame24("TXXX", Text(3, std::string("d\xC3\xA9sc\0v", 7)))),
       Frame23("TXXX", latin_desc + "v"), ""},
      {"2.4 lyrics beyond Latin-1",
       Tag(4, Frame24("USLT", std::string("\x03" "eng", 4) + std::string("\0C\xC3\xA9\xD0\x96", 6))),
       Frame23("USLT", std::string("\x01" "eng\0\0", 6) + wide_cafe.substr(1)), ""},
      {"2.4 picture", Tag(4, Frame24("APIC", std::string("\x03image/png\0\x03" "d\xC3\xA9sc\0", 18) + picture)),
       Frame23("APIC", std::string("\0image/png\0\x03", 12) + latin_desc.substr(1) + picture),
       ""},
      {"2.4 frames without text", Tag(4, Frame24("POPM", std::string("a@b\0\xC4\0\x0C", 7)) +
                                             Frame24("PRIV", std::string("o\0\xFF", 3))),
       Frame23("POPM", std::string("a@b\0\xC4\0\x0C", 7)) + Frame23("PRIV", std::string("o\0\xFF", 3)),
       ""},
      {"2.4 flags", Tag(4, Frame24("TCOM", Text(0, "c"), 0x4000) + Frame24("TPE2", Text(0, "e"), 0x3000)),
       Frame23("TPE2", Text(0, "e"), 0x6000), "TCOM"},
      // Group byte, method and sync-safe data length in front in 2.4; size, method, group in 2.3.
      {"2.4 compressed and encrypted frames as stored",
       Tag(4, Frame24("TPE1", SyncSafe(300) + "zz", 0x0009) +
                  Frame24("PRIV", std::string("\x05\x81", 2) + SyncSafe(2) + "zz", 0x1045)),
       Frame23("TPE1", BigEndian(300, 4) + "zz", 0x0080) +
           Frame23("PRIV", std::string("\x81\x05zz", 4), 0x2060),
       ""},
      {"2.4 compressed frame without its length", Tag(4, Frame24("TPE2", "zzzz", 0x0008)), "",
       "TPE2"},
      {"2.4 volume frame has no 2.3 form", Tag(4, Frame24("RVA2", std::string("x\0\x01\0\0\0", 6))),
       "", "RVA2"},
      {"2.4 unsynchronised frame",
       Tag(4, Frame24("PRIV", std::string("o\0\xFF\0\xE0", 5), 0x0002)),
       Frame23("PRIV", std::string("o\0\xFF\xE0", 4)), ""},
      {"2.2 text mapped", Tag(2, Frame22("TCM", Text(0, "Comp"))), Frame23("TCOM", Text(0, "Comp")),
       ""},
      {"2.2 picture", Tag(2, Frame22("PIC", std::string("\0JPG\x03\0", 6) + picture)),
       Frame23("APIC", std::string("\0image/jpeg\0\x03\0", 14) + picture), ""},
      {"2.2 frame of unknown layout", Tag(2, Frame22("XYZ", Text(0, "x"))), "", "TXXX"},
      // 2.2 names a genre as 2.3 does; 2.4 references stay references, and only a parenthesis
      // that opens plain text is doubled.
      {"2.2 genre reference", Tag(2, Frame22("TCO", Text(0, "(13)"))),
       Frame23("TCON", Text(0, "(13)")), ""},
      {"2.4 genre reference with its name", Tag(4, Frame24("TCON", Text(0, "(17)Rock"))),
       Frame23("TCON", Text(0, "(17)Rock")), ""},
      {"2.4 genre in parentheses", Tag(4, Frame24("TCON", Text(3, "(Live) Jazz"))),
       Frame23("TCON", Text(0, "((Live) Jazz")), ""},
      {"2.2 date and time",
       Tag(2, Frame22("TYE", Text(0, "1995")) + Frame22("TDA", Text(0, "0605")) +
                  Frame22("TIM", Text(0, "1230"))),
       Frame23("TYER", Text(0, "1995")) + Frame23("TDAT", Text(0, "0605")) +
           Frame23("TIME", Text(0, "1230")),
       ""},
      // 2.2 has one value a frame: what follows the terminator is no text.
      {"2.2 text ends at its terminator",
       Tag(2, Frame22("TCM", Text(0, std::string("Comp\0junk", 9)))),
       Frame23("TCOM", Text(0, "Comp")), "junk"},
      {"2.2 user text ends at its terminator",
       Tag(2, Frame22("TXX", Text(0, std::string("d\0v\0junk", 8)))),
       Frame23("TXXX", Text(0, std::string("d\0v", 3))), "junk"},
      {"2.4 values still joined", Tag(4, Frame24("TXXX", Text(0, std::string("d\0a\0b", 5)))),
       Frame23("TXXX", Text(0, std::string("d\0a/b", 5))), ""},
      // Sealed or not, frames 2.3 cannot hold go.
      {"2.4 compressed volume frame", Tag(4, Frame24("RVA2", SyncSafe(6) + "zzzz", 0x0009)), "",
       "RVA2"},
      {"2.4 encrypted seek frame", Tag(4, Frame24("SEEK", "\x81zzzz", 0x0004)), "", "SEEK"},
      {"frames behind an empty frame",
       Tag(3, Frame23("TPE2", "") + Frame23("TCOM", Text(0, "c")), 0, 20),
       Frame23("TCOM", Text(0, "c")), "TPE2"},
      {"2.4 sizes stored as plain numbers",
       Tag(4, "TCOM" + BigEndian(201, 4) + std::string(2, '\0') + Text(0, std::string(200, 'c')) +
                  Frame24("TPE2", Text(0, "e"))),
       Frame23("TCOM", Text(0, std::string(200, 'c'))) + Frame23("TPE2", Text(0, "e")), ""},
      // The frame's body is FF E0, stored as FF 00 E0 behind a 10-byte extended header.
      {"unsynchronised 2.3 tag with extended header",
       Tag(3, std::string("\0\0\0\x06\0\0\0\0\0\0", 10) + "TCOM" + Le32(0x03000000) +
                  std::string("\0\0\0\xFF\0\xE0", 6),
           0xC0),
       Frame23("TCOM", Text(0, "\xFF\xE0")), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.WriteFile("a.mp3", c.tag + Audio(5));
    Result result = 1;
    const std::string bytes = WriteTags(path, {{"title", "New"}}, &result);
    ASSERT_EQ(rc::kOk, result);
    ASSERT_EQ("ID3\x03", bytes.substr(0, 4));
    const std::string frames = bytes.substr(10, bytes.find(Audio(1).substr(0, 4)) - 10);
    EXPECT_EQ(0u, frames.find(Frame23("TIT2", Text(0, "New"))));
    if (!c.kept.empty()) {
      EXPECT_NE(std::string::npos, frames.find(c.kept));
    }
    if (!c.dropped.empty()) {
      EXPECT_EQ(std::string::npos, frames.find(c.dropped));
    }
    EXPECT_EQ(Audio(5), bytes.substr(bytes.size() - Audio(5).size()));
  }
}

// Genres of 2.2 and 2.4 tags read the same after an edit of another field.
TEST(Id3TagWriter, ConvertedGenresReadAsBefore) {
  const std::string tags[] = {Tag(2, Frame22("TCO", Text(0, "(13)"))),
                              Tag(2, Frame22("TCO", Text(0, "(17)Rock"))),
                              Tag(4, Frame24("TCON", Text(0, "(17)Rock"))),
                              Tag(4, Frame24("TCON", Text(0, "13"))),
                              Tag(4, Frame24("TCON", Text(0, "Jazz"))),
                              Tag(4, Frame24("TCON", Text(0, "(Live) Jazz")))};
  for (const std::string& tag : tags) {
    TempDir dir;
    const std::string path = dir.WriteFile("a.mp3", tag + Audio(5));
    const std::string before = ReadMp3(path).Get("genre");
    Result result = 1;
    WriteTags(path, {{"title", "New"}}, &result);
    ASSERT_EQ(rc::kOk, result);
    EXPECT_EQ(before, ReadMp3(path).Get("genre")) << before;
  }
}

// Setting the comment replaces the comment readers show (the first COMM frame without a
// description), in any tag version; comments of other applications stay.
TEST(Id3TagWriter, TheCommentReplacesOnlyTheCommentWithoutADescription) {
  const std::string itunes = std::string("\0engiTunNORM\0", 13) + " 00000A2B";
  const std::string old = std::string("\0eng\0", 5) + "Old";
  const std::string other = std::string("\0deu\0", 5) + "Zweite";
  const std::string wide_old = std::string("\x01" "eng\xFF\xFE\0\0\xFF\xFEO\0", 12);
  const struct {
    const char* what;
    std::string tag;
  } cases[] = {
      {"2.3", Tag(3, Frame23("COMM", itunes) + Frame23("COMM", old) + Frame23("COMM", other))},
      {"2.3 mark-only description",
       Tag(3, Frame23("COMM", itunes) + Frame23("COMM", wide_old) + Frame23("COMM", other))},
      {"2.4", Tag(4, Frame24("COMM", itunes) + Frame24("COMM", old) + Frame24("COMM", other))},
      {"2.2", Tag(2, Frame22("COM", itunes) + Frame22("COM", old) + Frame22("COM", other))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.WriteFile("a.mp3", c.tag + Audio(5));
    Result result = 1;
    std::string bytes = WriteTags(path, {{"comment", "New"}}, &result);
    ASSERT_EQ(rc::kOk, result);
    EXPECT_EQ("New", ReadMp3(path).Get("comment"));
    EXPECT_NE(std::string::npos, bytes.find(Frame23("COMM", itunes)));
    EXPECT_NE(std::string::npos, bytes.find(Frame23("COMM", other)));
    EXPECT_EQ(std::string::npos, bytes.find("Old"));
    EXPECT_EQ(std::string::npos, bytes.find(std::string("O\0", 2) + std::string(2, '\0')));
    // Any other edit keeps every comment.
    bytes = WriteTags(path, {{"title", "T"}}, &result);
    ASSERT_EQ(rc::kOk, result);
    EXPECT_EQ("New", ReadMp3(path).Get("comment"));
    EXPECT_NE(std::string::npos, bytes.find(Frame23("COMM", itunes)));
    EXPECT_NE(std::string::npos, bytes.find(Frame23("COMM", other)));
  }
}

TEST(Id3TagWriter, ALaterValueForAKeyReplacesTheEarlier) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("a.mp3", Tag(4, Frame24("TDRC", Text(0, "2001")), 0, 200) + Audio(5));
  Result result = 1;
  const std::string bytes = WriteTags(path,
                                      {{"title", "One"}, {"year", "1999"}, {"title", "Two"},
                                       {"artist", "A"}, {"artist", ""}},
                                      &result);
  ASSERT_EQ(rc::kOk, result);
  EXPECT_EQ(std::string::npos, bytes.find("One"));
  EXPECT_NE(std::string::npos, bytes.find(Frame23("TIT2", Text(0, "Two"))));
  EXPECT_EQ(std::string::npos, bytes.find("TPE1"));
  // The old recording time would become a second year frame: the new year replaces it.
  EXPECT_NE(std::string::npos, bytes.find(Frame23("TYER", Text(0, "1999"))));
  EXPECT_EQ(std::string::npos, bytes.find("2001"));
  EXPECT_EQ("Two", ReadMp3(path).Get("title"));
}

TEST(Id3TagWriter, DamagedTagSizesAreNotRewritten) {
  TempDir dir;
  std::string tag = Tag(3, Frame23("TIT2", Text(0, "Old")), 0, 100);
  std::string beyond = tag;
  beyond[6] = 0x7F;  // sync-safe but far beyond the file
  std::string not_sync_safe = tag;
  not_sync_safe[9] = static_cast<char>(0xFF);
  for (const std::string& bad : {beyond, not_sync_safe}) {
    const std::string original = bad + Audio(5);
    const std::string path = dir.WriteFile("bad.mp3", original);
    Result result = 0;
    EXPECT_EQ(original, WriteTags(path, {{"title", "x"}}, &result));
    EXPECT_EQ(rc::kBadData, result);
  }
}

TEST(Id3TagWriter, FramesAndTheId3v1Trailer) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("a.mp3", Audio(5) + Id3v1("old", "old", "old", "1990", "c", 3, 1));
  Result result = 1;
  const std::string bytes = WriteTags(
      path, {{"title", "Caf\xC3\xA9"}, {"artist", "\xD0\x96"}, {"year", "0"}, {"tracknr", "12"},
             {"comment", "long comment text that is cut"}, {"genre", "jazz"}, {"mood", ""}},
      &result);
  ASSERT_EQ(rc::kOk, result);
  EXPECT_NE(std::string::npos, bytes.find(Frame23("TIT2", Text(0, "Caf\xE9"))));
  EXPECT_NE(std::string::npos, bytes.find(Frame23("TPE1", std::string("\x01\xFF\xFE\x16\x04", 5))));
  EXPECT_EQ(std::string::npos, bytes.find("TYER"));
  EXPECT_EQ(std::string::npos, bytes.find("TMOO"));
  EXPECT_NE(std::string::npos,
            bytes.find(Frame23("COMM", std::string("\0XXX\0", 5) + "long comment text that is cut")));
  const std::string v1 = bytes.substr(bytes.size() - 128);
  EXPECT_EQ(std::string("Caf\xE9", 4) + std::string(26, '\0'), v1.substr(3, 30));
  EXPECT_EQ("long comment text that is c", v1.substr(97, 27));  // 28 bytes: a v1.1 trailer
  EXPECT_EQ(0, v1[125]);
  EXPECT_EQ(12, v1[126]);
  EXPECT_EQ(8, v1[127]);  // Jazz
  EXPECT_EQ(std::string("0\0\0\0", 4), v1.substr(93, 4));  // the v1 field takes "0" as text
}

std::string Wave(const std::string& chunks) {
  return "RIFF" + Le32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
}

std::string Chunk(const std::string& id, const std::string& body) {
  return id + Le32(static_cast<uint32_t>(body.size())) + body + std::string(body.size() % 2, '\0');
}

TEST(WavTagWriter, ReplacesOnlyTheInfoList) {
  TempDir dir;
  const std::string fmt = Chunk("fmt ", std::string(16, 'f'));
  const std::string odd = Chunk("odd ", "abc");
  const std::string adtl = Chunk("LIST", "adtl" + Chunk("labl", "cue"));
  const std::string data = Chunk("data", std::string(101, 'd'));
  // Entries given no value stay (the copyright, an unknown one); those given one go, ffmpeg's
  // track entry with the track number.
  const std::string copyright = Chunk("ICOP", std::string("(c)", 3));
  const std::string unknown = Chunk("IXYZ", std::string("x\0", 2));
  const std::string path = dir.WriteFile(
      "a.wav", Wave(fmt + Chunk("LIST", "INFO" + Chunk("INAM", "old") + copyright) + odd +
                    adtl + data + Chunk("LIST", "INFO" + Chunk("IPRT", "9") + unknown)));
  Result result = 1;
  const std::string bytes =
      WriteTags(path, {{"genre", "Rock"}, {"year", "0"}, {"tracknr", "3"}, {"title", ""}},
                &result);
  ASSERT_EQ(rc::kOk, result);
  const std::string entries = "IGNR" + Le32(6) + std::string("Rock\0\0", 6) + "itrk" + Le32(2) +
                              std::string("3\0", 2) + "ITRK" + Le32(2) + std::string("3\0", 2) +
                              copyright + unknown;
  const std::string info = "LIST" + Le32(static_cast<uint32_t>(4 + entries.size())) + "INFO" + entries;
  EXPECT_EQ(Wave(fmt + odd + adtl + data + info), bytes);
}

// Each INFO list is walked on its own: an unpadded or damaged last entry of one costs no
// entry of another.
TEST(WavTagWriter, EachInfoListIsWalkedOnItsOwn) {
  const std::string fmt = Chunk("fmt ", std::string(16, 'f'));
  const std::string data = Chunk("data", std::string(10, 'd'));
  const std::string engineer = "IENG" + Le32(4) + std::string("Eng\0", 4);
  const std::string software = "ISFT" + Le32(4) + std::string("Sft\0", 4);
  const std::string copyright = "ICOP" + Le32(3) + "(c)";  // its pad byte missing in the list
  const struct {
    const char* what;
    std::string first_list;
    std::string kept;
  } cases[] = {
      {"unpadded last entry", "INFO" + copyright, copyright + '\0' + engineer + software},
      {"damaged last entry", "INFO" + engineer + "IXYZ" + Le32(500) + "ab",
       engineer + engineer + software},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.WriteFile(
        "a.wav", Wave(fmt + Chunk("LIST", c.first_list) + data +
                      Chunk("LIST", "INFO" + engineer + software)));
    Result result = 1;
    const std::string bytes = WriteTags(path, {{"title", "T"}}, &result);
    ASSERT_EQ(rc::kOk, result);
    const std::string entries = "INAM" + Le32(2) + std::string("T\0", 2) + c.kept;
    EXPECT_EQ(Wave(fmt + data + "LIST" + Le32(static_cast<uint32_t>(4 + entries.size())) +
                   "INFO" + entries),
              bytes);
  }
}

TEST(WavTagWriter, BrokenFilesFailAndStayAsTheyWere) {
  TempDir dir;
  const std::string fmt = Chunk("fmt ", std::string(16, 'f'));
  std::string short_riff = Wave(fmt + Chunk("data", std::string(20, 'd')));
  short_riff[4] = static_cast<char>(short_riff[4] - 9);
  // A streamed RIFF size, and an INFO list claiming about 2 GiB the file does not hold.
  const std::string huge_info = "RIFF" + Le32(0xFFFFFFFFu) + "WAVE" + fmt + "LIST" +
                                Le32(0x7FFFFFF0u) + "INFO" + Chunk("INAM", "old");
  const struct {
    std::string bytes;
    Result result;
  } cases[] = {{short_riff, rc::kNoTagHandler},
               {"RIFF" + Le32(4) + "AVI ", rc::kNoTagHandler},
               {huge_info, rc::kNoTagHandler},
               {"RIF", rc::kShortTransfer}};
  for (const auto& c : cases) {
    const std::string path = dir.WriteFile("b.wav", c.bytes);
    Result result = 0;
    EXPECT_EQ(c.bytes, WriteTags(path, {{"title", "x"}}, &result));
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".new").c_str()));
  }
}

// Another handle that shares no delete access keeps the file from being replaced: the rename
// at the end fails, and the original must be as it was.
TEST(TagWriters, AFailedReplaceLeavesTheOriginal) {
  TempDir dir;
  const std::string wav = Wave(Chunk("fmt ", std::string(16, 'f')) + Chunk("data", "dd"));
  const std::string mp3 = Tag(3, Frame23("TIT2", Text(0, "Old"))) + Audio(5);
  for (const auto& file : {std::make_pair(std::string("a.wav"), wav),
                           std::make_pair(std::string("a.mp3"), mp3)}) {
    const std::string path = dir.WriteFile(file.first, file.second);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Result result = 0;
    const std::string bytes = WriteTags(path, {{"title", std::string(3000, 'x')}}, &result);
    CloseHandle(held);
    EXPECT_LT(result, 0) << file.first;
    EXPECT_EQ(file.second, bytes) << file.first;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".new").c_str()));
  }
}

TEST(TagWriters, ASiblingThatCannotBeMadeLeavesTheOriginal) {
  TempDir dir;
  const std::string wav = Wave(Chunk("fmt ", std::string(16, 'f')) + Chunk("data", "dd"));
  for (const char* name : {"a.wav", "a.ogg", "a.flac"}) {
    const std::string path = dir.WriteFile(name, wav);
    ASSERT_NE(0, CreateDirectoryA((path + ".new").c_str(), nullptr));
    Result result = 0;
    EXPECT_EQ(wav, WriteTags(path, {{"title", "x"}}, &result));
    EXPECT_LT(result, 0) << name;
    RemoveDirectoryA((path + ".new").c_str());
  }
}

TEST(OggAndFlacWriters, RefuseFilesOfAnotherKind) {
  TempDir dir;
  const std::string junk(10000, 'j');
  for (const char* name : {"x.ogg", "x.flac"}) {
    const std::string path = dir.WriteFile(name, junk);
    Result result = 0;
    EXPECT_EQ(junk, WriteTags(path, {{"title", "x"}}, &result));
    EXPECT_EQ(rc::kNoTagHandler, result) << name;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path + ".new").c_str()));
  }
}

TEST(WmaTagWriter, AttributesThroughTheEditor) {
  FakeMetadataEditor editor;
  WmaTagWriter writer("C:\\m\\a.wma");
  writer.UseMetadataEditor(&editor);
  writer.SetProperty("tracknr", "7");
  writer.SetProperty("TITLE", "T\xC3\xA9");
  writer.SetProperty("rid", "x");
  ASSERT_EQ(rc::kOk, writer.Write());
  EXPECT_EQ(L"C:\\m\\a.wma", editor.opened_path);
  ASSERT_EQ(3u, editor.set_attributes.size());
  EXPECT_EQ(L"Title", editor.set_attributes[0].name);
  EXPECT_EQ(std::string("T\0\xE9\0\0\0", 6), editor.set_attributes[0].value);
  EXPECT_EQ(L"WM/Track", editor.set_attributes[1].name);
  EXPECT_EQ(MetadataType::kDword, editor.set_attributes[1].type);
  EXPECT_EQ(std::string("\x06\0\0\0", 4), editor.set_attributes[1].value);
  EXPECT_EQ(L"WM/TrackNumber", editor.set_attributes[2].name);
  EXPECT_EQ(1, editor.flushes);
  EXPECT_EQ(1, editor.closes);

  for (const char* none : {"", "0"}) {
    FakeMetadataEditor empty;
    WmaTagWriter track(std::string("a.wma"));
    track.UseMetadataEditor(&empty);
    track.SetProperty("tracknr", none);
    ASSERT_EQ(rc::kOk, track.Write());
    EXPECT_TRUE(empty.set_attributes.empty()) << none;
  }

  FakeMetadataEditor busy;
  busy.open_result = static_cast<Result>(0xC00D0018);
  WmaTagWriter locked("a.wma");
  locked.UseMetadataEditor(&busy);
  EXPECT_EQ(static_cast<Result>(0x8004100D), locked.Write());
  FakeMetadataEditor refusing;
  refusing.set_result = rc::kFail;
  WmaTagWriter failing("a.wma");
  failing.UseMetadataEditor(&refusing);
  failing.SetProperty("title", "x");
  EXPECT_EQ(rc::kFail, failing.Write());
  EXPECT_EQ(0, refusing.flushes);
  EXPECT_EQ(1, refusing.closes);
}

TEST(TagWriterFactory, ByExtension) {
  std::unique_ptr<TagWriter> writer;
  EXPECT_EQ(rc::kOk, TagWriterFactory("a.FLAC", "", &writer));
  EXPECT_NE(nullptr, dynamic_cast<FlacTagWriter*>(writer.get()));
  EXPECT_EQ(rc::kOk, TagWriterFactory("a.mp3", "wav", &writer));
  EXPECT_NE(nullptr, dynamic_cast<WavTagWriter*>(writer.get()));
  EXPECT_EQ(rc::kOk, TagWriterFactory("a.mp2", "", &writer));
  EXPECT_NE(nullptr, dynamic_cast<Id3TagWriter*>(writer.get()));
  EXPECT_EQ(rc::kNoTagHandler, TagWriterFactory("a.mpeg", "", &writer));
}

}  // namespace
