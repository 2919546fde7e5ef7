#include "devices/harddisk/tarnu_channel.h"

#include <new>

#include "db/column_table.h"
#include "devices/device.h"
#include "devices/device_results.h"
#include "devices/flash_predictor.h"
#include "devices/harddisk/device_file_system.h"
#include "devices/local_time.h"
#include "devices/tags_differ.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "support/debug_trace.h"
#include "support/file_helpers.h"

namespace {

constexpr uint32_t kMusicInfoSector = player_layout::kMusicStart / PlayerDisk::kSectorSize;
constexpr uint32_t kReopenAttempts = 15;
constexpr uint32_t kReopenWaitMs = 200;

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
