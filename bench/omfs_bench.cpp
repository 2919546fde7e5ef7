// OMFS throughput, lookup and check: 100 MiB written in 64 KiB pieces to a file on a RAM block
// device against the same bytes written straight to the device in the same run (MB/s and the
// ratio, device writes per MiB); mounting a volume and looking up entry 5,000 of one folder
// against one straight 64 KiB read of the device; and the check of a 40 GB volume after the
// remove of a 1 GiB file was cut short, against the check of the same volume before.
//   omfs_bench [--mib N] [--entries N] [--check-gib N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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

// A device that keeps only the sectors written (the rest read as zeros) and can lose its
// power: after a set number of further sectors every write fails.
class SparseDevice : public BlockDevice {
 public:
  SparseDevice(const char* name, uint32_t number, uint64_t sectors)
      : BlockDevice(name, number), sectors_(sectors) {}
  uint64_t Capacity() override { return sectors_; }
  uint32_t SectorSize() override { return 512; }
  int Read(uint64_t start, uint32_t count, void* buffer, uint32_t) override {
    if (start + count > sectors_) return device_status::kBadRequest;
    ++reads;
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      auto found = written_.find(start + i);
      if (found == written_.end())
        memset(out + 512 * i, 0, 512);
      else
        memcpy(out + 512 * i, found->second.data(), 512);
    }
    return device_status::kOk;
  }
  int Write(uint64_t start, uint32_t count, const void* buffer, uint32_t) override {
    if (start + count > sectors_) return device_status::kBadRequest;
    const auto* in = static_cast<const uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      if (sectors_left == 0) return device_status::kIoError;
      if (sectors_left > 0) --sectors_left;
      written_[start + i].assign(in + 512 * i, in + 512 * (i + 1));
    }
    return device_status::kOk;
  }
  int64_t sectors_left = -1;
  uint64_t reads = 0;

 private:
  uint64_t sectors_;
  std::map<uint64_t, std::vector<uint8_t>> written_;
};

// Blocks in use by the volume's count (8 KiB blocks).
uint64_t UsedBlocks(IRFileSystem* fs, const std::string& root) {
  FsHandle* handle = nullptr;
  uint64_t space[2] = {};
  if (fs->Open(&handle, root.c_str(), nullptr, 0, nullptr) != 0) return 0;
  fs->GetAttr(handle, 4, space, sizeof space, nullptr);
  fs->Close(handle, nullptr);
  return space[1] / 8192;
}

// How long the check takes, and how many device reads it makes.
double TimedCheck(IRFileSystem* fs, const std::string& root, SparseDevice* device,
                  uint64_t* reads) {
  FsHandle* handle = nullptr;
  if (fs->Open(&handle, root.c_str(), nullptr, 0, nullptr) != 0) exit(1);
  const uint64_t reads_before = device->reads;
  auto start = BenchClock::now();
  if (fs->Debug(handle, omfs_debug::kCheck, nullptr, nullptr) != 0) {
    fprintf(stderr, "check failed\n");
    exit(1);
  }
  const double ms = MsSince(start);
  fs->Close(handle, nullptr);
  *reads = device->reads - reads_before;
  return ms;
}

// A player-shaped volume (8 KiB blocks, 64 KiB units, two mirrors of 2 KiB metablocks) with a
// file of `gib` GiB whose remove loses its power once the directory and the first bitmap
// chunk are written: the file's data blocks stay marked in use with no node that holds them.
void CheckAfterInterruptedRemove(IRFileSystem* fs, uint32_t gib) {
  constexpr uint64_t kVolume = 40000000000ull / 8192 * 8192;
  constexpr uint32_t kPlayerBlock = 8192;
  auto* device = new SparseDevice("SPARSE", 0, (kStart + kVolume) / 512);
  OmfsFormatParameters parameters = {8 * kPlayerBlock, 2, 2048};
  char volume_name[96];
  FsFormatVolumeName(volume_name, sizeof volume_name, "SPARSE:0", kStart, kVolume);
  const std::string root = std::string("/dev/") + volume_name + "/";
  if (fs->Format(kPlayerBlock, "SPARSE:0", "OMFS", kStart, kVolume, &parameters,
                 sizeof parameters, "bench", "") != 0 ||
      fs->Mount("SPARSE:0", kStart, kVolume, 0, nullptr, 0) != 0) {
    fprintf(stderr, "cannot make the 40 GB volume\n");
    exit(1);
  }
  FsHandle* file = nullptr;
  if (fs->CreateFile(&file, (root + "track").c_str(), nullptr, 3, nullptr) != 0 ||
      fs->Pop(file, 0, 0, uint64_t{gib} << 30, ~0ull, 0, 1, nullptr) != 0) {
    fprintf(stderr, "cannot allocate the file\n");
    exit(1);
  }
  fs->Close(file, nullptr);
  fs->Flush(nullptr, nullptr);
  uint64_t clean_reads = 0, cut_reads = 0;
  const double clean_ms = TimedCheck(fs, root, device, &clean_reads);
  // The directory's two copies and the first sector of the bitmap reach the disk.
  device->sectors_left = 2 * 2048 / 512 + 1;
  fs->Remove((root + "track").c_str(), nullptr, nullptr);
  fs->Unmount("SPARSE:0", 0, 0);
  device->sectors_left = -1;
  if (fs->Mount("SPARSE:0", kStart, kVolume, 0, nullptr, 0) != 0) exit(1);
  const uint64_t used_before = UsedBlocks(fs, root);
  const double cut_ms = TimedCheck(fs, root, device, &cut_reads);
  const uint64_t leaked = used_before - UsedBlocks(fs, root);
  printf("check of a 40 GB volume\n");
  printf("  with one empty folder      %9.1f ms   %llu device reads\n", clean_ms,
         static_cast<unsigned long long>(clean_reads));
  printf("  after a cut remove of %u GiB %7.1f ms   %llu device reads   ratio %.2f   "
         "%llu leaked blocks freed\n",
         gib, cut_ms, static_cast<unsigned long long>(cut_reads),
         clean_ms > 0 ? cut_ms / clean_ms : 0.0, static_cast<unsigned long long>(leaked));
  fs->Unmount("SPARSE:0", 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t mib = 100, entries = 5000, check_gib = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--mib") == 0) mib = static_cast<uint32_t>(atoi(argv[i + 1]));
    if (strcmp(argv[i], "--entries") == 0) entries = static_cast<uint32_t>(atoi(argv[i + 1]));
    if (strcmp(argv[i], "--check-gib") == 0) check_gib = static_cast<uint32_t>(atoi(argv[i + 1]));
  }
  InstallPlatformFileSystem();
  IRPlatform* platform = CreatePlatform();
  auto* fs = static_cast<IRFileSystem*>(platform->GetInterface("IRFileSystem"));
  Throughput(fs, mib);
  Lookup(fs, entries);
  CheckAfterInterruptedRemove(fs, check_gib);
  DestroyPlatform();
  return 0;
}
