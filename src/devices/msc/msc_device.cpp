#include "devices/msc/msc_device.h"

#include <map>
#include <new>

#include "devices/msc/file_source.h"
#include "devices/msc/msc_channel.h"
#include "devices/msc/scsi_device.h"
#include "media/property_set.h"
#include "support/config_store.h"
#include "support/file_helpers.h"
#include "support/file_stream.h"
#include "support/format_string.h"
#include "support/path_helpers.h"
#include "support/stream_io.h"

namespace {

constexpr char kDriveInfoSection[] = "DriveInfo";
constexpr uint32_t kDriveInfoMaxBytes = 100;

}  // namespace

MscDevice::MscDevice(const MscDriveRecord& record, const MscEnvironment& environment,
                     const std::string& host_folder)
    : record_(record), environment_(environment), host_folder_(host_folder) {}

MscDevice::~MscDevice() {
  file_source_.reset();
  if (!host_folder_.empty()) WriteDriveInfo();
}

int32_t MscDevice::GetState() {
  return PlayerAnswers(environment_.volume_io, record_.drive_letter) ? kStateReady : kStateGone;
}

Result MscDevice::OpenChannel(Channel** channel) {
  *channel = nullptr;
  const Result status = EnsureFileSource();
  if (rc::Failed(status)) return status;
  *channel = new (std::nothrow) MscChannel(record_, file_source_.get(), environment_, this);
  return *channel ? status : rc::kOutOfMemory;
}

Result MscDevice::GetUniqueId(std::string* id) {
  *id = "QelDeviceMsc:" + SerialText(record_);
  return rc::kOk;
}

Result MscDevice::GetCanonicalName(std::string* name) {
  *name = record_.product;
  return rc::kOk;
}

Result MscDevice::GetProperties(RefPtr<PropertySet>* properties) {
  return ConnectionProperties("msc", properties);
}

Result MscDevice::GetProductId(uint32_t* product_id) {
  *product_id = record_.product_id;
  return rc::kOk;
}

std::string MscDevice::HostIdentityPath() const {
  if (host_folder_.empty()) return std::string();
  return JoinPath(host_folder_,
                  FormatString("%s_%s_%04X_%08X%08X", record_.vendor.c_str(),
                               record_.product.c_str(), record_.product_id,
                               record_.serial_high(), record_.serial_low()));
}

Result MscDevice::EnsureFileSource() {
  if (file_source_) return rc::kOk;
  const Result status = CreateFileSource();
  return rc::Succeeded(status) ? status : CreateFileSource();
}

Result MscDevice::CreateFileSource() {
  if (record_.drive_entries.empty()) return rc::kFail;
  const std::string identity = HostIdentityPath();
  const std::string database = identity.empty() ? std::string() : identity + ".db";
  const uint32_t flags = identity.empty() ? MscFileSource::kFlagsWithoutHostDatabase
                                          : MscFileSource::kFlagsWithHostDatabase;
  const MscFileSourceFactory& factory =
      environment_.file_sources ? environment_.file_sources : FileSource::Create;
  std::unique_ptr<MscFileSource> source;
  Result status = factory(flags, database, DriveRoot(record_.drive_entries[0].drive_letter),
                          &source);
  if (rc::Succeeded(status) && !source) status = rc::kOutOfMemory;
  for (size_t i = 1; rc::Succeeded(status) && i < record_.drive_entries.size(); ++i) {
    status = source->AddRoot(DriveRoot(record_.drive_entries[i].drive_letter));
  }
  if (rc::Succeeded(status)) status = source->Open();
  if (rc::Failed(status)) {
    source.reset();
    if (!database.empty()) UnlinkFile(database);
    return status;
  }
  file_source_ = std::move(source);
  RefreshDriveInfo();
  return status;
}

std::string MscDevice::DriveInfoKey(const MscDriveEntry& entry) const {
  return PrintableUnitSerial(entry.unit_serial);
}

void MscDevice::RefreshDriveInfo() {
  if (host_folder_.empty()) return;
  ConfigStore config;
  std::unique_ptr<FileStream> file;
  if (rc::Succeeded(OpenFileStream((HostIdentityPath() + ".lsa").c_str(), OpenRead, &file))) {
    char text[kDriveInfoMaxBytes];
    uint32_t got = 0;
    ReadUpTo(file.get(), text, sizeof text, &got);
    config.Parse(std::string(text, got));
  }
  std::map<char, char> moved;  // old letter -> new letter
  for (const MscDriveEntry& entry : record_.drive_entries) {
    int32_t old_letter = 0;
    if (!config.GetInt(kDriveInfoSection, DriveInfoKey(entry), &old_letter)) old_letter = 0;
    if (static_cast<char>(old_letter) != entry.drive_letter) {
      moved[static_cast<char>(old_letter)] = entry.drive_letter;
    }
  }
  if (moved.empty()) return;
  file_source_->RewritePaths([&moved](std::string* path) {
    if (path->empty()) return false;
    const auto found = moved.find((*path)[0]);
    if (found == moved.end()) return false;
    (*path)[0] = found->second;
    return true;
  });
}

void MscDevice::WriteDriveInfo() {
  ConfigStore config;
  for (const MscDriveEntry& entry : record_.drive_entries) {
    config.SetInt(kDriveInfoSection, DriveInfoKey(entry),
                  static_cast<unsigned char>(entry.drive_letter));
  }
  const std::string path = HostIdentityPath() + ".lsa";
  MakeDirectories(DirectoryPart(path));
  std::string text;
  config.Write(&text);
  std::unique_ptr<FileStream> file;
  if (rc::Failed(OpenFileStream(path.c_str(), OpenWrite | OpenCreate | OpenTruncate, &file))) {
    return;
  }
  WriteExact(file.get(), text.data(), static_cast<uint32_t>(text.size()));
}

Result EnumerateMscDevices(const MscEnvironment& environment,
                           std::vector<RefPtr<MscDevice>>* devices) {
  devices->clear();
  std::unique_ptr<ScsiDevice> scsi;
  Result status = ScsiDevice::Create(ScsiDevice::Entry::kFull, environment.volume_io, &scsi);
  if (rc::Failed(status)) return status;
  std::vector<MscDriveRecord> records;
  status = scsi->EnumerateDrives(&records);
  if (rc::Failed(status)) return status;
  for (const MscDriveRecord& record : records) {
    RefPtr<MscDevice> device(new (std::nothrow) MscDevice(record, environment));
    if (!device) return rc::kOutOfMemory;
    devices->push_back(device);
  }
  return rc::kOk;
}
