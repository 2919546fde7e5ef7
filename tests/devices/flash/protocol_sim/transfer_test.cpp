#include <cstring>

#include "devices/flash/protocol_sim/session_fixture.h"
#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"

namespace {

uint32_t Chunks(uint32_t size) { return (size + qel::kChunkSize - 1) / qel::kChunkSize; }

Lines ExpectedUpload(uint32_t size) {
  Lines lines = {"C96", "C108", "R:SQELRDY."};
  for (uint32_t i = 0; i < Chunks(size); ++i)
    lines.insert(lines.end(), {"R:SQELDATA", "W:CQELDATA", "W16384"});
  lines.insert(lines.end(), {"R:SQELDATA", "W:CQELINFO", "W2048", "R:SQELDONE", "C96"});
  return lines;
}

Lines ExpectedDownload(uint32_t size) {
  Lines lines = {"C96", "C112", "R:SQELUPLD", "W2048", "R:SQELRDY."};
  for (uint32_t i = 0; i < Chunks(size); ++i)
    lines.insert(lines.end(), {"W:CQELDATA", "R:SQELDATA", "R16384"});
  return lines;
}

// --- whole files, byte for byte -------------------------------------------------------------

TEST_F(SessionTest, FilesTravelByteExactInChunksAndRecords) {
  const uint32_t sizes[] = {0, 1, 16383, 16384, 16385, 100000};
  for (uint32_t size : sizes) {
    SCOPED_TRACE(size);
    player->Storage(0).files.clear();
    player->ClearLog();
    const std::string data = Pattern(size, size);
    {
      ProtocolSession session(&hw, &clock);
      ASSERT_EQ(rc::kOk, session.Lock());
      ASSERT_EQ(rc::kOk, Upload(session, data, 40));
      EXPECT_FALSE(session.transfer_open());
    }
    Lines expected = ExpectedUpload(size);
    expected.insert(expected.begin(), "C101");
    expected.push_back("C102");
    EXPECT_EQ(expected, Log());
    ASSERT_EQ(1u, player->Storage(0).files.size());
    EXPECT_TRUE(player->Storage(0).files[0].data == data);

    player->ClearLog();
    std::string back;
    {
      ProtocolSession session(&hw, &clock);
      ASSERT_EQ(rc::kOk, session.Lock());
      const std::vector<uint8_t> record = Record(40, size);
      ASSERT_EQ(rc::kOk, session.RequestDownload(0, record.data()));
      std::vector<uint8_t> chunk(qel::kChunkSize);
      while (back.size() < size) {
        ASSERT_EQ(rc::kOk, session.ReceiveDownloadChunk(chunk.data()));
        back.append(chunk.begin(),
                    chunk.begin() + std::min<size_t>(qel::kChunkSize, size - back.size()));
      }
      EXPECT_FALSE(session.transfer_open());
    }
    EXPECT_TRUE(back == data);
    Lines download = ExpectedDownload(size);
    download.insert(download.begin(), "C101");
    download.push_back("C102");
    EXPECT_EQ(download, Log());
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->lock_depth);
    EXPECT_EQ(0, player->aborts);
  }
}

TEST_F(SessionTest, ChunksSurviveATransportThatMovesLittleAtATime) {
  player->max_transfer = 5000;
  const std::string data = Pattern(100000);
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, Upload(session, data));
  }
  ASSERT_EQ(1u, player->Storage(0).files.size());
  EXPECT_TRUE(player->Storage(0).files[0].data == data);
}

TEST_F(SessionTest, TailsCarryTheirLength) {
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  ASSERT_EQ(rc::kOk, session.BeginSend136(0));
  const std::string data = Pattern(40000);
  ASSERT_EQ(rc::kOk, session.SendTail(reinterpret_cast<const uint8_t*>(data.data()), 40000));
  ASSERT_EQ(rc::kOk, session.SendInfo(Record(3, 40000).data()));
  EXPECT_TRUE(player->Storage(0).files.at(0).data == data);
  EXPECT_EQ(1, Count("W:CQELDATA len=40000"));
  // The tail's data may take the player 10 s; every other transfer 5 s.
  for (const SimLogEntry& entry : player->log) {
    if (entry.kind != SimLogEntry::kRead && entry.kind != SimLogEntry::kWrite) continue;
    EXPECT_EQ(entry.ToString() == "W40000" ? 10000u : 5000u, entry.timeout_ms)
        << entry.ToString();
  }
}

TEST_F(SessionTest, ADatabaseImageEndsWithInfoAlone) {
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  ASSERT_EQ(rc::kOk, session.BeginDatabaseWrite(1));
  std::vector<uint8_t> block(qel::kChunkSize, 0x5A);
  ASSERT_EQ(rc::kOk, session.SendBytes(block.data(), qel::kChunkSize));
  ASSERT_EQ(rc::kOk, session.FinishInfo());
  EXPECT_EQ(std::string(qel::kChunkSize, 0x5A), player->database);
  EXPECT_FALSE(session.transfer_open());
  const Lines log = Log();
  EXPECT_EQ((Lines{"R:SQELDATA", "W:CQELINFO", "R:SQELDONE", "C96"}),
            Lines(log.end() - 4, log.end()));
}

TEST_F(SessionTest, ARecordIsRewrittenInPlace) {
  player->Storage(0).files.push_back({Record(8, 3), "xyz"});
  ProtocolSession session(&hw, &clock);
  ASSERT_EQ(rc::kOk, session.Lock());
  ASSERT_EQ(rc::kOk, session.BeginRecordWrite(0));
  std::vector<uint8_t> record = Record(8, 3);
  record[100] = 0x77;
  ASSERT_EQ(rc::kOk, session.SendInfo(record.data()));
  EXPECT_EQ(record, player->Storage(0).files.at(0).record);
  EXPECT_EQ("xyz", player->Storage(0).files.at(0).data);
}

struct RefusalCase {
  const char* what;
  uint32_t fid;
  bool deny;
  Result expected;
};

TEST_F(SessionTest, DownloadsThePlayerRefusesLeaveNoTransfer) {
  player->Storage(0).files.push_back({Record(8, 3), "xyz"});
  const RefusalCase cases[] = {
      {"no such file", 9, false, rc::kNotFound},
      {"access denied", 8, true, rc::kAccessDenied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    player->deny_download = c.deny;
    player->ClearLog();
    {
      ProtocolSession session(&hw, &clock);
      ASSERT_EQ(rc::kOk, session.Lock());
      EXPECT_EQ(c.expected, session.RequestDownload(0, Record(c.fid, 3).data()));
      EXPECT_FALSE(session.transfer_open());
    }
    EXPECT_EQ(0, Count("W:CQELABRT"));
  }
}

// --- failures on the PC's side end the transfer ----------------------------------------------

TEST_F(SessionTest, ASourceReadErrorEndsTheTransferWithAnAbort) {
  MemoryStream memory(Pattern(3 * qel::kChunkSize));
  FaultInjectingStream source(&memory);
  source.FailRead(2, rc::FromWin32(23));
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.BeginSend(0));
    std::vector<uint8_t> chunk(qel::kChunkSize);
    for (;;) {
      uint32_t got = 0;
      if (rc::Failed(source.Read(chunk.data(), qel::kChunkSize, &got))) {
        session.AbortIfData();
        break;
      }
      ASSERT_EQ(rc::kOk, session.SendChunk(chunk.data()));
    }
    EXPECT_FALSE(session.transfer_open());
    EXPECT_EQ(2, session.lock_count());  // the abort took its lock again
  }
  EXPECT_EQ((Lines{"C101", "C96", "C108", "R:SQELRDY.",             //
                   "R:SQELDATA", "W:CQELDATA", "W16384",             // the first chunk
                   "R:SQELDATA", "W:CQELABRT", "C96", "C101",        // the abort
                   "C102", "C102"}),                                 // the session's end
            Log());
  EXPECT_TRUE(player->Storage(0).files.empty());

  // The next operation finds the player ready at once.
  player->ClearLog();
  ProtocolSession next(&hw, &clock);
  EXPECT_EQ(rc::kOk, next.WaitReady());
  EXPECT_EQ(Lines{"C96"}, Log());
  EXPECT_EQ(0u, clock.TotalSlept());
  EXPECT_EQ(0, player->lock_depth);
}

struct SendFailureCase {
  const char* what;
  bool abort_explicitly;  // the caller aborts, or leaves it to the session's end
};

// A chunk that breaks off in the middle leaves the player waiting for the rest of it: no
// status block will come, so the abort must not wait for one.
TEST_F(SessionTest, AFailedChunkSendEndsTheTransferWithAnAbort) {
  const SendFailureCase cases[] = {{"caller aborts", true}, {"session end aborts", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto fresh = std::make_shared<SimFlashPlayer>();
    SimUsbHardware transport(fresh, 0x5003);
    transport.Open();
    fresh->fail_write_at = 2;  // the data of the first chunk
    fresh->fail_write_code = rc::kTimeout;
    fresh->fail_write_done = 4000;
    FakeClock fake;
    {
      ProtocolSession session(&transport, &fake);
      ASSERT_EQ(rc::kOk, session.Lock());
      ASSERT_EQ(rc::kOk, session.BeginSend(0));
      std::vector<uint8_t> chunk(qel::kChunkSize, 1);
      EXPECT_EQ(rc::kTimeout, session.SendChunk(chunk.data()));
      EXPECT_TRUE(session.transfer_open());
      if (c.abort_explicitly) session.AbortIfData();
    }
    EXPECT_EQ((Lines{"C101", "C96", "C108", "R:SQELRDY.", "R:SQELDATA", "W:CQELDATA",
                     "W!c004000b", "W:CQELABRT", "C96", "C101", "C102", "C102"}),
              fresh->LogLines());
    EXPECT_FALSE(fresh->Busy());
    EXPECT_EQ(0, fresh->lock_depth);
    EXPECT_EQ(0u, fake.TotalSlept());
  }
}

TEST_F(SessionTest, AnUnfinishedDownloadIsAbortedAtTheSessionsEnd) {
  player->Storage(0).files.push_back({Record(8, 40000), Pattern(40000)});
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.RequestDownload(0, Record(8, 40000).data()));
    std::vector<uint8_t> chunk(qel::kChunkSize);
    ASSERT_EQ(rc::kOk, session.ReceiveDownloadChunk(chunk.data()));
    // The sink failed here.
  }
  const Lines log = Log();
  // The abort takes the lock again; the session's end gives back both.
  EXPECT_EQ((Lines{"W:CQELABRT", "C96", "C101", "C102", "C102"}),
            Lines(log.end() - 5, log.end()));
  EXPECT_FALSE(player->Busy());
  EXPECT_EQ(1, player->aborts);
}

// --- the player's answers during a transfer -------------------------------------------------

struct FullCase {
  const char* what;
  bool as_signature;
};

TEST_F(SessionTest, APlayerThatFillsUpEndsTheTransferItself) {
  const FullCase cases[] = {{"status word", false}, {"signature bytes", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    player->ClearLog();
    player->full_piece = 2;
    player->full_as_signature = c.as_signature;
    {
      ProtocolSession session(&hw, &clock);
      ASSERT_EQ(rc::kOk, session.Lock());
      EXPECT_EQ(rc::kPlayerFull, Upload(session, Pattern(3 * qel::kChunkSize)));
      EXPECT_FALSE(session.transfer_open());
    }
    EXPECT_EQ(0, Count("W:CQELABRT"));
    EXPECT_EQ(c.as_signature ? 1 : 0, Count("R:<FULL>"));
    EXPECT_EQ(2, Count("W16384"));
    EXPECT_TRUE(player->Storage(0).files.empty());
    EXPECT_FALSE(player->Busy());
  }
}

struct CrcCase {
  const char* what;
  int piece;
  uint32_t size;
};

// "CRCF" speaks of the chunk before it: that chunk is sent again, and the file arrives whole.
TEST_F(SessionTest, AChecksumFailureResendsTheChunkThatFailed) {
  const CrcCase cases[] = {
      {"middle chunk", 2, 3 * qel::kChunkSize},
      {"last chunk, found before the record", 3, 3 * qel::kChunkSize - 10},
      {"first chunk", 1, 2 * qel::kChunkSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    player->ClearLog();
    player->Storage(0).files.clear();
    player->crcf_piece = c.piece;
    player->crcf_times = 2;
    const std::string data = Pattern(c.size);
    {
      ProtocolSession session(&hw, &clock);
      ASSERT_EQ(rc::kOk, session.Lock());
      ASSERT_EQ(rc::kOk, Upload(session, data));
    }
    ASSERT_EQ(1u, player->Storage(0).files.size());
    EXPECT_TRUE(player->Storage(0).files[0].data == data);
    EXPECT_EQ(2, Count("R:SQELCRCF"));
    EXPECT_EQ(static_cast<int>(Chunks(c.size)) + 2, Count("W16384"));
  }
}

TEST_F(SessionTest, ChecksumFailuresAreResentOnlyABoundedNumberOfTimes) {
  player->crcf_piece = 1;
  player->crcf_times = 1000;
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    EXPECT_EQ(rc::kChecksumFailure, Upload(session, Pattern(2 * qel::kChunkSize)));
    EXPECT_TRUE(session.transfer_open());
    // A caller that tries the chunk once more is told at once; no status is owed.
    const size_t entries = player->log.size();
    std::vector<uint8_t> chunk(qel::kChunkSize);
    EXPECT_EQ(rc::kUnexpectedStatus, session.SendChunk(chunk.data()));
    EXPECT_EQ(entries, player->log.size());
  }
  EXPECT_EQ(1 + qel::kMaxResends, Count("W16384"));
  EXPECT_EQ(1 + qel::kMaxResends, Count("R:SQELCRCF"));
  // The player still waited for the chunk: the session's end aborts and frees it.
  EXPECT_EQ(1, Count("W:CQELABRT"));
  EXPECT_FALSE(player->Busy());
  EXPECT_EQ(0, player->lock_depth);
}

// --- unplugged players ----------------------------------------------------------------------

TEST_F(SessionTest, APlayerUnpluggedDuringAnUploadEndsTheSessionQuickly) {
  for (int calls = 1; calls <= 12; ++calls) {
    SCOPED_TRACE(calls);
    auto fresh = std::make_shared<SimFlashPlayer>();
    SimUsbHardware transport(fresh, 0x5003);
    transport.Open();
    fresh->unplug_after_calls = calls;
    FakeClock fake;
    {
      ProtocolSession session(&transport, &fake);
      session.Lock();
      Result result = session.BeginSend(0);
      std::vector<uint8_t> chunk(qel::kChunkSize);
      if (rc::Succeeded(result)) result = session.SendChunk(chunk.data());
      if (rc::Succeeded(result)) result = session.SendInfo(Record(1, 1).data());
      EXPECT_TRUE(fresh->unplugged);
      EXPECT_LT(result, 0);
    }
    // No five-second polling of a gone player, and a bounded number of calls.
    EXPECT_EQ(0u, fake.TotalSlept());
    EXPECT_LE(fresh->log.size(), 16u);
  }
}

TEST_F(SessionTest, AnUnpluggedPlayerAnswersPlayerGone) {
  player->unplugged = true;
  ProtocolSession session(&hw, &clock);
  uint32_t word = 0;
  EXPECT_EQ(rc::kPlayerGone, session.GetStatusWord(&word));
  EXPECT_EQ(rc::kPlayerGone, session.BeginSend(0));
  EXPECT_EQ(Count("C96"), 1);
  SimUsbHardware other(player, 0x5003);
  EXPECT_LT(other.Open(), 0);
}

}  // namespace
