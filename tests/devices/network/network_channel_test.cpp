// The network channel against the simulated player: opening, device and storage
// information, uploads and downloads byte for byte, the order of the mode requests, and what
// a failing player leaves behind.
#include "devices/network/network_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devices/device.h"
#include "devices/device_results.h"
#include "devices/fid_list.h"
#include "devices/network/network_results.h"
#include "devices/predictor.h"
#include "devices/progress_sink.h"
#include "devices/tarnu_row_collector.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "sim/network/sim_network_player.h"
#include "support/memory_stream.h"

#include "network_login_digests.inc"

namespace {

using Fault = SimNetworkPlayer::Fault;
using Settings = SimNetworkPlayer::Settings;
using Calls = std::vector<std::pair<uint32_t, uint32_t>>;

class RecordingSink : public ProgressSink {
 public:
  Result Report(uint32_t done, uint32_t total) override {
    calls.emplace_back(done, total);
    return rc::kOk;
  }
  Calls calls;
};

// Bytes 0, 1, ... 250 repeated: no block boundary lines up with the pattern.
std::string Pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

class NetworkChannelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    channel_.reset();
    if (!player_) return;
    for (const std::string& violation : player_->violations()) ADD_FAILURE() << violation;
  }

  Result Open(const Settings& settings = Settings(), const std::string& password = "",
              uint32_t io_timeout_ms = 5000) {
    player_ = std::make_unique<SimNetworkPlayer>(settings);
    Channel* channel = nullptr;
    NetworkLink link;
    link.io_timeout_ms = io_timeout_ms;
    const Result result = NetworkChannel::Create(player_->address(), password, &channel, link);
    channel_.reset(static_cast<NetworkChannel*>(channel));
    return result;
  }

  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> codes;
    for (const auto& request : player_->requests()) codes.push_back(request.code);
    return codes;
  }
  // The flags of every request 9, in order.
  std::vector<uint32_t> ModeRequests() const {
    std::vector<uint32_t> flags;
    for (const auto& request : player_->requests()) {
      if (request.code == 9) flags.push_back(request.words[0]);
    }
    return flags;
  }

  std::unique_ptr<SimNetworkPlayer> player_;
  std::unique_ptr<NetworkChannel> channel_;
};

TEST_F(NetworkChannelTest, OpensWithVersionIdentityOwnerTextAndLogin) {
  Settings settings;
  std::memcpy(settings.challenge, kLoginChallenge, sizeof kLoginChallenge);
  settings.accepted_response.assign(reinterpret_cast<const char*>(kLoginCases[1].response), 16);
  ASSERT_EQ(Open(settings, kLoginCases[1].password), rc::kOk);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{0, 5, 7, 3, 4}));
  EXPECT_TRUE(player_->logged_in());
  EXPECT_EQ(channel_->GetState(), kStateReady);
  EXPECT_EQ(channel_->device_type(), "quarn");
  EXPECT_EQ(channel_->storage_name(), "Music");
}

TEST_F(NetworkChannelTest, OpeningFailsOnVersionOrLogin) {
  Settings older;
  older.version = 1;
  EXPECT_EQ(Open(older), rc::kPlayerProtocolOlder);
  EXPECT_EQ(channel_, nullptr);
  TearDown();

  Settings locked;
  locked.accepted_response.assign(reinterpret_cast<const char*>(kLoginCases[1].response), 16);
  EXPECT_EQ(Open(locked, "wrong"), rc::kAccessDenied);
  EXPECT_EQ(channel_, nullptr);
  TearDown();

  NetAddress nobody;
  {
    SimNetworkPlayer gone;
    nobody = gone.address();
  }
  Channel* channel = nullptr;
  EXPECT_LT(NetworkChannel::Create(nobody, "", &channel), 0);
  EXPECT_EQ(channel, nullptr);
}

TEST_F(NetworkChannelTest, DeviceIdFollowsTheDeviceType) {
  const struct {
    const char* type;
    uint32_t id;
  } cases[] = {{"quarn", 0x5210}, {"velto-car", 1}, {"other", 0}};
  for (const auto& c : cases) {
    Settings settings;
    settings.device_type = c.type;
    ASSERT_EQ(Open(settings), rc::kOk);
    uint32_t id = 99;
    EXPECT_EQ(channel_->GetDeviceID(&id), rc::kOk);
    EXPECT_EQ(id, c.id) << c.type;
    TearDown();
  }
}

TEST_F(NetworkChannelTest, DeviceAndStorageInformation) {
  Settings settings;
  settings.storages = {{10ull << 30, 4ull << 30, 0}, {8192, 16384, 0}};
  settings.owner = {{"storage_name", "Library"}, {"capabilities", ";mp3;wma;"},
                    {"nested_playlists", "1"}};
  ASSERT_EQ(Open(settings), rc::kOk);
  EXPECT_TRUE(channel_->nested_playlists());

  PropertyHolder device;
  ASSERT_EQ(channel_->GetDeviceInfo(device), rc::kOk);
  EXPECT_EQ(device.GetString("type"), "quarn");
  EXPECT_EQ(device.GetString("firmware_version"), "2.1.7");
  EXPECT_EQ(device.GetString("capabilities"), ";mp3;wma;");

  PropertyHolder storage;
  ASSERT_EQ(channel_->GetStorageInfo(0, storage), rc::kOk);
  RefPtr<PropertySet> set = storage.GetSet();
  EXPECT_EQ(set->GetInt("files"), 0);
  EXPECT_EQ(set->GetInt64("size_in_bytes"), 10ll << 30);
  EXPECT_EQ(set->GetInt64("free_in_bytes"), 4ll << 30);
  EXPECT_EQ(set->GetInt64("used_in_bytes"), 6ll << 30);
  EXPECT_EQ(set->GetInt("bad_in_bytes"), 0);
  EXPECT_EQ(set->GetInt("storage_index"), 0);
  EXPECT_EQ(set->GetInt("storage_type"), 1);
  EXPECT_EQ(set->GetInt("block_size"), 4096);
  EXPECT_EQ(set->GetInt64("size_in_blocks"), (10ll << 30) >> 12);
  EXPECT_EQ(set->GetInt64("free_in_blocks"), (4ll << 30) >> 12);
  EXPECT_EQ(set->GetInt64("used_in_blocks"), (6ll << 30) >> 12);
  EXPECT_EQ(set->GetInt("bad_in_blocks"), 0);
  EXPECT_EQ(storage.GetString("name"), "Library");

  // A player claiming more free space than size uses none.
  PropertyHolder second;
  ASSERT_EQ(channel_->GetStorageInfo(1, second), rc::kOk);
  EXPECT_EQ(second.GetString("name"), "1");
  EXPECT_EQ(second.GetSet()->GetInt64("used_in_bytes"), 0);
  EXPECT_EQ(second.GetSet()->GetInt64("used_in_blocks"), 0);

  PropertyHolder missing;
  EXPECT_EQ(channel_->GetStorageInfo(2, missing), SimNetworkPlayer::kOutOfRange);
}

class CountingVisitor : public HolderVisitor {
 public:
  explicit CountingVisitor(int stop_after) : stop_after_(stop_after) {}
  bool Visit(PropertyHolder& storage) override {
    indexes.push_back(storage.GetSet()->GetInt("storage_index"));
    return static_cast<int>(indexes.size()) < stop_after_;
  }
  std::vector<int32_t> indexes;

 private:
  int stop_after_;
};

TEST_F(NetworkChannelTest, EnumStoragesVisitsEachStorage) {
  Settings settings;
  settings.storages.resize(3, {1 << 20, 1 << 19, 0});
  ASSERT_EQ(Open(settings), rc::kOk);
  CountingVisitor all(10);
  EXPECT_EQ(channel_->EnumStorages(&all), rc::kOk);
  EXPECT_EQ(all.indexes, (std::vector<int32_t>{0, 1, 2}));
  CountingVisitor first(1);
  EXPECT_EQ(channel_->EnumStorages(&first), rc::kEnumerationStopped);
  EXPECT_EQ(first.indexes, (std::vector<int32_t>{0}));
}

TEST_F(NetworkChannelTest, FormatBeginsChangesOnceAndPassesOnNotices) {
  Settings settings;
  settings.notices[18] = {{10, 100}, {90, 100}};
  ASSERT_EQ(Open(settings), rc::kOk);
  player_->ClearRequests();
  RecordingSink progress;
  EXPECT_EQ(channel_->FormatStorage(0, &progress), rc::kOk);
  EXPECT_EQ(channel_->FormatStorage(0, nullptr), rc::kOk);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{9, 18, 18}));
  EXPECT_EQ(ModeRequests(), (std::vector<uint32_t>{1}));
  EXPECT_EQ(progress.calls, (Calls{{10, 100}, {90, 100}}));
}

TEST_F(NetworkChannelTest, UploadGoesInBlocksAndArrivesExact) {
  Settings settings;
  settings.choose_fids = true;
  // Notices while the player stores a block are no answer: the block's reply follows them.
  settings.notices[12] = {{1, 2}, {2, 2}};
  ASSERT_EQ(Open(settings), rc::kOk);
  player_->ClearRequests();
  const std::string bytes = Pattern(250000);
  MemoryStream source(bytes);
  PropertyHolder file;
  file.SetInt("fid", 0x230);
  file.SetString("title", "Song\nwith a line feed");
  file.SetInt64("length", 250000);
  file.SetInt("fid_generation", 3);
  RecordingSink progress;
  ASSERT_EQ(channel_->SendFile(0, *file.GetSet(), &source, &progress), rc::kOk);

  const uint32_t fid = static_cast<uint32_t>(file.GetSet()->GetInt("fid"));
  EXPECT_EQ(fid, 0x1010u);
  std::vector<uint32_t> blocks;
  for (const auto& request : player_->requests()) {
    if (request.code == 12) blocks.push_back(request.data_length);
  }
  EXPECT_EQ(blocks, (std::vector<uint32_t>{102400, 102400, 45200}));
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{9, 17, 11, 12, 12, 12, 15}));
  EXPECT_EQ(progress.calls, (Calls{{102400, 250000}, {204800, 250000}, {250000, 250000}}));

  const auto files = player_->files();
  ASSERT_EQ(files.count(fid), 1u);
  EXPECT_EQ(std::string(files.at(fid).data.begin(), files.at(fid).data.end()), bytes);
  EXPECT_EQ(files.at(fid).properties.at("title"), "Song\nwith a line feed");
  EXPECT_EQ(files.at(fid).properties.at("fid_generation"), "3");
  EXPECT_EQ(files.at(fid).properties.at("length"), "250000");

  // And back, byte for byte.
  PropertyHolder wanted;
  wanted.SetInt("fid", static_cast<int32_t>(fid));
  wanted.SetInt64("length", 250000);
  MemoryStream sink;
  RecordingSink received;
  ASSERT_EQ(channel_->ReceiveFile(0, *wanted.GetSet(), &sink, &received), rc::kOk);
  EXPECT_EQ(sink.Bytes(), bytes);
  EXPECT_EQ(received.calls,
            (Calls{{0, 250000}, {102400, 250000}, {204800, 250000}, {250000, 250000}}));
  // Changes were begun: no request 9 with 0 for the download.
  EXPECT_EQ(ModeRequests(), (std::vector<uint32_t>{1}));
}

TEST_F(NetworkChannelTest, UploadSizedByTheSourceWithoutALength) {
  ASSERT_EQ(Open(), rc::kOk);
  MemoryStream source(Pattern(5000));
  PropertyHolder file;
  file.SetInt("fid", 0x240);
  ASSERT_EQ(channel_->SendFile(0, *file.GetSet(), &source, nullptr), rc::kOk);
  EXPECT_EQ(player_->files().at(0x240).data.size(), 5000u);
  EXPECT_EQ(player_->files().at(0x240).size, 5000u);
}

TEST_F(NetworkChannelTest, SourceOfAnotherLengthIsRefusedAndLeavesNoFile) {
  for (const size_t actual : {600u, 1400u}) {
    SCOPED_TRACE(actual);
    ASSERT_EQ(Open(), rc::kOk);
    MemoryStream source(Pattern(actual));
    PropertyHolder file;
    file.SetInt("fid", 0x250);
    file.SetInt64("length", 1000);
    EXPECT_EQ(channel_->SendFile(0, *file.GetSet(), &source, nullptr), rc::kSizeMismatch);
    EXPECT_TRUE(player_->files().empty());
    EXPECT_EQ(channel_->GetState(), kStateReady);
    TearDown();
  }
}

TEST_F(NetworkChannelTest, PlaylistSendsOnlyItsFileInformation) {
  ASSERT_EQ(Open(), rc::kOk);
  SimNetworkPlayer::File existing;
  player_->AddFile(0x300, existing);
  player_->ClearRequests();
  const std::string members("\x20\x01\x00\x00\x30\x01\x00\x00", 8);
  MemoryStream source(members);
  PropertyHolder playlist;
  playlist.SetInt("fid", 0x300);
  playlist.SetString("type", "playlist");
  playlist.SetString("title", "Evening");
  ASSERT_EQ(channel_->SendFile(0, *playlist.GetSet(), &source, nullptr), rc::kOk);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{9, 15}));
  const auto properties = player_->files().at(0x300).properties;
  EXPECT_EQ(properties.at("playlist"), members);
  EXPECT_EQ(properties.at("title"), "Evening");
  EXPECT_EQ(properties.at("fid_generation"), "0");
}

TEST_F(NetworkChannelTest, ReadingBeginsOnceUnlessChangesDid) {
  ASSERT_EQ(Open(), rc::kOk);
  SimNetworkPlayer::File track;
  track.data.assign(300, 'a');
  track.size = 300;
  player_->AddFile(0x120, track);
  player_->AddFile(0x130, track);
  player_->ClearRequests();
  PropertyHolder file;
  file.SetInt("fid", 0x120);
  file.SetInt64("length", 300);
  MemoryStream sink;
  ASSERT_EQ(channel_->ReceiveFile(0, *file.GetSet(), &sink, nullptr), rc::kOk);
  ASSERT_EQ(channel_->ReceiveFile(0, *file.GetSet(), &sink, nullptr), rc::kOk);
  EXPECT_EQ(ModeRequests(), (std::vector<uint32_t>{0}));
  EXPECT_EQ(sink.Bytes(), std::string(600, 'a'));

  PropertyHolder victim;
  victim.SetInt("fid", 0x130);
  EXPECT_EQ(channel_->DeleteFile(0, victim), rc::kOk);
  EXPECT_EQ(ModeRequests(), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(player_->files().count(0x130), 0u);
}

// Records the walk of EnumContents; each file's handle is its fid.
class ContentsRecorder : public ContentsVisitor {
 public:
  bool Storage(PropertyHolder& storage) override {
    events.push_back("storage " + storage.GetString("name"));
    return true;
  }
  bool File(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    *handle = static_cast<uint32_t>(file.GetSet()->GetInt("fid"));
    events.push_back("file " + std::to_string(*handle) + " " + file.GetString("title"));
    return true;
  }
  bool RootPlaylist(uint32_t storage, PropertyHolder& playlist, uint32_t* handle) override {
    *handle = 0x100;
    events.push_back("root " + playlist.GetString("type"));
    return true;
  }
  bool PlaylistMembers(uint32_t playlist, const std::vector<uint32_t>& members) override {
    std::string event = "members " + std::to_string(playlist) + ":";
    for (uint32_t member : members) event += " " + std::to_string(member);
    events.push_back(event);
    return true;
  }
  std::vector<std::string> events;
};

class FileList : public HolderVisitor {
 public:
  bool Visit(PropertyHolder& file) override {
    files.push_back(file.GetSet());
    return true;
  }
  std::vector<RefPtr<PropertySet>> files;
};

class ListingTest : public NetworkChannelTest {
 protected:
  void PlaceLibrary() {
    SimNetworkPlayer::File track;
    track.properties = {{"type", "mp3"}, {"title", "A"}, {"options", "1024"},
                        {"fid_generation", "1"}};
    player_->AddFile(0x120, track);
    track.properties["title"] = "B";
    track.properties.erase("options");
    player_->AddFile(0x130, track);
    SimNetworkPlayer::File playlist;
    // Plain form: the members' fids, one little-endian word each.
    playlist.properties = {{"type", "playlist"}, {"title", "P"},
                           {"playlist", std::string("\x20\x01\x00\x00\x30\x01\x00\x00", 8)}};
    player_->AddFile(0x140, playlist);
  }
};

TEST_F(ListingTest, EnumFilesListsEveryRecordAsAFile) {
  ASSERT_EQ(Open(), rc::kOk);
  PlaceLibrary();
  PropertyHolder victim;
  victim.SetInt("fid", 0x999);
  EXPECT_EQ(channel_->DeleteFile(0, victim), SimNetworkPlayer::kNoSuchFile);
  FileList list;
  ASSERT_EQ(channel_->EnumFiles(0, &list), rc::kOk);
  // Changes were begun by the delete: no request 9 with 0.
  EXPECT_EQ(ModeRequests(), (std::vector<uint32_t>{1}));
  ASSERT_EQ(list.files.size(), 3u);
  EXPECT_EQ(list.files[0]->GetInt("fid"), 0x120);
  EXPECT_EQ(list.files[0]->GetString("flags"), ";autosync;");
  EXPECT_EQ(list.files[1]->GetString("title"), "B");
  EXPECT_EQ(list.files[1]->GetString("flags"), "");
  EXPECT_EQ(list.files[2]->FindColumn("playlist"), -1);
}

TEST_F(ListingTest, EnumContentsWalksStoragesFilesAndPlaylists) {
  ASSERT_EQ(Open(), rc::kOk);
  PlaceLibrary();
  ContentsRecorder walk;
  ASSERT_EQ(channel_->EnumContents(&walk), rc::kOk);
  EXPECT_EQ(ModeRequests(), (std::vector<uint32_t>{0}));
  EXPECT_EQ(walk.events, (std::vector<std::string>{
                             "storage Music", "file 288 A", "file 304 B", "file 320 P",
                             "members 320: 288 304", "root playlist", "members 256: 320"}));
  RefPtr<FidList> fids;
  ASSERT_EQ(channel_->EnumFids(&fids), rc::kOk);
  ASSERT_TRUE(fids);
  EXPECT_EQ(fids->Count(), 0u);
}

TEST_F(NetworkChannelTest, OwnerInformationRoundTrip) {
  ASSERT_EQ(Open(), rc::kOk);
  PropertyHolder owner;
  owner.SetString("owner_name", "Ann \"Quote\" Backslash\\");
  owner.SetString("storage_name", "Box");
  ASSERT_EQ(channel_->SetOwnerInfo(*owner.GetSet()), rc::kOk);
  PropertyHolder read;
  ASSERT_EQ(channel_->GetOwnerInfo(read), rc::kOk);
  EXPECT_EQ(read.GetString("owner_name"), "Ann \"Quote\" Backslash\\");
  EXPECT_EQ(read.GetString("storage_name"), "Box");
}

TEST_F(NetworkChannelTest, ProtocolFailureLeavesTheChannelGone) {
  ASSERT_EQ(Open(), rc::kOk);
  SimNetworkPlayer::File track;
  track.data.assign(64, 'a');
  track.size = 64;
  player_->AddFile(0x120, track);
  player_->SetFault(Fault::kLongerReadBlock, 16);
  PropertyHolder file;
  file.SetInt("fid", 0x120);
  file.SetInt64("length", 64);
  MemoryStream sink;
  EXPECT_EQ(channel_->ReceiveFile(0, *file.GetSet(), &sink, nullptr), rc::kBadIndex);
  EXPECT_EQ(sink.Size(), 0u);
  EXPECT_EQ(channel_->GetState(), kStateGone);
  PropertyHolder storage;
  EXPECT_LT(channel_->GetStorageInfo(0, storage), 0);
}

TEST_F(NetworkChannelTest, SilentPlayerEndsTheRequestAfterTheTimeOut) {
  ASSERT_EQ(Open(Settings(), "", 1000), rc::kOk);
  player_->SetFault(Fault::kSilent, 6);
  PropertyHolder storage;
  EXPECT_EQ(channel_->GetStorageInfo(0, storage), rc::kTimeout);
  EXPECT_EQ(channel_->GetState(), kStateGone);
}

TEST_F(NetworkChannelTest, PredictorAndOperationsTheChannelDoesNotOffer) {
  ASSERT_EQ(Open(), rc::kOk);
  Predictor* predictor = nullptr;
  ASSERT_EQ(channel_->CreatePredictor(0, &predictor), rc::kOk);
  ASSERT_NE(predictor, nullptr);
  delete predictor;
  EXPECT_EQ(channel_->SetClock(0), rc::kNotImplemented);
  EXPECT_EQ(channel_->Commit(1), rc::kOk);
  OutputStream* stream = nullptr;
  EXPECT_EQ(channel_->CreateNewFile(0, &stream), rc::kNotImplemented);
}

}  // namespace
