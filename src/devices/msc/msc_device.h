// The Device of a mass-storage player: one record of its identification and drives, and the
// player's file source, made on the first channel open and shared by every channel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/device.h"
#include "devices/msc/msc_drive_record.h"
#include "devices/msc/msc_environment.h"

class MscDevice : public Device {
 public:
  // `host_folder`: where the player's database and drive-letter marker are kept on the PC;
  // empty (as everywhere in this system today) keeps nothing on the PC.
  MscDevice(const MscDriveRecord& record, const MscEnvironment& environment,
            const std::string& host_folder = std::string());
  ~MscDevice() override;

  UsbHardware* GetHardware() override { return nullptr; }
  // kStateReady while the first drive answers its unit serial page, else kStateGone.
  int32_t GetState() override;
  // Makes the file source when there is none (one retry), then a new MscChannel.
  Result OpenChannel(Channel** channel) override;
  Result GetUniqueId(std::string* id) override;
  Result GetCanonicalName(std::string* name) override;
  Result GetProperties(RefPtr<PropertySet>* properties) override;
  Result GetProductId(uint32_t* product_id) override;

  const MscDriveRecord& record() const { return record_; }
  MscFileSource* file_source() const { return file_source_.get(); }

  // The host folder joined with the player's identity; empty without a host folder.
  std::string HostIdentityPath() const;

 private:
  Result EnsureFileSource();
  Result CreateFileSource();
  // Moves database paths of drives whose letters changed since the marker was written.
  void RefreshDriveInfo();
  void WriteDriveInfo();
  std::string DriveInfoKey(const MscDriveEntry& entry) const;

  MscDriveRecord record_;
  MscEnvironment environment_;
  std::string host_folder_;
  std::unique_ptr<MscFileSource> file_source_;
};

// Every player among the system's removable drives, as MscDevices.
Result EnumerateMscDevices(const MscEnvironment& environment,
                           std::vector<RefPtr<MscDevice>>* devices);
