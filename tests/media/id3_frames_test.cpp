#include "media/id3_frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "media/id3_text.h"
#include "support/memory_stream.h"
#include "testlib/id3_builder.h"

using namespace id3test;

namespace {

// Every 0xFF gets a 0x00 behind it, which is what undoing it removes again.
std::string Unsynchronise(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    out.push_back(c);
    if (static_cast<uint8_t>(c) == 0xFF) out.push_back('\0');
  }
  return out;
}

struct SeenFrame {
  std::string id;
  std::string body;  // as ReadId3FrameBody gives it
  bool in_file;
  bool operator==(const SeenFrame& o) const {
    return id == o.id && body == o.body && in_file == o.in_file;
  }
};

std::ostream& operator<<(std::ostream& os, const SeenFrame& f) {
  return os << f.id << "[" << f.body.size() << "]" << (f.in_file ? "" : " copy");
}

class FrameRecorder : public Id3FrameVisitor {
 public:
  void OnFrame(SeekableStream* stream, const Id3Frame& frame) override {
    SeenFrame seen{frame.id, "", frame.in_file};
    EXPECT_EQ(rc::kOk, ReadId3FrameBody(stream, frame, &seen.body));
    frames.push_back(seen);
  }
  std::vector<SeenFrame> frames;
};

// Walks the tag at the front of `file`.
std::vector<SeenFrame> Walk(const std::string& file) {
  MemoryStream stream(file);
  Id3v2Header header;
  EXPECT_EQ(rc::kOk, ReadId3v2Header(&stream, &header));
  FrameRecorder recorder;
  WalkId3v2Frames(&stream, header, stream.Size(), &recorder);
  return recorder.frames;
}

const std::string kTitle = Text(0, "Title");
const std::string kArtist = Text(0, "Artist");
const std::string kNoFlags(2, '\0');

}  // namespace

TEST(Id3FrameTableTest, RowsAndHandlers) {
  int counts[4] = {};
  std::set<std::string> ids, ids22;
  int rows = 0;
  for (const Id3FrameInfo* row = kId3FrameTable; row->id[0] != '\0'; ++row, ++rows) {
    ++counts[static_cast<int>(row->handler)];
    EXPECT_EQ(4u, std::strlen(row->id));
    EXPECT_TRUE(ids.insert(row->id).second) << row->id;
    if (row->id22[0] != '\0') {
      EXPECT_EQ(3u, std::strlen(row->id22)) << row->id;
      EXPECT_TRUE(ids22.insert(row->id22).second) << row->id22;
    }
    EXPECT_NE('\0', row->name[0]) << row->id;
  }
  EXPECT_EQ(kId3FrameTableRows, rows);
  EXPECT_EQ(39, counts[static_cast<int>(Id3Handler::kSkip)]);
  EXPECT_EQ(51, counts[static_cast<int>(Id3Handler::kText)]);
  EXPECT_EQ(1, counts[static_cast<int>(Id3Handler::kComment)]);
  EXPECT_EQ(1, counts[static_cast<int>(Id3Handler::kPicture)]);
  EXPECT_STREQ("TRCK", FindId3Frame22("TRK")->id);
  EXPECT_STREQ("APIC", FindId3Frame22("PIC")->id);
  EXPECT_STREQ("Attached picture", FindId3Frame("APIC")->name);
  // 2.2's date and time become 2.3's, as its other text frames do.
  const struct {
    const char* id22;
    const char* id;
  } dates[] = {{"TDA", "TDAT"}, {"TIM", "TIME"}};
  for (const auto& date : dates) {
    const Id3FrameInfo* row = FindId3Frame22(date.id22);
    ASSERT_NE(nullptr, row) << date.id22;
    EXPECT_STREQ(date.id, row->id);
  }
  EXPECT_EQ(nullptr, FindId3Frame("XYZW"));
}

TEST(Id3v2HeaderTest, Probe) {
  Id3v2Header header;
  MemoryStream short_file(std::string("ID3\x03\0\0\0\0\0", 9));
  EXPECT_EQ(rc::kId3v2Short, ReadId3v2Header(&short_file, &header));
  MemoryStream no_tag(Audio(1));
  EXPECT_EQ(rc::kId3v2Missing, ReadId3v2Header(&no_tag, &header));

  MemoryStream v5(std::string("ID3\x05\0\0\0\0\x01\x00", 10));
  EXPECT_EQ(rc::kId3v2Version, ReadId3v2Header(&v5, &header));
  EXPECT_EQ(5, header.major);
  EXPECT_EQ(138u, header.AudioStart());

  // Bit 7 of the size bytes is not masked.
  MemoryStream damaged(std::string("ID3\x03\0\0\xFF\xFF\xFF\xFF", 10));
  EXPECT_EQ(rc::kOk, ReadId3v2Header(&damaged, &header));
  EXPECT_EQ(((255u * 128 + 255) * 128 + 255) * 128 + 255, header.size);
}

TEST(Id3v2WalkTest, FramesOfEachVersion) {
  const std::vector<SeenFrame> two = {{"TIT2", kTitle, true}, {"TPE1", kArtist, true}};
  EXPECT_EQ(two, Walk(Tag(3, Frame23("TIT2", kTitle) + Frame23("TPE1", kArtist), 0, 64)));
  EXPECT_EQ(two, Walk(Tag(4, Frame24("TIT2", kTitle) + Frame24("TPE1", kArtist))));
  EXPECT_EQ(two, Walk(Tag(2, Frame22("TT2", kTitle) + Frame22("TP1", kArtist), 0, 10)));
  // An unknown 2.2 id becomes the skipped user-defined text frame; the walk goes on.
  const std::vector<SeenFrame> unknown = {{"TXXX", "abc", true}, {"TIT2", kTitle, true}};
  EXPECT_EQ(unknown, Walk(Tag(2, Frame22("XYZ", "abc") + Frame22("TT2", kTitle))));
}

TEST(Id3v2WalkTest, DamagedSizesEndTheWalk) {
  const std::vector<SeenFrame> first = {{"TIT2", kTitle, true}};
  // A frame that reaches past the tag.
  std::string file = Tag(3, Frame23("TIT2", kTitle) + Frame23("TPE1", kArtist), 0, 0);
  file[10 + 10 + kTitle.size() + 7] = static_cast<char>(kArtist.size() + 1);
  EXPECT_EQ(first, Walk(file + Audio(2)));
  // 0xFFFFFFFF must neither wrap past the bound nor be allocated.
  EXPECT_EQ(first, Walk(Tag(3, Frame23("TIT2", kTitle) + "TPE1" + BigEndian(0xFFFFFFFF, 4) + kNoFlags)));
  // Past the tag end in 32-bit arithmetic only after wrapping to a small position.
  EXPECT_EQ(first, Walk(Tag(3, Frame23("TIT2", kTitle) + "TPE1" + BigEndian(0xFFFFFFF0, 4) + kNoFlags +
                                   std::string(32, 'x'))));
  // A 2.4 size byte with bit 7 set.
  EXPECT_EQ(first, Walk(Tag(4, Frame24("TIT2", kTitle) + "TPE1" + std::string("\0\0\0\x80", 4) +
                                   kNoFlags + std::string(200, 'x'))));
  // A tag size beyond the file: frames inside the file are read, the walk stops at its end.
  std::string beyond = Tag(3, Frame23("TIT2", kTitle) + Frame23("TPE1", kArtist));
  beyond.replace(6, 4, SyncSafe(0x0FFFFFFF));
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", kTitle, true}, {"TPE1", kArtist, true}}),
            Walk(beyond));
  beyond.resize(beyond.size() - 1);  // the last frame now reaches past the file
  EXPECT_EQ(first, Walk(beyond));
}

TEST(Id3v2WalkTest, UnsynchronisationOnlyWhereFlagged) {
  const std::string body = Text(0, std::string("a\xFF\xE0z", 4));
  const std::string stored = Unsynchronise(body);
  ASSERT_NE(body, stored);

  // 2.3 and 2.2: the tag flag covers the frame headers as well.
  // A body of 255 bytes puts 0xFF into the frame header's size.
  const std::string long_body = Text(0, std::string(254, 'y'));
  std::string frames23 = Frame23("TIT2", body) + Frame23("TPE1", long_body);
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", body, false}, {"TPE1", long_body, false}}),
            Walk(Tag(3, Unsynchronise(frames23), 0x80)));
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", body, false}}),
            Walk(Tag(2, Unsynchronise(Frame22("TT2", body)), 0x80)));
  // Unflagged, a 0xFF 0x00 pair is data.
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", stored, true}}),
            Walk(Tag(3, Frame23("TIT2", stored))));
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", stored, true}}),
            Walk(Tag(4, Frame24("TIT2", stored))));

  // 2.4: per frame, with or without a data-length indicator; the tag flag means every frame.
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", body, true}}),
            Walk(Tag(4, Frame24("TIT2", stored, 0x0002))));
  EXPECT_EQ(
      (std::vector<SeenFrame>{{"TIT2", body, true}}),
      Walk(Tag(4, Frame24("TIT2", SyncSafe(static_cast<uint32_t>(body.size())) + stored, 0x0003))));
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", body, true}}),
            Walk(Tag(4, Frame24("TIT2", stored), 0x80)));
}

TEST(Id3v2WalkTest, ExtendedHeadersAndFormatFlags) {
  const std::vector<SeenFrame> title = {{"TIT2", kTitle, true}};
  // 2.3: the size leaves out its own four bytes; 2.4: sync-safe, counting itself.
  EXPECT_EQ(title, Walk(Tag(3, BigEndian(6, 4) + std::string(6, '\0') + Frame23("TIT2", kTitle), 0x40)));
  EXPECT_EQ(title,
            Walk(Tag(4, SyncSafe(6) + std::string("\x01\0", 2) + Frame24("TIT2", kTitle), 0x40)));
  // Compressed and encrypted frames are passed over, grouped ones lose their group byte.
  EXPECT_EQ(title, Walk(Tag(3, Frame23("TPE1", BigEndian(99, 4) + "zz", 0x0080) +
                                   Frame23("TALB", "\x01zz", 0x0040) + Frame23("TIT2", kTitle))));
  EXPECT_EQ(title, Walk(Tag(4, Frame24("TPE1", "zzzzzz", 0x0008) + Frame24("TIT2", kTitle))));
  EXPECT_EQ(title, Walk(Tag(3, Frame23("TIT2", "\x07" + kTitle, 0x0020))));
  EXPECT_EQ(title, Walk(Tag(4, Frame24("TIT2", "\x07" + kTitle, 0x0040))));
  // A 2.2 tag with its compression bit has no defined scheme: nothing is read.
  EXPECT_TRUE(Walk(Tag(2, Frame22("TT2", kTitle), 0x40)).empty());
}

// An empty frame holds nothing, but the frames behind it are the tag's as much as those before.
TEST(Id3v2WalkTest, StepsOverEmptyFrames) {
  const std::vector<SeenFrame> both = {{"TIT2", kTitle, true}, {"TALB", kArtist, true}};
  EXPECT_EQ(both, Walk(Tag(3, Frame23("TIT2", kTitle) + Frame23("TPE1", "") +
                                  Frame23("TALB", kArtist), 0, 20)));
  EXPECT_EQ(both, Walk(Tag(4, Frame24("TIT2", kTitle) + Frame24("TPE1", "") +
                                  Frame24("TALB", kArtist))));
  EXPECT_EQ(both, Walk(Tag(2, Frame22("TT2", kTitle) + Frame22("TP1", "") +
                                  Frame22("TAL", kArtist), 0, 6)));
  // Empty frames up to the tag's end: the walk ends there.
  EXPECT_EQ((std::vector<SeenFrame>{{"TIT2", kTitle, true}}),
            Walk(Tag(3, Frame23("TIT2", kTitle) + Frame23("TPE1", "") + Frame23("TPE2", ""))));
}

// Some writers stored 2.4 frame sizes as plain numbers. Where only the plain reading ends on
// a frame boundary (the next frame, padding, the tag's end), it holds.
TEST(Id3v2WalkTest, Id3v24SizesStoredAsPlainNumbers) {
  auto plain24 = [](const std::string& id, const std::string& body) {
    return id + BigEndian(static_cast<uint32_t>(body.size()), 4) + kNoFlags + body;
  };
  const std::string comment = std::string("\0eng\0", 5) + std::string(200, 'c');
  const std::string long_title = Text(0, std::string(300, 't'));
  const struct {
    const char* what;
    std::string frames;
    uint32_t padding;
    std::vector<SeenFrame> seen;
  } cases[] = {
      {"size byte with bit 7 set, frame behind", plain24("COMM", comment) + Frame24("TIT2", kTitle),
       0, {{"COMM", comment, true}, {"TIT2", kTitle, true}}},
      {"sync-safe reading in range, padding behind", plain24("TIT2", long_title), 64,
       {{"TIT2", long_title, true}}},
      {"at the tag's end", Frame24("TPE1", kArtist) + plain24("TIT2", long_title), 0,
       {{"TPE1", kArtist, true}, {"TIT2", long_title, true}}},
      {"sync-safe sizes stay sync-safe", Frame24("TIT2", long_title) + Frame24("TPE1", kArtist), 0,
       {{"TIT2", long_title, true}, {"TPE1", kArtist, true}}},
      // Neither reading lands on a frame: the sync-safe one holds, and the walk ends at the
      // damage behind it.
      {"neither lands", Frame24("TPE1", kArtist) + "TIT2" + SyncSafe(400) + kNoFlags +
                            std::string(600, 'x'),
       0, {{"TPE1", kArtist, true}, {"TIT2", std::string(400, 'x'), true}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.seen, Walk(Tag(4, c.frames, 0, c.padding))) << c.what;
  }
}
