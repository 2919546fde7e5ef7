#include "devices/msc/scsi_device.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "devices/msc/com_scsi_device.h"
#include "devices/msc/nt_scsi_device.h"
#include "devices/msc/scsi_command.h"
#include "devices/msc/volume_io_api.h"
#include "devices/msc/win9x_scsi_device.h"
#include "devices/progress_sink.h"
#include "media/property_holder.h"
#include "support/byte_order.h"
#include "support/stream.h"
#include "support/stream_io.h"
#include "support/text_convert.h"

namespace {

constexpr uint32_t kTextBlockLength = 96;

}  // namespace

Result ScsiDevice::Create(Entry entry, VolumeIoApi* api, std::unique_ptr<ScsiDevice>* out) {
  out->reset();
  if (api == nullptr) api = VolumeIoApi::System();
  std::unique_ptr<ScsiDevice> device;
  if (api->GetVersion().platform_id == VER_PLATFORM_WIN32_NT) {
    // The COM back end only when a server is configured (never in this system).
    const CLSID& server_class = ComScsiServerClass();
    if (entry == Entry::kFull && server_class != CLSID{}) {
      std::unique_ptr<ScsiDevice> com(new (std::nothrow) ComScsiDevice(server_class));
      if (com && rc::Succeeded(com->Initialize())) {
        *out = std::move(com);
        return rc::kOk;
      }
    }
    device.reset(new (std::nothrow) NtScsiDevice(api));
  } else {
    device.reset(new (std::nothrow) Win9xScsiDevice(api));
  }
  if (!device) return rc::kOutOfMemory;
  const Result status = device->Initialize();
  if (rc::Failed(status)) return status;
  *out = std::move(device);
  return rc::kOk;
}

bool PlayerAnswers(VolumeIoApi* api, char drive) {
  std::unique_ptr<ScsiDevice> scsi;
  if (rc::Failed(ScsiDevice::Create(ScsiDevice::Entry::kFull, api, &scsi))) return false;
  return rc::Succeeded(scsi->CheckUnitSerial(drive));
}

Result ScsiDevice::QueryPlayer(char, MscDriveRecord*) { return rc::kNotImplemented; }

Result ScsiDevice::Run(char drive, ScsiCommand* command) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  const Result opened = Open(drive, &handle);
  if (rc::Failed(opened)) return opened;
  const Result status = Execute(handle, command);
  Close(handle);
  return status;
}

Result ScsiDevice::CheckUnitSerial(char drive) {
  auto command = MakeInquiryPage(inquiry::kUnitSerialPage);
  if (!command) return rc::kOutOfMemory;
  const Result status = Run(drive, command.get());
  if (rc::Failed(status)) return status;
  return inquiry::UnitSerial(command->data()).empty() ? rc::kFail : rc::kOk;
}

Result ScsiDevice::SetTime(char drive, uint32_t first, uint32_t second) {
  auto command = MakeVendorTime(first, second);
  return command ? Run(drive, command.get()) : rc::kOutOfMemory;
}

Result ScsiDevice::RunRequest(char drive, uint32_t request, uint32_t value, uint32_t index,
                              uint8_t reply_length, uint8_t* reply) {
  auto command = MakeVendorRequest(request, value, index, reply_length);
  if (!command) return rc::kOutOfMemory;
  const Result status = Run(drive, command.get());
  if (rc::Succeeded(status) && reply_length != 0) {
    std::memcpy(reply, command->data(), reply_length);
  }
  return status;
}

Result ScsiDevice::Request119(char drive, uint16_t value, uint8_t index) {
  return RunRequest(drive, 119, value, index, 0, nullptr);
}

Result ScsiDevice::Request117(char drive, uint32_t value, uint16_t a, uint16_t b) {
  return RunRequest(drive, 117, value, uint32_t{b} << 14 | a, 0, nullptr);
}

Result ScsiDevice::SendText(char drive, const std::string& text, uint32_t index) {
  const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(text.size()),
                                             kTextBlockLength);
  auto command = MakeVendorRequest(142, length, index, 0, kTextBlockLength);
  if (!command) return rc::kOutOfMemory;
  std::memcpy(command->data(), text.data(), length);
  return Run(drive, command.get());
}

Result ScsiDevice::Request145(char drive, uint32_t value) {
  return RunRequest(drive, 145, value, 0, 0, nullptr);
}

Result ScsiDevice::Request137(char drive, uint32_t value, uint32_t index) {
  return RunRequest(drive, 137, value, index, 0, nullptr);
}

Result ScsiDevice::Request146(char drive, uint32_t value, uint32_t index) {
  return RunRequest(drive, 146, value, index, 0, nullptr);
}

Result ScsiDevice::Request134(char drive) { return RunRequest(drive, 134, 0, 0, 0, nullptr); }

Result ScsiDevice::SendFirmwareImage(HANDLE handle, uint32_t flags, SeekableStream* image,
                                     uint32_t size, ProgressSink* progress) {
  const uint8_t buffer_id = (flags & 0x08) ? 1 : (flags & 0x20) ? 2 : 0;
  auto command = MakeFirmwareBlock(buffer_id);
  if (!command) return rc::kOutOfMemory;
  uint32_t sent = 0;
  for (uint32_t block = 0;; ++block) {
    // A partly filled block goes out padded with zeros.
    std::memset(command->data(), 0, command->data_length());
    uint32_t filled = 0;
    Result status = ReadUpTo(image, command->data(), command->data_length(), &filled);
    if (rc::Failed(status)) return status;
    if (filled == 0) return rc::kOk;
    SetFirmwareBlockNumber(command.get(), block);
    status = Execute(handle, command.get());
    if (rc::Failed(status)) return status;
    sent += filled;
    if (progress) progress->Report(sent, size);
  }
}

template <uint8_t Length, typename Decode>
Result ScsiDevice::RunQuery(char drive, uint32_t request, Decode decode) {
  uint8_t reply[Length];
  const Result status = RunRequest(drive, request, 0, 0, Length, reply);
  if (rc::Succeeded(status)) decode(reply);
  return status;
}

Result ScsiDevice::GetDiskIdentity(char drive, PropertyHolder& info) {
  return RunQuery<124>(drive, 138, [&](const uint8_t* reply) { DecodeDiskIdentity(reply, info); });
}

Result ScsiDevice::GetButtonCounters(char drive, PropertyHolder& counters) {
  return RunQuery<12>(drive, 144,
                      [&](const uint8_t* reply) { DecodeButtonCounters(reply, counters); });
}

Result ScsiDevice::GetValueList(char drive, std::vector<uint32_t>* values) {
  values->clear();
  return RunQuery<16>(drive, 128, [&](const uint8_t* reply) { DecodeValueList(reply, values); });
}

Result ScsiDevice::GetSensors(char drive, PropertyHolder& sensors) {
  return RunQuery<32>(drive, 147, [&](const uint8_t* reply) { DecodeSensors(reply, sensors); });
}

Result ScsiDevice::Request140Value(char drive, uint32_t* value) {
  return RunQuery<4>(drive, 140, [&](const uint8_t* reply) { *value = bytes::Be32(reply) / 60; });
}

// --- reply decoders -------------------------------------------------------------------------

namespace {

// An ATA text field: its 16-bit words hold their two characters swapped.
std::string AtaText(const uint8_t* block, size_t offset, size_t length) {
  std::string text;
  for (size_t i = 0; i + 1 < length; i += 2) {
    text += static_cast<char>(block[offset + i + 1]);
    text += static_cast<char>(block[offset + i]);
  }
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return Latin1ToUtf8(text);
}

}  // namespace

void DecodeDiskIdentity(const uint8_t* reply, PropertyHolder& info) {
  info.Clear();
  info.SetString("serial", AtaText(reply, 20, 20));
  info.SetString("model", AtaText(reply, 54, 40));
  info.SetString("firmware_version", AtaText(reply, 46, 8));
  info.SetInt("sector_count", static_cast<int32_t>(bytes::Le32(reply + 120)));
}

void DecodeButtonCounters(const uint8_t* reply, PropertyHolder& counters) {
  counters.SetInt("buttons", static_cast<int32_t>(bytes::Be32(reply)));
  counters.SetInt("rotary_clockwise", static_cast<int32_t>(bytes::Be32(reply + 4)));
  counters.SetInt("rotary_anticlockwise", static_cast<int32_t>(bytes::Be32(reply + 8)));
}

void DecodeValueList(const uint8_t* reply, std::vector<uint32_t>* values) {
  values->clear();
  for (int i = 0; i < 4; ++i) {
    const uint32_t word = bytes::Be32(reply + 4 * i);
    if (word == 0) break;
    values->push_back(word);
  }
}

void DecodeSensors(const uint8_t* reply, PropertyHolder& sensors) {
  static const char* const kNames[] = {"temperature", "voltage", "instantaneous_current"};
  for (int bit = 0; bit < 3; ++bit) {
    if (reply[3] & (1 << bit)) {
      sensors.SetInt(kNames[bit], static_cast<int32_t>(bytes::Be32(reply + 4 + 4 * bit)));
    }
  }
}
