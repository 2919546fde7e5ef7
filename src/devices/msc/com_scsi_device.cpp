#include "devices/msc/com_scsi_device.h"

#include <ole2.h>

#include <cstring>
#include <string>

#include "devices/msc/com_scsi_server.h"
#include "devices/msc/msc_results.h"
#include "devices/msc/scsi_command.h"
#include "devices/progress_sink.h"
#include "support/stream.h"
#include "support/stream_io.h"

namespace {

constexpr DWORD kServerContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER |
                                 CLSCTX_LOCAL_SERVER;
constexpr uint32_t kFirmwareBlockSize = 8192;

// One visit to the server: COM started on this thread, the server created and running, its
// player interface held; all undone in reverse when the visit ends.
class ServerVisit {
 public:
  explicit ServerVisit(const CLSID& server_class) {
    initialized_ = CoInitialize(nullptr) == S_OK;
    IUnknown* unknown = nullptr;
    status_ = CoCreateInstance(server_class, nullptr, kServerContext, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown));
    if (FAILED(status_)) return;
    if (unknown == nullptr) {
      status_ = E_POINTER;
      return;
    }
    status_ = OleRun(unknown);
    if (SUCCEEDED(status_)) {
      unknown->QueryInterface(kIidComScsiPlayer, reinterpret_cast<void**>(&player_));
      status_ = player_ != nullptr ? S_OK : E_POINTER;
    }
    unknown->Release();
  }
  ~ServerVisit() {
    if (player_ != nullptr) player_->Release();
    if (initialized_) CoUninitialize();
  }
  ServerVisit(const ServerVisit&) = delete;
  ServerVisit& operator=(const ServerVisit&) = delete;

  Result status() const { return status_; }
  IComScsiPlayer* player() const { return player_; }

 private:
  bool initialized_ = false;
  HRESULT status_ = E_FAIL;
  IComScsiPlayer* player_ = nullptr;
};

// A text field of the server's record, never read past its array.
template <size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

MscDriveRecord RecordOf(const ComScsiDriveInfo& info) {
  MscDriveRecord record;
  record.drive_letter = info.drive_letter;
  record.vendor = Field(info.vendor);
  record.product = Field(info.product);
  record.revision = Field(info.revision);
  record.serial = info.serial;
  record.product_id = info.product_id;
  record.capability_flags = info.capability_flags;
  record.firmware_version = info.firmware_version;
  record.boot_version = info.boot_version;
  MscDriveEntry entry;
  entry.drive_letter = info.drive_letter;
  entry.unit_serial = Field(info.unit_serial);
  entry.drive_id = info.drive_id;
  entry.drive_name = Field(info.drive_name);
  record.drive_entries.push_back(entry);
  return record;
}

}  // namespace

const CLSID& ComScsiServerClass() {
  static const CLSID kNone = {};
  return kNone;
}

Result ComScsiDevice::Initialize() { return ServerVisit(server_class_).status(); }

Result ComScsiDevice::Execute(HANDLE, ScsiCommand*) { return rc::kNotImplemented; }

Result ComScsiDevice::Open(char, HANDLE* handle) {
  *handle = INVALID_HANDLE_VALUE;
  return rc::kNotImplemented;
}

Result ComScsiDevice::Close(HANDLE) { return rc::kNotImplemented; }

Result ComScsiDevice::CheckUnitSerial(char drive) {
  ServerVisit visit(server_class_);
  if (FAILED(visit.status())) return visit.status();
  return visit.player()->CheckUnitSerial(static_cast<BYTE>(drive));
}

Result ComScsiDevice::SetTime(char drive, uint32_t first, uint32_t second) {
  ServerVisit visit(server_class_);
  if (FAILED(visit.status())) return visit.status();
  return visit.player()->SetTime(static_cast<BYTE>(drive), first, second);
}

Result ComScsiDevice::FlushVolumes(char drive, const std::vector<MscDriveEntry>& entries) {
  ServerVisit visit(server_class_);
  if (FAILED(visit.status())) return visit.status();
  std::string letters;
  for (const MscDriveEntry& entry : entries) letters += entry.drive_letter;
  return visit.player()->FlushVolumes(static_cast<BYTE>(drive),
                                      reinterpret_cast<const BYTE*>(letters.data()),
                                      static_cast<DWORD>(letters.size()));
}

Result ComScsiDevice::EnumerateDrives(std::vector<MscDriveRecord>* records) {
  records->clear();
  ServerVisit visit(server_class_);
  if (FAILED(visit.status())) return visit.status();
  IUnknown* unknown = nullptr;
  HRESULT status = visit.player()->EnumDrives(&unknown);
  if (FAILED(status)) return status;
  if (unknown == nullptr) return E_POINTER;
  IComScsiDriveEnum* drives = nullptr;
  unknown->QueryInterface(kIidComScsiDriveEnum, reinterpret_cast<void**>(&drives));
  unknown->Release();
  if (drives == nullptr) return E_POINTER;
  std::vector<MscDriveRecord> per_drive;
  for (;;) {
    ComScsiDriveInfo info = {};
    status = drives->Next(&info);
    if (status != S_OK) break;
    if (info.drive_letter < 'A' || info.drive_letter > 'Z') continue;  // not a drive
    per_drive.push_back(RecordOf(info));
  }
  drives->Release();
  if (FAILED(status)) return status;
  *records = MergeDriveRecords(per_drive);
  return rc::kOk;
}

Result ComScsiDevice::UpgradeFirmware(char drive, const std::vector<MscDriveEntry>&,
                                      uint32_t flags, SeekableStream* image,
                                      ProgressSink* progress) {
  uint32_t size = 0;
  Result status = image->GetSize(&size);
  if (rc::Failed(status)) return status;
  ServerVisit visit(server_class_);
  if (FAILED(visit.status())) return visit.status();
  std::string block(kFirmwareBlockSize, '\0');
  uint32_t sent = 0;
  for (DWORD number = 0;; ++number) {
    block.assign(kFirmwareBlockSize, '\0');
    uint32_t filled = 0;
    status = ReadUpTo(image, &block[0], kFirmwareBlockSize, &filled);
    if (rc::Failed(status) || filled == 0) break;
    status = visit.player()->WriteFirmwareBlock(
        static_cast<BYTE>(drive), flags, number, reinterpret_cast<const BYTE*>(block.data()),
        kFirmwareBlockSize);
    if (status == E_ACCESSDENIED) status = rc::kVolumeLockRejected;
    if (rc::Failed(status)) break;
    sent += filled;
    if (progress) progress->Report(sent, size);
  }
  return rc::Failed(status) ? status : rc::kOk;
}
