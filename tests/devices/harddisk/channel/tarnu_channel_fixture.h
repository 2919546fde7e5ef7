// A hard-disk channel on a simulated player whose disk carries a fresh layout, an empty music
// database and the player's settings texts; helpers read the player's volume and database back
// independently of the channel.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/column_table.h"
#include "devices/harddisk/device_file_system.h"
#include "devices/harddisk/tarnu_channel.h"
#include "media/property_holder.h"
#include "sim/harddisk/harddisk_player.h"

class TarnuChannelTest : public ::testing::Test {
 protected:
  static constexpr uint64_t kMiB = 1024 * 1024;
  // A disk of whole MiB whose music volume holds a little over `mib` MiB.
  static constexpr uint64_t MusicDisk(uint64_t mib) { return (mib + 81) * kMiB; }

  void SetUp() override;
  void TearDown() override;

  // A player of `music_mib` MiB, laid out and formatted, with an empty database unless told
  // otherwise, and a new channel over it.
  void MakePlayer(uint64_t music_mib, bool with_database = true);
  void MakeChannel();

  // Read and write files on the music volume through a disk of the test's own. The player has
  // one bus: the channel is suspended meanwhile (which closes it, saving a dirty database).
  std::string ReadMusicFile(const std::string& path, Result* result = nullptr);
  void WriteMusicFile(const std::string& path, const std::string& content);
  bool MusicFileExists(const std::string& path);
  // The database now on the player's disk; null when it cannot be loaded.
  std::unique_ptr<ColumnTable> DatabaseOnDisk();

  // Uploads `content` as a new track under `fid` through the channel.
  Result SendTrack(uint32_t fid, const std::string& content);
  // File properties of a track.
  static RefPtr<PropertySet> Track(uint32_t fid, const std::string& content,
                                   const std::string& title = "Song");

  std::shared_ptr<SimHardDiskPlayer> player;
  std::unique_ptr<TarnuChannel> channel;

 private:
  // Suspends the channel around `work` on the player's disk.
  template <typename Work>
  void Suspended(Work work);
};

// A clock whose sleeps only count.
class CountingClock : public Fx2Clock {
 public:
  int64_t NowMicroseconds() override { return now += 1000; }
  void SleepMilliseconds(uint32_t ms) override {
    ++sleeps;
    slept_ms += ms;
  }
  int64_t now = 0;
  int sleeps = 0;
  uint32_t slept_ms = 0;
};
