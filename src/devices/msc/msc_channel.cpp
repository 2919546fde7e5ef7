#include "devices/msc/msc_channel.h"

#include <cstring>
#include <new>

#include "devices/device.h"
#include "devices/flash_predictor.h"
#include "devices/local_time.h"
#include "devices/msc/fat32_format.h"
#include "devices/msc/msc_fid_list.h"
#include "devices/msc/msc_file_writer.h"
#include "devices/msc/msc_results.h"
#include "devices/msc/player_eject.h"
#include "devices/tags_differ.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "support/file_helpers.h"
#include "support/format_string.h"
#include "support/stream.h"

namespace {

constexpr uint32_t kRecoveryUpgradeFlag = 0x10;
constexpr uint32_t kNoEjectFlags = 0x08 | 0x20;
constexpr uint32_t kMaxRequest117Index = 4000;

}  // namespace

MscChannel::MscChannel(const MscDriveRecord& record, MscFileSource* file_source,
                       const MscEnvironment& environment, RefCounted* owner)
    : owner_(owner), record_(record), file_source_(file_source), environment_(environment) {}

MscChannel::~MscChannel() = default;

const MscDriveEntry* MscChannel::Entry(uint32_t storage) const {
  const uint16_t index = static_cast<uint16_t>(storage);
  return index < record_.drive_entries.size() ? &record_.drive_entries[index] : nullptr;
}

Result MscChannel::UnlessGone(Result result) {
  if (rc::Succeeded(result) || result == rc::kPlayerGone) return result;
  return GetState() == kStateGone ? rc::kPlayerGone : result;
}

template <typename Operation>
Result MscChannel::Forward(ScsiDevice::Entry entry, Operation operation) {
  std::unique_ptr<ScsiDevice> scsi;
  Result status = ScsiDevice::Create(entry, environment_.volume_io, &scsi);
  if (rc::Succeeded(status)) status = operation(*scsi);
  scsi.reset();
  return UnlessGone(status);
}

int32_t MscChannel::GetState() {
  return PlayerAnswers(environment_.volume_io, record_.drive_letter) ? kStateReady : kStateGone;
}

// --- storages and files ----------------------------------------------------------------------

Result MscChannel::EnumStorages(HolderVisitor* visitor) {
  Result status = rc::kOk;
  for (uint32_t index = 0; index < record_.drive_entries.size(); ++index) {
    PropertyHolder storage;
    status = GetStorageInfo(index, storage);
    if (rc::Succeeded(status) && !visitor->Visit(storage)) status = 1;
  }
  return UnlessGone(status);
}

namespace {

// Hands on the tracks under one drive root.
class StorageTracks : public MscScanListener {
 public:
  StorageTracks(const std::string& root, HolderVisitor* visitor, MscChannel* channel)
      : root_(root), visitor_(visitor), channel_(channel) {}
  bool PlayerPresent() override { return channel_->GetState() != kStateGone; }
  bool OnTrack(PropertyHolder& track) override {
    const std::string path = track.GetString("path");
    if (path.size() < root_.size() || _strnicmp(path.c_str(), root_.c_str(), root_.size()) != 0) {
      return true;
    }
    return visitor_->Visit(track);
  }

 private:
  std::string root_;
  HolderVisitor* visitor_;
  MscChannel* channel_;
};

}  // namespace

Result MscChannel::EnumFiles(uint32_t storage, HolderVisitor* visitor) {
  const MscDriveEntry* entry = Entry(storage);
  if (entry == nullptr) return rc::kBadIndex;
  StorageTracks tracks(DriveRoot(entry->drive_letter), visitor, this);
  return UnlessGone(file_source_->Refresh(&tracks));
}

Result MscChannel::CreateNewFile(uint32_t storage, OutputStream** stream) {
  const MscDriveEntry* entry = Entry(storage);
  if (entry == nullptr) return rc::kBadIndex;
  std::unique_ptr<MscFileWriter> writer(new (std::nothrow) MscFileWriter(
      DriveRoot(entry->drive_letter), file_source_, owner_.Get()));
  if (!writer) return rc::kOutOfMemory;
  Result result = writer->Open();
  if (rc::Failed(result)) return UnlessGone(result);
  *stream = writer.release();
  return rc::kOk;
}

Result MscChannel::EnumFids(RefPtr<FidList>* list) {
  RefPtr<FidList> fresh(new (std::nothrow) MscFidList);
  if (!fresh) return rc::kOutOfMemory;
  *list = fresh;
  return rc::kOk;
}

Result MscChannel::MetadataDiffers(PropertySet& old_file, PropertySet& new_file,
                                   bool* differs) {
  return TagsDiffer(old_file, new_file, differs);
}

Result MscChannel::CreatePredictor(uint32_t storage, Predictor** predictor) {
  if (Entry(storage) == nullptr) return rc::kBadIndex;
  return CreateMscPredictor(predictor);
}

Result MscChannel::GetDeviceID(uint32_t* product_id) {
  *product_id = record_.product_id;
  return rc::kOk;
}

// --- storage and device ------------------------------------------------------------------------

Result MscChannel::FormatStorage(uint32_t storage, ProgressSink* progress) {
  const MscDriveEntry* entry = Entry(storage);
  if (entry == nullptr) return rc::kBadIndex;
  return UnlessGone(
      FormatVolumeFat32(DriveRoot(entry->drive_letter), progress, environment_.formatter));
}

Result MscChannel::UpgradeFirmware(SeekableStream* image, uint32_t flags,
                                   ProgressSink* progress) {
  uint32_t size = 0;
  Result status = image->GetSize(&size);
  if (rc::Failed(status)) return status;
  std::unique_ptr<ScsiDevice> scsi;
  status = ScsiDevice::Create(ScsiDevice::Entry::kFull, environment_.volume_io, &scsi);
  if (rc::Failed(status)) return status;
  if (record_.recovery_mode()) flags |= kRecoveryUpgradeFlag;
  status = scsi->UpgradeFirmware(record_.drive_letter, record_.drive_entries, flags, image,
                                 progress);
  scsi.reset();
  // The main firmware takes over only when the player restarts.
  if (rc::Succeeded(status) && (flags & kNoEjectFlags) == 0) {
    EjectPlayer(record_.vendor_id, record_.product_id, record_.serial_low(),
                record_.serial_high(), environment_.eject);
  }
  return status;
}

Result MscChannel::SetClock(uint32_t utc_seconds) {
  const uint32_t local = static_cast<uint32_t>(LocalDeviceSeconds(utc_seconds));
  return UnlessGone(SetDeviceTime(local, utc_seconds));
}

Result MscChannel::SetDeviceTime(uint32_t local_seconds, uint32_t utc_seconds) {
  return Forward(ScsiDevice::Entry::kFull, [&](ScsiDevice& scsi) {
    return scsi.SetTime(record_.drive_letter, local_seconds, utc_seconds);
  });
}

Result MscChannel::Commit(uint32_t) {
  return Forward(ScsiDevice::Entry::kFull, [&](ScsiDevice& scsi) {
    return scsi.FlushVolumes(record_.drive_letter, record_.drive_entries);
  });
}

// --- player requests ---------------------------------------------------------------------------

Result MscChannel::GetButtonCounters(PropertyHolder& counters) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.GetButtonCounters(record_.drive_letter, counters);
  });
}

Result MscChannel::Request119(uint32_t value, uint8_t index) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.Request119(record_.drive_letter, static_cast<uint16_t>(value), index);
  });
}

Result MscChannel::Request128(std::vector<uint32_t>* words) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.GetValueList(record_.drive_letter, words);
  });
}

Result MscChannel::Request137(uint32_t value, uint32_t index) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.Request137(record_.drive_letter, value, index);
  });
}

Result MscChannel::GetHardwareInfo(PropertyHolder& info) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.GetDiskIdentity(record_.drive_letter, info);
  });
}

Result MscChannel::GetBatteryInfo(PropertyHolder& battery) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.GetSensors(record_.drive_letter, battery);
  });
}

Result MscChannel::Request117(uint32_t value, uint32_t a, uint32_t b) {
  if (a > kMaxRequest117Index) return rc::kBadIndex;
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.Request117(record_.drive_letter, value, static_cast<uint16_t>(a),
                           static_cast<uint16_t>(b));
  });
}

Result MscChannel::Request142(const std::string& text, uint32_t index) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.SendText(record_.drive_letter, text, index);
  });
}

Result MscChannel::Request140(uint32_t* value) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.Request140Value(record_.drive_letter, value);
  });
}

Result MscChannel::Request145(uint32_t value) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.Request145(record_.drive_letter, value);
  });
}

Result MscChannel::Request146(uint16_t value, uint16_t index) {
  return Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.Request146(record_.drive_letter, value, index);
  });
}

Result MscChannel::ListStateFiles() {
  const Result status = Forward(ScsiDevice::Entry::kShort, [&](ScsiDevice& scsi) {
    return scsi.Request134(record_.drive_letter);
  });
  if (rc::Failed(status)) return status;
  if (!record_.drive_entries.empty()) {
    const std::string root = DriveRoot(record_.drive_entries[0].drive_letter);
    // Whether the files were there makes no difference.
    UnlinkFileForce(root + ".PLAYING");
    UnlinkFileForce(root + ".SETTINGS");
  }
  return status;
}

Result MscChannel::Suspend(bool suspend) {
  if (!(suspended_ && suspend)) suspended_ = suspend;
  return rc::kOk;
}
