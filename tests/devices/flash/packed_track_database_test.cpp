#include "devices/flash/packed_track_database.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "packed_track_images.inc"
#include "support/byte_order.h"
#include "support/collation.h"

using namespace packed;

namespace {

std::vector<uint8_t> ImageOf(const PackedTrackDatabase& database) {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(rc::kOk, database.GetImage(&bytes, &size));
  return std::vector<uint8_t>(bytes, bytes + size);
}

uint32_t WordOf(const std::vector<uint8_t>& image, uint32_t position) {
  return bytes::Le24(&image[size_t{position} * 3]);
}

void PutWord(std::vector<uint8_t>* image, uint32_t position, uint32_t word) {
  bytes::PutLe24(&(*image)[size_t{position} * 3], word);
}

// The records of an oracle case; `read_back` takes the texts of fields 0 to 3 and the item
// names as the image holds them (texts equal by folding share the first record's spelling).
void Fill(PackedTrackDatabase* database, const PackedOracleCase& c, bool read_back = false) {
  for (uint32_t n = 0; n < c.track_count; ++n) {
    const PackedOracleTrack& t = c.tracks[n];
    PackedTrack track;
    for (int f = 0; f < kTrackFieldCount; ++f) {
      if (t.text[f]) track.text[f] = read_back && f < 4 ? t.read_text[f] : t.text[f];
      track.number[f] = t.number[f];
    }
    std::memcpy(track.rid.data(), t.rid, kRidSize);
    ASSERT_EQ(kOk, database->AddTrack(t.id, track));
  }
  for (uint32_t n = 0; n < c.item_count; ++n) {
    const PackedOracleItem& i = c.items[n];
    PackedItem item;
    item.name = read_back ? i.read_name : i.name;
    item.length_high = i.high;
    item.length_low = i.low;
    ASSERT_EQ(kOk, database->AddItem(i.list, i.id, item));
  }
}

void ExpectSameRecords(const PackedTrackDatabase& a, const PackedTrackDatabase& b) {
  ASSERT_EQ(a.Tracks().size(), b.Tracks().size());
  for (const auto& t : a.Tracks()) {
    const auto other = b.Tracks().find(t.first);
    ASSERT_NE(other, b.Tracks().end()) << t.first;
    for (int f = 0; f < kTrackFieldCount; ++f) {
      if (kTrackFieldKinds[f] == kText) {
        EXPECT_EQ(t.second.text[f], other->second.text[f]) << "id " << t.first << " field " << f;
      } else if (kTrackFieldKinds[f] == kInteger) {
        EXPECT_EQ(t.second.number[f], other->second.number[f])
            << "id " << t.first << " field " << f;
      }
    }
    EXPECT_EQ(t.second.rid, other->second.rid);
  }
  for (int list : {kPlaylistIndex, kVundIndex}) {
    ASSERT_EQ(a.Items(list).size(), b.Items(list).size());
    for (const auto& i : a.Items(list)) {
      const auto other = b.Items(list).find(i.first);
      ASSERT_NE(other, b.Items(list).end()) << i.first;
      EXPECT_EQ(i.second.name, other->second.name);
      EXPECT_EQ(i.second.length_high, other->second.length_high);
      EXPECT_EQ(i.second.length_low, other->second.length_low);
    }
  }
}

// The texts a walk hands out, one per node (mode 0 or 2) or per id (mode 1, as "id:value").
std::vector<std::string> WalkTexts(const ImageReader& reader, int mode, int index) {
  std::vector<std::string> out;
  Walk walk;
  int status = reader.First(&walk, mode, index);
  for (; status == kOk; status = reader.Next(&walk)) {
    FieldValue value;
    EXPECT_EQ(kOk, reader.Current(walk, &value));
    std::string text = value.text ? value.text : std::to_string(value.integer);
    uint32_t id = 0;
    if (mode == 1) {
      EXPECT_EQ(kOk, reader.CurrentId(walk, &id));
      text = std::to_string(id) + ":" + text;
    }
    out.push_back(text);
  }
  EXPECT_EQ(kNotFound, status);
  return out;
}

PackedTrack TitledTrack(const char* title, const char* artist, const char* source,
                        uint32_t number) {
  PackedTrack track;
  track.text[0] = title;
  track.text[2] = artist;
  track.text[1] = source;
  track.number[6] = number;
  return track;
}

// A database of `count` tracks with shared and distinct values, some items, and wide ids.
std::unique_ptr<PackedTrackDatabase> ManyTracks(uint32_t count) {
  auto database = PackedTrackDatabase::Create();
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245 + 12345, (seed >> 8) & 0xFFFF; };
  for (uint32_t n = 1; n <= count; ++n) {
    PackedTrack track;
    for (int f = 0; f < kTrackFieldCount; ++f) {
      if (kTrackFieldKinds[f] == kText) {
        track.text[f] = (f == 7 ? "comment " : "T") + std::to_string(next() % (f == 3 ? 7 : 300));
      } else {
        track.number[f] = next() * 37 & 0xFFFFFF;
      }
    }
    track.text[0] = (n % 5 == 0 ? "the " : "") + track.text[0];
    track.number[4] = 1950 + next() % 80;
    for (auto& b : track.rid) b = static_cast<uint8_t>(next());
    EXPECT_EQ(kOk, database->AddTrack(n * 16 + (n % 2 ? 0x4000 : 0), track));
  }
  for (uint32_t n = 0; n < count / 10; ++n) {
    PackedItem item{"list " + std::to_string(next() % 50), next(), next()};
    EXPECT_EQ(kOk, database->AddItem(n % 2 ? kVundIndex : kPlaylistIndex, 0x8000 + n * 16, item));
  }
  EXPECT_EQ(rc::kOk, database->Serialize());
  return database;
}

class PackedOracleTest : public ::testing::TestWithParam<PackedOracleCase> {};

TEST_P(PackedOracleTest, WritesTheOracleImageAndReadsItBack) {
  const PackedOracleCase& c = GetParam();
  auto built = PackedTrackDatabase::Create();
  Fill(built.get(), c);
  ASSERT_EQ(rc::kOk, built->Serialize());
  const std::vector<uint8_t> expected(c.image, c.image + c.size);
  EXPECT_EQ(expected, ImageOf(*built));

  auto read = PackedTrackDatabase::Create();
  ASSERT_EQ(rc::kOk, read->Rebuild(expected.data(), c.size));
  auto read_back = PackedTrackDatabase::Create();
  Fill(read_back.get(), c, true);
  ExpectSameRecords(*read_back, *read);
  EXPECT_EQ(expected, ImageOf(*read));
}

INSTANTIATE_TEST_SUITE_P(Cases, PackedOracleTest, ::testing::ValuesIn(kPackedOracleCases),
                         [](const ::testing::TestParamInfo<PackedOracleCase>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) ch = std::isalnum(ch) ? ch : '_';
                           return name;
                         });

TEST(PackedTrackDatabaseTest, EmptyDatabaseHasHeaderIndexNamesAndEmptySections) {
  auto database = PackedTrackDatabase::Create();
  ASSERT_TRUE(database);
  const std::vector<uint8_t> image = ImageOf(*database);
  ASSERT_GE(image.size(), 60u);
  EXPECT_EQ(0x55, image[0]);
  EXPECT_EQ(0x9A, image[1]);
  EXPECT_EQ(0x81, image[2]);
  EXPECT_EQ(3u, WordOf(image, 1));
  const ImageReader& reader = database->Reader();
  for (int index = 0; index < kIndexCount; ++index) {
    EXPECT_EQ(kNull, WordOf(image, 4 + 2 * index)) << index;
    EXPECT_EQ(std::vector<std::string>{kIndexNames[index]}, WalkTexts(reader, 2, index));
    EXPECT_TRUE(WalkTexts(reader, 1, index).empty());
  }
  const uint32_t tracks = WordOf(image, 3);
  EXPECT_EQ(0u, WordOf(image, tracks));      // N
  EXPECT_EQ(0u, WordOf(image, tracks + 1));  // playlist items
  EXPECT_EQ(0u, WordOf(image, tracks + 2));  // vund items
  EXPECT_EQ(tracks + 3, WordOf(image, 2));
  EXPECT_EQ(0u, WordOf(image, tracks + 3));  // C
  EXPECT_EQ(image.size() / 3, tracks + 4);
  for (uint32_t id : {0u, 16u, 0x4010u, 0xFFFFF0u}) {
    EXPECT_EQ(kNull, reader.Lookup(id));
    FieldValue value;
    EXPECT_EQ(kNotFound, reader.GetField(id, 0, &value));
  }
}

TEST(PackedTrackDatabaseTest, TitleAbcTakesTwoWordsAfterItsNode) {
  auto database = PackedTrackDatabase::Create();
  ASSERT_EQ(kOk, database->AddTrack(16, TitledTrack("abc", "", "", 0)));
  ASSERT_EQ(rc::kOk, database->Serialize());
  const std::vector<uint8_t> image = ImageOf(*database);
  const uint32_t node = WordOf(image, 4);
  EXPECT_EQ(1u, WordOf(image, node + 2));
  EXPECT_EQ(16u, WordOf(image, node + 3));
  const uint8_t abc[] = {'a', 'b', 'c', 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(&image[(node + 4) * 3], abc, sizeof abc));
  // The next thing written (the source index head) starts right after those two words.
  EXPECT_EQ(node + 6, WordOf(image, 7));
}

TEST(PackedTrackDatabaseTest, SameTitleSharesANodeOrderedByArtistSourceAndNumber) {
  auto database = PackedTrackDatabase::Create();
  database->AddTrack(16, TitledTrack("Song", "Bob", "A", 1));
  database->AddTrack(32, TitledTrack("Song", "Amy", "B", 1));
  database->AddTrack(48, TitledTrack("Song", "Amy", "A", 2));
  database->AddTrack(64, TitledTrack("Song", "Amy", "A", 1));
  database->AddTrack(80, TitledTrack("Other", "Zed", "Z", 9));
  ASSERT_EQ(rc::kOk, database->Serialize());
  const std::vector<std::string> expected = {"80:Other", "64:Song", "48:Song", "32:Song",
                                             "16:Song"};
  EXPECT_EQ(expected, WalkTexts(database->Reader(), 1, 0));
  EXPECT_EQ((std::vector<std::string>{"Other", "Song"}), WalkTexts(database->Reader(), 0, 0));
  FieldValue value;
  ASSERT_EQ(kOk, database->Reader().GetField(48, 2, &value));
  EXPECT_STREQ("Amy", value.text);
}

// The player lists texts equal by folding as one value; every record of the node reads back the
// text of the first.
TEST(PackedTrackDatabaseTest, TextsEqualByFoldingShareOneNode) {
  auto database = PackedTrackDatabase::Create();
  database->AddTrack(16, TitledTrack("ABC", "B", "x", 0));
  database->AddTrack(32, TitledTrack("a-b-c", "A", "y", 0));
  database->AddTrack(48, TitledTrack("abc", "C", "\xC3\xBF", 0));
  database->AddTrack(64, TitledTrack("Abd", "A", "Y", 0));
  ASSERT_EQ(rc::kOk, database->Serialize());
  const ImageReader& reader = database->Reader();
  EXPECT_EQ((std::vector<std::string>{"32:a-b-c", "16:a-b-c", "48:a-b-c", "64:Abd"}),
            WalkTexts(reader, 1, 0));
  EXPECT_EQ((std::vector<std::string>{"a-b-c", "Abd"}), WalkTexts(reader, 0, 0));
  // Sources: "x", then "y", "\xC3\xBF" and "Y" in one node (by track number, then id).
  EXPECT_EQ((std::vector<std::string>{"16:x", "32:y", "48:y", "64:y"}), WalkTexts(reader, 1, 1));
  auto reread = PackedTrackDatabase::Create();
  const std::vector<uint8_t> image = ImageOf(*database);
  ASSERT_EQ(rc::kOk, reread->Rebuild(image.data(), static_cast<uint32_t>(image.size())));
  EXPECT_EQ("a-b-c", reread->Tracks().at(16).text[0]);
  EXPECT_EQ("y", reread->Tracks().at(64).text[1]);
  EXPECT_EQ(image, ImageOf(*reread));
}

// The record order of index `index` by a plain comparator: CompareFolded on every text, then
// the id.
int ChainCompare(const PackedTrackDatabase& database, uint32_t a, uint32_t b, int index) {
  const PackedTrack& x = database.Tracks().at(a);
  const PackedTrack& y = database.Tracks().at(b);
  for (int field = index; field != kNoNextField; field = kTrackFieldNext[field]) {
    const int c = kTrackFieldKinds[field] == kText
                      ? CompareFolded(x.text[field].c_str(), y.text[field].c_str(), nullptr)
                      : static_cast<int>(x.number[field]) - static_cast<int>(y.number[field]);
    if (c != 0) return c;
  }
  return a < b ? -1 : a > b ? 1 : 0;
}

// Texts folded once for the sort give the image a comparator on CompareFolded gives: every
// index in that order, and a new value node exactly where the value differs.
TEST(PackedTrackDatabaseTest, OrderFollowsCompareFoldedForAccentedAndPunctuatedTexts) {
  const char* const words[] = {
      "\xC3\x89t\xC3\xA9", "ete", "\xC3\x88te!", "\xC3\x98lsen", "Olsen", "\xC7\xBFlsen",
      "...", "", "Stra\xC3\x9F" "e", "strasse", "\xC5\x81\xC4\x85ka", "laka", "A-ha", "aha",
      "\xEF\xBC\xA1\xEF\xBD\x82\xEF\xBD\x83", "abc", "Zo\xC3\xAB", "zoe", "\xEF\xBD\xB1",
      "\xE3\x82\xA2", "\xE2\x80\x93x", "x", "\xF0\x9F\x8E\xB5", "na\xC3\xAFve", "Naive",
      "The Doors", "the doors"};
  const uint32_t n = sizeof words / sizeof words[0];
  auto database = PackedTrackDatabase::Create();
  for (uint32_t i = 0; i < 300; ++i) {
    PackedTrack track = TitledTrack(words[i % n], words[(i * 7 + 3) % n], words[(i * 11 + 5) % n],
                                    i % 4);
    track.text[3] = words[(i * 13 + 1) % n];
    track.number[4] = 1990 + i % 6;
    track.number[5] = i % 5;
    ASSERT_EQ(kOk, database->AddTrack((i + 1) * 16, track));
  }
  ASSERT_EQ(rc::kOk, database->Serialize());
  const ImageReader& reader = database->Reader();
  for (int index = 0; index < 6; ++index) {
    SCOPED_TRACE(kIndexNames[index]);
    Walk walk;
    uint32_t previous_id = 0, previous_node = kNull, count = 0;
    for (int status = reader.First(&walk, 1, index); status == kOk; status = reader.Next(&walk)) {
      uint32_t id = 0;
      ASSERT_EQ(kOk, reader.CurrentId(walk, &id));
      if (count++ > 0) {
        ASSERT_LT(ChainCompare(*database, previous_id, id, index), 0) << previous_id << " " << id;
        const PackedTrack& a = database->Tracks().at(previous_id);
        const PackedTrack& b = database->Tracks().at(id);
        const bool same = kTrackFieldKinds[index] == kText
                              ? CompareFolded(a.text[index].c_str(), b.text[index].c_str(),
                                              nullptr) == 0
                              : a.number[index] == b.number[index];
        EXPECT_EQ(same, walk.position == previous_node) << previous_id << " " << id;
      }
      previous_id = id;
      previous_node = walk.position;
    }
    EXPECT_EQ(300u, count);
  }
}

TEST(PackedTrackDatabaseTest, GroupLabels) {
  struct Case {
    int index;
    const char* text;
    uint32_t number;
    const char* label;
  } const cases[] = {
      {0, "...", 0, "?"},       {0, "", 0, "?"},         {0, "abc", 0, "A"},
      {1, "--9 lives", 0, "9"}, {2, "\xc3\xa9tude", 0, "T"}, {6, "zz", 0, "Z"},
      {7, "!x", 0, "X"},        {4, nullptr, 2004, "2000s"}, {4, nullptr, 1987, "1980s"},
      {4, nullptr, 5, "0000s"}, {4, nullptr, 9998, "9990s"}, {4, nullptr, 9999, ""},
      {3, "Rock", 0, ""},       {5, nullptr, 123, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.label, PackedGroupLabel(c.index, c.text ? c.text : "", c.number))
        << c.index << " " << (c.text ? c.text : "") << " " << c.number;
  }
}

TEST(PackedTrackDatabaseTest, GroupChainsLinkLabelsBeforeTheirFirstNode) {
  auto database = PackedTrackDatabase::Create();
  const char* titles[] = {"...", "apple", "Avocado", "banana", "2 go"};
  uint32_t id = 16;
  for (const char* title : titles) {
    PackedTrack track = TitledTrack(title, "", "", 0);
    track.number[4] = id == 16 ? 2004 : id == 32 ? 2009 : 12000;
    database->AddTrack(id, track);
    id += 16;
  }
  ASSERT_EQ(rc::kOk, database->Serialize());
  const ImageReader& reader = database->Reader();
  EXPECT_EQ((std::vector<std::string>{"title", "?", "2", "A", "B"}), WalkTexts(reader, 2, 0));
  EXPECT_EQ((std::vector<std::string>{"year", "2000s"}), WalkTexts(reader, 2, 4));
  EXPECT_EQ((std::vector<std::string>{"genre"}), WalkTexts(reader, 2, 3));

  // Each group node sits right before its first value node and links back to its predecessor.
  const std::vector<uint8_t> image = ImageOf(*database);
  uint32_t previous = WordOf(image, 5);
  for (uint32_t group = WordOf(image, previous); group != kNull; group = WordOf(image, group)) {
    EXPECT_EQ(previous, WordOf(image, group + 1));
    Walk walk;
    const uint32_t words = static_cast<uint32_t>(
        (std::strlen(reinterpret_cast<const char*>(&image[(group + 2) * 3])) + 3) / 3);
    const uint32_t node = group + 2 + words;
    ASSERT_EQ(kOk, reader.First(&walk, 0, 0));
    bool found = false;
    do {
      found = found || walk.position == node;
    } while (reader.Next(&walk) == kOk);
    EXPECT_TRUE(found) << "no value node after group at " << group;
    previous = group;
  }
}

TEST(PackedTrackDatabaseTest, ItemsHaveFlaggedEntriesAndFiveWordRecords) {
  auto database = PackedTrackDatabase::Create();
  ASSERT_EQ(kOk, database->AddItem(kPlaylistIndex, 32, PackedItem{"Mix", 2, 77}));
  ASSERT_EQ(kOk, database->AddItem(kPlaylistIndex, 48, PackedItem{"Alpha", 0, 1}));
  ASSERT_EQ(kOk, database->AddItem(kVundIndex, 16, PackedItem{"x.bin", 0, 5}));
  ASSERT_EQ(rc::kOk, database->Serialize());
  const ImageReader& reader = database->Reader();
  const uint32_t entry = reader.Lookup(32);
  ASSERT_NE(kNull, entry);
  EXPECT_EQ(kItemFlag, entry & kItemFlag);
  EXPECT_EQ((entry & ~kItemFlag) + 5, reader.Lookup(48) & ~kItemFlag);
  const uint32_t expected[] = {0, kPlaylistIndex, 2, 77};
  for (int f = 1; f < kItemFieldCount; ++f) {
    FieldValue value;
    ASSERT_EQ(kOk, reader.GetField(32, f, &value));
    EXPECT_EQ(expected[f], value.integer) << f;
  }
  FieldValue name;
  ASSERT_EQ(kOk, reader.GetField(32, 0, &name));
  EXPECT_STREQ("Mix", name.text);
  EXPECT_EQ(kOutOfRange, reader.GetField(32, 4, &name));
  EXPECT_EQ((std::vector<std::string>{"48:Alpha", "32:Mix"}), WalkTexts(reader, 1, 6));
  EXPECT_EQ((std::vector<std::string>{"16:x.bin"}), WalkTexts(reader, 1, 7));
}

TEST(PackedTrackDatabaseTest, UpdatesAnswerTheirCodes) {
  auto database = PackedTrackDatabase::Create();
  const PackedTrack track = TitledTrack("t", "", "", 0);
  EXPECT_EQ(kOk, database->AddTrack(16, track));
  EXPECT_EQ(kPresent, database->AddTrack(16, track));
  EXPECT_EQ(kPresent, database->AddItem(kVundIndex, 16, PackedItem{}));
  EXPECT_EQ(kOutOfRange, database->AddItem(5, 32, PackedItem{}));
  EXPECT_EQ(kOutOfRange, database->AddTrack(17, track));
  EXPECT_EQ(kOutOfRange, database->AddTrack(PackedTrackDatabase::kIdLimit, track));
  EXPECT_EQ(kNotFound, database->ReplaceTrack(32, track));
  EXPECT_EQ(kOk, database->AddItem(kVundIndex, 32, PackedItem{"a", 0, 0}));
  EXPECT_EQ(kPresent, database->AddTrack(32, track));
  EXPECT_EQ(kNotFound, database->ReplaceTrack(32, track));
  EXPECT_EQ(kOk, database->ReplaceItem(32, PackedItem{"b", 1, 2}));
  EXPECT_EQ("b", database->Items(kVundIndex).at(32).name);
  EXPECT_EQ(kNotFound, database->ReplaceItem(16, PackedItem{}));
  EXPECT_EQ(kOk, database->RemoveId(32));
  EXPECT_EQ(kNotFound, database->RemoveId(32));
}

TEST(PackedTrackDatabaseTest, StoredValuesAreThoseTheImageKeeps) {
  auto database = PackedTrackDatabase::Create();
  PackedTrack track;
  track.text[0] = std::string("cut\0here", 8);
  track.number[10] = 0x12345678;
  ASSERT_EQ(kOk, database->AddTrack(16, track));
  ASSERT_EQ(rc::kOk, database->Serialize());
  EXPECT_EQ("cut", database->Tracks().at(16).text[0]);
  EXPECT_EQ(0x345678u, database->Tracks().at(16).number[10]);
  FieldValue value;
  ASSERT_EQ(kOk, database->Reader().GetField(16, 10, &value));
  EXPECT_EQ(0x345678u, value.integer);
}

TEST(PackedTrackDatabaseTest, ManyTracksRoundTrip) {
  auto database = ManyTracks(1000);
  const std::vector<uint8_t> image = ImageOf(*database);
  auto reread = PackedTrackDatabase::Create();
  ASSERT_EQ(rc::kOk, reread->Rebuild(image.data(), static_cast<uint32_t>(image.size())));
  ExpectSameRecords(*database, *reread);
  EXPECT_EQ(image, ImageOf(*reread));
  // Every track field read through the image matches the record.
  for (const auto& t : database->Tracks()) {
    for (int f = 0; f < kTrackFieldCount; ++f) {
      FieldValue value;
      ASSERT_EQ(kOk, reread->Reader().GetField(t.first, f, &value));
      if (kTrackFieldKinds[f] == kText) {
        EXPECT_EQ(t.second.text[f], value.text);
      }
      if (kTrackFieldKinds[f] == kInteger) {
        EXPECT_EQ(t.second.number[f], value.integer);
      }
    }
  }
  EXPECT_EQ(1000u, WalkTexts(reread->Reader(), 1, 0).size());
}

TEST(PackedTrackDatabaseTest, RebuildWithNullEmptiesTheDatabase) {
  auto database = ManyTracks(20);
  ASSERT_EQ(rc::kOk, database->Rebuild(nullptr, 0));
  EXPECT_TRUE(database->Tracks().empty());
  EXPECT_TRUE(database->Items(kPlaylistIndex).empty());
  auto empty = PackedTrackDatabase::Create();
  EXPECT_EQ(ImageOf(*empty), ImageOf(*database));
}

TEST(PackedTrackDatabaseTest, BuildFromIdsRemovesTracksAndItemsOrNothing) {
  auto database = PackedTrackDatabase::Create();
  database->AddTrack(16, TitledTrack("a", "", "", 0));
  database->AddTrack(32, TitledTrack("b", "", "", 0));
  database->AddItem(kPlaylistIndex, 48, PackedItem{"p", 0, 0});
  database->AddItem(kVundIndex, 64, PackedItem{"v", 0, 0});
  ASSERT_EQ(rc::kOk, database->Serialize());
  const std::vector<uint8_t> before = ImageOf(*database);

  const uint32_t unknown[] = {16, 80};
  EXPECT_EQ(rc::kFail, database->BuildFromIds(unknown, 2));
  EXPECT_EQ(2u, database->Tracks().size());
  EXPECT_EQ(before, ImageOf(*database));

  const uint32_t ids[] = {16, 48, 64};
  ASSERT_EQ(rc::kOk, database->BuildFromIds(ids, 3));
  EXPECT_EQ(1u, database->Tracks().count(32));
  EXPECT_EQ(1u, database->Tracks().size());
  EXPECT_TRUE(database->Items(kPlaylistIndex).empty());
  EXPECT_TRUE(database->Items(kVundIndex).empty());
  EXPECT_EQ(kNull, database->Reader().Lookup(16));
  EXPECT_NE(kNull, database->Reader().Lookup(32));
}

TEST(PackedTrackDatabaseTest, TwoDatabasesKeepTheirOwnImages) {
  auto first = PackedTrackDatabase::Create();
  auto second = PackedTrackDatabase::Create();
  first->AddTrack(16, TitledTrack("first", "", "", 0));
  ASSERT_EQ(rc::kOk, first->Serialize());
  second->AddTrack(32, TitledTrack("second", "", "", 0));
  ASSERT_EQ(rc::kOk, second->Serialize());
  second.reset();
  FieldValue value;
  ASSERT_EQ(kOk, first->Reader().GetField(16, 0, &value));
  EXPECT_STREQ("first", value.text);
  EXPECT_EQ(kNull, first->Reader().Lookup(32));
}

TEST(PackedImageReaderTest, WalkArgumentsAndModes) {
  auto database = PackedTrackDatabase::Create();
  database->AddTrack(16, TitledTrack("a", "", "", 0));
  ASSERT_EQ(rc::kOk, database->Serialize());
  const ImageReader& reader = database->Reader();
  Walk walk;
  EXPECT_EQ(kOutOfRange, reader.First(&walk, 3, 0));
  EXPECT_EQ(kOutOfRange, reader.First(&walk, -1, 0));
  EXPECT_EQ(kOutOfRange, reader.First(&walk, 0, 8));
  ASSERT_EQ(kOk, reader.First(&walk, 0, 0));
  uint32_t id = 0;
  EXPECT_EQ(kNotMulti, reader.CurrentId(walk, &id));
  EXPECT_EQ(kNotFound, reader.Next(&walk));
  EXPECT_EQ(kNotFound, reader.Next(&walk));
  FieldValue value;
  EXPECT_EQ(kOutOfRange, reader.GetField(16, 16, &value));

  ImageReader empty;
  EXPECT_EQ(kNoImage, empty.First(&walk, 0, 0));
  const uint8_t* image = nullptr;
  EXPECT_EQ(kNoImage, empty.GetImage(&image));
  EXPECT_EQ(kNull, empty.Lookup(16));
}

// Damaged images from the player: each is refused and the database keeps what it had.
struct Damage {
  const char* name;
  void (*apply)(std::vector<uint8_t>* image);
};

uint32_t TrackRecord(const std::vector<uint8_t>& image, uint32_t number) {
  const uint32_t table = WordOf(image, 2);
  return WordOf(image, table + 1 + number) & ~kItemFlag;
}

const Damage kDamages[] = {
    {"bad magic", [](std::vector<uint8_t>* i) { (*i)[0] ^= 1; }},
    {"bad version", [](std::vector<uint8_t>* i) { PutWord(i, 1, 2); }},
    {"shorter than a header", [](std::vector<uint8_t>* i) { i->resize(57); }},
    {"id table beyond the end", [](std::vector<uint8_t>* i) { PutWord(i, 2, 0x7FFFFF); }},
    {"id count beyond the end",
     [](std::vector<uint8_t>* i) { PutWord(i, WordOf(*i, 2), 0xFFFFFE); }},
    {"cut in the id table", [](std::vector<uint8_t>* i) { i->resize(i->size() - 3); }},
    {"track record beyond the end",
     [](std::vector<uint8_t>* i) { PutWord(i, WordOf(*i, 2) + 2, 0x7FFFF0); }},
    {"value node beyond the end",
     [](std::vector<uint8_t>* i) { PutWord(i, TrackRecord(*i, 1), 0xFFFFF0); }},
    {"value node id count beyond the end",
     [](std::vector<uint8_t>* i) { PutWord(i, WordOf(*i, 4) + 2, 0xFFFFF0); }},
    {"value node count puts the value past the end",
     [](std::vector<uint8_t>* i) {
       PutWord(i, WordOf(*i, 4) + 2, static_cast<uint32_t>(i->size() / 3) - WordOf(*i, 4) - 3);
     }},
    {"text without its NUL",
     [](std::vector<uint8_t>* i) {
       // A value node at the end whose title runs out of the image.
       const uint32_t node = static_cast<uint32_t>(i->size() / 3);
       const uint8_t tail[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 'x', 'y', 'z'};
       i->insert(i->end(), tail, tail + sizeof tail);
       PutWord(i, TrackRecord(*i, 1), node);
     }},
    {"item of no list",
     [](std::vector<uint8_t>* i) { PutWord(i, TrackRecord(*i, 6) + 2, 5); }},
    {"item entry beyond the end",
     [](std::vector<uint8_t>* i) { PutWord(i, WordOf(*i, 2) + 7, kItemFlag | 0x7FFFF0); }},
    // A record belongs to the one id its first value node lists at its slot.
    {"two ids share a track record",
     [](std::vector<uint8_t>* i) {
       const uint32_t table = WordOf(*i, 2);
       PutWord(i, table + 1 + 2, WordOf(*i, table + 1 + 1));
     }},
    {"a track and an item share a record",
     [](std::vector<uint8_t>* i) {
       const uint32_t table = WordOf(*i, 2);
       PutWord(i, table + 1 + 6, kItemFlag | WordOf(*i, table + 1 + 1));
     }},
    {"a record slot beyond its node's ids",
     [](std::vector<uint8_t>* i) { PutWord(i, TrackRecord(*i, 1) + 1, 7); }},
    // Ids are 24-bit: 2^24 would be written again as 0 plus its low bits, here track 16's id.
    {"an id of 2 to the 24th",
     [](std::vector<uint8_t>* i) {
       const uint32_t table = WordOf(*i, 2);
       const uint32_t count = WordOf(*i, table);
       const uint32_t record = WordOf(*i, table + 1 + 1);
       const uint32_t wanted = 0x100001;
       PutWord(i, table + 1 + 1, kNull);
       i->resize(i->size() + 3 * size_t{wanted - count}, 0xFF);
       PutWord(i, table, wanted);
       PutWord(i, table + wanted, record);
     }},
};

class PackedDamageTest : public ::testing::TestWithParam<Damage> {};

TEST_P(PackedDamageTest, RebuildRefusesAndKeepsTheDatabase) {
  // Tracks 16..80 (numbers 1..5) and an item at number 6.
  auto source = PackedTrackDatabase::Create();
  for (uint32_t n = 1; n <= 5; ++n) {
    PackedTrack track = TitledTrack(("t" + std::to_string(n)).c_str(), "a", "s", n);
    track.text[7] = "comment";
    source->AddTrack(n * 16, track);
  }
  source->AddItem(kPlaylistIndex, 96, PackedItem{"p", 0, 1});
  ASSERT_EQ(rc::kOk, source->Serialize());
  std::vector<uint8_t> image = ImageOf(*source);
  GetParam().apply(&image);

  auto database = PackedTrackDatabase::Create();
  database->AddTrack(16, TitledTrack("kept", "", "", 0));
  ASSERT_EQ(rc::kOk, database->Serialize());
  const std::vector<uint8_t> before = ImageOf(*database);
  EXPECT_EQ(rc::kFail, database->Rebuild(image.data(), static_cast<uint32_t>(image.size())));
  EXPECT_EQ(before, ImageOf(*database));
  EXPECT_EQ("kept", database->Tracks().at(16).text[0]);
}

INSTANTIATE_TEST_SUITE_P(Cases, PackedDamageTest, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) ch = std::isalnum(ch) ? ch : '_';
                           return name;
                         });

TEST(PackedImageReaderTest, CyclicChainsEndTheWalk) {
  auto database = PackedTrackDatabase::Create();
  database->AddTrack(16, TitledTrack("a", "", "", 0));
  database->AddTrack(32, TitledTrack("b", "", "", 0));
  ASSERT_EQ(rc::kOk, database->Serialize());
  std::vector<uint8_t> image = ImageOf(*database);
  const uint32_t first = WordOf(image, 4);
  const uint32_t second = WordOf(image, first);
  PutWord(&image, second, first);  // the last node leads back to the first
  const uint32_t head = WordOf(image, 5);
  PutWord(&image, head, head);  // the group chain head names itself as its first group

  ImageReader reader;
  ASSERT_EQ(kOk, reader.Attach(image.data(), static_cast<uint32_t>(image.size())));
  for (int mode = 0; mode < 3; ++mode) {
    Walk walk;
    int status = reader.First(&walk, mode, 0);
    uint32_t steps = 0;
    while (status == kOk && steps < 100000) {
      status = reader.Next(&walk);
      ++steps;
    }
    EXPECT_EQ(kBadImage, status) << "mode " << mode;
    EXPECT_LE(steps, image.size() / 3 * 2) << "mode " << mode;
  }
}

// A node that names itself as the next one: a walk through its ids still ends within as many
// steps as the image has words, however many ids the node holds.
TEST(PackedImageReaderTest, CyclicNodeWithManyIdsEndsTheWalk) {
  auto database = PackedTrackDatabase::Create();
  for (uint32_t n = 1; n <= 300; ++n) database->AddTrack(n * 16, TitledTrack("same", "", "", n));
  ASSERT_EQ(rc::kOk, database->Serialize());
  std::vector<uint8_t> image = ImageOf(*database);
  const uint32_t node = WordOf(image, 4);
  PutWord(&image, node, node);
  ImageReader reader;
  ASSERT_EQ(kOk, reader.Attach(image.data(), static_cast<uint32_t>(image.size())));
  Walk walk;
  int status = reader.First(&walk, 1, 0);
  uint32_t steps = 0;
  while (status == kOk && steps < 10000000) {
    status = reader.Next(&walk);
    ++steps;
  }
  EXPECT_EQ(kBadImage, status);
  EXPECT_LE(steps, image.size() / 3);
}

// Every byte of a valid image set to several values: no crash, no hang, and what is accepted
// reads back to a valid image.
TEST(PackedImageReaderTest, MutatedImagesNeverCrashOrHang) {
  auto source = ManyTracks(12);
  const std::vector<uint8_t> image = ImageOf(*source);
  auto database = PackedTrackDatabase::Create();
  uint32_t accepted = 0;
  for (size_t at = 0; at < image.size(); ++at) {
    for (uint8_t value : {0x00, 0x01, 0x7F, 0xFF}) {
      std::vector<uint8_t> mutated = image;
      if (mutated[at] == value) continue;
      mutated[at] = value;
      if (database->Rebuild(mutated.data(), static_cast<uint32_t>(mutated.size())) != rc::kOk) {
        continue;
      }
      ++accepted;
      const std::vector<uint8_t> rebuilt = ImageOf(*database);
      auto again = PackedTrackDatabase::Create();
      ASSERT_EQ(rc::kOk, again->Rebuild(rebuilt.data(), static_cast<uint32_t>(rebuilt.size())));
      ASSERT_EQ(rebuilt, ImageOf(*again));
    }
  }
  EXPECT_GT(accepted, 0u);  // texts and integers may change without breaking the image
  for (uint32_t size = 0; size < image.size(); size += 7) {
    database->Rebuild(image.data(), size);
  }
}

}  // namespace
