#include <cstring>

#include "devices/flash/protocol_sim/session_fixture.h"

namespace {

// A player whose answers to chosen requests a test scripts word by word, and which can put
// any block in front of the PC.
class ScriptedPlayer : public SimFlashPlayer {
 public:
  uint8_t scripted_request = 0;
  uint32_t scripted_word = 1;
  std::vector<uint8_t> scripted_block;
  std::vector<uint8_t> second_block;

 protected:
  bool OnRequest(uint8_t request, uint16_t, uint16_t, uint32_t* word) override {
    if (request != scripted_request) return false;
    if (!scripted_block.empty()) Queue(scripted_block);
    if (!second_block.empty()) Queue(second_block);
    *word = scripted_word;
    return true;
  }
};

class ScriptedSessionTest : public ::testing::Test {
 protected:
  ScriptedSessionTest() : player(std::make_shared<ScriptedPlayer>()), hw(player, 0x5003) {
    hw.Open();
    player->ClearLog();
  }
  std::shared_ptr<ScriptedPlayer> player;
  SimUsbHardware hw;
  FakeClock clock;
};

// --- WaitReady -------------------------------------------------------------------------------

struct ReadyCase {
  const char* what;
  int not_ready_polls;
  bool unplugged;
  Result expected;
  int polls;
  uint64_t slept_ms;
};

TEST_F(SessionTest, WaitReadyPollsEvery100MsForAtMostFiveSeconds) {
  const ReadyCase cases[] = {
      {"ready at once", 0, false, rc::kOk, 1, 0},
      {"ready after three polls", 3, false, rc::kOk, 4, 300},
      {"ready on the last poll", 50, false, rc::kOk, 51, 5000},
      {"never ready", -1, false, rc::kPlayerNotReady, 51, 5100},
      // A gone player fails at once instead of being polled for five seconds.
      {"unplugged", 0, true, rc::kPlayerGone, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    player->ClearLog();
    player->not_ready_polls = c.not_ready_polls;
    player->unplugged = c.unplugged;
    FakeClock clock;
    ProtocolSession session(&hw, &clock);
    EXPECT_EQ(c.expected, session.WaitReady());
    EXPECT_EQ(c.polls, Count("C96"));
    EXPECT_EQ(c.slept_ms, clock.TotalSlept());
  }
}

// A clock that never moves must not turn the wait into an endless loop.
class StoppedClock : public Clock {
 public:
  uint32_t NowMs() override { return 5; }
  void SleepMs(uint32_t) override { ++sleeps; }
  int sleeps = 0;
};

TEST_F(SessionTest, WaitReadyIsBoundedEvenWhenTheClockStands) {
  player->not_ready_polls = -1;
  StoppedClock stopped;
  ProtocolSession session(&hw, &stopped);
  EXPECT_EQ(rc::kPlayerNotReady, session.WaitReady());
  EXPECT_EQ(100, Count("C96"));
}

TEST_F(ScriptedSessionTest, WaitReadyTakesAnInvalidWordAsProtocolError) {
  player->scripted_request = 96;
  player->scripted_word = 0xFFFFFFFF;
  ProtocolSession session(&hw, &clock);
  EXPECT_EQ(rc::kProtocolError, session.WaitReady());
  EXPECT_EQ(0u, clock.TotalSlept());
}

// Every "ready" request fails with the wait's failure and is never sent.
TEST_F(SessionTest, ReadyRequestsAreNotSentToAPlayerThatStaysBusy) {
  player->not_ready_polls = -1;
  ProtocolSession session(&hw, &clock);
  uint8_t block[qel::kStorageBlockSize];
  EXPECT_EQ(rc::kPlayerNotReady, session.ReadStorageBlock(0, block));
  EXPECT_EQ(0, Count("C104"));
}

// --- status words ----------------------------------------------------------------------------

struct WordCase {
  uint32_t word;
  Result expected;
};

TEST_F(ScriptedSessionTest, StrictRequestsMapTheStatusWord) {
  const WordCase cases[] = {
      {1, rc::kOk},
      {0, rc::kProtocolError},
      {0xFFFFFFFF, rc::kProtocolError},
      {2, rc::kProtocolError},
      {0x77C0, rc::kUnknownRequest},    // the setup packet of request 119 echoed
      {0x76C0, rc::kProtocolError},     // an echo of another request
      {0x1277C0, rc::kUnknownRequest},  // only the low two bytes count
      {0x77C1, rc::kProtocolError},
  };
  player->scripted_request = 119;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    player->scripted_word = c.word;
    ProtocolSession session(&hw, &clock);
    EXPECT_EQ(c.expected, session.Request119(3, 4));
  }
}

TEST_F(SessionTest, AnUnknownRequestIsReportedAsSuch) {
  ProtocolSession session(&hw, &clock);
  EXPECT_EQ(rc::kUnknownRequest, session.ControlRequest(146, 0, 0));
}

TEST_F(ScriptedSessionTest, ValueRequestsHandBackTheWord) {
  ProtocolSession session(&hw, &clock);
  uint32_t value = 0;
  player->scripted_request = 140;
  player->scripted_word = 3600;
  EXPECT_EQ(rc::kOk, session.Request140(&value));
  EXPECT_EQ(60u, value);
  player->scripted_word = 0xFFFFFFFF;
  value = 99;
  EXPECT_EQ(rc::kProtocolError, session.Request140(&value));
  EXPECT_EQ(99u, value);
  player->scripted_request = 118;
  player->scripted_word = 0;  // raw: a zero word is a value, not a failure
  EXPECT_EQ(rc::kOk, session.GetButtonCount(&value));
  EXPECT_EQ(0u, value);
}

TEST_F(SessionTest, SetTimeSendsTheHighHalfArithmetically) {
  ProtocolSession session(&hw, &clock);
  EXPECT_EQ(rc::kOk, session.SetTime(-2));
  EXPECT_EQ(-2, player->device_time);
  EXPECT_EQ(Lines{"C123(65535,65534)"}, Log());
  EXPECT_EQ(rc::kOk, session.SetTime(0x12345678));
  EXPECT_EQ(0x12345678, player->device_time);
}

// --- locks -----------------------------------------------------------------------------------

TEST_F(SessionTest, TheSessionsEndReleasesEveryLockItTook) {
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.Unlock());
    EXPECT_EQ(2, session.lock_count());
    EXPECT_EQ(2, player->lock_depth);
  }
  EXPECT_EQ((Lines{"C101", "C101", "C101", "C102", "C102", "C102"}), Log());
  EXPECT_EQ(0, player->lock_depth);
}

TEST_F(SessionTest, ASessionWithoutLocksSendsNothingAtItsEnd) {
  { ProtocolSession session(&hw, &clock); }
  EXPECT_TRUE(Log().empty());
}

TEST_F(SessionTest, AFailedUnlockKeepsTheCountAndStopsTheRelease) {
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.Lock());
    player->lock_depth = 0;  // the player forgot our locks
    EXPECT_EQ(rc::kProtocolError, session.Unlock());
    EXPECT_EQ(2, session.lock_count());
  }
  // One more try at the end, and no more once the player refuses.
  EXPECT_EQ((Lines{"C101", "C101", "C102", "C102"}), Log());
}

TEST_F(SessionTest, AFailedLockCountsNothing) {
  player->unplugged = true;
  ProtocolSession session(&hw, &clock);
  EXPECT_EQ(rc::kPlayerGone, session.Lock());
  EXPECT_EQ(0, session.lock_count());
}

// --- blocks and records ----------------------------------------------------------------------

TEST_F(SessionTest, ReadsTheFixedBlocksAfterWaitingForThePlayer) {
  ProtocolSession session(&hw, &clock);
  uint8_t info[qel::kDeviceInfoSize];
  ASSERT_EQ(rc::kOk, session.ReadDeviceInfoBlock(info));
  EXPECT_EQ(0, memcmp(info, player->info_block.data(), sizeof info));
  uint8_t formats[qel::kFormatsBlockSize];
  ASSERT_EQ(rc::kOk, session.ReadFormatsBlock(1, formats));
  EXPECT_EQ(2u, SimGetLe32(formats));
  EXPECT_EQ((Lines{"C96", "C98", "R256", "C96", "C99(1,0)", "R128"}), Log());
}

TEST_F(SessionTest, StorageBlocksEndWithAShortTransfer) {
  player->storages.resize(2);
  player->Storage(1).total_blocks = 77;
  ProtocolSession session(&hw, &clock);
  uint8_t block[qel::kStorageBlockSize];
  ASSERT_EQ(rc::kOk, session.ReadStorageBlock(1, block));
  EXPECT_EQ(77u, SimGetLe32(block + 16));
  EXPECT_EQ(rc::kShortTransfer, session.ReadStorageBlock(2, block));
}

TEST_F(ScriptedSessionTest, AStorageBlockWithAnOddStatusIsBad) {
  player->scripted_request = 104;
  player->scripted_block.assign(qel::kStorageBlockSize, 0);
  player->scripted_block[0] = 7;
  ProtocolSession session(&hw, &clock);
  uint8_t block[qel::kStorageBlockSize];
  EXPECT_EQ(rc::kBadStorageBlock, session.ReadStorageBlock(0, block));
}

TEST_F(SessionTest, OwnerRecordsGoBothWays) {
  std::vector<uint8_t> record(qel::kRecordSize);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.WriteOwnerRecord(record.data()));
    EXPECT_FALSE(session.transfer_open());
    std::vector<uint8_t> back(qel::kRecordSize);
    ASSERT_EQ(rc::kOk, session.ReadOwnerRecord(back.data()));
    EXPECT_EQ(record, back);
  }
  EXPECT_EQ((Lines{"C101", "C96", "C121", "R:SQELPRFS", "W2048", "R:SQELPRFD", "C96", "C122", "R2048", "C102"}),
            Log());
}

TEST_F(SessionTest, RecordsAreListedAndDeleted) {
  player->Storage(0).files.push_back({Record(9, 4), "abcd"});
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  std::vector<uint8_t> record(qel::kRecordSize);
  ASSERT_EQ(rc::kOk, session.ReadRecordBlock(0, 0, record.data()));
  EXPECT_EQ(9u, SimGetLe32(record.data()));
  EXPECT_EQ(rc::kShortTransfer, session.ReadRecordBlock(0, 1, record.data()));

  player->ClearLog();
  ASSERT_EQ(rc::kOk, session.DeleteRecord(0, Record(9, 4).data()));
  EXPECT_TRUE(player->Storage(0).files.empty());
  EXPECT_EQ((Lines{"C96", "C120", "R:SQELDELS", "W2048", "R:SQELDELD"}), Log());
  // The player's other answer is not the expected word.
  EXPECT_EQ(rc::kBadStatusBlock, session.DeleteRecord(0, Record(9, 4).data()));
}

TEST_F(SessionTest, SendStringSendsTheTextWithItsNul) {
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  ASSERT_EQ(rc::kOk, session.SendString("hello", 3));
  EXPECT_EQ("hello", player->last_string);
  EXPECT_EQ((Lines{"C101", "C96", "C142(6,3)", "R:SQELRDY.", "W6", "R:SQELRDY."}), Log());
  EXPECT_EQ(rc::kInvalidArg, session.SendString(std::string(0xFFFF, 'x'), 0));
}

TEST_F(SessionTest, Read128NeedsRoomForTheWholeBlock) {
  ProtocolSession session(&hw, &clock);
  uint8_t buffer[qel::kRead128Size];
  EXPECT_EQ(rc::kBadIndex, session.Read128(buffer, 127));
  EXPECT_TRUE(Log().empty());
  player->block128[0] = 0x42;
  ASSERT_EQ(rc::kOk, session.Read128(buffer, sizeof buffer));
  EXPECT_EQ(0x42, buffer[0]);
  EXPECT_EQ((Lines{"C128", "R128"}), Log());
}

TEST_F(SessionTest, TheDatabaseImageIsReadUntilDone) {
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  uint32_t size = 1;
  EXPECT_EQ(rc::kNoDatabase, session.GetDatabaseSize(&size));
  EXPECT_EQ(1u, size);

  player->has_database = true;
  player->database = Pattern(20000);
  ASSERT_EQ(rc::kOk, session.GetDatabaseSize(&size));
  EXPECT_EQ(20000u, size);
  std::string image;
  std::vector<uint8_t> chunk(qel::kChunkSize);
  for (uint32_t got = 1; got != 0;) {
    ASSERT_EQ(rc::kOk, session.ReceiveChunk(chunk.data(), &got));
    image.append(chunk.begin(), chunk.begin() + got);
  }
  EXPECT_EQ(player->database, image.substr(0, size));
  EXPECT_EQ(2u * qel::kChunkSize, image.size());
  EXPECT_FALSE(session.transfer_open());
}

TEST_F(ScriptedSessionTest, AnAbsurdDatabaseSizeIsBadData) {
  player->scripted_request = 130;
  player->scripted_block.assign(qel::kBlockSize, 0);
  memcpy(player->scripted_block.data(), "SQELDBSE", 8);
  SimPutLe32(&player->scripted_block[8], 0xFFFFFFF0);
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  uint32_t size = 1;
  EXPECT_EQ(rc::kBadData, session.GetDatabaseSize(&size));
  EXPECT_EQ(1u, size);
}

struct StatusBlockCase {
  const char* what;
  std::vector<uint8_t> block;
  Result expected;
};

std::vector<uint8_t> Block(const char* text) {
  std::vector<uint8_t> block(qel::kBlockSize, 0);
  memcpy(block.data(), text, strlen(text));
  return block;
}

TEST_F(ScriptedSessionTest, Request137ReadsItsAnswer) {
  const StatusBlockCase cases[] = {
      {"done", Block("SQELDONE"), rc::kOk},
      {"error", Block("SQELEROR"), rc::kPlayerError},
      {"other word", Block("SQELDATA"), rc::kBadStatusBlock},
      {"malformed", Block("XQELDONE"), rc::kBadStatusBlock},
      {"nothing sent", {}, rc::kBadStatusBlock},
  };
  player->scripted_request = 137;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    player->scripted_block = c.block;
    ProtocolSession session(&hw, &clock);
    EXPECT_EQ(c.expected, session.Request137(1, 2));
  }
}

// "CRCF" right after the request: there is no piece to send again.
TEST_F(ScriptedSessionTest, AChecksumFailureWithNothingSentBeforeIsAFailure) {
  player->scripted_request = 108;
  player->scripted_block = Block("SQELRDY.");
  player->second_block = Block("SQELCRCF");
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  ASSERT_EQ(rc::kOk, session.BeginSend(0));
  std::vector<uint8_t> chunk(qel::kChunkSize);
  EXPECT_EQ(rc::kChecksumFailure, session.SendChunk(chunk.data()));
  EXPECT_EQ((Lines{"C101", "C96", "C108", "R:SQELRDY.", "R:SQELCRCF"}), player->LogLines());
}

// --- the transport's answers are not trusted -------------------------------------------------

// Forwards to a simulated transport and lies about the bytes a read moved.
class LyingHardware : public SimUsbHardware {
 public:
  using SimUsbHardware::SimUsbHardware;
  uint32_t reported = 0;
  Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) override {
    Result result = SimUsbHardware::Read(buffer, length, done, timeout_ms);
    *done = reported;
    return result;
  }
};

// A transport that claims more bytes than were asked for must not move the session past its
// buffer.
TEST(ProtocolSessionTransportTest, ReadCountsBeyondTheRequestAreCut) {
  auto player = std::make_shared<SimFlashPlayer>();
  LyingHardware hw(player, 0x5003);
  hw.Open();
  hw.reported = qel::kRecordSize + 4096;
  FakeClock clock;
  ProtocolSession session(&hw, &clock);
  std::vector<uint8_t> record(qel::kRecordSize);
  EXPECT_EQ(rc::kOk, session.ReadOwnerRecord(record.data()));
}

TEST(ProtocolSessionTransportTest, ReadsLargerThanTheTransportsLimitTakeSeveralCalls) {
  auto player = std::make_shared<SimFlashPlayer>();
  player->max_transfer = 1000;
  SimUsbHardware hw(player, 0x5003);
  hw.Open();
  FakeClock clock;
  ProtocolSession session(&hw, &clock);
  std::vector<uint8_t> record(qel::kRecordSize);
  for (size_t i = 0; i < qel::kRecordSize; ++i) player->owner_record[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(rc::kOk, session.ReadOwnerRecord(record.data()));
  EXPECT_TRUE(std::equal(record.begin(), record.end(), player->owner_record.begin()));
  EXPECT_EQ((Lines{"C96", "C122", "R1000", "R1000", "R48"}), player->LogLines());
}

// --- the simulated transport itself ---------------------------------------------------------

TEST(SimUsbHardwareTest, ClonesShareOnePlayerAndOneHolder) {
  auto player = std::make_shared<SimFlashPlayer>();
  SimUsbHardware first(player, 0x5003);
  std::unique_ptr<UsbHardware> second(first.Clone());
  ASSERT_EQ(rc::kOk, first.Open());
  EXPECT_EQ(rc::kPlayerBusy, second->Open());
  first.Close();
  EXPECT_EQ(rc::kOk, second->Open());
  uint8_t reply[UsbHardware::kReplySize];
  EXPECT_EQ(rc::kOk, second->ControlRequest(101, 0, 0, reply));
  EXPECT_EQ(1, player->lock_depth);
  uint32_t done = 5;
  EXPECT_LT(first.Read(reply, 1, &done, 0), 0);  // closed
  EXPECT_EQ(0u, done);
}

TEST(SimUsbHardwareTest, NeverAnswersAReadWithNothingAndSuccess) {
  auto player = std::make_shared<SimFlashPlayer>();
  SimUsbHardware hw(player, 0x5003);
  hw.Open();
  uint8_t block[64];
  uint32_t done = 9;
  EXPECT_EQ(rc::kTimeout, hw.Read(block, sizeof block, &done, 0));
  EXPECT_EQ(0u, done);
}

}  // namespace
