#include "devices/harddisk/player_disk.h"

#include <cstring>
#include <new>
#include <vector>

#include "devices/usb/usb_transfers.h"

namespace {

constexpr uint32_t kWrapperSize = 31;
constexpr uint32_t kStatusSize = 13;
constexpr uint8_t kDataIn = 0x80;

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint32_t kInquiryOffered = 512;

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe32(const uint8_t* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void PutBe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Length of the longest prefix of at most `limit` bytes that ends on a UTF-8 character boundary.
size_t Utf8Prefix(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t end = limit;
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

}  // namespace

Result PlayerDisk::Create(UsbHardware* transport, std::unique_ptr<PlayerDisk>* disk,
                          Fx2Clock* clock) {
  std::unique_ptr<PlayerDisk> made(new (std::nothrow) PlayerDisk(transport));
  if (!made) return rc::kOutOfMemory;
  Result result = Fx2IoHost::Create(transport, &made->fx2_, clock);
  if (rc::Failed(result)) return result;
  *disk = std::move(made);
  return rc::kOk;
}

Result PlayerDisk::ReadDataIn(uint8_t* data, uint32_t length, uint32_t* got,
                              bool* status_instead) {
  // The transfer ends at its length or at a short packet (a call that does not end on a
  // packet boundary), as a bulk-only data phase does.
  *got = 0;
  *status_instead = false;
  while (*got < length) {
    uint32_t done = 0;
    Result result = transport_->Read(data + *got, length - *got, &done, kTimeoutMs);
    if (rc::Failed(result)) return result;
    if (*got == 0 && done == kStatusSize) {
      *status_instead = true;
      return rc::kOk;
    }
    *got += done;
    if (done == 0 || done % kSectorSize != 0) break;
  }
  return rc::kOk;
}

Result PlayerDisk::BulkCommand(const uint8_t* block, uint8_t block_length, DataPhase phase,
                               void* data, uint32_t length, bool short_ok) {
  const uint32_t tag = ++tag_counter_;
  uint8_t wrapper[kWrapperSize] = {'U', 'S', 'B', 'C'};
  PutLe32(wrapper + 4, tag);
  PutLe32(wrapper + 8, length);
  wrapper[12] = phase == DataPhase::kIn ? kDataIn : 0;
  wrapper[14] = block_length;
  std::memcpy(wrapper + 15, block, block_length);
  Result result = WriteFully(*transport_, wrapper, kWrapperSize, kTimeoutMs);
  if (rc::Failed(result)) return result;

  uint8_t status[kStatusSize] = {};
  Result data_result = rc::kOk;
  if (length != 0 && phase == DataPhase::kIn) {
    uint32_t got = 0;
    bool status_instead = false;
    result = ReadDataIn(static_cast<uint8_t*>(data), length, &got, &status_instead);
    if (rc::Failed(result)) return result;
    if (status_instead) {
      std::memcpy(status, data, kStatusSize);
      return rc::kFail;
    }
    if (got < length && !short_ok) data_result = rc::kShortTransfer;
  } else if (length != 0 && phase == DataPhase::kOut) {
    result = WriteFully(*transport_, data, length, kTimeoutMs);
    if (rc::Failed(result)) return result;
  }

  result = ReadFully(*transport_, status, kStatusSize, kTimeoutMs);
  if (rc::Failed(result)) return result;
  if (std::memcmp(status, "USBS", 4) != 0 || GetLe32(status + 4) != tag || status[12] != 0)
    return rc::kFail;
  return data_result;
}

Result PlayerDisk::Identify() {
  Result result = transport_->GetProductId(&product_id_);
  if (rc::Failed(result)) return result;
  if (product_id_ == kBlockProtocolProduct) return rc::kOk;
  const uint8_t block[6] = {kInquiry, 0, 0, 0, 36, 0};
  std::vector<uint8_t> data(kInquiryOffered);
  return BulkCommand(block, sizeof block, DataPhase::kIn, data.data(), kInquiryOffered, true);
}

Result PlayerDisk::TransferSectors(uint8_t opcode, uint32_t first, int32_t count,
                                   uint8_t* buffer) {
  if (product_id_ == kBlockProtocolProduct) return rc::kNotImplemented;
  while (count > 0) {
    const uint32_t n = count < static_cast<int32_t>(kMaxBlocksPerCommand)
                           ? static_cast<uint32_t>(count)
                           : kMaxBlocksPerCommand;
    uint8_t block[10] = {opcode};
    PutBe32(block + 2, first);
    block[7] = static_cast<uint8_t>(n >> 8);
    block[8] = static_cast<uint8_t>(n);
    Result result = BulkCommand(block, sizeof block,
                                opcode == kRead10 ? DataPhase::kIn : DataPhase::kOut, buffer,
                                n * kSectorSize);
    if (rc::Failed(result)) return result;
    first += n;
    buffer += n * kSectorSize;
    count -= static_cast<int32_t>(n);
  }
  return rc::kOk;
}

Result PlayerDisk::ReadSectors(uint32_t, uint32_t first, int32_t count, void* buffer) {
  return TransferSectors(kRead10, first, count, static_cast<uint8_t*>(buffer));
}

Result PlayerDisk::WriteSectors(uint32_t, uint32_t first, int32_t count, const void* buffer) {
  // The data-out phase only reads the buffer.
  return TransferSectors(kWrite10, first, count,
                         const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer)));
}

Result PlayerDisk::GetDiskInfo(PlayerDiskInfo* info) {
  if (info == nullptr) return rc::kOk;
  const uint8_t block[10] = {kReadCapacity};
  uint8_t data[8] = {};
  Result result = BulkCommand(block, sizeof block, DataPhase::kIn, data, sizeof data);
  if (rc::Failed(result)) return result;
  info->last_block = static_cast<uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 |
                     data[3];
  std::memset(info->model, 0, sizeof info->model);
  std::memset(info->serial, 0, sizeof info->serial);
  std::memset(info->reserved, 0, sizeof info->reserved);
  return result;
}

Result PlayerDisk::StopUnit() {
  const uint8_t block[10] = {kStartStopUnit};
  return BulkCommand(block, sizeof block, DataPhase::kNone, nullptr, 0);
}

Result PlayerDisk::Command(uint8_t code, const uint8_t* arguments, Fx2Reply* reply,
                           uint32_t timeout_ms) {
  Fx2Command command;
  command.code = code;
  if (arguments) std::memcpy(command.arguments, arguments, sizeof command.arguments);
  Fx2Reply local;
  return fx2_->Exchange(command, reply ? reply : &local, timeout_ms);
}

Result PlayerDisk::TextCommand(uint8_t code, std::string* text) {
  Fx2Reply reply;
  Result result = Command(code, nullptr, &reply);
  // The text ends at its first NUL; the reply always carries one after the data.
  if (rc::Succeeded(result)) text->assign(reply.data, strnlen(reply.data, Fx2Reply::kDataSize));
  return result;
}

Result PlayerDisk::ReadPlayerInfo(std::string* text) { return TextCommand(5, text); }
Result PlayerDisk::ReadBlock13(std::string* text) { return TextCommand(13, text); }
Result PlayerDisk::ReadBlock14(std::string* text) { return TextCommand(14, text); }
Result PlayerDisk::ReadBlock8(std::string* text) { return TextCommand(8, text); }

Result PlayerDisk::AcquireBus() {
  if (product_id_ == kBlockProtocolProduct) return rc::kFail;
  return Command(1);
}

Result PlayerDisk::ReleaseBus() {
  if (product_id_ == kBlockProtocolProduct) return rc::kFail;
  StopUnit();
  return Command(2);
}

Result PlayerDisk::SendCommand3() {
  if (product_id_ == kBlockProtocolProduct) return rc::kFail;
  return Command(3);
}

Result PlayerDisk::SendCommand4() { return Command(4); }

Result PlayerDisk::ReadButtonCounters(uint32_t* buttons, uint32_t* clockwise,
                                      uint32_t* anticlockwise) {
  Fx2Reply reply;
  Result result = Command(6, nullptr, &reply);
  if (rc::Failed(result)) return result;
  const uint8_t* data = reinterpret_cast<const uint8_t*>(reply.data);
  *buttons = GetLe32(data);
  *clockwise = GetLe32(data + 4);
  *anticlockwise = GetLe32(data + 8);
  return result;
}

Result PlayerDisk::SendCommand7(uint32_t a, uint32_t b) {
  uint8_t arguments[32] = {};
  PutLe32(arguments, a);
  PutLe32(arguments + 4, a);
  PutLe32(arguments + 8, b);
  return Command(7, arguments);
}

Result PlayerDisk::SendCommand9(uint8_t value, const std::string& text) {
  uint8_t arguments[32] = {value};
  std::memcpy(arguments + 1, text.data(), Utf8Prefix(text, 30));
  return Command(9, arguments);
}

Result PlayerDisk::SendCommand10(uint32_t a, uint32_t b, uint32_t c) {
  uint8_t arguments[32] = {};
  PutLe32(arguments, a);
  PutLe32(arguments + 4, b);
  PutLe32(arguments + 8, c);
  return Command(10, arguments);
}

Result PlayerDisk::SendCommand11(uint16_t value, uint8_t byte) {
  uint8_t arguments[32] = {};
  arguments[4] = static_cast<uint8_t>(value);
  arguments[5] = static_cast<uint8_t>(value >> 8);
  arguments[8] = byte;
  return Command(11, arguments);
}

Result PlayerDisk::RequestDatabaseRebuild() {
  return Command(12, nullptr, nullptr, kRebuildTimeoutMs);
}
