// The Channel of a mass-storage player. Each storage is one drive entry of the player's record
// (the storage index is the entry's position). Every operation that talks to the player makes
// a ScsiDevice for that one call on the first drive's letter; nothing of the SCSI side is kept.
// A failing operation is reported as rc::kPlayerGone when the drive no longer answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// scsi_device.h brings <windows.h>, whose DeleteFile macro channel.h removes: keep it first.
#include "devices/msc/scsi_device.h"
#include "devices/channel.h"
#include "devices/msc/msc_drive_record.h"
#include "devices/msc/msc_environment.h"

class MscChannel : public Channel {
 public:
  // `file_source` belongs to `owner` (the device), which the channel holds: a caller may
  // release the device before the channel, and the source, with its library file, is closed
  // only when the last of the two goes. Without an owner the source must outlive the channel.
  MscChannel(const MscDriveRecord& record, MscFileSource* file_source,
             const MscEnvironment& environment, RefCounted* owner = nullptr);
  ~MscChannel() override;

  int32_t GetState() override;
  Result EnumFiles(uint32_t storage, HolderVisitor* visitor) override;
  Result EnumContents(ContentsVisitor* visitor) override;
  Result EnumStorages(HolderVisitor* visitor) override;
  Result GetStorageInfo(uint32_t storage, PropertyHolder& info) override;
  Result GetDeviceInfo(PropertyHolder& info) override;
  Result DeleteFile(uint32_t storage, PropertyHolder& file) override;
  Result RewriteFileInfo(uint32_t storage, PropertySet& file) override;
  Result MetadataDiffers(PropertySet& old_file, PropertySet& new_file, bool* differs) override;
  Result SendFile(uint32_t storage, PropertySet& file, Stream* source,
                  ProgressSink* progress) override;
  Result SendFileByRequest136(uint32_t storage, PropertySet& file, Stream* source,
                              ProgressSink* progress) override;
  Result ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                     ProgressSink* progress) override;
  Result FormatStorage(uint32_t storage, ProgressSink* progress) override;
  Result UpgradeFirmware(SeekableStream* image, uint32_t flags, ProgressSink* progress) override;
  Result GetOwnerInfo(PropertyHolder& owner) override { return rc::kNotImplemented; }
  Result SetOwnerInfo(PropertySet& owner) override { return rc::kNotImplemented; }
  Result SetClock(uint32_t utc_seconds) override;
  Result SetDeviceTime(uint32_t local_seconds, uint32_t utc_seconds) override;
  Result GetDeviceID(uint32_t* product_id) override;
  Result CreateNewFile(uint32_t storage, OutputStream** stream) override;
  Result CreatePredictor(uint32_t storage, Predictor** predictor) override;
  Result EnumFids(RefPtr<FidList>* list) override;
  Result Commit(uint32_t flags) override;
  Result HoldStorage(bool hold) override { return rc::kOk; }
  Result GetButtonCounters(PropertyHolder& counters) override;
  Result ReservedOperation(uint32_t argument) override { return rc::kNotImplemented; }
  Result Request119(uint32_t value, uint8_t index) override;
  Result Request128(std::vector<uint32_t>* words) override;
  Result Request137(uint32_t value, uint32_t index) override;
  Result GetHardwareInfo(PropertyHolder& info) override;
  Result GetBatteryInfo(PropertyHolder& battery) override;
  Result Request117(uint32_t value, uint32_t a, uint32_t b) override;
  Result Request142(const std::string& text, uint32_t index) override;
  Result Request140(uint32_t* value) override;
  Result Request145(uint32_t value) override;
  // Resets the player's state: request 134, then ".PLAYING" and ".SETTINGS" are removed.
  Result ListStateFiles() override;
  Result ConvertFileInfo(PropertyHolder& file, const uint8_t* record,
                         uint32_t length) override {
    return rc::kNotImplemented;
  }
  // Only remembered; the drive is not touched.
  Result Suspend(bool suspend) override;
  Result Login(const std::string& password) override { return rc::kOk; }
  Result ReloadDatabase(Stream* sink) override { return rc::kNotImplemented; }
  Result Request146(uint16_t value, uint16_t index) override;

  bool suspended() const { return suspended_; }

 private:
  // Asks the state when `result` failed: rc::kPlayerGone when the drive is gone.
  Result UnlessGone(Result result);
  // Runs `operation` on a ScsiDevice made for this call, then UnlessGone.
  template <typename Operation>
  Result Forward(ScsiDevice::Entry entry, Operation operation);
  const MscDriveEntry* Entry(uint32_t storage) const;

  RefPtr<RefCounted> owner_;  // first: released after everything that uses the source
  MscDriveRecord record_;
  MscFileSource* file_source_;
  MscEnvironment environment_;
  bool suspended_ = false;
};
