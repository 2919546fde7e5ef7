// Hard-disk player throughput on a simulated player over the simulated USB link:
// - an upload of N MiB (default 100) through the channel (SendFile: property file, database row,
//   renames) against the same bytes written as raw WRITE(10) commands of 64 blocks in the same
//   run: MB/s of both, the ratio, and USB commands (bulk-only wrappers and FX2 packets) per MiB;
// - Commit time as the music database grows (100, 1,000 and 5,000 rows): one new track, then
//   the save, against raw writes of as many bytes as the saved database holds.
//   harddisk_bench [--mib N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "devices/harddisk/tarnu_channel.h"
#include "fs/ir_file_system.h"
#include "platform/platform.h"
#include "media/property_set.h"
#include "platform/platform_file_system.h"
#include "sim/harddisk/player_files.h"
#include "support/memory_stream.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint32_t kChunkBlocks = 64;

class NoWaitClock : public Fx2Clock {
 public:
  int64_t NowMicroseconds() override { return now += 1000; }
  void SleepMilliseconds(uint32_t) override {}
  int64_t now = 0;
};
NoWaitClock g_clock;

// `music_mib`: a multiple of 16, which the volume formats cleanly at.
std::shared_ptr<SimHardDiskPlayer> MakePlayer(uint64_t music_mib) {
  auto player = std::make_shared<SimHardDiskPlayer>((0x5004400 + music_mib * kMiB + 512) / 512);
  player->keep_log = false;
  if (rc::Failed(PreparePlayerDisk(player, true))) {
    fprintf(stderr, "cannot prepare the player's disk\n");
    exit(1);
  }
  return player;
}

std::unique_ptr<TarnuChannel> OpenChannel(const std::shared_ptr<SimHardDiskPlayer>& player) {
  auto* usb = new SimHardDiskUsb(player, TarnuChannel::kProductId);
  usb->Open();
  return std::make_unique<TarnuChannel>(usb, TarnuChannel::kProductId, &g_clock);
}

uint64_t Commands(const SimHardDiskPlayer& player) {
  return player.bulk_commands + player.fx2_commands.size();
}

// Milliseconds for `bytes` written as raw 64-block WRITE(10) commands to a player of their own.
double RawWriteMs(const std::string& bytes, uint64_t* commands) {
  auto player = std::make_shared<SimHardDiskPlayer>(bytes.size() / 512 + 2 * kChunkBlocks);
  player->keep_log = false;
  SimHardDiskUsb usb(player);
  usb.Open();
  std::unique_ptr<PlayerDisk> disk;
  PlayerDisk::Create(&usb, &disk, &g_clock);
  disk->AcquireBus();
  const uint64_t before = Commands(*player);
  std::vector<uint8_t> chunk(kChunkBlocks * 512);
  const auto start = BenchClock::now();
  for (uint64_t done = 0; done < bytes.size(); done += chunk.size()) {
    const size_t n = std::min<size_t>(chunk.size(), bytes.size() - done);
    std::memcpy(chunk.data(), bytes.data() + done, n);
    disk->WriteSectors(0, static_cast<uint32_t>(done / 512), kChunkBlocks, chunk.data());
  }
  const double ms = MsSince(start);
  *commands = Commands(*player) - before;
  disk->ReleaseBus();
  return ms;
}

RefPtr<PropertySet> Track(uint32_t fid, uint32_t length) {
  RefPtr<PropertySet> set;
  PropertySet::Create(&set);
  set->AddNew();
  set->SetInt("fid", static_cast<int32_t>(fid));
  set->SetString("type", "tune");
  set->SetString("codec", "mp3");
  set->SetString("title", "Track " + std::to_string(fid));
  set->SetString("artist", "The Bench");
  set->SetInt("length", static_cast<int32_t>(length));
  return set;
}

void Upload(uint32_t mib) {
  std::string bytes(uint64_t{mib} * kMiB, '\0');
  Random random(7);
  for (size_t i = 0; i < bytes.size(); i += 8) {
    const uint64_t word = random.Next();
    std::memcpy(&bytes[i], &word, std::min<size_t>(8, bytes.size() - i));
  }
  auto player = MakePlayer((mib + mib / 4 + 24 + 15) / 16 * 16);
  uint64_t raw_commands = 0;
  const double raw_ms = RawWriteMs(bytes, &raw_commands);

  auto channel = OpenChannel(player);
  channel->EnsureDatabase();
  MemoryStream source(bytes);
  const uint64_t before = Commands(*player);
  const auto start = BenchClock::now();
  const Result sent = channel->SendFile(0, *Track(0x200, static_cast<uint32_t>(bytes.size())),
                                        &source, nullptr);
  const double ms = MsSince(start);
  const uint64_t commands = Commands(*player) - before;
  if (rc::Failed(sent)) {
    fprintf(stderr, "upload failed: 0x%08x\n", static_cast<unsigned>(sent));
    exit(1);
  }
  channel.reset();
  printf("upload %u MiB: channel %.1f MB/s, raw WRITE(10) %.1f MB/s, ratio %.2f\n", mib,
         mib * 1048.576 / ms, mib * 1048.576 / raw_ms, ms / raw_ms);
  printf("  USB commands per MiB: channel %.1f, raw %.1f\n",
         static_cast<double>(commands) / mib, static_cast<double>(raw_commands) / mib);
}

void CommitAtSize(uint32_t rows) {
  auto player = MakePlayer(48);
  std::unique_ptr<ColumnTable> table = EmptyPlayerDatabase();
  RefPtr<RecordSet> set;
  table->OpenRecordSet(&set);
  Random random(rows);
  for (uint32_t i = 0; i < rows; ++i) {
    set->AddNew();
    set->SetInt("fid", static_cast<int32_t>(0x300 + 16 * i));
    set->SetString("title", "Title " + std::to_string(random.Below(100000)));
    set->SetString("artist", "Artist " + std::to_string(random.Below(500)));
    set->SetString("source", "Album " + std::to_string(random.Below(2000)));
    set->SetInt("length", static_cast<int32_t>(random.Below(10000000)));
    set->Update();
  }
  table->Compact(nullptr);
  MemoryStream saved;
  table->Save(&saved);
  WritePlayerFile(player, "var/smalldb", saved.Bytes());

  auto channel = OpenChannel(player);
  MemoryStream source(std::string(1000, 'x'));
  if (rc::Failed(channel->SendFile(0, *Track(0x200, 1000), &source, nullptr))) {
    fprintf(stderr, "upload before the commit failed\n");
    exit(1);
  }
  const auto start = BenchClock::now();
  const Result committed = channel->Commit(1);
  const double ms = MsSince(start);
  channel.reset();
  uint64_t raw_commands = 0;
  const double raw_ms = RawWriteMs(saved.Bytes(), &raw_commands);
  printf("commit with %5u rows (%7u bytes): %7.1f ms, raw writes %6.1f ms, ratio %.1f%s\n", rows,
         saved.Size(), ms, raw_ms, raw_ms > 0 ? ms / raw_ms : 0.0,
         rc::Failed(committed) ? " (failed)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t mib = 100;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--mib") == 0) mib = static_cast<uint32_t>(std::atoi(argv[++i]));
  InstallPlatformFileSystem();
  if (AcquirePlatformFileSystem() != 0) {
    fprintf(stderr, "cannot start the platform\n");
    return 1;
  }
  Upload(mib);
  for (uint32_t rows : {100u, 1000u, 5000u}) CommitAtSize(rows);
  DestroyPlatform();
  return 0;
}
