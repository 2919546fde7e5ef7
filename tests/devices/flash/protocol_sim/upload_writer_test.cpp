#include "devices/flash/upload_writer.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "devices/flash/protocol_sim/sardane_fixture.h"
#include "devices/flash/type_codes.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"

namespace {

class UploadWriterTest : public SardaneChannelTest {
 protected:
  std::unique_ptr<OutputStream> NewFile(uint32_t storage = 0) {
    OutputStream* out = nullptr;
    EXPECT_EQ(rc::kOk, channel->CreateNewFile(storage, &out));
    return std::unique_ptr<OutputStream>(out);
  }

  static Result Write(OutputStream& stream, const std::string& data) {
    return stream.Write(reinterpret_cast<const uint8_t*>(data.data()),
                        static_cast<uint32_t>(data.size()));
  }

  // Writes `data` in pieces of `piece` bytes.
  static Result WriteInPieces(OutputStream& stream, const std::string& data, size_t piece) {
    for (size_t at = 0; at < data.size(); at += piece) {
      Result result = Write(stream, data.substr(at, piece));
      if (rc::Failed(result)) return result;
    }
    return rc::kOk;
  }

  static void Mp3(PropertyHolder& file, uint32_t fid, uint32_t length) {
    file.SetInt("fid", static_cast<int32_t>(fid));
    file.SetInt("length", static_cast<int32_t>(length));
    file.SetString("type", "tune");
    file.SetString("codec", "mp3");
    file.SetString("name", "song.mp3");
  }

  int Count(const std::string& line) const {
    const Lines lines = Log();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  // Bulk writes since the player was made (its log is cleared only before the first).
  int WritesSoFar() const {
    int n = 0;
    for (const auto& entry : player->log) n += entry.kind == SimLogEntry::kWrite;
    return n;
  }
};

TEST_F(UploadWriterTest, FilesArriveByteExact) {
  const uint32_t sizes[] = {0, 1, 16383, 16384, 16385, 100000};
  const size_t pieces[] = {1000, 16384, 65536};
  uint32_t fid = 1;
  for (uint32_t size : sizes) {
    for (size_t piece : pieces) {
      SCOPED_TRACE(::testing::Message() << size << " bytes in pieces of " << piece);
      player->ClearLog();
      const std::string data = Pattern(size, fid);
      std::unique_ptr<OutputStream> file = NewFile();
      ASSERT_EQ(rc::kOk, WriteInPieces(*file, data, piece));
      PropertyHolder props;
  Mp3(props, fid, size);
      ASSERT_EQ(rc::kOk, file->Finish(props));
      EXPECT_EQ(static_cast<int>((size + qel::kChunkSize - 1) / qel::kChunkSize),
                Count("W16384"));
      EXPECT_EQ(1, Count("W2048"));
      EXPECT_EQ(0, player->lock_depth);  // released at the finish, not at the deletion
      EXPECT_FALSE(player->Busy());
      SimFile* stored = player->Storage(0).Find(fid);
      ASSERT_NE(nullptr, stored);
      EXPECT_EQ(data, stored->data);
      file.reset();
      EXPECT_EQ(0, player->aborts);
      ++fid;
    }
  }
}

TEST_F(UploadWriterTest, TheRecordGoesOutAtTheFinish) {
  player->storages.resize(2);
  std::unique_ptr<OutputStream> file = NewFile(1);
  ASSERT_EQ(rc::kOk, Write(*file, "abc"));
  EXPECT_FALSE(Sent("W2048"));
  PropertyHolder props;
  Mp3(props, 42, 3);
  props.SetString("flags", ";autosync;");
  props.SetInt("samplerate", 44100);
  ASSERT_EQ(rc::kOk, file->Finish(props));
  EXPECT_EQ((Lines{"C101", "C96", "C108(1,0)", "R:SQELRDY.", "R:SQELDATA", "W:CQELDATA",
                   "W16384", "R:SQELDATA", "W:CQELINFO", "W2048", "R:SQELDONE", "C96", "C102"}),
            Log());
  ASSERT_EQ(1u, player->Storage(1).files.size());
  const std::vector<uint8_t>& record = player->Storage(1).files[0].record;
  EXPECT_EQ(42u, bytes::Le32(&record[0]));
  EXPECT_EQ(3u, bytes::Le32(&record[8]));
  EXPECT_EQ(0x800B11u, bytes::Le32(&record[20]));
  EXPECT_EQ(TypeCode("MPG3"), bytes::Le32(&record[24]));
  EXPECT_EQ(44100u, bytes::Le32(&record[36]));
  EXPECT_EQ("song.mp3", FieldText(&record[TestFamily::kNameOffset], TestFamily::kNameWidth,
                                  true));
}

TEST_F(UploadWriterTest, TheLastChunkIsZeroFilled) {
  // A record that claims the whole chunk shows what the player received behind the data.
  std::unique_ptr<OutputStream> file = NewFile();
  ASSERT_EQ(rc::kOk, Write(*file, Pattern(100)));
  PropertyHolder props;
  Mp3(props, 5, qel::kChunkSize);
  ASSERT_EQ(rc::kOk, file->Finish(props));
  EXPECT_EQ(Pattern(100) + std::string(qel::kChunkSize - 100, '\0'),
            player->Storage(0).Find(5)->data);
}

TEST_F(UploadWriterTest, AFullChunkGoesOutAtOnce) {
  std::unique_ptr<OutputStream> file = NewFile();
  ASSERT_EQ(rc::kOk, Write(*file, Pattern(qel::kChunkSize)));
  EXPECT_EQ(1, Count("W16384"));
  PropertyHolder props;
  Mp3(props, 5, qel::kChunkSize);
  ASSERT_EQ(rc::kOk, file->Finish(props));
  EXPECT_EQ(1, Count("W16384"));
}

// Whatever breaks on our side, the player is told at once and the next call finds it idle.
TEST_F(UploadWriterTest, AFailedChunkEndsTheTransferOnThePlayer) {
  std::unique_ptr<OutputStream> file = NewFile();
  ASSERT_EQ(rc::kOk, Write(*file, Pattern(20000)));
  player->fail_write_at = WritesSoFar() + 2;  // the data of the second chunk
  player->fail_write_code = rc::kTimeout;
  player->fail_write_done = 5000;
  EXPECT_EQ(rc::kTimeout, Write(*file, Pattern(20000)));
  EXPECT_TRUE(Sent("W:CQELABRT"));
  EXPECT_EQ(1, player->aborts);
  EXPECT_FALSE(player->Busy());
  EXPECT_EQ(0, player->lock_depth);
  // The stream refuses the rest; nothing reaches the player.
  player->ClearLog();
  EXPECT_EQ(rc::kFail, Write(*file, Pattern(20000)));
  PropertyHolder props;
  Mp3(props, 5, 60000);
  EXPECT_EQ(rc::kFail, file->Finish(props));
  file.reset();
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(player->Storage(0).files.empty());

  // The next upload goes through without waiting for the player.
  MemoryStream source(Pattern(10));
  PropertyHolder next;
  Mp3(next, 6, 10);
  ASSERT_EQ(rc::kOk, channel->SendFile(0, *next.GetSet(), &source, nullptr));
  EXPECT_EQ(0u, clock.TotalSlept());
}

TEST_F(UploadWriterTest, AFailedFinishEndsTheTransferOnThePlayer) {
  const struct {
    const char* what;
    std::function<void()> arrange;
    Result expected;
    int aborts;
  } cases[] = {
      {"the record cannot be made",
       [this] { channel->encode_result = rc::kBadData; }, rc::kBadData, 1},
      {"the last chunk fails",
       [this] {
         player->fail_write_at = WritesSoFar() + 1;
         player->fail_write_code = rc::kTimeout;
       },
       rc::kTimeout, 1},
      {"the player is full", [this] { player->full_piece = 1; },
       rc::kPlayerFull, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    player = std::make_shared<SimFlashPlayer>();
    MakeChannel(0x5003);
    std::unique_ptr<OutputStream> file = NewFile();
    ASSERT_EQ(rc::kOk, Write(*file, Pattern(100)));
    c.arrange();
    PropertyHolder props;
  Mp3(props, 5, 100);
    EXPECT_EQ(c.expected, file->Finish(props));
    EXPECT_EQ(c.aborts, player->aborts);
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->lock_depth);
    file.reset();
    EXPECT_EQ(c.aborts, player->aborts);
    EXPECT_TRUE(player->Storage(0).files.empty());
    channel->encode_result = rc::kOk;
    player->full_piece = 0;
  }
}

TEST_F(UploadWriterTest, AnUnfinishedFileIsAbortedWhenAbortedOrDeleted) {
  for (bool explicit_abort : {true, false}) {
    SCOPED_TRACE(explicit_abort);
    player->aborts = 0;
    std::unique_ptr<OutputStream> file = NewFile();
    ASSERT_EQ(rc::kOk, Write(*file, Pattern(20000)));
    if (explicit_abort) {
      EXPECT_EQ(rc::kOk, file->Abort());
      EXPECT_EQ(1, player->aborts);
      EXPECT_EQ(0, player->lock_depth);
    }
    file.reset();
    EXPECT_EQ(1, player->aborts);
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->lock_depth);
    EXPECT_TRUE(player->Storage(0).files.empty());
  }
}

TEST_F(UploadWriterTest, AFileThatCannotStartIsNotHandedOut) {
  OutputStream* out = reinterpret_cast<OutputStream*>(this);  // must stay untouched
  OutputStream* const untouched = out;
  player->not_ready_polls = -1;
  EXPECT_EQ(rc::kPlayerNotReady, channel->CreateNewFile(0, &out));
  EXPECT_EQ(untouched, out);
  EXPECT_EQ(0, player->lock_depth);
  player->not_ready_polls = 0;

  channel->utf8_result = rc::kNotImplemented;
  player->ClearLog();
  EXPECT_EQ(rc::kNotImplemented, channel->CreateNewFile(0, &out));
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(rc::kInvalidArg, CreateUploadWriter(0, channel.get(), nullptr, &clock, &out));
  SimUsbHardware other(player, 0x5003);
  EXPECT_EQ(rc::kBadIndex, CreateUploadWriter(0x10000, channel.get(), &other, &clock, &out));
  EXPECT_EQ(untouched, out);
}

}  // namespace
