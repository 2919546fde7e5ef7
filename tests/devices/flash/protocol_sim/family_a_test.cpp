#include "devices/flash/sardane_channel_a.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "devices/fid_list.h"
#include "devices/flash/fid_list_image.h"
#include "devices/flash_predictor.h"
#include "devices/flash/protocol_sim/sardane_fixture.h"
#include "devices/output_stream.h"
#include "devices/predictor.h"
#include "devices/flash/type_codes.h"
#include "sim/flash/flash_player_a.h"
#include "support/memory_stream.h"

namespace {

// A database record as the player keeps it; offsets are the player's, spelled out here so the
// channel's own constants are not checked against themselves.
struct DbRecord {
  uint32_t flags = 0x110;
  std::string name;  // raw bytes (Latin-1)
  bool rid = false;
  std::string rid_bytes;
  std::string title, artist, album, genre, year;
  uint32_t ctime = 0, seconds = 0, length = 0, code = 0;
  uint8_t track = 0;

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> r(256, 0);
    const auto put = [&r](size_t at, const std::string& text, size_t width) {
      memcpy(&r[at], text.data(), std::min(text.size(), width));
    };
    SimPutLe32(&r[0], flags);
    put(12, name, rid ? 12 : 32);
    if (rid) {
      r[25] = r[26] = 0x1D;
      put(27, rid_bytes, 16);
    }
    put(44, title, 48);
    put(92, artist, 48);
    put(140, album, 48);
    put(188, genre, 22);
    put(210, year, 4);
    SimPutLe32(&r[216], ctime);
    SimPutLe32(&r[236], seconds);
    SimPutLe32(&r[244], length);
    r[249] = track;
    SimPutLe32(&r[252], code);
    return r;
  }
};

DbRecord Named(const std::string& name) {
  DbRecord r;
  r.name = name;
  return r;
}

std::vector<uint8_t> EmptySlot() { return std::vector<uint8_t>(256, 0); }

std::string FieldAt(const std::vector<uint8_t>& record, size_t at, size_t width) {
  const auto begin = record.begin() + at;
  return std::string(begin, std::find(begin, begin + width, 0));
}

class RecordingContents : public ContentsVisitor {
 public:
  bool Storage(PropertyHolder& storage) override {
    storages.push_back(storage.GetSet());
    return storage_answer;
  }
  bool File(uint32_t storage, PropertyHolder& file, uint32_t*) override {
    files.emplace_back(storage, file.GetSet());
    return true;
  }
  bool RootPlaylist(uint32_t, PropertyHolder&, uint32_t*) override { return true; }
  bool PlaylistMembers(uint32_t, const std::vector<uint32_t>&) override { return true; }

  bool storage_answer = true;
  std::vector<RefPtr<PropertySet>> storages;
  std::vector<std::pair<uint32_t, RefPtr<PropertySet>>> files;
};

class FamilyATest : public ::testing::Test {
 protected:
  FamilyATest() { MakeChannel(0x5202); }

  void MakeChannel(uint32_t product_id) {
    channel.reset();
    auto* transport = new SimUsbHardware(player, product_id);
    EXPECT_EQ(rc::kOk, transport->Open());
    channel.reset(new SardaneChannelA(transport, product_id, &clock));
    player->ClearLog();
  }

  // Every operation leaves a present player unlocked and idle, whatever happened.
  void TearDown() override {
    if (player->unplugged) return;
    EXPECT_EQ(0, player->lock_depth);
    EXPECT_FALSE(player->Busy());
  }

  Lines Log() const { return player->LogLines(); }
  bool Sent(const std::string& line) const {
    const Lines log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  std::vector<RefPtr<PropertySet>> List(Result expected = rc::kOk) {
    RecordingVisitor visitor;
    EXPECT_EQ(expected, channel->EnumFiles(0, &visitor));
    return visitor.items;
  }

  // Uploads `data` through the channel's writer with the file's properties.
  Result Upload(const std::string& data, PropertyHolder& file) {
    OutputStream* raw = nullptr;
    Result result = channel->CreateNewFile(0, &raw);
    if (rc::Failed(result)) return result;
    std::unique_ptr<OutputStream> out(raw);
    result = out->Write(reinterpret_cast<const uint8_t*>(data.data()),
                        static_cast<uint32_t>(data.size()));
    return rc::Succeeded(result) ? out->Finish(file) : result;
  }

  std::shared_ptr<SimFlashPlayerA> player = std::make_shared<SimFlashPlayerA>();
  FakeClock clock;
  std::unique_ptr<SardaneChannelA> channel;
};

// --- state, device and storage ---------------------------------------------------------------

TEST_F(FamilyATest, StateFollowsTheStatusWordAndRequest118) {
  const struct {
    uint32_t word, value118;
    int32_t state;
  } cases[] = {
      {0x001, 0x20, kStateReady},       {0x001, 0x02, kStateReady},
      {0x001, 0x22, kStateReady},       {0x001, 0x28, kStateNotUsable},
      {0x001, 0x0A, kStateNotUsable},   {0x001, 0x00, kStateNotUsable},
      {0x001, 0x41, kStateNotUsable},   {0xF00, 0x20, kStateNotUsable},
      {0x001, 0xFFFFFFFF, kStateError},  // the invalid value is a failure
  };
  for (const auto& c : cases) {
    player->status_word = c.word;
    player->value118 = c.value118;
    EXPECT_EQ(c.state, channel->GetState()) << std::hex << c.word << " " << c.value118;
  }
  player->unplugged = true;
  EXPECT_EQ(kStateGone, channel->GetState());
}

TEST_F(FamilyATest, DeviceInformationNamesThePlayerByItsDeviceId) {
  const struct {
    uint32_t device_id;
    const char* name;
  } cases[] = {{0x5202, "Qel Pirn"}, {0x5801, "Qel Wirra"},
               {0x5003, "Sim Player"}};  // other ids keep the name of the information block
  for (const auto& c : cases) {
    SimPutLe32(&player->info_block[4], c.device_id << 16 | 0x0102);
    PropertyHolder info;
    ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
    EXPECT_EQ(c.name, info.GetString("name"));
  }
}

TEST_F(FamilyATest, CapabilitiesLeaveOutFormat) {
  SimPutLe32(&player->info_block[8], 0x10000);  // file_replace
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
  EXPECT_EQ(";firmware;device_prefs;file_replace;", info.GetString("capabilities"));
  bool has = true;
  ASSERT_EQ(rc::kOk, channel->HasCapability("format", &has));
  EXPECT_FALSE(has);
}

TEST_F(FamilyATest, StorageInformationCountsKilobyteBlocks) {
  SimStorage& s = player->Storage(0);
  s.total_blocks = 2000, s.used_blocks = 500, s.free_blocks = 1500;
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetStorageInfo(0, info));
  RefPtr<PropertySet> set = info.GetSet();
  EXPECT_EQ(0, set->GetInt("storage_index"));
  EXPECT_EQ(6, set->GetInt("storage_type"));
  EXPECT_EQ(1024, set->GetInt("block_size"));
  EXPECT_EQ(2000, set->GetInt("size_in_blocks"));
  EXPECT_EQ(int64_t{1500} * 1024, set->GetInt64("free_in_bytes"));
}

// --- listing ---------------------------------------------------------------------------------

TEST_F(FamilyATest, ListingDecodesEveryFieldOfADatabaseRecord) {
  DbRecord r;
  r.flags = 0x110 | 0x8000000;
  r.name = "Caf\xE9.mp3";
  r.rid = true;
  r.rid_bytes = std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16);
  r.title = "Ni\xF1o";
  r.artist = "Art";
  r.album = std::string(48, 'a');  // no terminator: the field's width ends it
  r.genre = "Jazz";
  r.year = "1999";
  r.ctime = 1000000000, r.seconds = 215, r.length = 123456, r.track = 7;
  r.code = TypeCode("MPG3");
  player->AddSlot(r.Bytes());

  const auto files = List();
  ASSERT_EQ(1u, files.size());
  PropertySet& f = *files[0];
  EXPECT_EQ(0, f.GetInt("fid"));
  EXPECT_EQ("Caf\xC3\xA9.mp3", f.GetString("name"));
  EXPECT_EQ("00112233445566778899aabbccddeeff", f.GetString("rid"));
  EXPECT_EQ("Ni\xC3\xB1o", f.GetString("title"));
  EXPECT_EQ("Art", f.GetString("artist"));
  EXPECT_EQ(std::string(48, 'a'), f.GetString("album"));
  EXPECT_EQ("Jazz", f.GetString("genre"));
  EXPECT_EQ(1999, f.GetInt("year"));
  EXPECT_EQ(1000000000, f.GetInt("ctime"));
  EXPECT_EQ(215000, f.GetInt("duration"));
  EXPECT_EQ(123456, f.GetInt("length"));
  EXPECT_EQ(7, f.GetInt("tracknr"));
  EXPECT_EQ(";recorded;", f.GetString("flags"));
  EXPECT_EQ("tune", f.GetString("type"));
  EXPECT_EQ("mp3", f.GetString("codec"));
  EXPECT_EQ((Lines{"C101", "C96", "C130", "R:SQELDBSE", "W:CQELDATA", "R:SQELDATA", "R16384",
                   "W:CQELDATA", "R:SQELDONE", "C102"}),
            Log());
}

TEST_F(FamilyATest, NameFieldWidthDependsOnTheRidMarker) {
  DbRecord with_rid = Named("ABCDEFGH.MP3");  // fills all 12 bytes
  with_rid.rid = true;
  with_rid.rid_bytes = "ridbytes-ridbyte";
  DbRecord without_rid = Named(std::string(20, 'n') + ".wma");  // runs over the rid area
  DbRecord long_name = Named(std::string(40, 'x'));             // cut at 32 bytes
  for (const DbRecord& r : {with_rid, without_rid, long_name}) player->AddSlot(r.Bytes());

  const auto files = List();
  ASSERT_EQ(3u, files.size());
  EXPECT_EQ("ABCDEFGH.MP3", files[0]->GetString("name"));
  EXPECT_EQ("tune", files[0]->GetString("type"));  // code 0: taken from ".MP3"
  EXPECT_EQ(std::string(20, 'n') + ".wma", files[1]->GetString("name"));
  EXPECT_EQ("", files[1]->GetString("rid"));
  EXPECT_EQ(std::string(32, 'x'), files[2]->GetString("name"));
}

TEST_F(FamilyATest, TypeComesFromTheExtensionWhenTheCodeIsZero) {
  const struct {
    const char* name;
    uint32_t code;
  } cases[] = {{"a.mp3", TypeCode("MPG3")}, {"b.Mp3", TypeCode("MPG3")},
               {"c.WMA", TypeCode("WMA ")}, {"d.ogg", 0}, {"noextension", 0}};
  for (const auto& c : cases) player->AddSlot(Named(c.name).Bytes());
  const auto files = List();
  ASSERT_EQ(5u, files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    std::string type, codec;
    DescribeTypeCode(cases[i].code, &type, &codec);
    EXPECT_EQ(type, files[i]->GetString("type")) << cases[i].name;
    EXPECT_EQ(codec, files[i]->GetString("codec")) << cases[i].name;
  }
}

TEST_F(FamilyATest, YearDigitsAndLargeDurations) {
  DbRecord none = Named("none"), short_year = Named("short"), huge = Named("huge");
  short_year.year = "98";
  huge.seconds = 0xFFFFFFFF;
  for (const DbRecord& r : {none, short_year, huge}) player->AddSlot(r.Bytes());
  const auto files = List();
  ASSERT_EQ(3u, files.size());
  EXPECT_EQ(0, files[0]->GetInt("year"));
  EXPECT_EQ(98, files[1]->GetInt("year"));
  // Seconds times 1000 do not fit 32 bits; the duration stays at its largest value.
  EXPECT_EQ(INT32_MAX, files[2]->GetInt("duration"));
}

TEST_F(FamilyATest, FidIsThePositionOfTheRecordInTheWholeDatabase) {
  player->AddSlot(EmptySlot());
  for (int i = 0; i < 3; ++i) player->AddSlot(Named("first" + std::to_string(i)).Bytes());
  // A second chunk: positions go on counting across chunks and empty slots.
  while (player->slots.size() < 64) player->AddSlot(EmptySlot());
  player->AddSlot(Named("second").Bytes());
  player->AddSlot(EmptySlot());
  player->AddSlot(Named("third").Bytes());

  const auto files = List();
  std::vector<std::pair<std::string, int32_t>> got;
  for (const auto& f : files) got.emplace_back(f->GetString("name"), f->GetInt("fid"));
  EXPECT_EQ((std::vector<std::pair<std::string, int32_t>>{
                {"first0", 1}, {"first1", 2}, {"first2", 3}, {"second", 64}, {"third", 66}}),
            got);
}

TEST_F(FamilyATest, AFalseAnswerStopsHandingFilesButFinishesTheListing) {
  for (int i = 0; i < 70; ++i) player->AddSlot(Named("f" + std::to_string(i)).Bytes());
  RecordingVisitor visitor(2);
  EXPECT_EQ(rc::kOk, channel->EnumFiles(0, &visitor));
  EXPECT_EQ(2u, visitor.items.size());
  EXPECT_TRUE(Sent("R:SQELDONE"));
  EXPECT_EQ(0, player->aborts);
  // No callback at all lists just the same.
  player->ClearLog();
  EXPECT_EQ(rc::kOk, channel->EnumFiles(0, nullptr));
  EXPECT_TRUE(Sent("R:SQELDONE"));
}

TEST_F(FamilyATest, ListingErrors) {
  player->AddSlot(Named("a").Bytes());
  RecordingVisitor visitor;
  EXPECT_EQ(static_cast<Result>(0xC0049006), channel->EnumFiles(1, &visitor));
  EXPECT_TRUE(Log().empty());

}

TEST_F(FamilyATest, APlayerWithoutDatabaseListsNoFiles) {
  // A new or formatted player answers "no database"; it must stay usable, so the listing is
  // empty rather than failed.
  player->has_database = false;
  RecordingVisitor visitor;
  EXPECT_EQ(rc::kOk, channel->EnumFiles(0, &visitor));
  EXPECT_TRUE(visitor.items.empty());
  EXPECT_EQ(0, player->aborts);
}

// A player that announces one record and then sends three chunks of them.
class OverlongDatabasePlayer : public SimFlashPlayerA {
 protected:
  bool OnRequest(uint8_t request, uint16_t value, uint16_t index, uint32_t* word) override {
    if (request != 130) return SimFlashPlayerA::OnRequest(request, value, index, word);
    std::string image;
    for (int i = 0; i < 3 * 64; ++i) {
      const auto bytes = Named("x").Bytes();
      image.append(bytes.begin(), bytes.end());
    }
    QueueStatus("DBSE", 256);
    mode_ = Mode::kDownload;
    download_data_ = image;
    download_offset_ = 0;
    download_ends_with_done_ = true;
    *word = 1;
    return true;
  }
};

TEST_F(FamilyATest, APlayerSendingMoreThanItAnnouncedIsCutOff) {
  player = std::make_shared<OverlongDatabasePlayer>();
  MakeChannel(0x5202);
  RecordingVisitor visitor;
  EXPECT_EQ(rc::kBadData, channel->EnumFiles(0, &visitor));
  EXPECT_EQ(64u, visitor.items.size());  // the first chunk covers what was announced
  EXPECT_EQ(1, player->aborts);
}

TEST_F(FamilyATest, ContentsWalkReturnsTheListingFailure) {
  player = std::make_shared<OverlongDatabasePlayer>();
  MakeChannel(0x5202);
  RecordingContents contents;
  EXPECT_EQ(rc::kBadData, channel->EnumContents(&contents));
  EXPECT_EQ(1u, contents.storages.size());
  EXPECT_EQ(64u, contents.files.size());
}

TEST_F(FamilyATest, UnpluggedDuringAListing) {
  for (int i = 0; i < 64 * 3; ++i) player->AddSlot(Named("f" + std::to_string(i)).Bytes());
  // Lock, ready poll, request 130 and its status, then the first chunk's three calls.
  player->unplug_after_calls = 8;
  RecordingVisitor visitor;
  const Result result = channel->EnumFiles(0, &visitor);
  EXPECT_TRUE(rc::Failed(result)) << std::hex << result;
  EXPECT_EQ(64u, visitor.items.size());
  EXPECT_EQ(kStateGone, channel->GetState());
}

// --- contents walk ---------------------------------------------------------------------------

TEST_F(FamilyATest, ContentsAreTheStoragesThenTheFiles) {
  player->AddSlot(Named("one").Bytes());
  player->AddSlot(EmptySlot());
  player->AddSlot(Named("two").Bytes());
  for (bool storage_answer : {true, false}) {
    RecordingContents contents;
    contents.storage_answer = storage_answer;
    EXPECT_EQ(rc::kOk, channel->EnumContents(&contents));
    ASSERT_EQ(1u, contents.storages.size());
    EXPECT_EQ(6, contents.storages[0]->GetInt("storage_type"));
    // Files are listed even when the storages were no longer wanted.
    ASSERT_EQ(2u, contents.files.size());
    EXPECT_EQ(0u, contents.files[0].first);
    EXPECT_EQ("one", contents.files[0].second->GetString("name"));
    EXPECT_EQ(2, contents.files[1].second->GetInt("fid"));
  }
}

// --- upload and delete -----------------------------------------------------------------------

TEST_F(FamilyATest, UploadStoresTheBytesAndTheRecordFields) {
  const std::string data = Pattern(20000);
  PropertyHolder file;
  file.SetString("name", "S\xC5\x93ur caf\xC3\xA9 longue.mp3");  // "œ" has no Latin-1 form
  file.SetString("title", std::string(200, 't'));
  file.SetString("artist", "Artist");
  file.SetString("source", "The Album");
  file.SetString("genre", "Rock");
  file.SetString("rid", "0102030405060708090a0b0c0d0e0f10");
  file.SetString("type", "tune");
  file.SetString("codec", "mp3");
  file.SetInt("year", 1987);
  file.SetInt("ctime", 1234567890);
  file.SetInt("duration", 215999);
  file.SetInt("length", 20000);
  file.SetInt("tracknr", 150);
  ASSERT_EQ(rc::kOk, Upload(data, file));

  ASSERT_EQ(1u, player->slots.size());
  const SimDatabaseSlot& slot = player->slots[0];
  EXPECT_EQ(data, slot.data);
  const std::vector<uint8_t>& rec = slot.file_record;
  ASSERT_EQ(2048u, rec.size());
  EXPECT_EQ(0u, SimGetLe32(&rec[20]) & 0x1000000);  // never UTF-8
  EXPECT_EQ("S\xBFur caf\xE9 longue.mp3", FieldAt(rec, 768, 256));
  EXPECT_EQ(std::string(127, 't'), FieldAt(rec, 128, 128));
  EXPECT_EQ("Artist", FieldAt(rec, 256, 96));
  EXPECT_EQ("The Album", FieldAt(rec, 352, 96));
  EXPECT_EQ("Rock", FieldAt(rec, 64, 64));
  // The database part.
  EXPECT_EQ(SimGetLe32(&rec[20]), SimGetLe32(&rec[512]));
  EXPECT_EQ(0, rec[536]);
  EXPECT_EQ(0x1D, rec[537]);
  EXPECT_EQ(0x1D, rec[538]);
  EXPECT_EQ(0, rec[555]);
  EXPECT_EQ("S\xBFur ca.mp3", FieldAt(rec, 524, 12));  // the extension survives the cut
  EXPECT_EQ(std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10"),
            std::string(rec.begin() + 539, rec.begin() + 555));
  EXPECT_EQ(std::string(47, 't'), FieldAt(rec, 556, 48));
  EXPECT_EQ("Artist", FieldAt(rec, 604, 48));
  EXPECT_EQ("The Album", FieldAt(rec, 652, 48));
  EXPECT_EQ("Rock", FieldAt(rec, 700, 22));
  EXPECT_EQ("1987", std::string(rec.begin() + 722, rec.begin() + 726));
  EXPECT_EQ(1234567890u, SimGetLe32(&rec[728]));
  EXPECT_EQ(215u, SimGetLe32(&rec[748]));
  EXPECT_EQ(0u, SimGetLe32(&rec[752]));
  EXPECT_EQ(20000u, SimGetLe32(&rec[756]));
  EXPECT_EQ(99, rec[761]);
  EXPECT_EQ(TypeCode("MPG3"), SimGetLe32(&rec[764]));

  // The player lists it back from its database.
  const auto files = List();
  ASSERT_EQ(1u, files.size());
  EXPECT_EQ(0, files[0]->GetInt("fid"));
  EXPECT_EQ("S\xC2\xBFur ca.mp3", files[0]->GetString("name"));
  EXPECT_EQ("The Album", files[0]->GetString("album"));
  EXPECT_EQ("The Album", files[0]->GetString("source"));  // the name uploads and WMDM use
  EXPECT_EQ(1987, files[0]->GetInt("year"));
  EXPECT_EQ(99, files[0]->GetInt("tracknr"));
  EXPECT_EQ(215000, files[0]->GetInt("duration"));
  EXPECT_EQ("0102030405060708090a0b0c0d0e0f10", files[0]->GetString("rid"));
}

TEST_F(FamilyATest, AFailedUploadLeavesNoFileAndAnIdlePlayer) {
  player->fail_write_at = 2;  // the first data chunk
  player->fail_write_code = rc::kTimeout;
  PropertyHolder file;
  file.SetString("name", "x.mp3");
  file.SetInt("length", 20000);
  EXPECT_TRUE(rc::Failed(Upload(Pattern(20000), file)));
  EXPECT_TRUE(Sent("W:CQELABRT"));
  EXPECT_EQ(0u, player->FileCount());
}

// The player chooses where a new file goes; the writer gives the file the "fid" of the position
// the player filed it at, found by its record in the database.
TEST_F(FamilyATest, AnUploadLearnsThePositionThePlayerChose) {
  const struct {
    SimFlashPlayerA::SlotPolicy policy;
    uint32_t expected_fid;
  } cases[] = {
      {SimFlashPlayerA::SlotPolicy::kLowestFree, 1},
      {SimFlashPlayerA::SlotPolicy::kAppend, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.policy));
    player = std::make_shared<SimFlashPlayerA>();
    player->slot_policy = c.policy;
    std::vector<uint8_t> used(256, 0);
    SimPutLe32(&used[0], 0x110);
    player->AddSlot(used);
    player->AddSlot(std::vector<uint8_t>(256, 0));  // a file deleted earlier
    player->AddSlot(used);
    MakeChannel(0x5202);
    PropertyHolder file;
    file.SetString("name", "new.mp3");
    file.SetInt("length", 100);
    file.SetInt("fid", 1);  // the host's prediction: the lowest free position
    ASSERT_EQ(rc::kOk, Upload(Pattern(100), file));
    EXPECT_EQ(static_cast<int32_t>(c.expected_fid), file.GetSet()->GetInt("fid"));
    EXPECT_EQ("new.mp3", std::string(reinterpret_cast<const char*>(
                             &player->slots.at(c.expected_fid).record[12])));
  }
}

// A second copy of one file goes after the first on a player that appends; a player that lost
// the record fails the upload rather than let the host guess.
TEST_F(FamilyATest, EqualRecordsAndAMissingRecord) {
  player->slot_policy = SimFlashPlayerA::SlotPolicy::kAppend;
  PropertyHolder first;
  first.SetString("name", "same.mp3");
  first.SetInt("length", 100);
  ASSERT_EQ(rc::kOk, Upload(Pattern(100), first));
  player->AddSlot(std::vector<uint8_t>(256, 0));  // a file deleted earlier
  PropertyHolder second = PropertyHolder::CloneFrom(first);
  second.SetInt("fid", 1);  // predicted: the free position
  ASSERT_EQ(rc::kOk, Upload(Pattern(100), second));
  EXPECT_EQ(0, first.GetSet()->GetInt("fid"));
  EXPECT_EQ(2, second.GetSet()->GetInt("fid"));

  class ForgetfulPlayer : public SimFlashPlayerA {
   protected:
    void TakeInfoRecord(const std::vector<uint8_t>& record) override {
      SimFlashPlayerA::TakeInfoRecord(record);
      slots.back().record[44] ^= 1;  // files the record with another title
    }
  };
  player = std::make_shared<ForgetfulPlayer>();
  MakeChannel(0x5202);
  PropertyHolder lost;
  lost.SetString("name", "lost.mp3");
  lost.SetString("title", "Lost");
  EXPECT_EQ(rc::kNotFound, Upload(Pattern(100), lost));
}

struct FamilyARecordCase {
  const char *name, *title, *artist, *source, *genre, *rid;
  int32_t year, ctime, duration, length, tracknr;
  const char *type, *codec, *flags;
  int32_t fid;
  const char* database_part;  // 256 bytes
  const char* name_field;     // 256 bytes
  const char* title_field;    // 128 bytes
};
#include "family_a_records.inc"

TEST_F(FamilyATest, EncodedRecordMatchesTheOracle) {
  for (const auto& c : kFamilyARecordCases) {
    RefPtr<PropertySet> file = NewSet();
    const std::pair<const char*, const char*> texts[] = {
        {"name", c.name},     {"title", c.title}, {"artist", c.artist}, {"source", c.source},
        {"genre", c.genre},   {"rid", c.rid},     {"type", c.type},     {"codec", c.codec},
        {"flags", c.flags}};
    for (const auto& t : texts) file->SetString(t.first, t.second);
    const std::pair<const char*, int32_t> numbers[] = {
        {"year", c.year},     {"ctime", c.ctime},     {"duration", c.duration},
        {"length", c.length}, {"tracknr", c.tracknr}, {"fid", c.fid}};
    for (const auto& n : numbers) file->SetInt(n.first, n.second);
    std::vector<uint8_t> rec(2048, 0);
    ASSERT_EQ(rc::kOk, channel->EncodeFileRecord(rec.data(), *file));
    EXPECT_EQ(std::string(c.database_part, 256), std::string(rec.begin() + 512, rec.begin() + 768))
        << c.name;
    EXPECT_EQ(std::string(c.name_field, 256), std::string(rec.begin() + 768, rec.begin() + 1024))
        << c.name;
    EXPECT_EQ(std::string(c.title_field, 128), std::string(rec.begin() + 128, rec.begin() + 256))
        << c.name;
  }
}

TEST_F(FamilyATest, EncoderBoundsEdgeValues) {
  const struct {
    int32_t year, track;
    const char* digits;
    uint8_t stored_track;
  } cases[] = {{0, 0, "\0\0\0\0", 0},   {-5, -1, "\0\0\0\0", 0}, {7, 99, "0007", 99},
               {12345, 100, "2345", 99}, {2024, 42, "2024", 42}};
  for (const auto& c : cases) {
    RefPtr<PropertySet> file = NewSet();
    file->SetString("name", "x.mp3");
    file->SetInt("year", c.year);
    file->SetInt("tracknr", c.track);
    std::vector<uint8_t> rec(2048, 0xEE);
    ASSERT_EQ(rc::kOk, channel->EncodeFileRecord(rec.data(), *file));
    EXPECT_EQ(std::string(c.digits, 4), std::string(rec.begin() + 722, rec.begin() + 726))
        << c.year;
    EXPECT_EQ(c.stored_track, rec[761]) << c.track;
    EXPECT_EQ("x.mp3", FieldAt(rec, 556, 48));  // the name stands in for a missing title
    EXPECT_EQ(std::string(16, '\0'), std::string(rec.begin() + 539, rec.begin() + 555));
  }
}

TEST_F(FamilyATest, FileRecordDecodesInTheModeOfItsFlag) {
  const struct {
    uint32_t flags;
    std::string bytes, name;
  } cases[] = {{0x110, "Caf\xE9", "Caf\xC3\xA9"},
               {0x110 | 0x1000000, "Caf\xC3\xA9", "Caf\xC3\xA9"}};
  for (const auto& c : cases) {
    std::vector<uint8_t> rec(2048, 0);
    SimPutLe32(&rec[0], 9);
    SimPutLe32(&rec[20], c.flags);
    memcpy(&rec[768], c.bytes.data(), c.bytes.size());
    memcpy(&rec[128], c.bytes.data(), c.bytes.size());
    memcpy(&rec[352], "Album", 5);
    memcpy(&rec[722], "2001", 4);
    SimPutLe32(&rec[728], 777);
    rec[761] = 12;
    PropertyHolder file;
    ASSERT_EQ(rc::kOk, channel->ConvertFileInfo(file, rec.data(), 2048));
    EXPECT_EQ(c.name, file.GetString("name"));
    EXPECT_EQ(c.name, file.GetString("title"));
    EXPECT_EQ("Album", file.GetString("album"));
    EXPECT_EQ("Album", file.GetString("source"));
    EXPECT_EQ("", file.GetString("rid"));  // no marker
    RefPtr<PropertySet> set = file.GetSet();
    EXPECT_EQ(9, set->GetInt("fid"));
    EXPECT_EQ(2001, set->GetInt("year"));
    EXPECT_EQ(777, set->GetInt("ctime"));
    EXPECT_EQ(12, set->GetInt("tracknr"));
  }
  PropertyHolder file;
  std::vector<uint8_t> short_record(2047, 0);
  EXPECT_EQ(rc::kBadData, channel->ConvertFileInfo(file, short_record.data(), 2047));
}

TEST_F(FamilyATest, DeleteNamesTheFileByItsDatabasePosition) {
  for (const char* name : {"a", "b", "c"}) player->AddSlot(Named(name).Bytes());
  auto files = List();
  ASSERT_EQ(3u, files.size());
  PropertyHolder b;
  b.SetInt("fid", files[1]->GetInt("fid"));
  player->ClearLog();
  ASSERT_EQ(rc::kOk, channel->DeleteFile(0, b));
  EXPECT_TRUE(Sent("C120"));
  EXPECT_EQ(2u, player->FileCount());

  files = List();
  ASSERT_EQ(2u, files.size());
  EXPECT_EQ("a", files[0]->GetString("name"));
  EXPECT_EQ(0, files[0]->GetInt("fid"));
  EXPECT_EQ("c", files[1]->GetString("name"));
  EXPECT_EQ(2, files[1]->GetInt("fid"));  // the others keep their positions

  // Deleting it again finds nothing and changes nothing.
  EXPECT_TRUE(rc::Failed(channel->DeleteFile(0, b)));
  EXPECT_EQ(2u, player->FileCount());
}

TEST_F(FamilyATest, RecordBlockCarriesOnlyTheFid) {
  std::vector<uint8_t> rec(2048, 0xEE);
  ASSERT_EQ(rc::kOk, channel->ReadRecordBlock(rec.data(), 0, 0x01020304));
  std::vector<uint8_t> expected(2048, 0);
  SimPutLe32(&expected[516], 0x01020304);
  EXPECT_EQ(expected, rec);
  EXPECT_TRUE(Log().empty());
}

// --- predictor and what family A does not offer ----------------------------------------------

TEST_F(FamilyATest, PredictorHandsOutNumberZero) {
  Predictor* raw = nullptr;
  ASSERT_EQ(rc::kOk, channel->CreatePredictor(0, &raw));
  std::unique_ptr<Predictor> predictor(raw);
  ASSERT_NE(nullptr, dynamic_cast<FlashPredictor*>(raw));
  EXPECT_EQ(nullptr, dynamic_cast<OmfsPredictor*>(raw));
  PropertyHolder storage;
  ASSERT_EQ(rc::kOk, channel->GetStorageInfo(0, storage));
  ASSERT_EQ(rc::kOk, predictor->Reset(storage));
  PropertyHolder file;
  file.SetInt("length", 1000);
  uint32_t blocks = 0;
  ASSERT_EQ(rc::kOk, predictor->AccountNewFile(file, &blocks));
  EXPECT_EQ(0, file.GetSet()->GetInt("fid"));
}

TEST_F(FamilyATest, OperationsFamilyADoesNotOffer) {
  PropertyHolder holder;
  MemoryStream sink;
  const std::pair<const char*, std::function<Result()>> cases[] = {
      {"Request117", [&] { return channel->Request117(1, 2, 3); }},
      {"Request145", [&] { return channel->Request145(5); }},
      {"Request137", [&] { return channel->Request137(1, 2); }},
      {"Request146", [&] { return channel->Request146(1, 2); }},
      {"GetHardwareInfo", [&] { return channel->GetHardwareInfo(holder); }},
      {"ListStateFiles", [&] { return channel->ListStateFiles(); }},
      {"ReloadDatabase", [&] { return channel->ReloadDatabase(&sink); }},
      {"ReservedOperation", [&] { return channel->ReservedOperation(0); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<Result>(0x80004001), c.second()) << c.first;
    EXPECT_TRUE(Log().empty()) << c.first;
  }
  EXPECT_EQ(0, player->last_value);

  RefPtr<FidList> list;
  ASSERT_EQ(rc::kOk, CreateFidList(&list));
  EXPECT_EQ(static_cast<Result>(0x80004001), channel->EnumFids(&list));
  EXPECT_FALSE(list);
}

TEST(FamilyAFactory, CreatesTheChannelAndOwnsTheTransport) {
  auto player = std::make_shared<SimFlashPlayerA>();
  auto* transport = new SimUsbHardware(player, 0x5801);
  ASSERT_EQ(rc::kOk, transport->Open());
  Channel* raw = nullptr;
  ASSERT_EQ(rc::kOk, CreateSardaneChannelA(transport, 0x5801, &raw));
  std::unique_ptr<Channel> channel(raw);
  ASSERT_NE(nullptr, dynamic_cast<SardaneChannelA*>(raw));
  uint32_t product_id = 0;
  EXPECT_EQ(rc::kOk, channel->GetDeviceID(&product_id));
  EXPECT_EQ(0x5801u, product_id);
  EXPECT_EQ(kStateReady, channel->GetState());
  channel.reset();
  EXPECT_EQ(0, player->holders);  // the transport was closed with the channel
}

}  // namespace
