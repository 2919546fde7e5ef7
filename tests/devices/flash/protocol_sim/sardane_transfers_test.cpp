#include <algorithm>
#include <cstring>

#include "devices/flash/protocol_sim/sardane_fixture.h"
#include "devices/flash/sardane_file_record.h"
#include "devices/flash/type_codes.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "testlib/fault_injecting_stream.h"

namespace {

using SardaneTransferTest = SardaneChannelTest;

// A source that does not know its size and hands out its bytes in small pieces.
class PieceSource : public Stream {
 public:
  explicit PieceSource(std::string bytes, uint32_t piece = 1000)
      : bytes_(std::move(bytes)), piece_(piece) {}
  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    *count = std::min<uint32_t>({length, piece_, static_cast<uint32_t>(bytes_.size() - at_)});
    memcpy(buffer, bytes_.data() + at_, *count);
    at_ += *count;
    if (fail_at_end && at_ == bytes_.size()) return rc::kFail;
    return *count == 0 ? rc::kEndOfData : rc::kOk;
  }
  Result Write(const void*, uint32_t, uint32_t*) override { return rc::kNotImplemented; }
  bool fail_at_end = false;

 private:
  std::string bytes_;
  uint32_t piece_;
  size_t at_ = 0;
};

// A sink that takes a few bytes per call and may fail after some of them.
class TrickleSink : public Stream {
 public:
  Result Read(void*, uint32_t, uint32_t*) override { return rc::kNotImplemented; }
  Result Write(const void* buffer, uint32_t length, uint32_t* count) override {
    *count = 0;
    if (bytes.size() >= fail_after) return rc::kFail;
    *count = std::min<uint32_t>(length, 5000);
    bytes.append(static_cast<const char*>(buffer), *count);
    return rc::kOk;
  }
  std::string bytes;
  size_t fail_after = SIZE_MAX;
};

RefPtr<PropertySet> FileProps(uint32_t fid, uint32_t length) {
  RefPtr<PropertySet> file = NewSet();
  file->SetInt("fid", static_cast<int32_t>(fid));
  file->SetInt("length", static_cast<int32_t>(length));
  return file;
}

// --- upload --------------------------------------------------------------------------------

TEST_F(SardaneTransferTest, OneChunkFileThenItsRecord) {
  const std::string data = Pattern(qel::kChunkSize);
  MemoryStream source(data);
  ASSERT_EQ(rc::kOk, channel->SendFile(0, *FileProps(9, qel::kChunkSize), &source, nullptr));
  EXPECT_EQ((Lines{"C101", "C96", "C108", "R:SQELRDY.", "R:SQELDATA", "W:CQELDATA", "W16384",
                   "R:SQELDATA", "W:CQELINFO", "W2048", "R:SQELDONE", "C96", "C102"}),
            Log());
  ASSERT_EQ(1u, player->Storage(0).files.size());
  EXPECT_EQ(data, player->Storage(0).files[0].data);
  EXPECT_EQ(9u, player->Storage(0).files[0].fid());
}

TEST_F(SardaneTransferTest, Request136OpensTheSameUpload) {
  player->storages.resize(2);
  PieceSource source(Pattern(20000));
  RecordingProgress progress;
  ASSERT_EQ(rc::kOk,
            channel->SendFileByRequest136(1, *FileProps(3, 20000), &source, &progress));
  EXPECT_TRUE(Sent("C136(1,0)"));
  ASSERT_EQ(1u, player->Storage(1).files.size());
  EXPECT_EQ(Pattern(20000), player->Storage(1).files[0].data);
  EXPECT_EQ((Reports{{0, 20000}, {16384, 20000}, {20000, 20000}, {20000, 20000}}),
            progress.reports);
}

TEST_F(SardaneTransferTest, ARejectedChunkIsSentAgain) {
  player->crcf_piece = 1;
  player->crcf_times = 1;
  MemoryStream source(Pattern(100));
  ASSERT_EQ(rc::kOk, channel->SendFile(0, *FileProps(4, 100), &source, nullptr));
  EXPECT_EQ(Pattern(100), player->Storage(0).files.at(0).data);
}

TEST_F(SardaneTransferTest, SizeKnownToDifferSendsNothing) {
  MemoryStream source(Pattern(1000));
  EXPECT_EQ(rc::kSizeMismatch, channel->SendFile(0, *FileProps(4, 999), &source, nullptr));
  EXPECT_TRUE(Log().empty());
}

TEST_F(SardaneTransferTest, SourceThatDeliversMoreOrLessIsStopped) {
  const struct {
    uint32_t announced;
    uint32_t delivered;
  } cases[] = {{1000, 1001}, {1000, 999}, {16384, 16385}, {20000, 16384}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delivered);
    PieceSource source(Pattern(c.delivered));
    const int aborts = player->aborts;
    EXPECT_EQ(rc::kSizeMismatch,
              channel->SendFile(0, *FileProps(4, c.announced), &source, nullptr));
    EXPECT_EQ(aborts + 1, player->aborts);
    EXPECT_FALSE(player->Busy());
    EXPECT_TRUE(player->Storage(0).files.empty());
  }
}

TEST_F(SardaneTransferTest, FailuresDuringTheUploadEndIt) {
  player->full_piece = 2;
  MemoryStream full(Pattern(40000));
  EXPECT_EQ(rc::kPlayerFull, channel->SendFile(0, *FileProps(4, 40000), &full, nullptr));
  player->full_piece = 0;
  PieceSource failing(Pattern(3000));
  failing.fail_at_end = true;
  EXPECT_EQ(rc::kFail, channel->SendFile(0, *FileProps(4, 3000), &failing, nullptr));
  EXPECT_FALSE(player->Busy());
  EXPECT_TRUE(player->Storage(0).files.empty());
  EXPECT_EQ(rc::kInvalidArg, channel->SendFile(0, *FileProps(4, 1), nullptr, nullptr));
}

// Failures on our side end the transfer on the player at once; the next call finds it idle.
TEST_F(SardaneTransferTest, FailuresOnOurSideAbortThePlayersTransfer) {
  const struct {
    const char* what;
    bool read_fails;  // else the second chunk's data fails to go out
    Result expected;
  } cases[] = {{"source read error", true, rc::FromWin32(23)},
               {"chunk send fails", false, rc::kTimeout}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    player = std::make_shared<SimFlashPlayer>();
    MakeChannel(0x5003);
    MemoryStream memory(Pattern(40000));
    FaultInjectingStream source(&memory);
    if (c.read_fails) {
      source.FailRead(2, c.expected);
    } else {
      player->fail_write_at = 4;  // CQELDATA, chunk 1, CQELDATA, chunk 2
      player->fail_write_code = rc::kTimeout;
      player->fail_write_done = 1000;
    }
    EXPECT_EQ(c.expected, channel->SendFile(0, *FileProps(4, 40000), &source, nullptr));
    EXPECT_TRUE(Sent("W:CQELABRT"));
    EXPECT_EQ(1, player->aborts);
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->lock_depth);
    EXPECT_TRUE(player->Storage(0).files.empty());

    player->ClearLog();
    MemoryStream next(Pattern(10));
    ASSERT_EQ(rc::kOk, channel->SendFile(0, *FileProps(5, 10), &next, nullptr));
    EXPECT_EQ("C96", Log().at(1));  // ready at the first poll
    EXPECT_EQ(0u, clock.TotalSlept());
  }
}

TEST_F(SardaneTransferTest, TheRecordCarriesTheCommonFields) {
  RefPtr<PropertySet> file = FileProps(9, 5);
  file->SetString("type", "tune");
  file->SetString("codec", "wma");
  file->SetString("bitrate", "fs128");
  file->SetString("name", "\xc3\xa9t\xc3\xa9.wma");
  channel->utf8_text = false;
  MemoryStream source(Pattern(5));
  ASSERT_EQ(rc::kOk, channel->SendFile(0, *file, &source, nullptr));
  const std::vector<uint8_t>& record = player->Storage(0).files.at(0).record;
  EXPECT_EQ(TypeCode("WMA "), bytes::Le32(&record[24]));
  EXPECT_EQ(16000u, bytes::Le32(&record[40]));
  EXPECT_EQ(0, memcmp("\xe9t\xe9.wma", &record[TestFamily::kNameOffset], 8));  // Latin-1

  PropertyHolder decoded;
  ASSERT_EQ(rc::kOk, channel->ConvertFileInfo(decoded, record.data(), qel::kRecordSize));
  EXPECT_EQ("9", decoded.GetString("fid"));
  EXPECT_EQ("5", decoded.GetString("length"));
  EXPECT_EQ("tune", decoded.GetString("type"));
  EXPECT_EQ("wma", decoded.GetString("codec"));
  EXPECT_EQ("?s128", decoded.GetString("bitrate"));
  EXPECT_EQ("\xc3\xa9t\xc3\xa9.wma", decoded.GetString("name"));
  // A record cut short is refused, not read past its end.
  EXPECT_EQ(rc::kBadData, channel->ConvertFileInfo(decoded, record.data(), 100));
}

// --- rewrite and delete --------------------------------------------------------------------

TEST_F(SardaneTransferTest, ARewriteReplacesTheWholeRecord) {
  player->Storage(0).files.push_back({Record(5, 3), "abc"});
  SimPutLe32(&player->info_block[8], 0x10000);  // "file_replace"
  MakeChannel(0x5003);
  RefPtr<PropertySet> file = FileProps(5, 3);
  file->SetString("type", "playlist");
  file->SetString("flags", ";recorded;");
  ASSERT_EQ(rc::kOk, channel->RewriteFileInfo(0, *file));
  EXPECT_TRUE(Sent("C133"));
  const SimFile& stored = player->Storage(0).files.at(0);
  EXPECT_EQ(TypeCode("PLS "), bytes::Le32(&stored.record[24]));
  EXPECT_EQ(0x8000110u, bytes::Le32(&stored.record[20]));
  EXPECT_EQ("abc", stored.data);
  EXPECT_FALSE(player->Busy());
}

TEST_F(SardaneTransferTest, DeleteSendsTheRecordAndLeavesThePlayerIdle) {
  player->Storage(0).files.push_back({Record(5, 1), "x"});
  PropertyHolder file;
  file.SetInt("fid", 5);
  ASSERT_EQ(rc::kOk, channel->DeleteFile(0, file));
  EXPECT_EQ((Lines{"C101", "C96", "C120", "R:SQELDELS", "W2048", "R:SQELDELD", "C102"}), Log());
  EXPECT_TRUE(player->Storage(0).files.empty());
  // A file the player does not have: it says so and ends the transfer itself.
  EXPECT_NE(rc::kOk, channel->DeleteFile(0, file));
  EXPECT_FALSE(player->Busy());
  EXPECT_EQ(0, player->lock_depth);
}

// --- download ------------------------------------------------------------------------------

TEST_F(SardaneTransferTest, DownloadWritesEveryByteToTheSink) {
  player->Storage(0).files.push_back({Record(5, 20000), Pattern(20000)});
  TrickleSink sink;
  RecordingProgress progress;
  ASSERT_EQ(rc::kOk, channel->ReceiveFile(0, *FileProps(5, 20000), &sink, &progress));
  EXPECT_EQ(Pattern(20000), sink.bytes);
  EXPECT_EQ((Reports{{0, 20000}, {16384, 20000}, {20000, 20000}}), progress.reports);
  EXPECT_FALSE(player->Busy());
}

TEST_F(SardaneTransferTest, DownloadOfAnEmptyFile) {
  player->Storage(0).files.push_back({Record(5, 0), ""});
  TrickleSink sink;
  RecordingProgress progress;
  ASSERT_EQ(rc::kOk, channel->ReceiveFile(0, *FileProps(5, 0), &sink, &progress));
  EXPECT_EQ((Reports{{0, 0}}), progress.reports);
  EXPECT_EQ((Lines{"C101", "C96", "C112", "R:SQELUPLD", "W2048", "R:SQELRDY.", "C102"}), Log());
}

TEST_F(SardaneTransferTest, DownloadFailures) {
  player->Storage(0).files.push_back({Record(5, 40000), Pattern(40000)});
  TrickleSink sink;
  EXPECT_EQ(rc::kNotFound, channel->ReceiveFile(0, *FileProps(6, 10), &sink, nullptr));
  player->deny_download = true;
  EXPECT_EQ(rc::kAccessDenied, channel->ReceiveFile(0, *FileProps(5, 40000), &sink, nullptr));
  player->deny_download = false;
  sink.fail_after = 20000;
  const int aborts = player->aborts;
  EXPECT_EQ(rc::kFail, channel->ReceiveFile(0, *FileProps(5, 40000), &sink, nullptr));
  EXPECT_EQ(aborts + 1, player->aborts);  // the player stopped sending
  EXPECT_FALSE(player->Busy());
}

}  // namespace
