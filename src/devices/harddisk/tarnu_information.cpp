// What the hard-disk player tells about itself and its storage: settings texts from its FX2
// commands, with the music volume's own figures as the fallback.
#include <memory>

#include "devices/harddisk/device_file_system.h"
#include "devices/harddisk/tarnu_channel.h"
#include "media/property_holder.h"
#include "support/byte_order.h"
#include "support/token_set.h"

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
