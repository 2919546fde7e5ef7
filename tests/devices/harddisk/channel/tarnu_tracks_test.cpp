#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "devices/harddisk/fid_path.h"
#include "devices/device_results.h"
#include "devices/output_stream.h"
#include "media/property_copy.h"
#include "support/collation.h"
#include "support/memory_stream.h"
#include "sim/harddisk/player_files.h"
#include "tarnu_channel_fixture.h"

namespace {

constexpr Result kFidInDatabase = static_cast<Result>(0xC0049022);
constexpr Result kFidNotInDatabase = static_cast<Result>(0xC0049023);

std::string Bytes(size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7 + (i >> 9));
  return bytes;
}

// Writes a new file through CreateNewFile in uneven pieces and finishes it.
Result StreamUpload(TarnuChannel& channel, PropertySet& file, const std::string& content) {
  OutputStream* raw = nullptr;
  Result result = channel.CreateNewFile(0, &raw);
  if (rc::Failed(result)) return result;
  std::unique_ptr<OutputStream> stream(raw);
  for (size_t at = 0; at < content.size() && rc::Succeeded(result);) {
    const size_t piece = std::min<size_t>(content.size() - at, 300001);
    result = stream->Write(reinterpret_cast<const uint8_t*>(content.data()) + at,
                           static_cast<uint32_t>(piece));
    at += piece;
  }
  PropertyHolder properties;
  CopyProperties(properties.GetSet(), RefPtr<RecordSet>(&file));
  if (rc::Succeeded(result)) result = stream->Finish(properties);
  return result;
}

// The first bytes of a database that holds a few rows.
std::string DatabaseBytesCut(size_t length) {
  std::unique_ptr<ColumnTable> table = EmptyPlayerDatabase();
  RefPtr<RecordSet> rows;
  table->OpenRecordSet(&rows);
  for (int32_t fid = 0x200; fid < 0x300; fid += 0x10) {
    rows->AddNew();
    rows->SetInt("fid", fid);
    rows->SetString("title", "Title");
    rows->Update();
  }
  table->Compact(nullptr);
  MemoryStream stream;
  table->Save(&stream);
  return stream.Bytes().substr(0, length);
}

bool HasRow(ColumnTable& table, uint32_t fid, std::string* title = nullptr) {
  RefPtr<RecordQuery> query;
  table.CreateQuery(&query);
  query->AddIntCondition("fid", kOpEqual, fid);
  RefPtr<RecordSet> rows;
  query->Execute(&rows);
  if (rows->IsEOF()) return false;
  if (title) *title = rows->GetString("title");
  return true;
}

TEST_F(TarnuChannelTest, StreamUploadPutsContentPropertiesAndRowInPlace) {
  const std::string content = Bytes(2 * 1024 * 1024 + 12345, 'a');
  auto track = Track(0x12340, content);
  track->SetString("flags", ";autosync;");
  track->SetString("album", "");
  ASSERT_EQ(StreamUpload(*channel, *track, content), rc::kOk);
  EXPECT_TRUE(channel->database_dirty());
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  EXPECT_FALSE(channel->database_dirty());

  EXPECT_TRUE(ReadMusicFile("/fids0/_00012/340") == content);
  // Empty texts and zero integers are left out; "flags" becomes the autosync option bit.
  EXPECT_EQ(ReadMusicFile("/fids0/_00012/341"),
            "fid=74560\ntype=track\ntitle=Song\nartist=The Band\ncodec=mp3\nlength=" +
                std::to_string(content.size()) + "\noptions=1024\n");
  EXPECT_FALSE(MusicFileExists("fids0/newfid"));
  EXPECT_FALSE(MusicFileExists("/fids0/newfid1"));

  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  RefPtr<RecordQuery> query;
  database->CreateQuery(&query);
  query->AddIntCondition("fid", kOpEqual, 0x12340);
  RefPtr<RecordSet> row;
  query->Execute(&row);
  ASSERT_FALSE(row->IsEOF());
  EXPECT_EQ(row->GetString("title"), "Song");
  EXPECT_EQ(row->GetInt("length"), static_cast<int32_t>(content.size()));
  EXPECT_EQ(row->GetInt("options"), 0x400);
  uint32_t profile_length = 0;
  row->GetBlob("profile", &profile_length);
  EXPECT_EQ(profile_length, 40u);
}

TEST_F(TarnuChannelTest, DuplicateFidLeavesTheTrackAndRemovesTheNewContent) {
  const std::string first = Bytes(5000, 'x');
  ASSERT_EQ(StreamUpload(*channel, *Track(0x200, first, "First"), first), rc::kOk);
  const std::string second = Bytes(7000, 'y');
  EXPECT_EQ(StreamUpload(*channel, *Track(0x200, second, "Second"), second), kFidInDatabase);
  ASSERT_EQ(channel->Commit(1), rc::kOk);

  EXPECT_TRUE(ReadMusicFile(tarnu_fid::FidPath(0x200)) == first);
  EXPECT_NE(ReadMusicFile(tarnu_fid::PropertyPath(0x200)).find("title=First"), std::string::npos);
  EXPECT_FALSE(MusicFileExists("fids0/newfid"));
  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  std::string title;
  ASSERT_TRUE(HasRow(*database, 0x200, &title));
  EXPECT_EQ(title, "First");
}

TEST_F(TarnuChannelTest, StaleTemporaryFilesLeaveNoTail) {
  WriteMusicFile("fids0/newfid", std::string(200000, '#'));
  WriteMusicFile("/fids0/newfid0", std::string(200000, '#'));
  WriteMusicFile("/fids0/newfid1", std::string(5000, '#'));
  WriteMusicFile("var/smalldbtemp", std::string(500000, '#'));

  const std::string streamed = Bytes(1000, 'm');
  ASSERT_EQ(StreamUpload(*channel, *Track(0x300, streamed), streamed), rc::kOk);
  const std::string sent = Bytes(3000, 'n');
  MemoryStream source(sent);
  ASSERT_EQ(channel->SendFile(0, *Track(0x310, sent), &source, nullptr), rc::kOk);
  ASSERT_EQ(channel->Commit(1), rc::kOk);

  EXPECT_TRUE(ReadMusicFile(tarnu_fid::FidPath(0x300)) == streamed);
  EXPECT_TRUE(ReadMusicFile(tarnu_fid::FidPath(0x310)) == sent);
  EXPECT_EQ(ReadMusicFile(tarnu_fid::PropertyPath(0x310)).find('#'), std::string::npos);
  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database) << "the saved database carries a stale tail";
  EXPECT_TRUE(HasRow(*database, 0x300));
  EXPECT_TRUE(HasRow(*database, 0x310));
}

TEST_F(TarnuChannelTest, UploadsAreCheckedBeforeAnythingIsWritten) {
  const std::string content = Bytes(4096, 'q');
  struct Case {
    const char* what;
    uint32_t fid;
    int32_t length_delta;
    bool new_file;
    Result expected;
  } cases[] = {
      {"length one byte off", 0x400, 1, true, rc::kSizeMismatch},
      {"fid naming a property file", 0x411, 0, true, rc::kInvalidArg},
      {"fid below the root playlist", 0x40, 0, true, rc::kInvalidArg},
      {"replacing a fid without a row", 0x420, 0, false, kFidNotInDatabase},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto track = Track(c.fid, content);
    track->SetInt("length", static_cast<int32_t>(content.size()) + c.length_delta);
    MemoryStream source(content);
    const Result result = c.new_file ? channel->SendFile(0, *track, &source, nullptr)
                                     : channel->SendFileByRequest136(0, *track, &source, nullptr);
    EXPECT_EQ(result, c.expected);
    EXPECT_FALSE(channel->database_dirty());
  }
  MemoryStream source(content);
  EXPECT_EQ(channel->SendFile(1, *Track(0x400, content), &source, nullptr), rc::kBadIndex);
  EXPECT_FALSE(MusicFileExists(tarnu_fid::FidPath(0x400)));
  EXPECT_FALSE(MusicFileExists(tarnu_fid::FidPath(0x420)));
  EXPECT_FALSE(MusicFileExists("/fids0/newfid0"));
  EXPECT_FALSE(MusicFileExists("/fids0/newfid1"));
}

TEST_F(TarnuChannelTest, DeleteRewriteAndReadBack) {
  const std::string content = Bytes(70000, 'd');
  MemoryStream source(content);
  ASSERT_EQ(channel->SendFile(0, *Track(0x500, content), &source, nullptr), rc::kOk);

  MemoryStream back;
  ASSERT_EQ(channel->ReceiveFile(0, *Track(0x500, content), &back, nullptr), rc::kOk);
  EXPECT_TRUE(back.Bytes() == content);

  auto renamed = Track(0x500, content, "Renamed");
  ASSERT_EQ(channel->RewriteFileInfo(0, *renamed), rc::kOk);
  EXPECT_EQ(channel->RewriteFileInfo(0, *Track(0x510, content)), kFidNotInDatabase);
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  EXPECT_NE(ReadMusicFile(tarnu_fid::PropertyPath(0x500)).find("title=Renamed"),
            std::string::npos);
  {
    auto database = DatabaseOnDisk();
    std::string title;
    ASSERT_TRUE(database && HasRow(*database, 0x500, &title));
    EXPECT_EQ(title, "Renamed");
  }

  PropertyHolder file;
  file.SetInt("fid", 0x500);
  ASSERT_EQ(channel->DeleteFile(0, file), rc::kOk);
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  EXPECT_FALSE(MusicFileExists(tarnu_fid::FidPath(0x500)));
  EXPECT_TRUE(MusicFileExists(tarnu_fid::PropertyPath(0x500)));  // the player's to tidy
  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  EXPECT_FALSE(HasRow(*database, 0x500));

  PropertyHolder odd;
  odd.SetInt("fid", 0x501);
  EXPECT_EQ(channel->DeleteFile(0, odd), rc::kInvalidArg);
  EXPECT_EQ(channel->DeleteFile(1, file), rc::kFail);
}

TEST_F(TarnuChannelTest, PlaylistUploadKeepsItsListInTheRow) {
  std::string list;
  for (uint32_t fid : {0x600u, 0x610u}) list.append(reinterpret_cast<const char*>(&fid), 4);
  auto playlist = Track(0x700, list, "Mix");
  playlist->SetString("type", "playlist");
  MemoryStream source(list);
  ASSERT_EQ(channel->SendFile(0, *playlist, &source, nullptr), rc::kOk);
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  EXPECT_EQ(ReadMusicFile(tarnu_fid::FidPath(0x700)), list);
  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  RefPtr<RecordQuery> query;
  database->CreateQuery(&query);
  query->AddIntCondition("fid", kOpEqual, 0x700);
  RefPtr<RecordSet> row;
  query->Execute(&row);
  ASSERT_FALSE(row->IsEOF());
  uint32_t length = 0;
  const uint8_t* bytes = row->GetBlob("playlist", &length);
  ASSERT_EQ(length, list.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), length), list);
}

TEST_F(TarnuChannelTest, FullPlayerRefusesUploadsThatEatIntoTheReserve) {
  // Leave a little more than the reserve free, then ask for more than the rest.
  FsSpace space;
  ASSERT_EQ(channel->MountOmfs(), rc::kOk);
  ASSERT_EQ(channel->music_volume()->GetSpace(&space), rc::kOk);
  const uint64_t usable_blocks = space.free_blocks - TarnuChannel::kReserveBytes / space.block_size;
  const std::string too_big(static_cast<size_t>((usable_blocks + 1) * space.block_size), 'f');
  MemoryStream source(too_big);
  EXPECT_EQ(channel->SendFile(0, *Track(0x800, too_big), &source, nullptr), rc::kPlayerFull);
  EXPECT_EQ(StreamUpload(*channel, *Track(0x800, too_big), too_big), rc::kPlayerFull);
  EXPECT_FALSE(MusicFileExists("fids0/newfid"));
  EXPECT_FALSE(MusicFileExists(tarnu_fid::FidPath(0x800)));
}

TEST_F(TarnuChannelTest, DatabaseSurvivesReopeningAndSortsArtistsWithoutArticles) {
  const std::string content = Bytes(100, 'r');
  MemoryStream source(content);
  ASSERT_EQ(channel->SendFile(0, *Track(0x900, content), &source, nullptr), rc::kOk);
  // Closing saves.
  ASSERT_EQ(channel->HoldStorage(false), rc::kOk);
  EXPECT_FALSE(player->bus_held);
  MakeChannel();
  ASSERT_EQ(channel->EnsureDatabase(), rc::kOk);
  ColumnTable* database = channel->database();
  ASSERT_TRUE(database);
  EXPECT_TRUE(HasRow(*database, 0x900));
  EXPECT_EQ(database->Column(database->FindColumn("artist")).compare, &ArticleSkippingCompare);
  // The host copy is gone after loading.
  EXPECT_FALSE(channel->database_copy_path().empty());
  FILE* copy = fopen(channel->database_copy_path().c_str(), "rb");
  EXPECT_EQ(copy, nullptr);
  if (copy) fclose(copy);
}

std::string ArtistOf(ColumnTable& table, uint32_t fid) {
  RefPtr<RecordQuery> query;
  table.CreateQuery(&query);
  query->AddIntCondition("fid", kOpEqual, fid);
  RefPtr<RecordSet> rows;
  query->Execute(&rows);
  return rows->IsEOF() ? "(no row)" : rows->GetString("artist");
}

// The artist order skips leading articles and folds case, so it calls some of these artists
// equal; every save compacts the database, and each track keeps the artist it was sent with.
TEST_F(TarnuChannelTest, EveryTrackKeepsItsArtistAsUploaded) {
  const struct {
    uint32_t fid;
    const char* artist;
  } tracks[] = {
      {0x200, "A Flock of Seagulls"}, {0x210, "Flock of Seagulls"}, {0x220, "The Beatles"},
      {0x230, "Beatles"},             {0x240, "a band"},            {0x250, "band"},
      {0x260, "BAND"},                {0x270, "Bj\xC3\xB6rk"},      {0x280, "Bjork"},
  };
  auto expect_all = [&](ColumnTable& table, size_t sent) {
    for (size_t i = 0; i < sent; ++i)
      EXPECT_EQ(ArtistOf(table, tracks[i].fid), tracks[i].artist) << tracks[i].fid;
  };
  size_t sent = 0;
  for (const auto& track : tracks) {
    const std::string content = Bytes(700 + sent, 'k');
    RefPtr<PropertySet> file = Track(track.fid, content);
    file->SetString("artist", track.artist);
    MemoryStream source(content);
    ASSERT_EQ(channel->SendFile(0, *file, &source, nullptr), rc::kOk);
    // A save after every second upload: the last text sent meets one already stored.
    if (++sent % 2 == 0) {
      ASSERT_EQ(channel->Commit(1), rc::kOk);
    }
  }
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  expect_all(*channel->database(), sent);
  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  expect_all(*database, sent);

  // Loaded again by a new channel, edited and saved once more.
  MakeChannel();
  ASSERT_EQ(channel->EnsureDatabase(), rc::kOk);
  expect_all(*channel->database(), sent);
  ASSERT_EQ(SendTrack(0x300, "more"), rc::kOk);
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  expect_all(*database, sent);
}

TEST_F(TarnuChannelTest, UnusableDatabaseAsksThePlayerToBuildOne) {
  const struct {
    const char* what;
    bool missing;
    std::string bytes;
  } cases[] = {
      {"missing", true, ""},
      {"garbage", false, std::string(5000, '\x5a')},
      {"cut short", false, DatabaseBytesCut(100)},
      {"empty", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MakePlayer(48, !c.missing);
    if (!c.missing) WriteMusicFile("var/smalldb", c.bytes);
    player->fx2_commands.clear();
    EXPECT_TRUE(rc::Failed(channel->EnsureDatabase()));
    EXPECT_EQ(std::count(player->fx2_commands.begin(), player->fx2_commands.end(), 12), 1);
    EXPECT_EQ(channel->database(), nullptr);
    EXPECT_EQ(SendTrack(0x200, "abc") , channel->EnsureDatabase());
  }
}

TEST_F(TarnuChannelTest, FailedSaveAtCloseIsReportedAndTheBusIsReleased) {
  const struct {
    const char* what;
    std::function<Result(TarnuChannel&)> close;
  } calls[] = {
      {"HoldStorage(false)", [](TarnuChannel& c) { return c.HoldStorage(false); }},
      {"Commit(0)", [](TarnuChannel& c) { return c.Commit(0); }},
      {"Suspend(true)", [](TarnuChannel& c) { return c.Suspend(true); }},
      {"Close", [](TarnuChannel& c) { return c.Close(); }},
  };
  uint32_t fid = 0xA00;
  for (const auto& call : calls) {
    SCOPED_TRACE(call.what);
    if (channel->Suspend(false) != rc::kOk) FAIL();
    ASSERT_EQ(SendTrack(fid += 0x10, "content"), rc::kOk);
    ASSERT_TRUE(channel->database_dirty());
    player->fail_all_writes = true;
    const Result result = call.close(*channel);
    player->fail_all_writes = false;
    EXPECT_TRUE(rc::Failed(result));
    EXPECT_FALSE(player->bus_held);
    EXPECT_FALSE(channel->bus_held());
    EXPECT_EQ(channel->database(), nullptr);
  }
  // Without changes, closing succeeds.
  ASSERT_EQ(channel->EnsureDatabase(), rc::kOk);
  EXPECT_EQ(channel->Commit(1), rc::kOk);
  EXPECT_EQ(channel->Commit(0), rc::kOk);
  EXPECT_FALSE(player->bus_held);
}

}  // namespace
