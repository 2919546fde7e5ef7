// OMFS throughput and lookup: 100 MiB written in 64 KiB pieces to a file on a RAM block device
// against the same bytes written straight to the device in the same run (MB/s and the ratio,
// device writes per MiB), and mounting a volume and looking up entry 5,000 of one folder
// against one straight 64 KiB read of the device.
//   omfs_bench [--mib N] [--entries N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "fs/ir_file_system.h"
#include "fs/omfs/omfs.h"
#include "platform/platform.h"
#include "testlib/test_block_device.h"

namespace {

constexpr uint32_t kPiece = 64 * 1024;
constexpr uint64_t kStart = 1024 * 1024;
constexpr uint32_t kBlockSize = 4096;

struct Volume {
  TestBlockDevice* device;
  std::string root;
  uint64_t length;
};

Volume MakeVolume(IRFileSystem* fs, uint32_t number, uint64_t bytes) {
  Volume volume;
  volume.length = bytes / kBlockSize * kBlockSize;
  volume.device = TestBlockDevice::InMemory("BENCH", number, 512, (kStart + volume.length) / 512);
  char name[32], volume_name[96];
  snprintf(name, sizeof name, "BENCH:%u", number);
  OmfsFormatParameters parameters = {8 * kBlockSize, 2, kBlockSize};
  if (fs->Format(kBlockSize, name, "OMFS", kStart, volume.length, &parameters, sizeof parameters,
                 "bench", "") != 0 ||
      fs->Mount(name, kStart, volume.length, 0, nullptr, 0) != 0) {
    fprintf(stderr, "cannot make the volume\n");
    exit(1);
  }
  FsFormatVolumeName(volume_name, sizeof volume_name, name, kStart, volume.length);
  volume.root = std::string("/dev/") + volume_name + "/";
  return volume;
}

void Throughput(IRFileSystem* fs, uint32_t mib) {
  const uint64_t total = uint64_t{mib} << 20;
  std::vector<uint8_t> piece(kPiece);
  Random random(1);
  for (uint8_t& byte : piece) byte = static_cast<uint8_t>(random.Next());

  TestBlockDevice* raw = TestBlockDevice::InMemory("RAW", 0, 512, (total + kStart) / 512);
  auto start = BenchClock::now();
  for (uint64_t done = 0; done < total; done += kPiece)
    raw->Write((kStart + done) / 512, kPiece / 512, piece.data(), 0);
  const double raw_ms = MsSince(start);

  Volume volume = MakeVolume(fs, 0, total + total / 8 + (4 << 20));
  const uint32_t writes_before = volume.device->counters().writes;
  start = BenchClock::now();
  FsHandle* file = nullptr;
  if (fs->CreateFile(&file, (volume.root + "track").c_str(), nullptr, 3, nullptr) != 0) exit(1);
  for (uint64_t done = 0; done < total; done += kPiece) {
    uint32_t count = 0;
    if (fs->WriteFile(file, piece.data(), kPiece, &count, nullptr) != 0) {
      fprintf(stderr, "write failed\n");
      exit(1);
    }
  }
  fs->Close(file, nullptr);
  const double omfs_ms = MsSince(start);
  const uint32_t writes = volume.device->counters().writes - writes_before;
  const double raw_rate = mib / (raw_ms / 1000.0);
  const double omfs_rate = mib / (omfs_ms / 1000.0);
  printf("write %u MiB in 64 KiB pieces\n", mib);
  printf("  straight to the device  %9.1f MB/s\n", raw_rate);
  printf("  through OMFS            %9.1f MB/s   ratio %.2f   device writes per MiB %.1f\n",
         omfs_rate, omfs_rate / raw_rate, static_cast<double>(writes) / mib);
}

void Lookup(IRFileSystem* fs, uint32_t entries) {
  Volume volume = MakeVolume(fs, 1, 64ull << 20);
  FsHandle* handle = nullptr;
  if (fs->CreateDir(&handle, (volume.root + "fids").c_str(), nullptr, 0, nullptr) != 0) exit(1);
  fs->Close(handle, nullptr);
  char name[32];
  for (uint32_t i = 1; i <= entries; ++i) {
    snprintf(name, sizeof name, "fids/%05x", i);
    if (fs->CreateFile(&handle, (volume.root + name).c_str(), nullptr, 3, nullptr) != 0) exit(1);
    fs->Close(handle, nullptr);
  }
  fs->Unmount("BENCH:1", 0, 0);
  std::vector<uint8_t> buffer(kPiece);
  auto start = BenchClock::now();
  volume.device->Read(kStart / 512, kPiece / 512, buffer.data(), 0);
  const double read_ms = MsSince(start);
  const uint32_t reads_before = volume.device->counters().reads;
  start = BenchClock::now();
  if (fs->Mount("BENCH:1", kStart, volume.length, 0, nullptr, 0) != 0) exit(1);
  snprintf(name, sizeof name, "fids/%05x", entries);
  if (fs->Open(&handle, (volume.root + name).c_str(), nullptr, 1, nullptr) != 0) exit(1);
  const double lookup_ms = MsSince(start);
  fs->Close(handle, nullptr);
  printf("mount and look up entry %u of one folder\n", entries);
  printf("  %.3f ms, %.1f times one straight 64 KiB read, %u device reads\n", lookup_ms,
         read_ms > 0 ? lookup_ms / read_ms : 0.0, volume.device->counters().reads - reads_before);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t mib = 100, entries = 5000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--mib") == 0) mib = static_cast<uint32_t>(atoi(argv[i + 1]));
    if (strcmp(argv[i], "--entries") == 0) entries = static_cast<uint32_t>(atoi(argv[i + 1]));
  }
  InstallPlatformFileSystem();
  IRPlatform* platform = CreatePlatform();
  auto* fs = static_cast<IRFileSystem*>(platform->GetInterface("IRFileSystem"));
  Throughput(fs, mib);
  Lookup(fs, entries);
  DestroyPlatform();
  return 0;
}
