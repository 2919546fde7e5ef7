// Flash families C, D and E over the simulated directory player.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <map>
#include <memory>

#include "devices/device.h"
#include "devices/flash/directory_record.h"
#include "devices/flash/fid_list_image.h"
#include "devices/flash/protocol_sim/session_fixture.h"
#include "devices/output_stream.h"
#include "devices/predictor.h"
#include "devices/flash/sardane_channel_c.h"
#include "devices/flash/sardane_channel_d.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "sim/flash/flash_player_cde.h"
#include "support/memory_stream.h"

namespace {

const std::string kCafe = "Caf\xC3\xA9";  // UTF-8

class Collect : public HolderVisitor {
 public:
  explicit Collect(size_t stop_after = SIZE_MAX) : stop_after_(stop_after) {}
  bool Visit(PropertyHolder& item) override {
    items.push_back(item.GetSet());
    return items.size() < stop_after_;
  }
  std::vector<RefPtr<PropertySet>> items;

 private:
  size_t stop_after_;
};

// Hands out handles 100, 101, ... and records what it was given.
class ContentsRecorder : public ContentsVisitor {
 public:
  bool Storage(PropertyHolder& storage) override {
    storages.push_back(storage.GetString("name"));
    return true;
  }
  bool File(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    *handle = 100 + static_cast<uint32_t>(files.size());
    files[*handle] = std::to_string(storage) + ":" + file.GetString("name");
    return true;
  }
  bool RootPlaylist(uint32_t, PropertyHolder&, uint32_t*) override { return false; }
  bool PlaylistMembers(uint32_t playlist, const std::vector<uint32_t>& members) override {
    std::vector<std::string> names;
    for (uint32_t m : members) names.push_back(files.at(m));
    playlists[files.at(playlist)] = names;
    return true;
  }
  std::vector<std::string> storages;
  std::map<uint32_t, std::string> files;
  std::map<std::string, std::vector<std::string>> playlists;
};

RefPtr<PropertySet> Props(std::initializer_list<std::pair<const char*, std::string>> texts,
                          std::initializer_list<std::pair<const char*, int32_t>> numbers = {}) {
  RefPtr<PropertySet> set;
  EXPECT_EQ(rc::kOk, PropertySet::Create(&set));
  EXPECT_EQ(rc::kOk, set->AddNew());
  for (const auto& [name, value] : texts) set->SetString(name, value);
  for (const auto& [name, value] : numbers) set->SetInt(name, value);
  return set;
}

class FamilyCdeTest : public ::testing::Test {
 protected:
  // Family C for ids 0x5001-0x5003 and 0x5008, family D otherwise; 0x501C is family E.
  void Make(uint16_t product_id, uint32_t capabilities = 0) {
    channel.reset();
    const bool c = product_id <= 0x5003 || product_id == 0x5008;
    player = std::make_shared<SimDirectoryPlayer>(c, product_id);
    player->SetCapabilities(capabilities);
    auto* transport = new SimUsbHardware(player, product_id);
    EXPECT_EQ(rc::kOk, transport->Open());
    if (c)
      channel.reset(new SardaneChannelC(transport, product_id, &clock));
    else if (product_id == 0x501C)
      channel.reset(new SardaneChannelE(transport, product_id, &clock));
    else
      channel.reset(new SardaneChannelD(transport, product_id, &clock));
    player->ClearLog();
  }

  std::vector<uint8_t> Encode(PropertySet& props) {
    std::vector<uint8_t> record(qel::kRecordSize, 0);
    EXPECT_EQ(rc::kOk, channel->EncodeFileRecord(record.data(), props));
    return record;
  }

  void TearDown() override {
    if (player) {
      EXPECT_EQ(0, player->lock_depth);
    }
  }

  std::shared_ptr<SimDirectoryPlayer> player;
  FakeClock clock;
  std::unique_ptr<SardaneDirectoryChannel> channel;
};

// --- device and storages ------------------------------------------------------------------

TEST_F(FamilyCdeTest, FamilyCNamesTheModelAndBothStorages) {
  struct Case {
    uint16_t product_id;
    const char* model;
    const char* card;
    int32_t card_type;
  } cases[] = {
      {0x5001, "Qel Sorn", "Pellor", 4},
      {0x5002, "Qel Tull", "Pellor", 4},
      {0x5003, "Tavik", "MultiMediaCard (MMC)", 2},
      {0x5008, "Qel Urva", "Pellor", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Make(c.product_id);
    PropertyHolder info;
    ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
    EXPECT_EQ(c.model, info.GetString("name"));

    Collect storages;
    ASSERT_EQ(rc::kOk, channel->EnumStorages(&storages));
    ASSERT_EQ(2u, storages.items.size());
    EXPECT_EQ("Internal Memory", storages.items[0]->GetString("name"));
    EXPECT_EQ(1, storages.items[0]->GetInt("storage_type"));
    EXPECT_EQ(c.card, storages.items[1]->GetString("name"));
    EXPECT_EQ(c.card_type, storages.items[1]->GetInt("storage_type"));
    EXPECT_EQ(1, storages.items[1]->GetInt("storage_index"));
  }
}

TEST_F(FamilyCdeTest, FamilyDCountsStorageBytesIn512ByteBlocks) {
  Make(0x5005);
  player->Storage(1).total_blocks = 1024 * 1024;
  player->Storage(1).free_blocks = 1024 * 1024;
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetStorageInfo(1, info));
  RefPtr<PropertySet> set = info.GetSet();
  EXPECT_EQ("Card", set->GetString("name"));  // the player's own name
  EXPECT_EQ(2048, set->GetInt("size_in_blocks"));
  EXPECT_EQ(1, set->GetInt("storage_index"));
}

TEST_F(FamilyCdeTest, FamilyETakesThePartnerIdentity) {
  Channel* raw = nullptr;
  player = std::make_shared<SimDirectoryPlayer>(false, 0x501C);
  player->recovery = true;  // the only answer that keeps the identity's name
  auto* transport = new SimUsbHardware(player, 0x501C);
  ASSERT_EQ(rc::kOk, transport->Open());
  ASSERT_EQ(rc::kOk, CreateSardaneChannelE(transport, 0x501C, &raw));
  std::unique_ptr<Channel> e(raw);
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, e->GetDeviceInfo(info));
  EXPECT_EQ("Yarl Player", info.GetString("name"));
  EXPECT_EQ("Yarl Pulse", info.GetString("manufacturer"));

  // Family D under its own name.
  e.reset();
  transport = new SimUsbHardware(player, 0x5005);
  ASSERT_EQ(rc::kOk, transport->Open());
  ASSERT_EQ(rc::kOk, CreateSardaneChannelD(transport, 0x5005, &raw));
  std::unique_ptr<Channel> d(raw);
  PropertyHolder d_info;
  ASSERT_EQ(rc::kOk, d->GetDeviceInfo(d_info));
  EXPECT_EQ("Qel Player", d_info.GetString("name"));
}

TEST_F(FamilyCdeTest, OldFirmwareWithoutAFormatListPlaysMp3AndWma) {
  Make(0x5006);
  player->old_firmware = true;
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
  EXPECT_EQ(";mp3;wma;", info.GetString("codecs"));
}

TEST_F(FamilyCdeTest, PredictorsAndFidLists) {
  Make(0x5002);
  Predictor* predictor = nullptr;
  EXPECT_EQ(rc::kOk, channel->CreatePredictor(0, &predictor));
  EXPECT_NE(nullptr, predictor);
  delete predictor;
  RefPtr<FidList> list;
  ASSERT_EQ(rc::kOk, CreateFidList(&list));
  EXPECT_EQ(rc::kNotImplemented, channel->EnumFids(&list));
  EXPECT_FALSE(list);

  Make(0x5007);
  predictor = nullptr;
  EXPECT_EQ(rc::kOk, channel->CreatePredictor(1, &predictor));
  EXPECT_NE(nullptr, predictor);
  delete predictor;
  ASSERT_EQ(rc::kOk, channel->EnumFids(&list));
  ASSERT_TRUE(list);
  EXPECT_EQ(0u, list->Count());
}

// --- listing ----------------------------------------------------------------------------

TEST_F(FamilyCdeTest, ListsEachStorageInTheRecordsTextMode) {
  Make(0x5005, kSimCapUtf8);
  player->AddFile(0, 5, "abc", "Caf\xE9.mp3", "Latin");  // Latin-1 record
  SimFile& utf8 = player->AddFile(0, 6, "defg", kCafe + ".mp3", kCafe, 0x12345678);
  SimPutLe32(&utf8.record[kSimFlagsAt], 0x110 | kSimFlagUtf8);
  for (int i = 0; i < 16; ++i) utf8.record[kSimRidAt + i] = static_cast<uint8_t>(i * 17);
  player->AddFile(1, 0x4001, "h", "card.wma");

  Collect files;
  ASSERT_EQ(rc::kOk, channel->EnumFiles(0, &files));
  ASSERT_EQ(2u, files.items.size());
  EXPECT_EQ(kCafe + ".mp3", files.items[0]->GetString("name"));
  EXPECT_EQ("Latin", files.items[0]->GetString("directory"));
  EXPECT_EQ(kCafe + ".mp3", files.items[1]->GetString("name"));
  EXPECT_EQ(kCafe, files.items[1]->GetString("directory"));
  EXPECT_EQ(kCafe + ".mp3", files.items[1]->GetString("title"));
  EXPECT_EQ(6, files.items[1]->GetInt("fid"));
  EXPECT_EQ(4, files.items[1]->GetInt("length"));
  EXPECT_EQ(0x12345678, files.items[1]->GetInt("fid_generation"));
  EXPECT_EQ("00112233445566778899aabbccddeeff", files.items[1]->GetString("rid"));

  Collect card;
  ASSERT_EQ(rc::kOk, channel->EnumFiles(1, &card));
  ASSERT_EQ(1u, card.items.size());
  EXPECT_EQ("card.wma", card.items[0]->GetString("name"));

  Collect first(1);
  EXPECT_EQ(1, channel->EnumFiles(0, &first));
  EXPECT_EQ(1u, first.items.size());
  EXPECT_EQ(rc::kBadIndex, channel->EnumFiles(0x10000, &files));
}

TEST_F(FamilyCdeTest, ADirectoryWithoutEndIsBadData) {
  Make(0x5005);
  player->endless_directory = true;
  Collect files;
  EXPECT_EQ(rc::kBadData, channel->EnumFiles(0, &files));
  EXPECT_EQ(SardaneDirectoryChannel::kMaxEntries, files.items.size());
}

TEST_F(FamilyCdeTest, AnUnpluggedPlayerIsReportedGone) {
  Make(0x5001);
  player->AddFile(0, 5, "abc", "a.mp3");
  player->unplugged = true;
  Collect files;
  EXPECT_EQ(rc::kPlayerGone, channel->EnumFiles(0, &files));
  EXPECT_TRUE(files.items.empty());
  EXPECT_EQ(kStateGone, channel->GetState());
  ContentsRecorder contents;
  EXPECT_EQ(rc::kPlayerGone, channel->EnumContents(&contents));
}

// --- records ----------------------------------------------------------------------------

TEST_F(FamilyCdeTest, DirectoryRecordFields) {
  Make(0x5005, kSimCapUtf8);
  const std::string long_name = std::string(76, 'n') + ".mp3";
  auto props = Props({{"name", long_name},
                      {"artist", kCafe},
                      {"directory", "Music"},
                      {"misc", "m"},
                      {"rid", "0102ff"}},
                     {{"fid", 9}, {"fid_generation", 77}});
  std::vector<uint8_t> record = Encode(*props);
  EXPECT_EQ(0x01000000u, SimGetLe32(&record[kSimFlagsAt]) & 0x01000000u);
  EXPECT_EQ(std::string(59, 'n') + ".mp3", SimField(record, kSimNameAt));
  // The title falls back to the name, cut as any text.
  EXPECT_EQ(std::string(63, 'n'), SimField(record, kSimTitleAt));
  EXPECT_EQ(kCafe, SimField(record, kSimArtistAt));
  EXPECT_EQ("Music", SimField(record, kSimDirectoryAt));
  EXPECT_EQ("m", SimField(record, kSimMiscAt));
  EXPECT_EQ(std::string("\x01\x02\xff", 3) + std::string(13, '\0'),
            std::string(reinterpret_cast<char*>(&record[kSimRidAt]), 16));
  EXPECT_EQ(77u, SimGetLe32(&record[kSimGenerationAt]));

  PropertyHolder back;
  ASSERT_EQ(rc::kOk, channel->DecodeFileRecord(back, record.data(), qel::kRecordSize));
  EXPECT_EQ(kCafe, back.GetString("artist"));
  EXPECT_EQ("0102ff00000000000000000000000000", back.GetString("rid"));
  EXPECT_EQ(rc::kBadData, channel->DecodeFileRecord(back, record.data(), 2047));
}

TEST_F(FamilyCdeTest, Latin1PlayersGetLatin1Text) {
  Make(0x5005);  // no "utf8" capability
  auto props = Props({{"name", "\xE2\x82\xAC.mp3"}, {"directory", kCafe}});
  std::vector<uint8_t> record = Encode(*props);
  EXPECT_EQ(0u, SimGetLe32(&record[kSimFlagsAt]) & 0x01000000u);
  EXPECT_EQ("\xBF.mp3", SimField(record, kSimNameAt));  // the euro sign has no Latin-1 byte
  EXPECT_EQ("Caf\xE9", SimField(record, kSimDirectoryAt));
}

TEST_F(FamilyCdeTest, FamilyCEmptiesArtistAndSourceItCannotDraw) {
  Make(0x5003);
  auto props = Props({{"name", "a.mp3"}, {"artist", kCafe}, {"source", "Plain"}});
  std::vector<uint8_t> record = Encode(*props);
  EXPECT_EQ("", SimField(record, kSimArtistAt));
  EXPECT_EQ("Plain", SimField(record, kSimSourceAt));
  EXPECT_EQ("a.mp3", SimField(record, kSimTitleAt));  // an empty title gives the name
}

TEST_F(FamilyCdeTest, FamilyCDrawsTitlesItCannotShowAsText) {
  struct Case {
    uint16_t product_id;
    bool picture;
    uint8_t layout;
  } cases[] = {{0x5002, true, 1}, {0x5008, true, 1}, {0x5001, true, 0}, {0x5003, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.product_id);
    Make(c.product_id);
    auto props = Props({{"name", "a.mp3"}, {"title", kCafe}});
    std::vector<uint8_t> record = Encode(*props);
    const uint32_t flags = SimGetLe32(&record[kSimFlagsAt]);
    EXPECT_EQ(c.picture, (flags & kSimFlagPicture) != 0);
    if (!c.picture) continue;
    EXPECT_EQ(c.layout, record[57]);
    EXPECT_EQ(12, record[54] | record[55] << 8);
    EXPECT_GT(record[52] | record[53] << 8, 0);
    EXPECT_EQ(kCafe, SimField(record, kSimTitleAt));
    PropertyHolder back;
    ASSERT_EQ(rc::kOk, channel->DecodeFileRecord(back, record.data(), qel::kRecordSize));
    EXPECT_EQ(kCafe, back.GetString("title"));
  }
}

TEST_F(FamilyCdeTest, MetadataDiffersComparesWhatThePlayerStores) {
  Make(0x5002);
  auto old_props = Props({{"name", "a.mp3"}, {"title", "Cafe"}, {"artist", "X"}});
  auto same = Props({{"name", "b.mp3"}, {"title", "Cafe"}, {"artist", "X"}});
  bool differs = true;
  ASSERT_EQ(rc::kOk, channel->MetadataDiffers(*old_props, *same, &differs));
  EXPECT_FALSE(differs);

  // A title that becomes a picture comes back as it was given, not read as Latin-1; an
  // artist the player cannot draw comes back empty.
  auto changed = Props({{"name", "a.mp3"}, {"title", kCafe}, {"artist", kCafe}});
  ASSERT_NE(0u, SimGetLe32(&Encode(*changed)[kSimFlagsAt]) & kSimFlagPicture);
  ASSERT_EQ(rc::kOk, channel->MetadataDiffers(*old_props, *changed, &differs));
  EXPECT_TRUE(differs);
  EXPECT_EQ(kCafe, changed->GetString("title"));
  EXPECT_EQ("", changed->GetString("artist"));
}

// --- transfers --------------------------------------------------------------------------

TEST_F(FamilyCdeTest, UploadsArriveByteExactWithTheirRecord) {
  Make(0x5009, kSimCapUtf8);
  const std::string data = Pattern(40000);
  OutputStream* raw = nullptr;
  ASSERT_EQ(rc::kOk, channel->CreateNewFile(1, &raw));
  std::unique_ptr<OutputStream> out(raw);
  ASSERT_EQ(rc::kOk, out->Write(reinterpret_cast<const uint8_t*>(data.data()), 12345));
  ASSERT_EQ(rc::kOk, out->Write(reinterpret_cast<const uint8_t*>(data.data()) + 12345,
                                static_cast<uint32_t>(data.size()) - 12345));
  PropertyHolder file;
  file.SetInt("fid", 0x4007);
  file.SetInt("length", static_cast<int32_t>(data.size()));
  file.SetString("name", kCafe + ".mp3");
  file.SetString("title", "T");
  file.SetString("type", "tune");
  file.SetString("codec", "mp3");
  file.SetInt("fid_generation", 3);
  ASSERT_EQ(rc::kOk, out->Finish(file));
  out.reset();

  ASSERT_EQ(1u, player->Storage(1).files.size());
  const SimFile& stored = player->Storage(1).files[0];
  EXPECT_EQ(data, stored.data);
  EXPECT_EQ(0x4007u, SimGetLe32(&stored.record[0]));
  EXPECT_EQ(40000u, SimGetLe32(&stored.record[8]));
  EXPECT_NE(0u, SimGetLe32(&stored.record[kSimFlagsAt]) & kSimFlagUtf8);
  EXPECT_EQ(kCafe + ".mp3", SimField(stored.record, kSimNameAt));
  EXPECT_EQ("T", SimField(stored.record, kSimTitleAt));
  EXPECT_EQ(3u, SimGetLe32(&stored.record[kSimGenerationAt]));
}

TEST_F(FamilyCdeTest, FamilyCDeletesAndFetchesByNameAndFolder) {
  Make(0x5001);
  player->AddFile(0, 5, "first", "a.mp3", "Music");
  player->AddFile(0, 6, "second", "a.mp3", "Other");
  const std::string long_name = std::string(70, 'x') + ".mp3";
  player->AddFile(0, 7, "third", std::string(59, 'x') + ".mp3", "Music");

  // The PC need not know the fid.
  auto wanted = Props({{"name", "a.mp3"}, {"directory", "Other"}}, {{"length", 6}});
  MemoryStream sink;
  ASSERT_EQ(rc::kOk, channel->ReceiveFile(0, *wanted, &sink, nullptr));
  EXPECT_EQ("second", sink.Bytes());

  PropertyHolder victim;
  victim.SetString("name", "a.mp3");
  victim.SetString("directory", "Music");
  ASSERT_EQ(rc::kOk, channel->DeleteFile(0, victim));
  ASSERT_EQ(2u, player->Storage(0).files.size());
  EXPECT_EQ(6u, player->Storage(0).files[0].fid());

  // A long name is sent as the upload stored it.
  PropertyHolder long_victim;
  long_victim.SetString("name", long_name);
  long_victim.SetString("directory", "Music");
  ASSERT_EQ(rc::kOk, channel->DeleteFile(0, long_victim));
  EXPECT_EQ(1u, player->Storage(0).files.size());
  EXPECT_EQ(3, player->finds_by_name);

  PropertyHolder missing;
  missing.SetString("name", "gone.mp3");
  EXPECT_TRUE(rc::Failed(channel->DeleteFile(0, missing)));
}

TEST_F(FamilyCdeTest, FamilyDDeletesAndFetchesByFid) {
  Make(0x500E);
  player->AddFile(1, 0x4003, "card bytes", "x.mp3");
  player->AddFile(1, 0x4004, "other", "x.mp3");
  auto wanted = Props({}, {{"fid", 0x4003}, {"length", 10}});
  MemoryStream sink;
  ASSERT_EQ(rc::kOk, channel->ReceiveFile(1, *wanted, &sink, nullptr));
  EXPECT_EQ("card bytes", sink.Bytes());
  PropertyHolder victim;
  victim.SetInt("fid", 0x4004);
  ASSERT_EQ(rc::kOk, channel->DeleteFile(1, victim));
  ASSERT_EQ(1u, player->Storage(1).files.size());
  EXPECT_EQ(0x4003u, player->Storage(1).files[0].fid());
  EXPECT_EQ(0, player->finds_by_name);
}

TEST_F(FamilyCdeTest, FamilyCReadsTheRecordOfAFid) {
  Make(0x5002);
  player->AddFile(1, 0x4002, "x", "card.mp3");
  std::vector<uint8_t> record(qel::kRecordSize, 0xAA);
  ASSERT_EQ(rc::kOk, channel->ReadRecordBlock(record.data(), 1, 0x4002));
  EXPECT_EQ(player->Storage(1).files[0].record, record);
  std::vector<uint8_t> untouched(qel::kRecordSize, 0xAA);
  EXPECT_EQ(rc::kShortTransfer, channel->ReadRecordBlock(untouched.data(), 0, 0x4002));
  EXPECT_EQ(std::vector<uint8_t>(qel::kRecordSize, 0xAA), untouched);
}

// --- contents and playlists -------------------------------------------------------------

class PlaylistTest : public FamilyCdeTest {
 protected:
  void Fill() {
    player->AddFile(0, 1, "a", "one.mp3", "", 5);
    player->AddFile(0, 2, "b", "two.mp3", "", 6);
    player->AddFile(1, 0x4001, "c", "card.mp3", "", 7);
    // Two is stale (replaced since), fid 9 is gone.
    player->AddPlaylist(0, 3, "mix", {{1, 5}, {2, 99}, {0x4001, 7}, {9, 1}});
  }
};

TEST_F(PlaylistTest, PlaylistsNameTheirLiveMembers) {
  Make(0x5005, kSimCapPlaylists);
  Fill();
  ContentsRecorder contents;
  ASSERT_EQ(rc::kOk, channel->EnumContents(&contents));
  EXPECT_EQ((std::vector<std::string>{"Internal", "Card"}), contents.storages);
  EXPECT_EQ(4u, contents.files.size());
  ASSERT_EQ(1u, contents.playlists.size());
  EXPECT_EQ((std::vector<std::string>{"0:one.mp3", "1:card.mp3"}), contents.playlists["0:mix"]);
}

TEST_F(PlaylistTest, PlayersWithoutPlaylistsListNone) {
  Make(0x5005);
  Fill();
  ContentsRecorder contents;
  ASSERT_EQ(rc::kOk, channel->EnumContents(&contents));
  EXPECT_EQ(3u, contents.files.size());
  EXPECT_TRUE(contents.playlists.empty());
}

TEST_F(PlaylistTest, ABrokenPlaylistEndsTheWalk) {
  Make(0x5005, kSimCapPlaylists);
  Fill();
  SimFile& bad = player->AddPlaylist(0, 4, "bad", {});
  bad.data[0] = 'X';
  ContentsRecorder contents;
  EXPECT_EQ(rc::kFail, channel->EnumContents(&contents));

  // A length no playlist can have is refused before anything is fetched.
  bad.data = SimFidList({});
  SimPutLe32(&bad.record[8], SardaneChannelD::kMaxPlaylistBytes + 1);
  EXPECT_EQ(rc::kBadData, channel->EnumContents(&contents));
}

TEST_F(PlaylistTest, FamilyCWalksStoragesThenFiles) {
  Make(0x5003);
  Fill();
  ContentsRecorder contents;
  ASSERT_EQ(rc::kOk, channel->EnumContents(&contents));
  EXPECT_EQ((std::vector<std::string>{"Internal Memory", "MultiMediaCard (MMC)"}),
            contents.storages);
  EXPECT_EQ(4u, contents.files.size());  // the playlist is a file like any other
  EXPECT_TRUE(contents.playlists.empty());
}

// --- small requests ---------------------------------------------------------------------

TEST_F(FamilyCdeTest, Request117And145TakeOnlyWhatFitsTheirFields) {
  struct Case {
    uint32_t value, index, flag;
    Result expected;
    uint16_t sent_index;
  } cases[] = {
      {0xFFFF, 4000, 0, rc::kOk, 4000},
      {7, 12, 1, rc::kOk, 12 | 1 << 14},
      {7, 0, 3, rc::kOk, 3 << 14},
      {0x10000, 0, 0, rc::kBadIndex, 0},
      {1, 4001, 0, rc::kBadIndex, 0},
      {1, 0, 4, rc::kBadIndex, 0},
  };
  Make(0x500C);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    player->ClearLog();
    player->last_index = 0xEEEE;
    EXPECT_EQ(c.expected, channel->Request117(c.value, c.index, c.flag));
    if (c.expected == rc::kOk) {
      EXPECT_EQ(c.value, player->last_value);
      EXPECT_EQ(c.sent_index, player->last_index);
    } else {
      EXPECT_TRUE(player->LogLines().empty());
    }
  }
  EXPECT_EQ(rc::kOk, channel->Request145(0xFFFF));
  EXPECT_EQ(0xFFFF, player->last_value);
  player->ClearLog();
  EXPECT_EQ(rc::kBadIndex, channel->Request145(0x10000));
  EXPECT_TRUE(player->LogLines().empty());

  EXPECT_EQ(rc::kOk, channel->ListStateFiles());
  EXPECT_EQ(1, std::count_if(player->log.begin(), player->log.end(),
                             [](const SimLogEntry& e) { return e.request == 134; }));

  Make(0x5001);
  EXPECT_EQ(rc::kNotImplemented, channel->Request117(1, 1, 0));
  EXPECT_EQ(rc::kNotImplemented, channel->Request145(1));
  EXPECT_EQ(rc::kNotImplemented, channel->ListStateFiles());
}

}  // namespace
