#include "sim/harddisk/player_files.h"

#include "devices/harddisk/device_file_system.h"
#include "devices/stream_copy.h"
#include "support/memory_stream.h"

namespace {

// A clock whose waits take no time.
class NoWaitClock : public Fx2Clock {
 public:
  int64_t NowMicroseconds() override { return now += 1000; }
  void SleepMilliseconds(uint32_t) override {}
  int64_t now = 0;
};

NoWaitClock g_clock;

// Runs `work` on the player's disk with the bus held.
template <typename Work>
Result WithDisk(const std::shared_ptr<SimHardDiskPlayer>& player, Work work) {
  SimHardDiskUsb usb(player);
  Result result = usb.Open();
  std::unique_ptr<PlayerDisk> disk;
  if (rc::Succeeded(result)) result = PlayerDisk::Create(&usb, &disk, &g_clock);
  if (rc::Succeeded(result)) result = disk->AcquireBus();
  if (rc::Failed(result)) return result;
  result = work(disk.get());
  const Result released = disk->ReleaseBus();
  return rc::Failed(result) ? result : released;
}

// Runs `work` on a mounted volume: the music volume (partition 2) unless told otherwise.
template <typename Work>
Result WithVolume(const std::shared_ptr<SimHardDiskPlayer>& player, Work work,
                       int partition = 2) {
  return WithDisk(player, [&](PlayerDisk* disk) {
    std::unique_ptr<FileSystem> volume;
    Result result = DeviceFileSystem::MountPartition(disk, partition, &volume);
    if (rc::Succeeded(result)) result = work(volume.get());
    if (volume) volume->Close();
    return result;
  });
}

}  // namespace

std::unique_ptr<ColumnTable> EmptyPlayerDatabase() {
  auto table = std::make_unique<ColumnTable>(8, 3);
  table->AddColumn("fid", kColumnTypeInt32, kColumnSorted);
  table->AddColumn("fid_generation", kColumnTypeInt32, 0);
  for (const char* text : {"type", "codec", "title", "artist", "source", "genre", "name"})
    table->AddColumn(text, kColumnTypeString, 0);
  for (const char* number :
       {"length", "duration", "bitrate", "samplerate", "tracknr", "ctime", "options"})
    table->AddColumn(number, kColumnTypeInt32, 0);
  table->AddColumn("playlist", kColumnTypeBlob, 0);
  table->AddColumn("profile", kColumnTypeBlob, 0);
  return table;
}

Result PreparePlayerDisk(const std::shared_ptr<SimHardDiskPlayer>& player, bool with_database) {
  Result result = WithDisk(player, [](PlayerDisk* disk) {
    return DeviceFileSystem::CheckPartitionLayout(disk, LayoutMode::kFresh);
  });
  if (rc::Succeeded(result)) {
    result = WithVolume(player, [](FileSystem* music) {
      Result made = rc::kOk;
      for (const char* folder : {"var", "fids0"}) {
        std::unique_ptr<FsDirHandle> handle;
        if (rc::Succeeded(made)) made = music->OpenDir(folder, kFsCreate, &handle);
      }
      return made;
    });
  }
  if (rc::Succeeded(result) && with_database) {
    MemoryStream bytes;
    result = EmptyPlayerDatabase()->Save(&bytes);
    if (rc::Succeeded(result)) result = WritePlayerFile(player, "var/smalldb", bytes.Bytes());
  }
  return result;
}

Result ReadPlayerFile(const std::shared_ptr<SimHardDiskPlayer>& player, const std::string& path,
                      std::string* content, int partition) {
  content->clear();
  return WithVolume(player, [&](FileSystem* music) {
    std::unique_ptr<SeekableStream> stream;
    Result result = OpenFileSystemStream(music, path, kFsStreamRead, &stream);
    char buffer[4096];
    while (result == rc::kOk) {
      uint32_t got = 0;
      result = stream->Read(buffer, sizeof buffer, &got);
      content->append(buffer, got);
      if (result == rc::kOk && got == 0) break;
    }
    return rc::Failed(result) ? result : rc::kOk;
  }, partition);
}

Result WritePlayerFile(const std::shared_ptr<SimHardDiskPlayer>& player, const std::string& path,
                       const std::string& content) {
  return WithVolume(player, [&](FileSystem* music) {
    std::unique_ptr<SeekableStream> stream;
    Result result = OpenFileSystemStream(
        music, path, kFsStreamWrite | kFsStreamCreate | kFsStreamReplace, &stream);
    if (rc::Succeeded(result))
      result = WriteAll(stream.get(), reinterpret_cast<const uint8_t*>(content.data()),
                        static_cast<uint32_t>(content.size()));
    return result;
  });
}

std::unique_ptr<ColumnTable> PlayerDatabase(const std::shared_ptr<SimHardDiskPlayer>& player) {
  std::string bytes;
  if (rc::Failed(ReadPlayerFile(player, "var/smalldb", &bytes))) return nullptr;
  MemoryStream stream(bytes);
  auto table = std::make_unique<ColumnTable>(8, 3);
  if (rc::Failed(table->Load(&stream, true))) return nullptr;
  return table;
}
