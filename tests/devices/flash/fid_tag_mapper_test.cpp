#include "devices/flash/fid_tag_mapper.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "devices/flash/packed_track_database.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "support/debug_trace.h"
#include "testlib/trace_capture.h"

using namespace packed;

namespace {

using Props = std::map<std::string, std::string>;

// Keeps a copy of every record handed out, as name/value pairs.
class Collector : public HolderVisitor {
 public:
  explicit Collector(size_t stop_after = SIZE_MAX) : stop_after_(stop_after) {}
  bool Visit(PropertyHolder& item) override {
    const RefPtr<PropertySet> set = item.GetSet();
    Props props;
    for (int32_t n = 0; !set->GetColumnName(n).empty(); ++n) {
      props[set->GetColumnName(n)] = set->GetString(n);
    }
    records.push_back(props);
    return records.size() < stop_after_;
  }
  std::vector<Props> records;

 private:
  size_t stop_after_;
};

class FidTagMapperTest : public ::testing::Test {
 protected:
  void SetUp() override { database_ = PackedTrackDatabase::Create(); }

  static void SetAll(PropertyHolder* file, const Props& props) {
    for (const auto& p : props) file->SetString(p.first, p.second);
  }
  Result StoreNew(const Props& props) {
    PropertyHolder file;
    SetAll(&file, props);
    return FidTagMapper::StoreNewTrack(database_.get(), file);
  }
  Result Store(const Props& props) {
    PropertyHolder file;
    SetAll(&file, props);
    return FidTagMapper::StoreTrack(database_.get(), file);
  }
  std::vector<Props> Walk() {
    Collector collector;
    EXPECT_EQ(rc::kOk, FidTagMapper::WalkRecords(*database_, &collector));
    return collector.records;
  }
  const PackedTrack& Track(uint32_t id) { return database_->Tracks().at(id); }

  std::unique_ptr<PackedTrackDatabase> database_;
};

const Props kTune = {
    {"fid", "16400"},          {"type", "tune"},         {"codec", "mp3"},
    {"title", "Blue"},         {"artist", "Someone"},    {"source", "Album"},
    {"genre", "Jazz"},         {"comment", "good"},      {"year", "1987"},
    {"ctime", "7199"},         {"tracknr", "4"},         {"length", "5000000"},
    {"duration", "1999"},      {"bitrate", "vs128"},     {"fid_generation", "77"},
    {"rid", "00112233445566778899aabbccddeeff"},
};

TEST_F(FidTagMapperTest, TuneFieldsAreStoredAsTheRecordKeepsThem) {
  TraceCapture trace;
  ASSERT_EQ(rc::kOk, StoreNew(kTune));
  const PackedTrack& t = Track(16400);
  EXPECT_EQ("Blue", t.text[0]);
  EXPECT_EQ("Album", t.text[1]);
  EXPECT_EQ("Someone", t.text[2]);
  EXPECT_EQ("Jazz", t.text[3]);
  EXPECT_EQ("good", t.text[7]);
  EXPECT_EQ(1987u, t.number[4]);
  EXPECT_EQ(1u, t.number[5]);  // 7199 s is one whole hour
  EXPECT_EQ(4u, t.number[6]);
  EXPECT_EQ(4u, t.number[8]);
  EXPECT_EQ(805696u, t.number[9]);
  EXPECT_EQ(1u, t.number[10]);
  EXPECT_EQ(128000u | 0x800000u, t.number[11]);
  EXPECT_EQ(2u, t.number[12]);
  EXPECT_EQ(0u, t.number[13]);
  EXPECT_EQ(77u, t.number[14]);
  EXPECT_EQ(0x00, t.rid[0]);
  EXPECT_EQ(0x11, t.rid[1]);
  EXPECT_EQ(0xFF, t.rid[15]);
  EXPECT_NE(std::string::npos, trace.lines.find("FID duration is 1\n"));
  // The image was written with the record.
  FieldValue value;
  ASSERT_EQ(kOk, database_->Reader().GetField(16400, 0, &value));
  EXPECT_STREQ("Blue", value.text);
}

TEST_F(FidTagMapperTest, WalkReadsTheTuneBack) {
  ASSERT_EQ(rc::kOk, StoreNew(kTune));
  const std::vector<Props> records = Walk();
  ASSERT_EQ(1u, records.size());
  Props expected = kTune;
  expected["ctime"] = "3600";
  expected["duration"] = "1000";
  expected["drm"] = "";
  EXPECT_EQ(expected, records[0]);
}

TEST_F(FidTagMapperTest, TypeCodes) {
  struct Case {
    const char* type;
    const char* codec;
    const char* drm;
    uint32_t code;
  } const cases[] = {
      {"tune", "mp3", "", 0},         {"tune", "wma", "", 1},       {"tune", "wma", "msasf", 2},
      {"tune", "aac", "", 3},         {"tune", "aclp", "", 4},      {"tune", "ogg", "", 10},
      {"tune", "", "", 10},           {"i2c", "", "", 5},           {"binary", "", "", 6},
      {"playlist", "", "", 7},        {"vund", "", "", 8},          {"preferences", "", "", 9},
      {"picture", "", "", 10},        {"", "mp3", "", 10},          {"Tune", "mp3", "", 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.code, FidTagMapper::TypeCodeOf(c.type, c.codec, c.drm))
        << c.type << "/" << c.codec << "/" << c.drm;
  }
  for (uint32_t code = 0; code < 12; ++code) {
    std::string type = "x", codec = "x", drm = "x";
    const Result result = FidTagMapper::TypeNamesOf(code, &type, &codec, &drm);
    if (code == 5 || code >= 10) {
      EXPECT_EQ(rc::kFail, result) << code;
      continue;
    }
    ASSERT_EQ(rc::kOk, result) << code;
    // Names go back to the same code (drm only matters for wma).
    EXPECT_EQ(code, FidTagMapper::TypeCodeOf(type, codec, drm)) << code;
    EXPECT_EQ(code == 2 ? "msasf" : "", drm) << code;
  }
}

TEST_F(FidTagMapperTest, UnnamedTypeCodeIsWalkedWithoutTypeAndCodec) {
  Props ogg = kTune;
  ogg["codec"] = "ogg";
  ASSERT_EQ(rc::kOk, StoreNew(ogg));
  EXPECT_EQ(10u, Track(16400).number[13]);
  const std::vector<Props> records = Walk();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(0u, records[0].count("type"));
  EXPECT_EQ(0u, records[0].count("codec"));
  EXPECT_EQ("Blue", records[0].at("title"));
}

TEST_F(FidTagMapperTest, OtherFilesBecomeListItems) {
  ASSERT_EQ(rc::kOk, StoreNew({{"fid", "32"}, {"type", "playlist"}, {"title", "Mix"},
                               {"length", "5000000"}}));
  ASSERT_EQ(rc::kOk, StoreNew({{"fid", "48"}, {"type", "binary"}, {"title", "fw.bin"},
                               {"length", "12"}}));
  EXPECT_EQ(1u, database_->Items(kPlaylistIndex).count(32));
  ASSERT_EQ(1u, database_->Items(kVundIndex).count(48));
  EXPECT_EQ(4u, database_->Items(kPlaylistIndex).at(32).length_high);
  EXPECT_EQ(805696u, database_->Items(kPlaylistIndex).at(32).length_low);
  const std::vector<Props> records = Walk();
  ASSERT_EQ(2u, records.size());
  const Props playlist = {{"fid", "32"}, {"title", "Mix"}, {"name", "Mix"},
                          {"type", "playlist"}, {"length", "5000000"}};
  const Props vund = {{"fid", "48"}, {"title", "fw.bin"}, {"name", "fw.bin"},
                      {"type", "vund"}, {"length", "12"}};
  EXPECT_EQ(playlist, records[0]);
  EXPECT_EQ(vund, records[1]);
}

TEST_F(FidTagMapperTest, WalkOrderIsTracksByTitleThenPlaylistsThenVund) {
  StoreNew({{"fid", "16"}, {"type", "vund"}, {"title", "a"}});
  StoreNew({{"fid", "32"}, {"type", "tune"}, {"codec", "mp3"}, {"title", "Zoo"}});
  StoreNew({{"fid", "48"}, {"type", "playlist"}, {"title", "b"}});
  StoreNew({{"fid", "64"}, {"type", "tune"}, {"codec", "mp3"}, {"title", "apple"}});
  StoreNew({{"fid", "80"}, {"type", "playlist"}, {"title", "A"}});
  std::vector<std::string> fids;
  for (const Props& p : Walk()) fids.push_back(p.at("fid"));
  EXPECT_EQ((std::vector<std::string>{"64", "32", "80", "48", "16"}), fids);

  Collector two(2);
  EXPECT_EQ(rc::kOk, FidTagMapper::WalkRecords(*database_, &two));
  EXPECT_EQ(2u, two.records.size());
}

TEST_F(FidTagMapperTest, StoreAnswersForPresentAbsentAndBadFids) {
  ASSERT_EQ(rc::kOk, StoreNew(kTune));
  EXPECT_EQ(rc::FromWin32(ERROR_ALREADY_EXISTS), StoreNew(kTune));
  Props other = kTune;
  other["fid"] = "32";
  EXPECT_EQ(rc::kNotFound, Store(other));
  other["fid"] = "33";
  EXPECT_EQ(rc::kInvalidArg, StoreNew(other));
  other["fid"] = "16777216";
  EXPECT_EQ(rc::kInvalidArg, StoreNew(other));
  // A tune's fid is not an item's.
  EXPECT_EQ(rc::kNotFound, Store({{"fid", "16400"}, {"type", "playlist"}, {"title", "x"}}));
  EXPECT_EQ(1u, database_->Tracks().size());
}

TEST_F(FidTagMapperTest, StoreTrackReplacesTracksAndItems) {
  ASSERT_EQ(rc::kOk, StoreNew(kTune));
  Props changed = kTune;
  changed["title"] = "Green";
  changed["rid"] = "";
  ASSERT_EQ(rc::kOk, Store(changed));
  EXPECT_EQ("Green", Track(16400).text[0]);
  EXPECT_EQ((std::array<uint8_t, kRidSize>{}), Track(16400).rid);

  ASSERT_EQ(rc::kOk, StoreNew({{"fid", "32"}, {"type", "playlist"}, {"title", "Old"},
                               {"length", "10"}}));
  ASSERT_EQ(rc::kOk, Store({{"fid", "32"}, {"type", "playlist"}, {"title", "New"},
                            {"length", "20"}}));
  EXPECT_EQ("New", database_->Items(kPlaylistIndex).at(32).name);
  EXPECT_EQ(20u, database_->Items(kPlaylistIndex).at(32).length_low);
  const std::vector<Props> records = Walk();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("Green", records[0].at("title"));
  EXPECT_EQ("New", records[1].at("name"));
}

TEST_F(FidTagMapperTest, RemoveRecord) {
  ASSERT_EQ(rc::kOk, StoreNew(kTune));
  ASSERT_EQ(rc::kOk, StoreNew({{"fid", "32"}, {"type", "vund"}, {"title", "v"}}));
  EXPECT_EQ(rc::kOk, FidTagMapper::RemoveRecord(database_.get(), 16400));
  EXPECT_EQ(rc::kNotFound, FidTagMapper::RemoveRecord(database_.get(), 16400));
  EXPECT_EQ(kNull, database_->Reader().Lookup(16400));
  EXPECT_EQ(rc::kOk, FidTagMapper::RemoveRecord(database_.get(), 32));
  EXPECT_TRUE(Walk().empty());
}

// An image must keep its positions below 2^23 words; a record that would push it past that is
// refused and leaves records and image as they were.
TEST_F(FidTagMapperTest, RecordTooLargeForAnImageChangesNothing) {
  ASSERT_EQ(rc::kOk, StoreNew(kTune));
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  database_->GetImage(&image, &size);
  const std::vector<uint8_t> before(image, image + size);
  Props huge = kTune;
  huge["title"] = std::string(25200000, 'x');
  EXPECT_EQ(rc::kFail, Store(huge));
  huge["fid"] = "32";
  EXPECT_EQ(rc::kFail, StoreNew(huge));
  EXPECT_EQ("Blue", Track(16400).text[0]);
  EXPECT_EQ(0u, database_->Tracks().count(32));
  database_->GetImage(&image, &size);
  EXPECT_EQ(before, std::vector<uint8_t>(image, image + size));
  EXPECT_EQ(1u, Walk().size());
}

TEST_F(FidTagMapperTest, NegativeDurationIsStoredAsZero) {
  Props props = kTune;
  props["duration"] = "-1";
  ASSERT_EQ(rc::kOk, StoreNew(props));
  EXPECT_EQ(0u, Track(16400).number[10]);
}

TEST_F(FidTagMapperTest, BitrateAndRidTexts) {
  struct Case {
    const char* bitrate;
    uint32_t field11;
    uint32_t field12;
    const char* back;
  } const cases[] = {
      {"vs128", 128000 | 0x800000, 2, "vs128"},
      {"fm64", 64000, 1, "fm64"},
      {"", 0, 0, "f?0"},
      {"xx", 0, 0, "f?0"},
      {"??96", 96000, 0, "f?96"},
      {"fs9000", 0x7FFFFF, 2, "fs8388"},  // beyond the field's 23 bits: capped, not wrapped
  };
  uint32_t fid = 16;
  for (const Case& c : cases) {
    Props props = kTune;
    props["fid"] = std::to_string(fid);
    props["bitrate"] = c.bitrate;
    ASSERT_EQ(rc::kOk, StoreNew(props)) << c.bitrate;
    EXPECT_EQ(c.field11, Track(fid).number[11]) << c.bitrate;
    EXPECT_EQ(c.field12, Track(fid).number[12]) << c.bitrate;
    fid += 16;
  }
  std::map<std::string, std::string> back;
  for (const Props& p : Walk()) back[p.at("fid")] = p.at("bitrate");
  fid = 16;
  for (const Case& c : cases) {
    EXPECT_EQ(c.back, back[std::to_string(fid)]) << c.bitrate;
    fid += 16;
  }

  const struct {
    const char* text;
    const char* back;
  } rids[] = {
      {"", "00000000000000000000000000000000"},
      {"ABCDEF", "abcdef00000000000000000000000000"},
      {"12zz34", "12000000000000000000000000000000"},
      {"0102030405060708090a0b0c0d0e0f10ffff", "0102030405060708090a0b0c0d0e0f10"},
  };
  ASSERT_EQ(rc::kOk, StoreNew(kTune));
  for (const auto& r : rids) {
    Props props = kTune;
    props["rid"] = r.text;
    ASSERT_EQ(rc::kOk, Store(props));
    for (const Props& p : Walk()) {
      if (p.at("fid") == "16400") {
        EXPECT_EQ(r.back, p.at("rid")) << r.text;
      }
    }
  }
}

}  // namespace
