#include "devices/harddisk/tarnu_channel.h"

#include <iterator>
#include <new>

#include "db/column_table.h"
#include "devices/device.h"
#include "devices/device_results.h"
#include "devices/flash_predictor.h"
#include "devices/harddisk/device_file_system.h"
#include "devices/local_time.h"
#include "devices/tags_differ.h"
#include "fs/fs_codes.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "support/byte_order.h"
#include "support/debug_trace.h"
#include "support/file_helpers.h"
#include "support/token_set.h"

namespace {

constexpr uint32_t kMusicInfoSector = player_layout::kMusicStart / PlayerDisk::kSectorSize;
constexpr uint32_t kReopenAttempts = 15;
constexpr uint32_t kReopenWaitMs = 200;

// Settings files that survive a format of the music volume, in the order they are written back.
const char* const kKeptSettings[] = {"/var/config.ini", "/var/state", "/var/dynamic1",
                                     "/var/dynamic3"};
// Settings files that a settings reset removes, in this order.
const char* const kResetSettings[] = {"/var/config.ini", "/var/state",    "/var/dynamic0",
                                      "/var/dynamic1",   "/var/dynamic3", "/var/dynamic4"};

uint16_t StorageIndex(uint32_t storage) { return static_cast<uint16_t>(storage); }

}  // namespace

Result CreateTarnuChannel(UsbHardware* transport, uint32_t product_id, Channel** out) {
  *out = new (std::nothrow) TarnuChannel(transport, product_id);
  if (*out != nullptr) return rc::kOk;
  if (transport) transport->Close();
  delete transport;
  return rc::kOutOfMemory;
}

TarnuChannel::TarnuChannel(UsbHardware* transport, uint32_t product_id, Fx2Clock* clock)
    : product_id_(product_id), transport_(transport), clock_(clock ? clock : SystemFx2Clock()) {}

TarnuChannel::~TarnuChannel() {
  Close();
  if (transport_) transport_->Close();
}

// --- disk, bus and volumes -------------------------------------------------------------------

Result TarnuChannel::OpenDisk() {
  if (disk_) return rc::kOk;
  return PlayerDisk::Create(transport_.get(), &disk_, clock_);
}

Result TarnuChannel::HoldBus() {
  if (bus_held_) return rc::kOk;
  const Result result = disk_->AcquireBus();
  if (rc::Succeeded(result)) bus_held_ = true;
  return result;
}

Result TarnuChannel::AcquireBus() {
  Result result = OpenDisk();
  if (rc::Failed(result)) return result;
  if (bus_held_) {
    // The caller is about to write raw sectors: nothing may stay mounted. A failed save of the
    // database is reported by the close-time calls, not here.
    CloseFileSystems();
    return rc::kOk;
  }
  return HoldBus();
}

Result TarnuChannel::ReleaseBus() {
  Result result = OpenDisk();
  if (rc::Succeeded(result)) result = disk_->ReleaseBus();
  if (rc::Succeeded(result)) bus_held_ = false;
  return result;
}

Result TarnuChannel::MountOmfs() {
  if (music_volume_) return rc::kOk;
  Result result = OpenDisk();
  if (rc::Succeeded(result)) result = HoldBus();
  if (rc::Succeeded(result)) result = DeviceFileSystem::MountPartition(disk_.get(), 2, &music_volume_);
  return result;
}

Result TarnuChannel::MountSystem(std::unique_ptr<FileSystem>* system) {
  Result result = OpenDisk();
  if (rc::Succeeded(result)) result = HoldBus();
  if (rc::Failed(result)) return result;
  // The layout check may repair the music volume: it must not be mounted meanwhile.
  result = CloseFileSystems();
  if (rc::Failed(result)) return result;
  result = DeviceFileSystem::CheckPartitionLayout(disk_.get(), LayoutMode::kFormatSystem);
  if (result == tarnu_result::kNoPartitionLayout)
    result = DeviceFileSystem::CheckPartitionLayout(disk_.get(), LayoutMode::kFresh);
  if (rc::Failed(result)) return result;
  return DeviceFileSystem::MountPartition(disk_.get(), 1, system);
}

Result TarnuChannel::CloseFileSystems() {
  Result result = rc::kOk;
  if (database_dirty_) result = SaveDatabase(true);
  if (database_) {
    UnlinkFile(database_copy_path_);
    database_.reset();
    database_dirty_ = false;
  }
  music_volume_.reset();
  return result;
}

Result TarnuChannel::Close() {
  const Result saved = CloseFileSystems();
  if (bus_held_) {
    const Result released = disk_->ReleaseBus();
    if (rc::Failed(released))
      TORVEX_TRACE("Failed to release bus in Close: 0x%08x\n", static_cast<uint32_t>(released));
    bus_held_ = false;
  }
  disk_.reset();
  return rc::Failed(saved) ? saved : rc::kOk;
}

Result TarnuChannel::MusicInfoSector(uint8_t* sector, bool write) {
  return write ? disk_->WriteSectors(0, kMusicInfoSector, 1, sector)
               : disk_->ReadSectors(0, kMusicInfoSector, 1, sector);
}

// --- state and information -------------------------------------------------------------------

int32_t TarnuChannel::GetState() {
  Result result = OpenDisk();
  if (rc::Succeeded(result)) result = disk_->SendCommand4();
  if (rc::Succeeded(result)) return kStateReady;
  return result == rc::kPlayerGone ? kStateGone : kStateError;
}

Result TarnuChannel::EnumStorages(HolderVisitor* visitor) {
  PropertyHolder storage;
  Result result = GetStorageInfo(0, storage);
  if (rc::Succeeded(result) && !visitor->Visit(storage)) result = 1;
  return result;
}

Result TarnuChannel::GetStorageInfo(uint32_t storage, PropertyHolder& info) {
  const uint16_t index = StorageIndex(storage);
  if (index > 0) return rc::kBadIndex;
  Result result = OpenDisk();
  if (rc::Failed(result)) return result;
  RefPtr<PropertySet> set = info.GetSet();
  if (!set) return rc::kOutOfMemory;

  std::string text;
  result = disk_->ReadBlock13(&text);
  if (rc::Succeeded(result)) result = ParseSettingsText(text, '=', '\n', *set);
  if (rc::Succeeded(result)) {
    const uint32_t block_size = static_cast<uint32_t>(set->GetInt("block_size"));
    const char* const counts[] = {"size_in_blocks", "free_in_blocks", "used_in_blocks",
                                  "bad_in_blocks"};
    const char* const bytes[] = {"size_in_bytes", "free_in_bytes", "used_in_bytes",
                                 "bad_in_bytes"};
    for (int i = 0; i < 4; ++i) {
      const int64_t blocks = set->GetInt(counts[i]);
      info.SetInt64(bytes[i], blocks * static_cast<int64_t>(block_size));
    }
    if (block_size != 0) return result;
  }

  // The player gave no figures: take them from the volume, keeping the reserve back.
  result = MountOmfs();
  FsSpace space;
  if (rc::Succeeded(result)) result = music_volume_->GetSpace(&space);
  if (rc::Failed(result)) return result;
  const uint64_t block_size = space.block_size;
  const uint64_t reserve = block_size ? kReserveBytes / block_size : 0;
  const uint64_t total = space.total_blocks;
  const uint64_t free = space.free_blocks > reserve ? space.free_blocks - reserve : 0;
  const uint64_t used = total - free;
  info.SetInt("block_size", static_cast<int32_t>(block_size));
  info.SetInt("size_in_blocks", static_cast<int32_t>(total));
  info.SetInt("free_in_blocks", static_cast<int32_t>(free));
  info.SetInt("used_in_blocks", static_cast<int32_t>(used));
  info.SetInt("bad_in_blocks", 0);
  info.SetInt64("size_in_bytes", static_cast<int64_t>(total * block_size));
  info.SetInt64("free_in_bytes", static_cast<int64_t>(free * block_size));
  info.SetInt64("used_in_bytes", static_cast<int64_t>(used * block_size));
  info.SetInt64("bad_in_bytes", 0);
  info.SetInt("storage_index", index);
  info.SetInt("storage_type", 1);
  return info.SetString("name", kStorageName);
}

Result TarnuChannel::GetDeviceInfo(PropertyHolder& info) {
  Result result = OpenDisk();
  std::string text;
  if (rc::Succeeded(result)) result = disk_->ReadPlayerInfo(&text);
  if (rc::Failed(result)) return result;
  RefPtr<PropertySet> set = info.GetSet();
  if (!set) return rc::kOutOfMemory;
  result = ParseSettingsText(text, '=', '\n', *set);
  if (rc::Failed(result)) return result;

  std::string capabilities = set->GetString("capabilities");
  TokenSetNormalize(&capabilities);
  const int32_t recovery = set->GetInt("recovery");
  if (recovery != 0) TokenSetAdd(&capabilities, "firmware");
  set->SetString("capabilities", capabilities);

  uint32_t product_id = 0;
  const Result read_id = transport_->GetProductId(&product_id);
  if (rc::Succeeded(read_id))
    info.SetInt("device_id", static_cast<int32_t>(product_id));
  else
    result = read_id;

  if (set->FindColumn("device_generation") >= 0) {
    info.SetInt("device_generation_is_from_device", 1);
  } else if (recovery == 0) {
    // The database file's time stamp stands for the generation of the player's contents.
    Result step = EnsureDatabase();
    std::unique_ptr<FsNodeHandle> node;
    FsStat stat;
    if (rc::Succeeded(step)) step = music_volume_->Open("var/smalldb", &node);
    if (rc::Succeeded(step)) step = node->Stat(&stat);
    if (rc::Succeeded(step)) step = info.SetInt("device_generation_is_from_fs", 1);
    if (rc::Succeeded(step)) step = info.SetInt("device_generation", static_cast<int32_t>(stat.mtime));
    if (rc::Failed(step)) result = step;
  }

  if (rc::Succeeded(result) && set->GetString("serial_raw").empty())
    set->SetString("serial_raw", set->GetString("serial"));
  return result;
}

Result TarnuChannel::GetButtonCounters(PropertyHolder& counters) {
  Result result = OpenDisk();
  uint32_t buttons = 0, clockwise = 0, anticlockwise = 0;
  if (rc::Succeeded(result)) result = disk_->ReadButtonCounters(&buttons, &clockwise, &anticlockwise);
  if (rc::Failed(result)) return result;
  counters.SetInt("buttons", static_cast<int32_t>(buttons));
  counters.SetInt("rotary_clockwise", static_cast<int32_t>(clockwise));
  counters.SetInt("rotary_anticlockwise", static_cast<int32_t>(anticlockwise));
  return result;
}

Result TarnuChannel::GetBatteryInfo(PropertyHolder& battery) {
  Result result = OpenDisk();
  std::string text;
  if (rc::Succeeded(result)) result = disk_->ReadBlock8(&text);
  if (rc::Failed(result)) return result;
  RefPtr<PropertySet> set = battery.GetSet();
  return set ? ParseSettingsText(text, '=', '\n', *set) : rc::kOutOfMemory;
}

Result TarnuChannel::Request140(uint32_t* value) {
  if (rc::Failed(MountOmfs())) return 1;
  uint8_t sector[PlayerDisk::kSectorSize];
  const Result result = MusicInfoSector(sector, false);
  if (rc::Succeeded(result)) *value = bytes::Le32(sector);
  return result;
}

// --- forwarded player commands -----------------------------------------------------------------

Result TarnuChannel::SetClock(uint32_t utc_seconds) {
  return SetDeviceTime(static_cast<uint32_t>(LocalDeviceSeconds(utc_seconds)), utc_seconds);
}

Result TarnuChannel::SetDeviceTime(uint32_t local_seconds, uint32_t utc_seconds) {
  Result result = OpenDisk();
  return rc::Succeeded(result) ? disk_->SendCommand7(local_seconds, utc_seconds) : result;
}

Result TarnuChannel::Request119(uint32_t value, uint8_t index) {
  Result result = OpenDisk();
  return rc::Succeeded(result) ? disk_->SendCommand11(static_cast<uint16_t>(value), index)
                               : result;
}

Result TarnuChannel::Request117(uint32_t value, uint32_t a, uint32_t b) {
  Result result = OpenDisk();
  return rc::Succeeded(result) ? disk_->SendCommand10(value, a, b) : result;
}

Result TarnuChannel::Request142(const std::string& text, uint32_t index) {
  Result result = OpenDisk();
  return rc::Succeeded(result) ? disk_->SendCommand9(static_cast<uint8_t>(index), text) : result;
}

Result TarnuChannel::GetDeviceID(uint32_t* product_id) {
  *product_id = product_id_;
  return rc::kOk;
}

Result TarnuChannel::MetadataDiffers(PropertySet& old_file, PropertySet& new_file,
                                     bool* differs) {
  return TagsDiffer(old_file, new_file, differs);
}

Result TarnuChannel::CreatePredictor(uint32_t storage, Predictor** predictor) {
  if (StorageIndex(storage) != 0) return rc::kFail;
  return CreateOmfsPredictor(predictor);
}

Result TarnuChannel::Commit(uint32_t keep_open) { return SaveDatabase(keep_open != 0); }

Result TarnuChannel::HoldStorage(bool hold) { return hold ? MountOmfs() : Close(); }

Result TarnuChannel::CloseAndRebuildDatabase() {
  Close();
  Result result = OpenDisk();
  return rc::Succeeded(result) ? disk_->RequestDatabaseRebuild() : result;
}

Result TarnuChannel::Suspend(bool suspend) {
  if (suspend) {
    const Result closed = Close();
    const Result result = transport_->Close();
    return rc::Failed(closed) ? closed : result;
  }
  Result result = transport_->Open();
  for (uint32_t attempt = 1; result == rc::kPlayerBusy && attempt < kReopenAttempts; ++attempt) {
    clock_->SleepMilliseconds(kReopenWaitMs);
    result = transport_->Open();
  }
  return result;
}

// --- settings files ----------------------------------------------------------------------------

std::string TarnuChannel::ReadDeviceFile(const std::string& path) {
  std::unique_ptr<SeekableStream> stream;
  std::string content;
  if (rc::Failed(OpenFileSystemStream(music_volume_.get(), path, kFsStreamRead, &stream)))
    return content;
  char buffer[4096];
  for (;;) {
    uint32_t got = 0;
    const Result result = stream->Read(buffer, sizeof buffer, &got);
    if (rc::Failed(result)) return std::string();
    content.append(buffer, got);
    if (result != rc::kOk || got == 0) return content;
  }
}

void TarnuChannel::WriteDeviceFile(const std::string& content, const std::string& path) {
  if (content.empty()) return;
  std::unique_ptr<SeekableStream> stream;
  if (rc::Failed(OpenFileSystemStream(music_volume_.get(), path,
                                      kFsStreamWrite | kFsStreamCreate | kFsStreamReplace,
                                      &stream)))
    return;
  WriteAll(stream.get(), reinterpret_cast<const uint8_t*>(content.data()),
           static_cast<uint32_t>(content.size()));
}

Result TarnuChannel::FormatStorage(uint32_t storage, ProgressSink*) {
  if (StorageIndex(storage) > 0) return rc::kFail;
  std::string kept[std::size(kKeptSettings)];
  if (rc::Succeeded(MountOmfs())) {
    for (size_t i = 0; i < std::size(kKeptSettings); ++i) kept[i] = ReadDeviceFile(kKeptSettings[i]);
  }
  Result result = AcquireBus();
  if (rc::Succeeded(result))
    result = DeviceFileSystem::CheckPartitionLayout(disk_.get(), LayoutMode::kFormatMusic);
  if (rc::Failed(result)) return result;
  if (rc::Failed(MountOmfs())) return result;
  std::unique_ptr<FsDirHandle> var;
  music_volume_->OpenDir("var", kFsCreate, &var);
  var.reset();
  for (size_t i = 0; i < std::size(kKeptSettings); ++i) WriteDeviceFile(kept[i], kKeptSettings[i]);
  return result;
}

Result TarnuChannel::ResetSettings() {
  Result result = MountOmfs();
  if (rc::Failed(result)) return result;
  for (const char* path : kResetSettings) {
    const Result removed = music_volume_->Remove(path);
    if (rc::Failed(removed)) result = removed;
  }
  // The volume answers a missing file with its own not-found code.
  if (result == rc::kNotFound || result == fsrc::kNotFound) result = 1;
  uint8_t sector[PlayerDisk::kSectorSize];
  if (rc::Succeeded(MusicInfoSector(sector, false)) && bytes::Le32(sector) != 0) {
    bytes::PutLe32(sector, 0);
    MusicInfoSector(sector, true);
  }
  return result;
}
