#include "devices/flash/sardane_channel.h"

#include <ctime>
#include <vector>

#include "devices/device.h"
#include "devices/device_results.h"
#include "devices/local_time.h"
#include "devices/progress_sink.h"
#include "devices/flash/sardane_records.h"
#include "devices/flash/type_codes.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "media/property_set.h"
#include "support/debug_trace.h"
#include "support/stream.h"

namespace {

constexpr int kResumeTries = 15;
constexpr uint32_t kResumePauseMs = 200;

}  // namespace

SardaneChannel::SardaneChannel(UsbHardware* transport, uint32_t product_id, Clock* clock)
    : transport_(transport), product_id_(product_id), clock_(clock) {}

SardaneChannel::~SardaneChannel() {
  if (transport_ != nullptr) transport_->Close();
  delete transport_;
}

int32_t SardaneChannel::GetState() {
  ProtocolSession session(transport_, clock_);
  uint32_t word = 0;
  Result result = session.GetStatusWord(&word);
  if (result == rc::kPlayerGone) return kStateGone;
  if (rc::Failed(result)) return kStateError;
  return (word & 0xF00) == 0xF00 ? kStateNotUsable : kStateReady;
}

// --- storages and device information ---------------------------------------------------------

Result SardaneChannel::EnumStorages(HolderVisitor* visitor) {
  ProtocolSession session(transport_, clock_);
  Result result = session.Lock();
  if (rc::Failed(result)) return result;
  for (uint32_t storage = 0; storage < sardane::kMaxStorages; ++storage) {
    uint8_t block[qel::kStorageBlockSize];
    result = session.ReadStorageBlock(static_cast<uint16_t>(storage), block);
    // A block with status 0 follows the last storage.
    if (result == rc::kShortTransfer) return rc::kOk;
    if (rc::Failed(result)) return result;
    PropertyHolder holder;
    result = MakeStorageProps(holder, block, storage);
    if (rc::Failed(result)) return result;
    if (visitor != nullptr && !visitor->Visit(holder)) return 1;
  }
  TORVEX_TRACE("The player lists more than %u storages.\n", sardane::kMaxStorages);
  return rc::kBadData;
}

Result SardaneChannel::GetStorageInfo(uint32_t storage, PropertyHolder& info) {
  if (storage > 0xFFFF) return rc::kBadIndex;
  ProtocolSession session(transport_, clock_);
  Result result = session.Lock();
  uint8_t block[qel::kStorageBlockSize];
  if (rc::Succeeded(result)) result = session.ReadStorageBlock(static_cast<uint16_t>(storage), block);
  if (rc::Succeeded(result)) result = MakeStorageProps(info, block, storage);
  return result;
}

Result SardaneChannel::GetDeviceInfo(PropertyHolder& info) {
  ProtocolSession session(transport_, clock_);
  uint32_t word = 0;
  Result result = session.GetStatusWord(&word);
  if (rc::Failed(result)) return result;
  result = info.SetInt("firmware_flavour", static_cast<int32_t>(word >> 20 & 0xF));
  if (rc::Failed(result)) return result;

  std::string capabilities;
  if ((word & 0xF00) == 0x700) {
    // Recovery mode: the player only takes new firmware.
    sardane::AppendWord(&capabilities, "firmware");
    result = info.SetString("capabilities", capabilities);
    if (rc::Succeeded(result)) result = info.SetInt("recovery", 1);
    if (rc::Succeeded(result)) result = info.SetInt("device_id", static_cast<int32_t>(product_id_));
    if (rc::Succeeded(result)) result = SetIdentity(info);
    if (rc::Succeeded(result)) capabilities_ = capabilities;
    return result;
  }

  result = SetIdentity(info);
  if (rc::Succeeded(result)) result = session.Lock();
  uint8_t block[qel::kDeviceInfoSize];
  if (rc::Succeeded(result)) result = session.ReadDeviceInfoBlock(block);
  std::string codecs;
  if (rc::Succeeded(result)) result = GetSupportedFormats(&codecs);
  if (rc::Succeeded(result)) result = sardane::PutDeviceInfoKeys(info, block, product_id_);
  if (rc::Failed(result)) return result;

  AddCapabilities(&capabilities);
  sardane::AppendFlagCapabilities(sardane::GetLe32(block + 8), &capabilities);
  result = info.SetString("capabilities", capabilities);
  if (rc::Succeeded(result)) result = info.SetString("codecs", codecs);
  if (rc::Succeeded(result)) result = info.SetInt("max_playlist_name", 64);
  if (rc::Succeeded(result)) capabilities_ = capabilities;
  return result;
}

Result SardaneChannel::HasCapability(const std::string& word, bool* has) {
  if (capabilities_ == "NOT_CHECKED") {
    PropertyHolder info;
    Result result = GetDeviceInfo(info);
    if (rc::Failed(result)) return result;
  }
  *has = sardane::ListHasWord(capabilities_, word);
  return rc::kOk;
}

void SardaneChannel::AddCapabilities(std::string* list) {
  for (const char* word : {"format", "firmware", "device_prefs"}) sardane::AppendWord(list, word);
}

Result SardaneChannel::UsesUtf8(bool*) { return rc::kNotImplemented; }

Result SardaneChannel::GetSupportedFormats(std::string* codecs) {
  ProtocolSession session(transport_, clock_);
  std::string list = ";";
  for (uint32_t index = 0; index < sardane::kMaxFormats; ++index) {
    uint8_t block[qel::kFormatsBlockSize];
    Result result = session.ReadFormatsBlock(static_cast<uint16_t>(index), block);
    if (result != rc::kShortTransfer && rc::Failed(result)) return result;
    const uint32_t code = rc::Succeeded(result) ? sardane::GetLe32(block) : 0;
    if (code == 0) {
      *codecs = list;
      return rc::kOk;
    }
    std::string type, codec;
    DescribeTypeCode(code, &type, &codec);
    list += codec + ";";
  }
  TORVEX_TRACE("The player lists more than %u formats.\n", sardane::kMaxFormats);
  return rc::kBadData;
}

Result SardaneChannel::SetIdentity(PropertyHolder& info) {
  Result result = info.SetString("name", "Qel Player");
  return rc::Succeeded(result) ? info.SetString("manufacturer", "Qel") : result;
}

Result SardaneChannel::FillStorageProps(PropertyHolder& props, const uint8_t* block,
                                        uint32_t device_unit, uint32_t block_size) {
  return sardane::PutStorageKeys(props, block, device_unit, block_size);
}

// --- files -----------------------------------------------------------------------------------

Result SardaneChannel::DeleteFile(uint32_t storage, PropertyHolder& file) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  Result result = FindFileRecord(record.data(), file);
  return rc::Succeeded(result) ? DeleteFileRecord(storage, record.data()) : result;
}

Result SardaneChannel::DeleteFileRecord(uint32_t value, const uint8_t* record) {
  ProtocolSession session(transport_, clock_);
  Result result = session.Lock();
  return rc::Succeeded(result) ? session.DeleteRecord(static_cast<uint16_t>(value), record)
                               : result;
}

Result SardaneChannel::RewriteFileInfo(uint32_t storage, PropertySet& file) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  Result result = EncodeFileRecord(record.data(), file);
  return rc::Succeeded(result) ? WriteFileRecord(storage, record.data()) : result;
}

Result SardaneChannel::WriteFileRecord(uint32_t value, const uint8_t* record) {
  bool replace = false;
  Result result = HasCapability("file_replace", &replace);
  if (rc::Failed(result)) return result;
  if (!replace) return rc::kNotOffered;
  ProtocolSession session(transport_, clock_);
  result = session.Lock();
  if (rc::Succeeded(result)) result = session.BeginRecordWrite(static_cast<uint16_t>(value));
  if (rc::Succeeded(result)) result = session.SendInfo(record);
  return result;
}

Result SardaneChannel::MetadataDiffers(PropertySet&, PropertySet&, bool* differs) {
  if (differs != nullptr) *differs = false;
  return rc::kOk;
}

Result SardaneChannel::ReceiveFile(uint32_t storage, PropertySet& file, Stream* sink,
                                   ProgressSink* progress) {
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  Result result = EncodeFileRecord(record.data(), file);
  return rc::Succeeded(result) ? ReceiveFileByRecord(storage, record.data(), sink, progress)
                               : result;
}

Result SardaneChannel::ConvertFileInfo(PropertyHolder& file, const uint8_t* record,
                                       uint32_t length) {
  return DecodeFileRecord(file, record, length);
}

// --- storage and device ----------------------------------------------------------------------

Result SardaneChannel::FormatStorage(uint32_t storage, ProgressSink* progress) {
  if (storage > 0xFFFF) return rc::kBadIndex;
  ProtocolSession session(transport_, clock_);
  return session.FormatWithProgress(static_cast<uint16_t>(storage), progress);
}

Result SardaneChannel::UpgradeFirmware(SeekableStream* image, uint32_t, ProgressSink* progress) {
  if (image == nullptr) return rc::kInvalidArg;
  ProtocolSession session(transport_, clock_);
  return session.UpgradeFirmware(image, progress);
}

Result SardaneChannel::GetOwnerInfo(PropertyHolder& owner) {
  bool utf8 = false;
  Result result = UsesUtf8(&utf8);
  if (rc::Failed(result)) return result;
  ProtocolSession session(transport_, clock_);
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  result = session.Lock();
  if (rc::Succeeded(result)) result = session.ReadOwnerRecord(record.data());
  if (rc::Succeeded(result)) result = sardane::GetOwnerFields(owner, record.data(), utf8);
  return result;
}

Result SardaneChannel::SetOwnerInfo(PropertySet& owner) {
  bool utf8 = false;
  Result result = UsesUtf8(&utf8);
  if (rc::Failed(result)) return result;
  std::vector<uint8_t> record(qel::kRecordSize, 0);
  sardane::PutOwnerFields(record.data(), owner, utf8);
  ProtocolSession session(transport_, clock_);
  result = session.Lock();
  return rc::Succeeded(result) ? session.WriteOwnerRecord(record.data()) : result;
}

Result SardaneChannel::SetClock(uint32_t utc_seconds) {
  return SetDeviceTime(static_cast<uint32_t>(LocalDeviceSeconds(utc_seconds)), utc_seconds);
}

Result SardaneChannel::SetDeviceTime(uint32_t local_seconds, uint32_t) {
  ProtocolSession session(transport_, clock_);
  return session.SetTime(static_cast<int32_t>(local_seconds));
}

Result SardaneChannel::GetDeviceID(uint32_t* product_id) {
  if (product_id == nullptr) return rc::kInvalidArg;
  *product_id = product_id_;
  return rc::kOk;
}

Result SardaneChannel::Commit(uint32_t) { return rc::kOk; }

Result SardaneChannel::HoldStorage(bool) { return rc::kOk; }

Result SardaneChannel::Suspend(bool suspend) {
  if (suspend) return transport_->Close();
  Result result = transport_->Open();
  for (int tries = 1; result == rc::kPlayerBusy && tries < kResumeTries; ++tries) {
    clock_->SleepMs(kResumePauseMs);
    result = transport_->Open();
  }
  return result;
}

Result SardaneChannel::Login(const std::string&) { return rc::kOk; }

// --- player requests -------------------------------------------------------------------------

Result SardaneChannel::GetButtonCounters(PropertyHolder& counters) {
  ProtocolSession session(transport_, clock_);
  uint32_t value = 0;
  Result result = session.GetButtonCount(&value);
  return rc::Succeeded(result) ? counters.SetInt("buttons", static_cast<int32_t>(value)) : result;
}

Result SardaneChannel::GetBatteryInfo(PropertyHolder& battery) {
  ProtocolSession session(transport_, clock_);
  uint32_t value = 0;
  Result result = session.GetBatteryValue(&value);
  return rc::Succeeded(result) ? battery.SetInt("sardane_battery", static_cast<int32_t>(value))
                               : result;
}

Result SardaneChannel::ReservedOperation(uint32_t) { return rc::kNotImplemented; }

Result SardaneChannel::Request119(uint32_t value, uint8_t index) {
  ProtocolSession session(transport_, clock_);
  return session.Request119(static_cast<uint16_t>(value), index);
}

Result SardaneChannel::Request128(std::vector<uint32_t>* words) {
  if (words == nullptr) return rc::kInvalidArg;
  ProtocolSession session(transport_, clock_);
  uint8_t reply[qel::kRead128Size];
  Result result = session.Lock();
  if (rc::Succeeded(result)) result = session.Read128(reply, sizeof reply);
  if (rc::Failed(result)) return result;
  words->clear();
  for (uint32_t i = 0; i < sardane::kMaxRead128Words; ++i) {
    const uint32_t word = sardane::GetLe32(reply + 4 * i);
    if (word == 0) break;
    words->push_back(word);
  }
  return session.Unlock();
}

Result SardaneChannel::Request137(uint32_t, uint32_t) { return rc::kNotImplemented; }

Result SardaneChannel::GetHardwareInfo(PropertyHolder&) { return rc::kNotImplemented; }

Result SardaneChannel::Request142(const std::string& text, uint32_t index) {
  if (index > 0xFFFF) return rc::kInvalidArg;
  // The text goes out in a transfer, which a player takes only from the PC holding it.
  ProtocolSession session(transport_, clock_);
  Result result = session.Lock();
  return rc::Succeeded(result) ? session.SendString(text, static_cast<uint16_t>(index)) : result;
}

Result SardaneChannel::Request140(uint32_t* value) {
  if (value == nullptr) return rc::kInvalidArg;
  ProtocolSession session(transport_, clock_);
  return session.Request140(value);
}

Result SardaneChannel::Request145(uint32_t) { return rc::kNotImplemented; }

Result SardaneChannel::ListStateFiles() { return rc::kNotImplemented; }

Result SardaneChannel::ReloadDatabase(Stream*) { return rc::kNotImplemented; }

Result SardaneChannel::Request146(uint16_t, uint16_t) { return rc::kNotImplemented; }
