#include "devices/msc/win9x_scsi_device.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>

#include "devices/msc/aspi_library.h"
#include "devices/msc/msc_results.h"
#include "devices/msc/player_identification.h"
#include "devices/msc/scsi_command.h"
#include "devices/msc/volume_io_api.h"
#include "support/format_string.h"
#include "support/stream.h"

namespace {

constexpr DWORD kDosIoctl = 1;  // the vwin32 control code of DOS IOCTL calls
constexpr uint32_t kCarryFlag = 0x0001;
constexpr uint8_t kMaxLun = 7;
constexpr uint32_t kRecoveryUpgrade = 0x10;
constexpr DWORD kInstanceNameLength = 260;
constexpr DWORD kDriveLetterValueLength = 100;

#pragma pack(push, 1)
struct DosRegisters {  // 28 bytes in and out
  uint32_t ebx, edx, ecx, eax, edi, esi, flags;
};
#pragma pack(pop)
static_assert(sizeof(DosRegisters) == 28, "vwin32 register block");

std::atomic<size_t> abandoned_requests{0};

}  // namespace

// One request in flight: ASPI writes its block and buffer and signals its event until it
// completes, so the three live together and die together.
struct Win9xScsiDevice::AspiRequest {
  aspi::ExecuteRequest block = {};
  std::unique_ptr<uint8_t[]> buffer;
  HANDLE event = nullptr;

  ~AspiRequest() {
    if (event != nullptr) CloseHandle(event);
  }
  // ASPI changes the status byte from its own thread.
  uint8_t status() const { return *static_cast<volatile const uint8_t*>(&block.status); }
};

namespace {

HANDLE AdapterHandle(uint8_t host_adapter) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(host_adapter));
}

uint32_t DriveNumber(char letter) { return static_cast<uint32_t>(letter - '@'); }

std::string EnumeratorField(const std::string& text, size_t width) {
  std::string field = text.substr(0, width);
  std::replace(field.begin(), field.end(), ' ', '_');
  field.resize(width, '_');
  return field;
}

std::string UnitKey(uint64_t serial, const std::string& unit_serial) {
  return FormatString("%016llX/", static_cast<unsigned long long>(serial)) + unit_serial;
}

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[kInstanceNameLength + 1];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

// The drive letter in the instance's "CurrentDriveLetterAssignment", or 0.
char InstanceDriveLetter(HKEY root, const std::string& instance) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, instance.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  char value[kDriveLetterValueLength + 1] = {};
  DWORD length = kDriveLetterValueLength;
  DWORD type = 0;
  const LONG read = RegQueryValueExA(key, "CurrentDriveLetterAssignment", nullptr, &type,
                                     reinterpret_cast<BYTE*>(value), &length);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_SZ) return 0;
  // Anything but a drive letter gives the entry none.
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

}  // namespace

// --- drive letters from the registry ----------------------------------------------------

std::string ScsiEnumeratorKey(const MscDriveRecord& record) {
  return "Enum\\SCSI\\" + EnumeratorField(record.vendor, 8) +
         EnumeratorField(record.product, 16) + record.revision.substr(0, 1);
}

std::vector<std::string> MatchingInstances(const std::string& key,
                                           const std::vector<std::string>& subkeys,
                                           uint64_t serial) {
  const std::string serial_text = FormatString("%08X%08X", static_cast<unsigned>(serial >> 32),
                                               static_cast<unsigned>(serial));
  std::vector<std::string> names;
  for (const std::string& subkey : subkeys) {
    if (subkey.find(serial_text) != std::string::npos) names.push_back(key + "\\" + subkey);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void PairDriveLetters(const std::vector<char>& letters, MscDriveRecord* record) {
  std::vector<MscDriveEntry>& entries = record->drive_entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].drive_letter = i < letters.size() ? letters[i] : 0;
  }
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const MscDriveEntry& entry) { return entry.drive_letter == 0; }),
                entries.end());
  record->drive_letter = entries.empty() ? 0 : entries.front().drive_letter;
}

// --- the device ---------------------------------------------------------------------------

Win9xScsiDevice::Win9xScsiDevice(VolumeIoApi* api, const Win9xSettings& settings)
    : api_(api), settings_(settings) {}

Win9xScsiDevice::~Win9xScsiDevice() { Close(nullptr); }

size_t Win9xScsiDevice::AbandonedRequests() { return abandoned_requests.load(); }

Result Win9xScsiDevice::Initialize() {
  aspi_ = settings_.aspi != nullptr ? settings_.aspi : AspiLibrary::Process();
  return aspi_ != nullptr ? aspi_->status() : rc::kFail;
}

Result Win9xScsiDevice::Open(char drive, HANDLE* handle) {
  if (letters_.empty()) {
    std::vector<MscDriveRecord> records;
    EnumerateDrives(&records);
  }
  const auto unit = letters_.find(drive);
  if (unit == letters_.end()) return rc::FromWin32(ERROR_INVALID_DRIVE);
  current_lun_ = unit->second.lun;
  *handle = AdapterHandle(unit->second.host_adapter);
  return rc::kOk;
}

Result Win9xScsiDevice::Close(HANDLE) {
  if (vwin32_ != INVALID_HANDLE_VALUE) api_->CloseHandle(vwin32_);
  vwin32_ = INVALID_HANDLE_VALUE;
  return rc::kOk;
}

Result Win9xScsiDevice::Execute(HANDLE handle, ScsiCommand* command) {
  if (aspi_ == nullptr) return rc::kFail;
  if (aspi_->status() != rc::kOk) return aspi_->status();
  if (!command->valid() || command->cdb_length() > aspi::kCdbCapacity) return rc::kFail;

  std::unique_ptr<AspiRequest> request(new (std::nothrow) AspiRequest);
  if (!request) return rc::kOutOfMemory;
  const uint32_t length = command->data_length();
  request->buffer.reset(new (std::nothrow) uint8_t[length == 0 ? 1 : length]());
  request->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!request->buffer || request->event == nullptr) return rc::kOutOfMemory;

  aspi::ExecuteRequest& block = request->block;
  block.command = aspi::kCommandExecute;
  block.host_adapter = static_cast<uint8_t>(reinterpret_cast<uintptr_t>(handle));
  block.flags = aspi::kFlagEventNotify | (command->data_in() ? aspi::kFlagDataIn
                                                             : aspi::kFlagDataOut);
  block.lun = current_lun_;
  block.buffer_length = length;
  block.buffer = request->buffer.get();
  block.sense_length = aspi::kSenseCapacity;
  // The whole command block: the vendor request needs all 14 bytes.
  block.cdb_length = command->cdb_length();
  block.post_processing = request->event;
  std::memcpy(block.cdb, command->cdb(), command->cdb_length());
  if (!command->data_in()) std::memcpy(request->buffer.get(), command->data(), length);

  // Only a request that ASPI took as pending is in flight; any other answer is final.
  if (aspi_->Send(&block) != aspi::kStatusPending) {
    return request->status() == aspi::kStatusCompleted ? Finish(request.get(), command)
                                                        : rc::kFail;
  }
  WaitForSingleObject(request->event, settings_.request_wait_ms);
  if (request->status() == aspi::kStatusPending) {
    // Timed out: abort it and wait for ASPI to let go. Until it does, ASPI may still write
    // the block and the buffer and signal the event, so an unconfirmed abort keeps all three.
    aspi::AbortRequest abort = {};
    abort.command = aspi::kCommandAbort;
    abort.host_adapter = block.host_adapter;
    abort.request = &block;
    aspi_->Send(&abort);
    if (request->status() == aspi::kStatusPending) {
      WaitForSingleObject(request->event, settings_.abort_wait_ms);
    }
    if (request->status() == aspi::kStatusPending) {
      request.release();
      ++abandoned_requests;
      return rc::kFail;
    }
  }
  if (request->status() != aspi::kStatusCompleted) return rc::kFail;
  return Finish(request.get(), command);
}

Result Win9xScsiDevice::Finish(const AspiRequest* request, ScsiCommand* command) {
  std::memset(command->sense(), 0, ScsiCommand::kSenseLength);
  std::memcpy(command->sense(), request->block.sense, aspi::kSenseCapacity);
  const Result status = command->EvaluateSense();
  if (rc::Succeeded(status) && command->data_in()) {
    std::memcpy(command->data(), request->buffer.get(), command->data_length());
  }
  return status;
}

// --- DOS IOCTL through vwin32 ---------------------------------------------------------------

Result Win9xScsiDevice::DosIoctl(uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx) {
  if (vwin32_ == INVALID_HANDLE_VALUE) {
    vwin32_ = api_->CreateFileA("\\\\.\\vwin32", 0, 0, 0, FILE_FLAG_DELETE_ON_CLOSE);
    if (vwin32_ == INVALID_HANDLE_VALUE) {
      const Result error = rc::FromWin32(api_->GetLastError());
      return rc::Failed(error) ? error : rc::kFail;
    }
  }
  DosRegisters registers = {};
  registers.eax = eax;
  registers.ebx = ebx;
  registers.ecx = ecx;
  registers.edx = edx;
  registers.flags = kCarryFlag;  // a call that changes nothing has failed
  DWORD returned = 0;
  if (!api_->DeviceIoControl(vwin32_, kDosIoctl, &registers, sizeof registers, &registers,
                             sizeof registers, &returned)) {
    const Result error = rc::FromWin32(api_->GetLastError());
    return rc::Failed(error) ? error : rc::kFail;
  }
  if ((registers.flags & kCarryFlag) == 0) return rc::kOk;
  const Result error = rc::FromWin32(registers.eax);
  return rc::Failed(error) ? error : rc::kFail;
}

Result Win9xScsiDevice::LockCall(char drive, uint8_t minor_code) {
  Result status = rc::kFail;
  for (uint32_t category : {0x48u, 0x08u}) {
    status = DosIoctl(0x440D, DriveNumber(drive), category << 8 | minor_code, 0);
    if (rc::Succeeded(status)) break;
  }
  return status;
}

Result Win9xScsiDevice::LockVolume(char drive) {
  return rc::Succeeded(LockCall(drive, 0x4A)) ? rc::kOk : rc::kVolumeLockRejected;
}

Result Win9xScsiDevice::UnlockVolume(char drive) { return LockCall(drive, 0x6A); }

Result Win9xScsiDevice::FlushVolumes(char, const std::vector<MscDriveEntry>& entries) {
  for (const MscDriveEntry& entry : entries) {
    DosIoctl(0x710D, 0, 0, DriveNumber(entry.drive_letter));
  }
  return rc::kOk;
}

// --- firmware ---------------------------------------------------------------------------------

Result Win9xScsiDevice::UpgradeFirmware(char drive, const std::vector<MscDriveEntry>& entries,
                                        uint32_t flags, SeekableStream* image,
                                        ProgressSink* progress) {
  const bool recovery = (flags & kRecoveryUpgrade) != 0;
  if (!recovery) FlushVolumes(drive, entries);
  uint32_t size = 0;
  Result status = image->GetSize(&size);
  if (rc::Failed(status)) return status;
  HANDLE handle = nullptr;
  status = Open(drive, &handle);
  if (rc::Failed(status)) return status;

  std::vector<char> locked;
  if (!recovery) {
    for (const MscDriveEntry& entry : entries) {
      status = LockVolume(entry.drive_letter);
      if (rc::Failed(status)) break;
      locked.push_back(entry.drive_letter);
    }
  }
  if (rc::Succeeded(status)) status = SendFirmwareImage(handle, flags, image, size, progress);
  for (char letter : locked) UnlockVolume(letter);
  Close(handle);
  return rc::Failed(status) ? status : rc::kOk;
}

// --- the drive walk -----------------------------------------------------------------------------

bool Win9xScsiDevice::WalkAdapter(uint8_t host_adapter, std::map<uint64_t, MscDriveRecord>* found,
                                  std::map<std::string, Unit>* units) {
  const HANDLE handle = AdapterHandle(host_adapter);
  current_lun_ = 0;
  auto command = MakeInquiry();
  if (!command || rc::Failed(Execute(handle, command.get()))) return false;
  if (!inquiry::HasPlayerSignature(command->data())) return false;
  MscDriveRecord record;
  ApplyInquiryData(command->data(), &record);
  command = MakeInquiryPage(inquiry::kPlayerPage);
  if (!command || rc::Failed(Execute(handle, command.get()))) return false;
  if (!inquiry::HasPageMagic(command->data())) return false;
  ApplyPlayerPage(command->data(), &record);

  std::vector<MscDriveEntry> entries;
  for (uint8_t lun = 0; lun <= kMaxLun; ++lun) {
    current_lun_ = lun;
    command = MakeInquiryPage(inquiry::kUnitSerialPage);
    if (!command || rc::Failed(Execute(handle, command.get()))) break;
    MscDriveEntry entry;
    entry.unit_serial = inquiry::UnitSerial(command->data());
    if (entry.unit_serial.empty()) break;
    if (!record.recovery_mode()) {
      command = MakeInquiryPage(inquiry::kDrivePage);
      if (command && rc::Succeeded(Execute(handle, command.get())) &&
          inquiry::HasPageMagic(command->data())) {
        ApplyDrivePage(command->data(), &entry);
      }
    }
    (*units)[UnitKey(record.serial, entry.unit_serial)] = Unit{host_adapter, lun};
    entries.push_back(std::move(entry));
  }
  current_lun_ = 0;
  if (entries.empty()) return false;

  auto known = found->find(record.serial);
  if (known == found->end()) {
    record.drive_entries = std::move(entries);
    (*found)[record.serial] = std::move(record);
  } else {
    auto& into = known->second.drive_entries;
    into.insert(into.end(), entries.begin(), entries.end());
  }
  return true;
}

void Win9xScsiDevice::AssignDriveLetters(MscDriveRecord* record,
                                         const std::map<std::string, Unit>& units) {
  const std::string key_name = ScsiEnumeratorKey(*record);
  std::vector<char> letters;
  HKEY key = nullptr;
  if (RegOpenKeyExA(settings_.registry_root, key_name.c_str(), 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    const std::vector<std::string> subkeys = SubkeyNames(key);
    RegCloseKey(key);
    for (const std::string& instance : MatchingInstances(key_name, subkeys, record->serial)) {
      letters.push_back(InstanceDriveLetter(settings_.registry_root, instance));
    }
  }
  PairDriveLetters(letters, record);
  for (const MscDriveEntry& entry : record->drive_entries) {
    const auto unit = units.find(UnitKey(record->serial, entry.unit_serial));
    if (unit != units.end()) letters_[entry.drive_letter] = unit->second;
  }
}

Result Win9xScsiDevice::EnumerateDrives(std::vector<MscDriveRecord>* records) {
  records->clear();
  letters_.clear();
  if (aspi_ == nullptr) return rc::kFail;
  std::map<uint64_t, MscDriveRecord> found;
  std::map<std::string, Unit> units;
  const uint8_t count = aspi_->HostAdapterCount();
  for (uint8_t adapter = 0; adapter < count; ++adapter) WalkAdapter(adapter, &found, &units);
  // In ascending order of serial: the map's order.
  for (auto& serial_and_record : found) {
    MscDriveRecord& record = serial_and_record.second;
    AssignDriveLetters(&record, units);
    if (!record.drive_entries.empty()) records->push_back(std::move(record));
  }
  return rc::kOk;
}
