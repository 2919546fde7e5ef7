// The power fails at every point of a database save: after the player starts again, the database
// on its disk is the old one or the new one, never a mix, and every track it lists is there.
// Between the removal of the old database and the end of the rename of the new one the volume
// names neither (its rename unlinks before it links): then the channel has the player build its
// database afresh from the property files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "devices/harddisk/fid_path.h"
#include "support/memory_stream.h"
#include "tarnu_channel_fixture.h"

namespace {

bool Lists(ColumnTable& table, uint32_t fid) {
  RefPtr<RecordQuery> query;
  table.CreateQuery(&query);
  query->AddIntCondition("fid", kOpEqual, fid);
  RefPtr<RecordSet> rows;
  query->Execute(&rows);
  return !rows->IsEOF();
}

TEST_F(TarnuChannelTest, PowerCutDuringADatabaseSaveLeavesTheOldOrTheNewDatabase) {
  const std::string first(3000, 'a'), second(5000, 'b');
  ASSERT_EQ(SendTrack(0x200, first), rc::kOk);
  channel.reset();  // closing saves the database
  const SimHardDiskPlayer before = *player;

  // How many sectors a whole save writes.
  MakeChannel();
  ASSERT_EQ(SendTrack(0x210, second), rc::kOk);
  const uint64_t start = player->sectors_written;
  ASSERT_EQ(channel->Commit(1), rc::kOk);
  const uint64_t save_sectors = player->sectors_written - start;
  ASSERT_GT(save_sectors, 0u);

  int old_seen = 0, new_seen = 0, missing_seen = 0;
  for (uint64_t cut = 0; cut <= save_sectors; ++cut) {
    SCOPED_TRACE("power cut after " + std::to_string(cut) + " sectors of " +
                 std::to_string(save_sectors));
    channel.reset();
    *player = before;
    MakeChannel();
    ASSERT_EQ(SendTrack(0x210, second), rc::kOk);
    player->sectors_before_power_cut = static_cast<int64_t>(cut);
    const Result saved = channel->Commit(1);
    channel.reset();
    player->sectors_before_power_cut = -1;
    player->holders = 0;
    player->bus_held = false;
    // The last sectors leave the volume's cache only when it is unmounted.
    if (cut == 0) {
      EXPECT_TRUE(rc::Failed(saved));
    }

    std::unique_ptr<ColumnTable> database = DatabaseOnDisk();
    if (!database) {
      Result result = rc::kOk;
      ReadMusicFile("var/smalldb", &result);
      ASSERT_TRUE(rc::Failed(result)) << "a database that does not load";
      MakeChannel();
      player->fx2_commands.clear();
      EXPECT_TRUE(rc::Failed(channel->EnsureDatabase()));
      channel.reset();
      EXPECT_EQ(std::count(player->fx2_commands.begin(), player->fx2_commands.end(), 12), 1);
      ++missing_seen;
      continue;
    }
    ASSERT_TRUE(Lists(*database, 0x200));
    const bool has_new = Lists(*database, 0x210);
    EXPECT_EQ(database->RowCount(), has_new ? 2u : 1u);
    (has_new ? new_seen : old_seen)++;
    if (has_new) {
      EXPECT_TRUE(ReadMusicFile(tarnu_fid::FidPath(0x210)) == second);
    }
    EXPECT_TRUE(ReadMusicFile(tarnu_fid::FidPath(0x200)) == first);
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
}

}  // namespace
