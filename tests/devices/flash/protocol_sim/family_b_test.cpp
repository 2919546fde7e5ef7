// Flash family B over its simulated player: the track database read once, edited and written
// back, adaptive sends, the upload stream and the player's own queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "devices/channel_factory.h"
#include "devices/flash/database_upload_stream.h"
#include "devices/device.h"
#include "devices/flash/fid_tag_mapper.h"
#include "devices/flash/protocol_sim/session_fixture.h"
#include "devices/output_stream.h"
#include "devices/flash/packed_track_database.h"
#include "devices/predictor.h"
#include "devices/flash/sardane_channel_b.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "sim/flash/flash_player_b.h"
#include "support/memory_stream.h"

#include "ata_identify_blocks.inc"

namespace {

struct TestFile {
  uint32_t fid;
  std::string title;
  uint32_t length = 100;
  std::string type = "tune";
  std::string comment = "";  // makes a track's record longer
};

std::unique_ptr<PropertyHolder> MakeFile(const TestFile& desc) {
  auto file = std::make_unique<PropertyHolder>();
  file->SetInt("fid", static_cast<int32_t>(desc.fid));
  file->SetString("type", desc.type);
  if (desc.type == "tune") file->SetString("codec", "mp3");
  file->SetString("title", desc.title);
  file->SetString("name", desc.title + ".mp3");
  file->SetString("artist", "Artist");
  file->SetInt("length", static_cast<int32_t>(desc.length));
  if (!desc.comment.empty()) file->SetString("comment", desc.comment);
  return file;
}

// The packed image of a database holding these files.
std::string ImageOf(const std::vector<TestFile>& files) {
  std::unique_ptr<PackedTrackDatabase> database = PackedTrackDatabase::Create();
  EXPECT_EQ(rc::kOk, database->Rebuild(nullptr, 0));
  for (const TestFile& desc : files)
    EXPECT_EQ(rc::kOk, FidTagMapper::StoreNewTrack(database.get(), *MakeFile(desc)));
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(rc::kOk, database->GetImage(&image, &size));
  return std::string(reinterpret_cast<const char*>(image), size);
}

using Rows = std::map<uint32_t, std::string>;  // fid -> title

class RowCollector : public HolderVisitor {
 public:
  explicit RowCollector(size_t stop_after = SIZE_MAX) : stop_after_(stop_after) {}
  bool Visit(PropertyHolder& file) override {
    rows[static_cast<uint32_t>(file.GetSet()->GetInt("fid"))] = file.GetString("title");
    return rows.size() < stop_after_;
  }
  Rows rows;

 private:
  size_t stop_after_;
};

// The rows of a database image as the player holds it.
Rows RowsOfImage(const std::string& image) {
  std::unique_ptr<PackedTrackDatabase> database = PackedTrackDatabase::Create();
  EXPECT_EQ(rc::kOk, database->Rebuild(reinterpret_cast<const uint8_t*>(image.data()),
                                       static_cast<uint32_t>(image.size())));
  RowCollector collector;
  EXPECT_EQ(rc::kOk, FidTagMapper::WalkRecords(*database, &collector));
  return collector.rows;
}

// A source that does not know its size and moves the clock on each read, as a slow or fast
// link would between two chunks.
class TimedSource : public Stream {
 public:
  TimedSource(std::string bytes, FakeClock* clock, uint32_t ms_per_read)
      : bytes_(std::move(bytes)), clock_(clock), ms_(ms_per_read) {}
  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    clock_->Advance(ms_);
    *count = static_cast<uint32_t>(std::min<size_t>(length, bytes_.size() - at_));
    memcpy(buffer, bytes_.data() + at_, *count);
    at_ += *count;
    return *count == 0 ? rc::kEndOfData : rc::kOk;
  }
  Result Write(const void*, uint32_t, uint32_t*) override { return rc::kNotImplemented; }

 private:
  std::string bytes_;
  FakeClock* clock_;
  uint32_t ms_;
  size_t at_ = 0;
};

class FailingProgress : public ProgressSink {
 public:
  Result Report(uint32_t, uint32_t) override { return rc::kFail; }
};

class FamilyBTest : public ::testing::Test {
 protected:
  FamilyBTest() { Make(); }

  void Make(uint16_t product_id = 0x5220) {
    channel.reset();
    player = std::make_shared<SimFlashPlayerB>(product_id);
    player->storages.resize(6);
    auto* transport = new SimUsbHardware(player, product_id);
    EXPECT_EQ(rc::kOk, transport->Open());
    channel.reset(new SardaneChannelB(transport, product_id, &clock));
    player->ClearLog();
  }

  // Puts files on the player: their data and record, and their rows in its database.
  void Seed(const std::vector<TestFile>& files) {
    for (const TestFile& desc : files) {
      std::vector<uint8_t> record(qel::kRecordSize, 0);
      ASSERT_EQ(rc::kOk, channel->EncodeFileRecord(record.data(), *MakeFile(desc)->GetSet()));
      player->PutFile(desc.fid >> 14, record, Pattern(desc.length));
    }
    player->database = ImageOf(files);
    player->has_database = true;
  }

  Rows ChannelRows(uint32_t storage = 0) {
    RowCollector collector;
    EXPECT_EQ(rc::kOk, channel->EnumFiles(storage, &collector));
    return collector.rows;
  }

  Result Send(const TestFile& desc, ProgressSink* progress = nullptr, uint32_t storage = 0) {
    MemoryStream source(Pattern(desc.length));
    return channel->SendFile(storage, *MakeFile(desc)->GetSet(), &source, progress);
  }

  size_t Count(const std::string& line) const {
    size_t n = 0;
    for (const auto& l : player->LogLines()) n += l == line;
    return n;
  }

  // The log from the last request 135 on: the database write.
  Lines DatabaseWriteLog() const {
    const Lines lines = player->LogLines();
    for (size_t i = lines.size(); i-- > 0;)
      if (lines[i].compare(0, 4, "C135") == 0) return Lines(lines.begin() + i, lines.end());
    return Lines();
  }

  // Every operation leaves the player unlocked and out of any transfer.
  void TearDown() override {
    EXPECT_EQ(0, player->lock_depth);
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->bad_chunks);
    EXPECT_EQ(0, player->bad_database_blocks);
    EXPECT_EQ(0, player->bad_database_images);
  }

  FakeClock clock;
  std::shared_ptr<SimFlashPlayerB> player;
  std::unique_ptr<SardaneChannelB> channel;
};

// --- the channel factory ---------------------------------------------------------------------

TEST_F(FamilyBTest, FactoryMakesAReadyFamilyBChannelForBothIds) {
  channel.reset();  // a player takes one open transport at a time
  for (uint32_t id : {0x5220u, 0x5221u}) {
    SCOPED_TRACE(id);
    auto* transport = new SimUsbHardware(player, id);
    ASSERT_EQ(rc::kOk, transport->Open());
    Channel* raw = nullptr;
    ASSERT_EQ(rc::kOk, ChannelFactory::Default().Create(id, transport, &raw));
    std::unique_ptr<Channel> made(raw);
    ASSERT_NE(nullptr, dynamic_cast<SardaneChannelB*>(made.get()));
    uint32_t product_id = 0;
    EXPECT_EQ(rc::kOk, made->GetDeviceID(&product_id));
    EXPECT_EQ(id, product_id);
  }
}

// --- listing from the database ---------------------------------------------------------------

TEST_F(FamilyBTest, ListsTheRowsOfEachStorageFromOneDatabaseRead) {
  Seed({{16, "One"}, {32, "Two"}, {0x4000 | 16, "Card", 100}, {48, "List", 12, "playlist"}});
  EXPECT_EQ((Rows{{16, "One"}, {32, "Two"}, {48, "List"}}), ChannelRows(0));
  EXPECT_EQ((Rows{{0x4010, "Card"}}), ChannelRows(1));
  EXPECT_EQ(1, player->database_reads);

  RowCollector first(1);
  EXPECT_EQ(1, channel->EnumFiles(0, &first));
  EXPECT_EQ(1u, first.rows.size());
}

TEST_F(FamilyBTest, PlayerWithoutDatabaseListsNothingThenGetsAnImageWithItsFirstUpload) {
  EXPECT_TRUE(ChannelRows().empty());
  EXPECT_FALSE(player->has_database);

  ASSERT_EQ(rc::kOk, Send({16, "First", 5000}));
  ASSERT_TRUE(player->has_database);
  EXPECT_EQ((Rows{{16, "First"}}), RowsOfImage(player->database));
  EXPECT_EQ(Pattern(5000), player->Storage(0).files.at(0).data);
  EXPECT_FALSE(channel->dirty());
  ASSERT_EQ(1u, player->database_write_values.size());
  EXPECT_EQ(player->database.size() & 0xFFFF, player->database_write_values[0]);
}

TEST_F(FamilyBTest, DamagedImageFromThePlayerIsRejected) {
  player->database = std::string(3000, '\x11');
  player->has_database = true;
  RowCollector collector;
  EXPECT_EQ(rc::kFail, channel->EnumFiles(0, &collector));
  EXPECT_TRUE(collector.rows.empty());
  EXPECT_EQ(nullptr, channel->database());
}

// An image that does not fit the size the player announced is bad data: chunks beyond the buffer
// sized from it are not written past its end, and an image that ends early is not completed
// with zeros. A size beyond any image is refused with the player's transfer closed.
TEST_F(FamilyBTest, ImageOfAnotherSizeThanAnnouncedIsBadData) {
  struct Case {
    int64_t announced;
    Result expected;
  } cases[] = {
      {100, rc::kBadData},    // room for one chunk; three come
      {16384, rc::kBadData},  // room for two
      {40000, rc::kOk},       // room for three: the image's chunks fit
      {49153, rc::kBadData},  // one byte more than the three chunks bring
      {int64_t{qel::kMaxDatabaseSize} + 1, rc::kBadData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.announced);
    Make();
    Seed({{16, "One"}});
    player->database += std::string(40000, '\0');
    player->announced_database_size = c.announced;
    MemoryStream sink;
    EXPECT_EQ(c.expected, channel->ReloadDatabase(&sink));
    if (c.expected == rc::kOk) {
      EXPECT_EQ(player->database.substr(0, 40000), sink.Bytes());
    }
    EXPECT_FALSE(player->Busy());
    EXPECT_EQ(0, player->lock_depth);
  }
}

TEST_F(FamilyBTest, ImageThatEndsEarlyLoadsNoDatabase) {
  Seed({{16, "One"}, {32, "Two"}});
  player->announced_database_size = static_cast<int64_t>(player->database.size()) + 16384;
  RowCollector collector;
  EXPECT_EQ(rc::kBadData, channel->EnumFiles(0, &collector));
  EXPECT_EQ(nullptr, channel->database());
  EXPECT_TRUE(collector.rows.empty());
}

TEST_F(FamilyBTest, ReloadDatabaseHandsOutThePlayersImage) {
  Seed({{16, "One"}, {32, "Two"}});
  MemoryStream sink;
  ASSERT_EQ(rc::kOk, channel->ReloadDatabase(&sink));
  EXPECT_EQ(player->database, sink.Bytes());

  Make();
  MemoryStream none;
  EXPECT_EQ(rc::kNoDatabase, channel->ReloadDatabase(&none));
  EXPECT_EQ(0u, none.Size());
}

// Each channel keeps its own database: two players never see each other's files.
TEST_F(FamilyBTest, TwoPlayersKeepTheirOwnListings) {
  Seed({{16, "Left"}});
  auto other_player = std::make_shared<SimFlashPlayerB>();
  other_player->database = ImageOf({{32, "Right"}, {48, "Right too"}});
  other_player->has_database = true;
  auto* transport = new SimUsbHardware(other_player, 0x5220);
  ASSERT_EQ(rc::kOk, transport->Open());
  SardaneChannelB other(transport, 0x5220, &clock);

  EXPECT_EQ((Rows{{16, "Left"}}), ChannelRows());
  RowCollector right;
  ASSERT_EQ(rc::kOk, other.EnumFiles(0, &right));
  EXPECT_EQ((Rows{{32, "Right"}, {48, "Right too"}}), right.rows);
  EXPECT_EQ((Rows{{16, "Left"}}), ChannelRows());
}

// Family D's walk over the database: playlists are FIDLST files whose stale members drop out.
TEST_F(FamilyBTest, ContentsWalkResolvesPlaylistsFromTheDatabase) {
  const std::string list = SimFidList({{16, 0}, {48, 5}, {64, 0}});
  Seed({{16, "Song"},
        {48, "Replaced"},
        {32, "Mix", static_cast<uint32_t>(list.size()), "playlist"}});
  player->Storage(0).Find(32)->data = list;

  class Recorder : public ContentsVisitor {
   public:
    bool Storage(PropertyHolder&) override { return true; }
    bool File(uint32_t, PropertyHolder& file, uint32_t* handle) override {
      *handle = static_cast<uint32_t>(file.GetSet()->GetInt("fid"));
      files.push_back(*handle);
      return true;
    }
    bool RootPlaylist(uint32_t, PropertyHolder&, uint32_t*) override { return false; }
    bool PlaylistMembers(uint32_t playlist, const std::vector<uint32_t>& members) override {
      playlists[playlist] = members;
      return true;
    }
    std::vector<uint32_t> files;
    std::map<uint32_t, std::vector<uint32_t>> playlists;
  } recorder;
  ASSERT_EQ(rc::kOk, channel->EnumContents(&recorder));
  EXPECT_EQ(3u, recorder.files.size());
  EXPECT_EQ((std::map<uint32_t, std::vector<uint32_t>>{{32, {16}}}), recorder.playlists);
  EXPECT_EQ(1, player->database_reads);
}

// --- sends -----------------------------------------------------------------------------------

TEST_F(FamilyBTest, FileWithoutProgressGoesInOnePaddedChunk) {
  ASSERT_EQ(rc::kOk, Send({16, "Big", 100000}));
  EXPECT_EQ(std::vector<uint32_t>{131072}, player->chunk_lengths);
  EXPECT_EQ(Pattern(100000), player->Storage(0).files.at(0).data);
}

TEST_F(FamilyBTest, ChunkSizeFollowsHowLongEachChunkTook) {
  constexpr uint32_t kSize = 32768 + 262144 + 2 * 2097152 + 100;
  struct Case {
    uint32_t ms;
    std::vector<uint32_t> chunks;
    uint32_t kept;
  } cases[] = {
      {20, {32768, 262144, 2097152, 2097152, 32768}, 2097152},  // fast: x8 up to 2 MiB
      {100, {32768, 65536, 131072, 262144, 524288, 1048576, 2097152, 360448}, 2097152},
      {500, std::vector<uint32_t>(kSize / 32768, 32768), 32768},  // steady
      {1000, std::vector<uint32_t>(kSize / 32768, 32768), 32768},  // slow, never below 32768
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.ms);
    Make();
    if (c.ms >= 500) c.chunks.push_back(32768);  // the last 100 bytes
    TimedSource source(Pattern(kSize), &clock, c.ms);
    RecordingProgress progress;
    ASSERT_EQ(rc::kOk, channel->SendFile(0, *MakeFile({16, "Timed", kSize})->GetSet(), &source,
                                         &progress));
    EXPECT_EQ(c.chunks, player->chunk_lengths);
    EXPECT_EQ(c.kept, channel->transfer_chunk_size());
    EXPECT_EQ(Pattern(kSize), player->Storage(0).files.at(0).data);
    ASSERT_FALSE(progress.reports.empty());
    EXPECT_EQ(std::make_pair(kSize, kSize), progress.reports.back());
  }
}

TEST_F(FamilyBTest, SlowChunksHalveTheKeptSize) {
  TimedSource fast(Pattern(3 * 1048576), &clock, 10);
  RecordingProgress progress;
  ASSERT_EQ(rc::kOk, channel->SendFile(0, *MakeFile({16, "Fast", 3 * 1048576})->GetSet(), &fast,
                                       &progress));
  ASSERT_EQ(2097152u, channel->transfer_chunk_size());
  player->chunk_lengths.clear();
  TimedSource slow(Pattern(3 * 1048576), &clock, 1000);
  ASSERT_EQ(rc::kOk, channel->SendFile(0, *MakeFile({32, "Slow", 3 * 1048576})->GetSet(), &slow,
                                       &progress));
  EXPECT_EQ((std::vector<uint32_t>{2097152, 1048576}), player->chunk_lengths);
  EXPECT_EQ(524288u, channel->transfer_chunk_size());
}

// The size a send keeps after one chunk that took `ms`: x8 below 40 ms, x2 below 300 ms, kept up
// to 900 ms, halved beyond; never above 2 MiB nor below 32768.
TEST_F(FamilyBTest, ChunkTimeBoundaries) {
  struct Case {
    uint32_t ms;
    uint32_t from_smallest;
    uint32_t from_largest;
  } cases[] = {
      {0, 262144, 2097152},   {39, 262144, 2097152}, {40, 65536, 2097152},
      {299, 65536, 2097152},  {300, 32768, 2097152}, {900, 32768, 2097152},
      {901, 32768, 1048576},  {5000, 32768, 1048576},
  };
  RecordingProgress progress;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    Make();
    // A file of exactly one chunk is read in one go, so the chunk takes one read's time.
    TimedSource one(Pattern(32768), &clock, c.ms);
    ASSERT_EQ(rc::kOk, channel->SendFile(0, *MakeFile({16, "One", 32768})->GetSet(), &one,
                                         &progress));
    EXPECT_EQ(c.from_smallest, channel->transfer_chunk_size());

    for (uint32_t fid = 32; channel->transfer_chunk_size() < SardaneChannelB::kMaxChunk;
         fid += 16) {
      TimedSource fast(Pattern(32768), &clock, 0);
      ASSERT_EQ(rc::kOk, channel->SendFile(0, *MakeFile({fid, "Fast", 32768})->GetSet(), &fast,
                                           &progress));
    }
    TimedSource whole(Pattern(SardaneChannelB::kMaxChunk), &clock, c.ms);
    ASSERT_EQ(rc::kOk,
              channel->SendFile(0, *MakeFile({256, "Whole", SardaneChannelB::kMaxChunk})->GetSet(),
                                &whole, &progress));
    EXPECT_EQ(c.from_largest, channel->transfer_chunk_size());
  }
}

// A rejected chunk is sent again (the same chunk, not the next), a bounded number of times.
TEST_F(FamilyBTest, ChecksumFailureResendsTheSameChunkABoundedNumberOfTimes) {
  struct Case {
    int times;
    Result expected;
  } cases[] = {{2, rc::kOk}, {qel::kMaxResends, rc::kOk}, {50, rc::kChecksumFailure}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.times);
    Make();
    player->crcf_piece = 2;
    player->crcf_times = c.times;
    TimedSource source(Pattern(200000), &clock, 500);  // 32768-byte chunks: 2 is inside
    RecordingProgress progress;
    EXPECT_EQ(c.expected, channel->SendFile(0, *MakeFile({16, "Crc", 200000})->GetSet(), &source,
                                            &progress));
    if (c.expected == rc::kOk) {
      EXPECT_EQ(7u + c.times, player->chunk_lengths.size());
      EXPECT_EQ(Pattern(200000), player->Storage(0).files.at(0).data);
      EXPECT_EQ((Rows{{16, "Crc"}}), RowsOfImage(player->database));
    } else {
      EXPECT_LE(player->chunk_lengths.size(), 2u + qel::kMaxResends);
      EXPECT_TRUE(player->Storage(0).files.empty());
      EXPECT_FALSE(player->has_database);
      EXPECT_FALSE(channel->dirty());
    }
  }
}

TEST_F(FamilyBTest, FailedSendsLeaveNoRow) {
  Seed({{16, "Old"}});
  const std::string before = player->database;
  struct Case {
    const char* name;
    int full_piece;
    ProgressSink* progress;
    Result expected;
  };
  FailingProgress refuse;
  const Case cases[] = {
      {"player full", 1, nullptr, rc::kPlayerFull},
      {"caller stops", 0, &refuse, rc::kFail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    player->full_piece = c.full_piece;
    EXPECT_EQ(c.expected, Send({32, "New", 5000}, c.progress));
    EXPECT_EQ((Rows{{16, "Old"}}), ChannelRows());
    EXPECT_EQ(before, player->database);
    EXPECT_EQ(1u, player->Storage(0).files.size());
  }
}

TEST_F(FamilyBTest, SourceOfAnotherLengthIsRefused) {
  MemoryStream shorter(Pattern(99));
  EXPECT_EQ(rc::kSizeMismatch,
            channel->SendFile(0, *MakeFile({16, "Short", 100})->GetSet(), &shorter, nullptr));
  EXPECT_EQ(0u, Count("C108"));

  // A source that does not know its size is held to the length while it is sent.
  TimedSource longer(Pattern(40000), &clock, 0);
  EXPECT_EQ(rc::kSizeMismatch,
            channel->SendFile(0, *MakeFile({16, "Long", 30000})->GetSet(), &longer, nullptr));
  EXPECT_EQ(1, player->aborts);
  EXPECT_TRUE(player->Storage(0).files.empty());
  EXPECT_TRUE(ChannelRows().empty());
}

TEST_F(FamilyBTest, StorageFiveNeverTouchesTheDatabase) {
  ASSERT_EQ(rc::kOk, Send({5 << 14 | 16, "Blob", 20000}, nullptr, 5));
  EXPECT_EQ(0, player->database_reads);
  EXPECT_TRUE(player->database_write_values.empty());
  EXPECT_EQ(1u, player->Storage(5).files.size());
  EXPECT_EQ(2u, Count("W16384"));  // the base send: whole 16384-byte chunks
}

TEST_F(FamilyBTest, FirmwareAsFileGoesToStorageFiveAsI2c) {
  MemoryStream image(Pattern(20000));
  ASSERT_EQ(rc::kOk, channel->UpgradeFirmware(&image, SardaneChannelB::kFirmwareAsFile, nullptr));
  ASSERT_EQ(1u, player->Storage(5).files.size());
  const SimFile& file = player->Storage(5).files[0];
  EXPECT_EQ(Pattern(20000), file.data);
  EXPECT_EQ("I2C", SimField(file.record, kSimNameAt));
  EXPECT_EQ("I2C", SimField(file.record, kSimTitleAt));
  EXPECT_EQ(0x51454C58u, SimGetLe32(&file.record[kSimTypeAt]));  // "QELX"
  EXPECT_EQ(0, player->database_reads);
}

TEST_F(FamilyBTest, Request136SendReplacesTheRow) {
  Seed({{16, "Before", 1000}});
  MemoryStream source(Pattern(3000, 9));
  ASSERT_EQ(rc::kOk,
            channel->SendFileByRequest136(0, *MakeFile({16, "After", 3000})->GetSet(), &source,
                                          nullptr));
  EXPECT_EQ(1u, Count("C136"));
  EXPECT_EQ((Rows{{16, "After"}}), RowsOfImage(player->database));
  EXPECT_EQ(Pattern(3000, 9), player->Storage(0).Find(16)->data);
}

// --- commit ----------------------------------------------------------------------------------

// The value of request 135 holds the size's low 16 bits only; the player learns the rest from
// the blocks.
TEST_F(FamilyBTest, LargeImageGoesOutWithItsSizeCutTo16Bits) {
  std::vector<TestFile> many;
  for (uint32_t n = 1; n <= 250; ++n)
    many.push_back({n * 16, "Track " + std::to_string(n), 100, "tune", std::string(250, 'c')});
  Seed(many);
  ASSERT_GT(player->database.size(), 65535u);
  ASSERT_EQ(rc::kOk, Send({251 * 16, "Newest"}));
  const uint8_t* image = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(rc::kOk, channel->database()->GetImage(&image, &size));
  ASSERT_EQ(1u, player->database_write_values.size());
  EXPECT_EQ(size & 0xFFFF, player->database_write_values[0]);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), size), player->database);
  EXPECT_EQ((size + 16383) / 16384, Count("W16384"));
  EXPECT_EQ(251u, RowsOfImage(player->database).size());
}

// A failed block ends the transfer without "CQELINFO": the player keeps its old image and the
// channel keeps the change for the next commit.
TEST_F(FamilyBTest, FailedDatabaseBlockAbortsKeepsTheChangeAndRetriesOnNextCommit) {
  std::vector<TestFile> many;
  for (uint32_t n = 1; n <= 100; ++n)
    many.push_back({n * 16, "Track " + std::to_string(n), 100, "tune", std::string(150, 'c')});
  Seed(many);
  const std::string before = player->database;
  ASSERT_GT(before.size(), 16384u);  // two blocks at least
  for (int block : {1, 2}) {
    SCOPED_TRACE(block);
    player->fail_database_block = block;
    player->ClearLog();
    EXPECT_EQ(rc::kUnexpectedStatus, Send({101u * 16 + block * 16, "New"}));
    EXPECT_TRUE(channel->dirty());
    EXPECT_EQ(before, player->database);
    const Lines write = DatabaseWriteLog();
    ASSERT_FALSE(write.empty());
    EXPECT_EQ(0, std::count(write.begin(), write.end(), "W:CQELINFO"));
    EXPECT_EQ(1, std::count(write.begin(), write.end(), "W:CQELABRT"));
    EXPECT_EQ(block, std::count(write.begin(), write.end(), "W16384"));
  }
  player->fail_database_block = 0;

  // Each failure is answered with its own code, not with what a closing step would say.
  struct Case {
    const char* name;
    int refused_block, crcf_block, crcf_times, full_block;
    Result expected;
  } cases[] = {
      {"checksum", 0, 1, 50, 0, rc::kChecksumFailure},
      {"full", 0, 0, 0, 2, rc::kPlayerFull},
      {"refused", 2, 0, 0, 0, rc::kUnexpectedStatus},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    player->fail_database_block = c.refused_block;
    player->crcf_piece = c.crcf_block;
    player->crcf_times = c.crcf_times;
    player->full_piece = c.full_block;
    player->ClearLog();
    EXPECT_EQ(c.expected, channel->Commit(1));
    EXPECT_TRUE(channel->dirty());
    EXPECT_EQ(before, player->database);
    const Lines write = DatabaseWriteLog();
    EXPECT_EQ(0, std::count(write.begin(), write.end(), "W:CQELINFO"));
  }
  player->fail_database_block = player->crcf_piece = player->crcf_times = player->full_piece = 0;

  ASSERT_EQ(rc::kOk, channel->Commit(1));
  EXPECT_FALSE(channel->dirty());
  const Rows rows = RowsOfImage(player->database);
  EXPECT_EQ(102u, rows.size());
  EXPECT_EQ("New", rows.at(103 * 16));
  EXPECT_EQ(rc::kOk, channel->Commit(1));
  EXPECT_EQ(1, player->database_writes);  // nothing left to write
}

TEST_F(FamilyBTest, SuspendCommitsThenForgetsTheDatabase) {
  Seed({{16, "One"}});
  player->fail_database_block = 1;
  EXPECT_EQ(rc::kUnexpectedStatus, Send({32, "Two"}));
  ASSERT_TRUE(channel->dirty());

  // A commit that fails keeps the player open and the change held.
  EXPECT_EQ(rc::kUnexpectedStatus, channel->Suspend(true));
  EXPECT_EQ(1, player->holders);
  EXPECT_TRUE(channel->dirty());

  player->fail_database_block = 0;
  ASSERT_EQ(rc::kOk, channel->Suspend(true));
  EXPECT_EQ(0, player->holders);
  EXPECT_EQ(nullptr, channel->database());
  EXPECT_EQ((Rows{{16, "One"}, {32, "Two"}}), RowsOfImage(player->database));

  ASSERT_EQ(rc::kOk, channel->Suspend(false));
  const int reads = player->database_reads;
  player->database = ImageOf({{48, "Changed elsewhere"}});
  EXPECT_EQ((Rows{{48, "Changed elsewhere"}}), ChannelRows());
  EXPECT_EQ(reads + 1, player->database_reads);
}

// Closing the channel writes a change that an earlier commit could not, but a player that is
// gone, before or during that write, costs a refused request or two, never a wait.
TEST_F(FamilyBTest, ClosingRetriesTheUnwrittenChangeUnlessThePlayerIsGone) {
  // -1: the player stays; n: the n-th transport call of the write finds it gone, before the
  // player has taken the image.
  for (int gone_at : {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9}) {
    SCOPED_TRACE(gone_at);
    Make();
    Seed({{16, "One"}});
    player->fail_database_block = 1;
    ASSERT_EQ(rc::kUnexpectedStatus, Send({32, "Two"}));
    ASSERT_TRUE(channel->dirty());
    player->fail_database_block = 0;
    player->unplug_after_calls = gone_at;
    player->ClearLog();
    const uint32_t sleeps = clock.SleepCount();
    channel.reset();
    EXPECT_EQ(sleeps, clock.SleepCount());
    if (gone_at < 0) {
      EXPECT_EQ((Rows{{16, "One"}, {32, "Two"}}), RowsOfImage(player->database));
      continue;
    }
    EXPECT_LE(player->LogLines().size(), static_cast<size_t>(gone_at) + 3);
    EXPECT_EQ((Rows{{16, "One"}}), RowsOfImage(player->database));
  }
  Make();  // the last player went away inside a transfer
}

TEST_F(FamilyBTest, FormatForgetsTheDatabase) {
  Seed({{16, "One"}});
  EXPECT_EQ(1u, ChannelRows().size());
  player->database = ImageOf({});
  ASSERT_EQ(rc::kOk, channel->FormatStorage(0, nullptr));
  EXPECT_EQ(nullptr, channel->database());
  EXPECT_TRUE(ChannelRows().empty());
}

// --- delete and rewrite ----------------------------------------------------------------------

TEST_F(FamilyBTest, DeleteRemovesTheFileThenItsRow) {
  Seed({{16, "One"}, {32, "Two"}});
  ASSERT_EQ(rc::kOk, channel->DeleteFile(0, *MakeFile({16, "One"})));
  EXPECT_EQ(nullptr, player->Storage(0).Find(16));
  EXPECT_EQ((Rows{{32, "Two"}}), ChannelRows());
  EXPECT_EQ((Rows{{32, "Two"}}), RowsOfImage(player->database));
  EXPECT_FALSE(channel->dirty());
}

// A delete the player refuses must not take the row: the file and its space stay on the player.
TEST_F(FamilyBTest, RefusedDeleteKeepsTheRow) {
  Seed({{16, "One"}, {32, "Two"}});
  const std::string before = player->database;
  player->fail_delete = true;
  EXPECT_EQ(rc::kBadStatusBlock, channel->DeleteFile(0, *MakeFile({16, "One"})));
  EXPECT_NE(nullptr, player->Storage(0).Find(16));
  EXPECT_EQ((Rows{{16, "One"}, {32, "Two"}}), ChannelRows());
  EXPECT_EQ(before, player->database);
  EXPECT_FALSE(channel->dirty());
  EXPECT_TRUE(player->database_write_values.empty());
}

TEST_F(FamilyBTest, RewriteReplacesTheRecordAndTheRow) {
  Seed({{16, "Old title"}});
  ASSERT_EQ(rc::kOk, channel->RewriteFileInfo(0, *MakeFile({16, "New title"})->GetSet()));
  EXPECT_EQ("New title", SimField(player->Storage(0).Find(16)->record, kSimTitleAt));
  EXPECT_EQ((Rows{{16, "New title"}}), RowsOfImage(player->database));
  EXPECT_EQ((Rows{{16, "New title"}}), ChannelRows());
}

TEST_F(FamilyBTest, MetadataDiffersComparesTheTags) {
  auto old_file = MakeFile({16, "Same"});
  auto same = MakeFile({16, "Same"});
  auto other = MakeFile({16, "Other"});
  bool differs = true;
  ASSERT_EQ(rc::kOk, channel->MetadataDiffers(*old_file->GetSet(), *same->GetSet(), &differs));
  EXPECT_FALSE(differs);
  ASSERT_EQ(rc::kOk, channel->MetadataDiffers(*old_file->GetSet(), *other->GetSet(), &differs));
  EXPECT_TRUE(differs);
  EXPECT_EQ(0, player->database_reads);
}

// --- the upload stream -----------------------------------------------------------------------

class FamilyBUploadTest : public FamilyBTest {
 protected:
  std::unique_ptr<OutputStream> Open(uint32_t storage = 0) {
    OutputStream* raw = nullptr;
    EXPECT_EQ(rc::kOk, channel->CreateNewFile(storage, &raw));
    return std::unique_ptr<OutputStream>(raw);
  }
};

TEST_F(FamilyBUploadTest, SmallFileGoesOutAsOne32KTransferAndEntersTheDatabase) {
  auto stream = Open();
  ASSERT_NE(nullptr, stream);
  EXPECT_EQ(1, player->lock_depth);  // held for the whole upload
  const std::string data = Pattern(10);
  ASSERT_EQ(rc::kOk, stream->Write(reinterpret_cast<const uint8_t*>(data.data()), 10));
  ASSERT_EQ(rc::kOk, stream->Finish(*MakeFile({16, "Tiny", 10})));
  EXPECT_EQ(std::vector<uint32_t>{32768}, player->chunk_lengths);
  EXPECT_EQ(data, player->Storage(0).Find(16)->data);
  EXPECT_EQ((Rows{{16, "Tiny"}}), RowsOfImage(player->database));
  EXPECT_EQ((Rows{{16, "Tiny"}}), ChannelRows());
}

TEST_F(FamilyBUploadTest, WholeBlockFileSendsOneBlockThenOnlyTheRecord) {
  auto stream = Open();
  const std::string data = Pattern(DatabaseUploadStream::kBlockSize);
  ASSERT_EQ(rc::kOk, stream->Write(reinterpret_cast<const uint8_t*>(data.data()),
                                   static_cast<uint32_t>(data.size())));
  EXPECT_EQ(std::vector<uint32_t>{1048576}, player->chunk_lengths);
  ASSERT_EQ(rc::kOk, stream->Finish(*MakeFile({16, "Block", 1048576})));
  EXPECT_EQ(std::vector<uint32_t>{1048576}, player->chunk_lengths);
  EXPECT_EQ(data, player->Storage(0).Find(16)->data);
}

TEST_F(FamilyBUploadTest, DroppingAnOpenStreamAbortsAndUnlocks) {
  auto stream = Open();
  const std::string data = Pattern(2000);
  ASSERT_EQ(rc::kOk, stream->Write(reinterpret_cast<const uint8_t*>(data.data()), 2000));
  stream.reset();
  EXPECT_EQ(1, player->aborts);
  EXPECT_TRUE(player->Storage(0).files.empty());
  EXPECT_FALSE(player->has_database);
}

TEST_F(FamilyBUploadTest, FailuresLeaveNoRow) {
  struct Case {
    const char* name;
    int full_piece;
    int crcf_times;
    Result expected;
  } cases[] = {
      {"full", 1, 0, rc::kPlayerFull},
      {"checksum", 0, 50, rc::kChecksumFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    player->full_piece = c.full_piece;
    player->crcf_piece = 1;
    player->crcf_times = c.crcf_times;
    auto stream = Open();
    const std::string data = Pattern(5000);
    ASSERT_EQ(rc::kOk, stream->Write(reinterpret_cast<const uint8_t*>(data.data()), 5000));
    EXPECT_EQ(c.expected, stream->Finish(*MakeFile({16, "Lost", 5000})));
    stream.reset();
    EXPECT_TRUE(player->Storage(0).files.empty());
    EXPECT_TRUE(ChannelRows().empty());
    EXPECT_FALSE(player->has_database);
  }
}

TEST_F(FamilyBUploadTest, DatabaseThatCannotBeReadOpensNoUpload) {
  Seed({{16, "One"}});
  player->announced_database_size = 10;
  player->database += std::string(20000, '\0');
  OutputStream* raw = nullptr;
  EXPECT_EQ(rc::kBadData, channel->CreateNewFile(0, &raw));
  EXPECT_EQ(nullptr, raw);
  EXPECT_EQ(0u, Count("C108"));
}

// --- predictor and the player's own queries --------------------------------------------------

TEST_F(FamilyBTest, PredictorRoundsToThe32KUnit) {
  Predictor* raw = nullptr;
  ASSERT_EQ(rc::kOk, channel->CreatePredictor(3, &raw));
  std::unique_ptr<Predictor> predictor(raw);
  PropertyHolder storage;
  storage.SetInt("storage_index", 1);
  storage.SetInt("block_size", 512);
  storage.SetInt("free_in_blocks", 100000);
  ASSERT_EQ(rc::kOk, predictor->Reset(storage));
  auto file = MakeFile({0, "New", 1});
  uint32_t blocks = 0;
  EXPECT_EQ(0, predictor->AccountNewFile(*file, &blocks));
  EXPECT_EQ(16400, file->GetSet()->GetInt("fid"));
  EXPECT_EQ(32768u, predictor->RoundUp(*file));
}

TEST_F(FamilyBTest, ButtonCountersComeFromRequest144) {
  SimPutLe32(&player->button_block[0], 7);
  SimPutLe32(&player->button_block[4], 3);
  SimPutLe32(&player->button_block[8], 0xFFFFFFFE);
  PropertyHolder counters;
  ASSERT_EQ(rc::kOk, channel->GetButtonCounters(counters));
  EXPECT_EQ("7", counters.GetString("buttons"));
  EXPECT_EQ("3", counters.GetString("rotary_clockwise"));
  EXPECT_EQ(-2, counters.GetSet()->GetInt("rotary_anticlockwise"));
  EXPECT_EQ(1u, Count("C144"));
  EXPECT_EQ(0u, Count("C118"));
}

TEST_F(FamilyBTest, HardwareInfoReadsTheIdentifyBlock) {
  for (const AtaIdentifyCase& c : kAtaIdentifyCases) {
    SCOPED_TRACE(c.model);
    memcpy(player->hardware_block.data(), c.block, player->hardware_block.size());
    PropertyHolder info;
    info.SetString("stale", "x");
    ASSERT_EQ(rc::kOk, channel->GetHardwareInfo(info));
    EXPECT_EQ(c.serial, info.GetString("serial"));
    EXPECT_EQ(c.firmware, info.GetString("firmware_version"));
    EXPECT_EQ(c.model, info.GetString("model"));
    EXPECT_EQ(c.sector_count, info.GetSet()->GetInt64("sector_count"));
    EXPECT_EQ("", info.GetString("stale"));
  }
}

TEST_F(FamilyBTest, BatteryInfoFallsBackToTheBatteryValue) {
  for (uint32_t i = 0; i < 6; ++i) SimPutLe32(&player->battery_block[4 * i], 10 + i);
  player->battery_value = 77;
  PropertyHolder battery;
  ASSERT_EQ(rc::kOk, channel->GetBatteryInfo(battery));
  EXPECT_EQ("10", battery.GetString("temperature"));
  EXPECT_EQ("11", battery.GetString("voltage"));
  EXPECT_EQ("12", battery.GetString("instantaneous_current"));
  EXPECT_EQ("13", battery.GetString("integrated_current_accumulator"));
  EXPECT_EQ("14", battery.GetString("charge_current_accumulator"));
  EXPECT_EQ("15", battery.GetString("discharge_current_accumulator"));
  EXPECT_EQ("", battery.GetString("sardane_battery"));

  player->battery_block_unknown = true;
  PropertyHolder fallback;
  ASSERT_EQ(rc::kOk, channel->GetBatteryInfo(fallback));
  EXPECT_EQ("77", fallback.GetString("sardane_battery"));
  EXPECT_EQ("", fallback.GetString("temperature"));
}

TEST_F(FamilyBTest, Request137MapsThePlayersAnswer) {
  struct Case {
    const char* answer;
    Result expected;
  } cases[] = {{"DONE", rc::kOk}, {"EROR", rc::kPlayerError}, {"DATA", rc::kBadStatusBlock}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    player->answer137 = c.answer;
    EXPECT_EQ(c.expected, channel->Request137(3, 4));
  }
  EXPECT_EQ(rc::kBadIndex, channel->Request137(0x10000, 0));
  EXPECT_EQ(3u, Count("C137(3,4)"));
}

}  // namespace
