// The power fails at every sector of a database save and of a track replacement. After the
// player starts again its disk holds the old database or the new one, never a mix and never
// none, and every track it lists is there; a track being replaced has its old content or its
// new one, never none, and its database row never runs ahead of its content.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "devices/harddisk/fid_path.h"
#include "support/memory_stream.h"
#include "tarnu_channel_fixture.h"

namespace {

// The row of a fid, with its title.
bool Lists(ColumnTable& table, uint32_t fid, std::string* title = nullptr) {
  RefPtr<RecordQuery> query;
  table.CreateQuery(&query);
  query->AddIntCondition("fid", kOpEqual, fid);
  RefPtr<RecordSet> rows;
  query->Execute(&rows);
  if (rows->IsEOF()) return false;
  if (title) *title = rows->GetString("title");
  return true;
}

// What the cut points left, counted for the test's log.
struct Outcomes {
  int old_seen = 0, new_seen = 0, none_seen = 0;
  void Print(const char* what, uint64_t points) const {
    printf("%s, %llu cut points: old %d, new %d, none %d\n", what,
           static_cast<unsigned long long>(points), old_seen, new_seen, none_seen);
  }
};

class TarnuPowerCutTest : public TarnuChannelTest {
 protected:
  // The player as it stands now, restored before every cut.
  void Keep() {
    channel.reset();  // closing saves the database
    before_ = std::make_unique<SimHardDiskPlayer>(*player);
  }
  // Restores the player and runs `work`, which calls Arm when the part to cut begins; then
  // restarts the player. Returns how many sectors were written after Arm.
  template <typename Work>
  uint64_t RunCut(int64_t cut, Work work) {
    channel.reset();
    *player = *before_;
    MakeChannel();
    cut_ = cut;
    work();
    channel.reset();
    player->sectors_before_power_cut = -1;
    player->holders = 0;
    player->bus_held = false;
    return player->sectors_written - armed_at_;
  }
  // Cuts the power after every sector of the part that `work` arms, `verify` looking at what
  // each cut left.
  template <typename Work, typename Verify>
  void CutEverySector(uint64_t sectors, Work work, Verify verify) {
    for (uint64_t cut = 0; cut <= sectors; ++cut) {
      SCOPED_TRACE("power cut after " + std::to_string(cut) + " sectors of " +
                   std::to_string(sectors));
      RunCut(static_cast<int64_t>(cut), work);
      verify(cut);
      if (::testing::Test::HasFatalFailure()) return;  // an assertion in `verify` ends the test
    }
  }
  // The power fails after the chosen number of sectors from now.
  void Arm() {
    armed_at_ = player->sectors_written;
    player->sectors_before_power_cut = cut_;
  }

  std::unique_ptr<SimHardDiskPlayer> before_;
  int64_t cut_ = -1;
  uint64_t armed_at_ = 0;
};

TEST_F(TarnuPowerCutTest, NoCutDuringADatabaseSaveLeavesThePlayerWithoutOne) {
  const std::string first(3000, 'a'), second(5000, 'b');
  ASSERT_EQ(SendTrack(0x200, first), rc::kOk);
  Keep();
  Result saved = rc::kOk;
  auto save = [&] {
    ASSERT_EQ(SendTrack(0x210, second), rc::kOk);
    Arm();
    saved = channel->Commit(1);
  };
  const uint64_t save_sectors = RunCut(-1, save);
  ASSERT_EQ(saved, rc::kOk);
  ASSERT_GT(save_sectors, 0u);

  Outcomes outcomes;
  CutEverySector(save_sectors, save, [&](uint64_t cut) {
    if (cut == 0) {
      EXPECT_TRUE(rc::Failed(saved));
    }
    std::unique_ptr<ColumnTable> database = DatabaseOnDisk();
    if (!database) {
      ADD_FAILURE() << "no database on the player";
      ++outcomes.none_seen;
      return;
    }
    ASSERT_TRUE(Lists(*database, 0x200));
    const bool has_new = Lists(*database, 0x210);
    EXPECT_EQ(database->RowCount(), has_new ? 2u : 1u);
    (has_new ? outcomes.new_seen : outcomes.old_seen)++;
    if (has_new) {
      EXPECT_TRUE(ReadMusicFile(tarnu_fid::FidPath(0x210)) == second);
    }
    EXPECT_TRUE(ReadMusicFile(tarnu_fid::FidPath(0x200)) == first);
  });
  outcomes.Print("database save", save_sectors + 1);
  EXPECT_GT(outcomes.old_seen, 0);
  EXPECT_GT(outcomes.new_seen, 0);
}

// The replacement of a track's content and properties (the second send operation) and the
// save of the database after it.
TEST_F(TarnuPowerCutTest, ACutTrackReplacementLeavesTheOldTrackOrTheNew) {
  const std::string first(3000, 'a'), second(5000, 'b');
  ASSERT_EQ(SendTrack(0x200, first), rc::kOk);
  Keep();
  Result replaced = rc::kOk;
  auto replace = [&] {
    MemoryStream source(second);
    Arm();
    replaced = channel->SendFileByRequest136(0, *Track(0x200, second, "Replaced"), &source,
                                             nullptr);
    channel->Commit(1);
  };
  const uint64_t total = RunCut(-1, replace);
  ASSERT_EQ(replaced, rc::kOk);
  ASSERT_GT(total, 0u);

  Outcomes outcomes;
  CutEverySector(total, replace, [&](uint64_t) {
    Result read = rc::kOk;
    const std::string content = ReadMusicFile(tarnu_fid::FidPath(0x200), &read);
    const std::string properties = ReadMusicFile(tarnu_fid::PropertyPath(0x200));
    std::unique_ptr<ColumnTable> database = DatabaseOnDisk();
    ASSERT_TRUE(database) << "no database on the player";
    std::string title;
    ASSERT_TRUE(Lists(*database, 0x200, &title));
    if (rc::Failed(read)) {
      ADD_FAILURE() << "the track's content is gone";
      ++outcomes.none_seen;
      return;
    }
    const bool is_new = content == second;
    ASSERT_TRUE(is_new || content == first) << "content of neither version";
    (is_new ? outcomes.new_seen : outcomes.old_seen)++;
    // The properties move before the content, and the row changes only after both.
    const bool new_properties = properties.find("title=Replaced") != std::string::npos;
    EXPECT_TRUE(new_properties || properties.find("title=Song") != std::string::npos);
    if (is_new) {
      EXPECT_TRUE(new_properties);
    }
    if (title == "Replaced") {
      EXPECT_TRUE(is_new);
    } else {
      EXPECT_EQ(title, "Song");
    }
    // A replacement that failed left the old track whole.
    if (rc::Failed(replaced)) {
      EXPECT_FALSE(is_new);
    }
  });
  outcomes.Print("track replacement", total + 1);
  EXPECT_GT(outcomes.old_seen, 0);
  EXPECT_GT(outcomes.new_seen, 0);
}

}  // namespace
