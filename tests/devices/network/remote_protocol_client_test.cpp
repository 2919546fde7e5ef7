// The request protocol against the simulated player: each request with its exact reply, the
// login, progress notices, and replies that a sound client must refuse.
#include "devices/network/remote_protocol_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "devices/device_results.h"
#include "devices/network/network_results.h"
#include "devices/progress_sink.h"
#include "devices/network/sim_connection.h"
#include "media/property_holder.h"
#include "testlib/guarded_buffer.h"

#include "network_login_digests.inc"

namespace {

using Fault = SimNetworkPlayer::Fault;
using Settings = SimNetworkPlayer::Settings;

class RecordingNotices : public ProgressSink {
 public:
  Result Report(uint32_t done, uint32_t total) override {
    calls.emplace_back(done, total);
    return rc::kOk;
  }
  std::vector<std::pair<uint32_t, uint32_t>> calls;
};

class Records : public RemoteRecordVisitor {
 public:
  Result OnRecord(const RefPtr<PropertySet>& record) override {
    records.push_back(record);
    return answer;
  }
  std::vector<RefPtr<PropertySet>> records;
  Result answer = rc::kOk;
};

class RemoteProtocolClientTest : public SimConnectionTest {
 protected:
  // A file of `bytes` on storage 0, as if uploaded earlier.
  void PlaceFile(uint32_t fid, const std::string& bytes,
                 std::map<std::string, std::string> properties = {}) {
    SimNetworkPlayer::File file;
    file.size = bytes.size();
    file.data.assign(bytes.begin(), bytes.end());
    file.properties = std::move(properties);
    player().AddFile(fid, file);
  }
};

TEST_F(RemoteProtocolClientTest, VersionCheckAcceptsOnlyVersionTwo) {
  const struct {
    uint32_t version;
    Result expected;
  } cases[] = {{1, rc::kPlayerProtocolOlder}, {2, rc::kOk}, {3, rc::kPlayerProtocolNewer}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    Settings settings;
    settings.version = c.version;
    Connect(settings);
    EXPECT_EQ(client().CheckVersion(), c.expected);
    uint32_t version = 0, second = 0;
    EXPECT_EQ(client().GetVersion(&version, &second), rc::kOk);
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(second, 7u);
    TearDown();
  }
}

TEST_F(RemoteProtocolClientTest, LoginAnswersTheChallengeWithItsDigest) {
  for (const LoginCase& c : kLoginCases) {
    SCOPED_TRACE(c.password);
    Settings settings;
    std::memcpy(settings.challenge, kLoginChallenge, sizeof kLoginChallenge);
    settings.accepted_response.assign(reinterpret_cast<const char*>(c.response), 16);
    Connect(settings);
    bool granted = false;
    EXPECT_EQ(client().Login(c.password, &granted), rc::kOk);
    EXPECT_TRUE(granted);
    EXPECT_TRUE(player().logged_in());
    TearDown();
  }
}

TEST_F(RemoteProtocolClientTest, RefusedLoginFailsAndKeepsTheConnection) {
  Settings settings;
  std::memcpy(settings.challenge, kLoginChallenge, sizeof kLoginChallenge);
  settings.accepted_response.assign(reinterpret_cast<const char*>(kLoginCases[1].response), 16);
  Connect(settings);
  bool granted = true;
  EXPECT_EQ(client().Login("Secret", &granted), rc::kAccessDenied);
  EXPECT_FALSE(granted);
  EXPECT_FALSE(player().logged_in());
  EXPECT_TRUE(socket().IsOpen());
  // Without the login the player refuses changes; the answer is its own result word.
  EXPECT_EQ(client().BeginChanges(1), SimNetworkPlayer::kRefused);
  EXPECT_EQ(client().Login(kLoginCases[1].password, &granted), rc::kOk);
  EXPECT_TRUE(granted);
  EXPECT_EQ(client().BeginChanges(1), rc::kOk);
}

TEST_F(RemoteProtocolClientTest, IdentityTextsStayWithinTheirFields) {
  for (const bool without_nul : {false, true}) {
    SCOPED_TRACE(without_nul);
    Settings settings;
    settings.device_type = "velto-car";
    settings.firmware = "3.0.12";
    settings.identity_without_nul = without_nul;
    settings.storages.resize(3);
    Connect(settings);
    std::string type, firmware;
    uint32_t storages = 0;
    EXPECT_EQ(client().GetIdentity(&type, &firmware, &storages), rc::kOk);
    EXPECT_EQ(storages, 3u);
    if (without_nul) {
      EXPECT_EQ(type, std::string("velto-carvelto-carvelto-carvelto-car").substr(0, 32));
      EXPECT_EQ(firmware, std::string("3.0.123.0.123.0.123.0.123.0.123.0.12").substr(0, 32));
    } else {
      EXPECT_EQ(type, "velto-car");
      EXPECT_EQ(firmware, "3.0.12");
    }
    TearDown();
  }
}

TEST_F(RemoteProtocolClientTest, StorageInformation) {
  Settings settings;
  settings.storages = {{1000000, 250000, 9}, {5, 6, 7}};
  Connect(settings);
  PlaceFile(0x120, "abc");
  RemoteStorageInfo info;
  EXPECT_EQ(client().GetStorageInfo(0, &info), rc::kOk);
  EXPECT_EQ(info.files, 1u);
  EXPECT_EQ(info.size_bytes, 1000000u);
  EXPECT_EQ(info.free_bytes, 250000u);
  EXPECT_EQ(info.last_word, 9u);
  EXPECT_EQ(client().GetStorageInfo(2, &info), SimNetworkPlayer::kOutOfRange);
  EXPECT_TRUE(socket().IsOpen());
  EXPECT_EQ(client().GetStorageInfo(1, &info), rc::kOk);
  EXPECT_EQ(info.size_bytes, 5u);
}

TEST_F(RemoteProtocolClientTest, OwnerTextKeepsEveryByteOfItsValues) {
  Connect();
  PropertyHolder owner;
  const std::string odd("line one\nline \"two\"\\ \x01\x7f end", 27);
  owner.SetString("storage_name", "Music");
  owner.SetString("comment", odd);
  owner.SetString("empty", "");
  EXPECT_EQ(client().WriteOwnerText(*owner.GetSet()), SimNetworkPlayer::kRefused);
  EXPECT_EQ(client().BeginChanges(1), rc::kOk);
  EXPECT_EQ(client().WriteOwnerText(*owner.GetSet()), rc::kOk);
  const auto stored = player().owner();
  EXPECT_EQ(stored.at("comment"), odd);
  EXPECT_EQ(stored.count("empty"), 0u);

  PropertyHolder read;
  EXPECT_EQ(client().ReadOwnerText(*read.GetSet()), rc::kOk);
  EXPECT_EQ(read.GetString("comment"), odd);
  EXPECT_EQ(read.GetString("storage_name"), "Music");
}

TEST_F(RemoteProtocolClientTest, BlocksTravelPaddedAndComeBackExact) {
  Connect();
  ASSERT_EQ(client().BeginChanges(1), rc::kOk);
  uint32_t fid = 0x230;
  ASSERT_EQ(client().CreateFile(&fid, 9, 0), rc::kOk);
  EXPECT_EQ(fid, 0x230u);
  // A 5-byte block carries 3 zero bytes after it, which the player checks.
  EXPECT_EQ(client().WriteBlock(fid, 0, "hello", 5, 0), rc::kOk);
  EXPECT_EQ(client().WriteBlock(fid, 5, "\0 w!", 4, 0), rc::kOk);
  const auto requests = player().requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[requests.size() - 2].data_length, 5u);
  EXPECT_EQ(player().files().at(0x230).data, std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o', 0,
                                                                   ' ', 'w', '!'}));
  // Out of order and beyond the announced size: the player's refusals come back.
  EXPECT_EQ(client().WriteBlock(fid, 3, "x", 1, 0), SimNetworkPlayer::kOutOfRange);
  EXPECT_EQ(client().WriteBlock(fid, 9, "x", 1, 0), SimNetworkPlayer::kOutOfRange);

  char back[7] = {};
  EXPECT_EQ(client().ReadBlock(fid, 2, 7, back), rc::kOk);
  EXPECT_EQ(std::string(back, 7), std::string("llo\0 w!", 7));
  EXPECT_EQ(client().ReadBlock(fid, 5, 5, back), SimNetworkPlayer::kOutOfRange);
  EXPECT_EQ(client().ReadBlock(0x999, 0, 1, back), SimNetworkPlayer::kNoSuchFile);
  EXPECT_TRUE(socket().IsOpen());
  EXPECT_EQ(client().DeleteFile(fid), rc::kOk);
  EXPECT_EQ(client().DeleteFile(fid), SimNetworkPlayer::kNoSuchFile);
}

TEST_F(RemoteProtocolClientTest, CreateFileTakesThePlayersId) {
  Settings settings;
  settings.choose_fids = true;
  Connect(settings);
  ASSERT_EQ(client().BeginChanges(1), rc::kOk);
  uint32_t fid = 0x230;
  EXPECT_EQ(client().CreateFile(&fid, 0, 0), rc::kOk);
  EXPECT_EQ(fid, 0x1010u);
  EXPECT_EQ(client().CreateFile(&fid, 0, 4), SimNetworkPlayer::kOutOfRange);
  EXPECT_EQ(fid, 0x1010u);
}

TEST_F(RemoteProtocolClientTest, ListFilesHandsOnEveryRecord) {
  Connect();
  PlaceFile(0x120, "", {{"title", "A \"quoted\"\ntitle"}, {"type", "mp3"}});
  PlaceFile(0x130, "", {{"title", std::string(5000, 't')}});
  PlaceFile(0x140, "");
  Records records;
  EXPECT_EQ(client().ListFiles(&records), SimNetworkPlayer::kRefused);
  ASSERT_EQ(client().BeginChanges(0), rc::kOk);
  ASSERT_EQ(client().ListFiles(&records), rc::kOk);
  ASSERT_EQ(records.records.size(), 3u);
  EXPECT_EQ(records.records[0]->GetInt("fid"), 0x120);
  EXPECT_EQ(records.records[0]->GetString("title"), "A \"quoted\"\ntitle");
  EXPECT_EQ(records.records[0]->GetString("type"), "mp3");
  EXPECT_EQ(records.records[1]->GetString("title"), std::string(5000, 't'));
  EXPECT_EQ(records.records[2]->GetInt("fid"), 0x140);

  // A visitor that stops: the rest is still read, so the next request is in step.
  Records stopping;
  stopping.answer = rc::kFail;
  EXPECT_EQ(client().ListFiles(&stopping), rc::kFail);
  EXPECT_EQ(stopping.records.size(), 1u);
  RemoteStorageInfo info;
  EXPECT_EQ(client().GetStorageInfo(0, &info), rc::kOk);
  EXPECT_EQ(info.files, 3u);
}

// A list of more records than the client accepts ends with a clear code, however few bytes
// they take; the connection, out of step, is closed.
TEST_F(RemoteProtocolClientTest, ListOfTooManyRecordsIsRefused) {
  class Counting : public RemoteRecordVisitor {
   public:
    Result OnRecord(const RefPtr<PropertySet>&) override {
      ++count;
      return rc::kOk;
    }
    uint32_t count = 0;
  };
  Settings settings;
  settings.tiny_list_records = RemoteProtocolClient::kMaxListRecords + 1;
  Connect(settings);
  ASSERT_EQ(client().BeginChanges(0), rc::kOk);
  Counting records;
  EXPECT_EQ(client().ListFiles(&records), rc::kListTooLong);
  EXPECT_EQ(records.count, RemoteProtocolClient::kMaxListRecords);
  EXPECT_FALSE(socket().IsOpen());
}

TEST_F(RemoteProtocolClientTest, ProgressNoticesComeBeforeTheReply) {
  Settings settings;
  settings.notices[18] = {{1, 100}, {50, 100}, {100, 100}};
  Connect(settings);
  RecordingNotices notices;
  client().set_progress(&notices);
  PlaceFile(0x120, "abc");
  ASSERT_EQ(client().BeginChanges(1), rc::kOk);
  EXPECT_EQ(client().FormatStorage(0), rc::kOk);
  EXPECT_EQ(notices.calls, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 100}, {50, 100},
                                                                      {100, 100}}));
  EXPECT_TRUE(player().files().empty());
  client().set_progress(nullptr);
}

// Replies a sound client refuses: each ends the request with a clear code and closes the
// connection, which is out of step.
TEST_F(RemoteProtocolClientTest, MalformedRepliesCloseTheConnection) {
  const struct {
    Fault fault;
    uint32_t code;
    Result expected;
  } cases[] = {
      {Fault::kWrongMagic, 5, rc::kBadData},
      {Fault::kWrongCode, 6, rc::kBadData},
      {Fault::kCloseMidReply, 5, rc::kShortTransfer},
      {Fault::kCloseMidReply, 16, rc::kShortTransfer},
      {Fault::kLongerReadBlock, 16, rc::kBadIndex},
      {Fault::kShorterReadBlock, 16, rc::kBadIndex},
      {Fault::kTextWithoutNul, 7, rc::kBadData},
      {Fault::kTextWithoutNul, 13, rc::kBadData},
      {Fault::kExtraAfterText, 7, rc::kBadData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "fault " << static_cast<int>(c.fault) << " code "
                                      << c.code);
    Settings settings;
    settings.fault = c.fault;
    settings.fault_code = c.code;
    Connect(settings);
    PlaceFile(0x120, std::string(64, 'd'));
    ASSERT_EQ(client().BeginChanges(0), rc::kOk);
    Result result = rc::kOk;
    std::string type, firmware;
    uint32_t count = 0;
    RemoteStorageInfo info;
    PropertyHolder owner;
    Records records;
    // The caller's buffer ends at an inaccessible page: a longer reply must not reach it.
    GuardedBuffer block(std::string(16, '\0'));
    switch (c.code) {
      case 5: result = client().GetIdentity(&type, &firmware, &count); break;
      case 6: result = client().GetStorageInfo(0, &info); break;
      case 7: result = client().ReadOwnerText(*owner.GetSet()); break;
      case 13: result = client().ListFiles(&records); break;
      case 16: result = client().ReadBlock(0x120, 8, 16, block.data()); break;
    }
    EXPECT_EQ(result, c.expected);
    EXPECT_FALSE(socket().IsOpen());
    EXPECT_LT(client().GetStorageInfo(0, &info), 0);  // nothing more on a closed connection
    TearDown();
  }
}

TEST_F(RemoteProtocolClientTest, SilentPlayerTimesOut) {
  Settings settings;
  settings.fault = Fault::kSilent;
  settings.fault_code = 5;
  Connect(settings);
  socket().set_io_timeout_ms(300);
  std::string type, firmware;
  uint32_t count = 0;
  EXPECT_EQ(client().GetIdentity(&type, &firmware, &count), rc::kTimeout);
  EXPECT_FALSE(socket().IsOpen());
}

}  // namespace
