#include "devices/msc/scsi_command.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "support/byte_order.h"

namespace {

constexpr uint8_t kPlayerSignature[12] = {0x34, 0xA2, 0x2E, 0xB6, 0x4C, 0xE1,
                                          0x45, 0x0D, 0x95, 0x83, 0xF1, 0xE4};
constexpr uint8_t kPageMagic[4] = {0xC8, 0xBE, 0x14, 0x99};

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

std::unique_ptr<ScsiCommand> Make(uint8_t cdb_length, uint32_t data_length,
                                  ScsiCommand::Direction direction) {
  std::unique_ptr<ScsiCommand> command(new (std::nothrow)
                                           ScsiCommand(cdb_length, data_length, direction));
  if (command && !command->valid()) command.reset();
  return command;
}

std::string TextField(const uint8_t* field, size_t length) {
  const void* nul = std::memchr(field, 0, length);
  const size_t used = nul ? static_cast<const uint8_t*>(nul) - field : length;
  return std::string(reinterpret_cast<const char*>(field), used);
}

}  // namespace

ScsiCommand::ScsiCommand(uint8_t cdb_length, uint32_t data_length, Direction direction)
    : cdb_length_(cdb_length),
      data_length_(data_length),
      direction_(data_length == 0 ? kDataOut : direction),
      buffer_(new (std::nothrow) uint8_t[cdb_length + kSenseLength + data_length]()) {}

ScsiCommand::~ScsiCommand() = default;

Result ScsiCommand::EvaluateSense() const {
  const uint8_t* area = sense();
  bool all_zero = true;
  for (uint8_t i = 0; i < kSenseLength; ++i) all_zero = all_zero && area[i] == 0;
  if (all_zero) return rc::kOk;
  const uint8_t key = area[2] & 0x0F;
  if (key == 0) return rc::kOk;
  return key == 5 ? rc::kNotImplemented : rc::kFail;
}

std::unique_ptr<ScsiCommand> MakeInquiry() {
  auto command = Make(6, ScsiCommand::kPageLength, ScsiCommand::kDataIn);
  if (command) {
    command->cdb()[0] = 0x12;
    command->cdb()[4] = 0x60;
  }
  return command;
}

std::unique_ptr<ScsiCommand> MakeInquiryPage(uint8_t page) {
  auto command = MakeInquiry();
  if (command) {
    command->cdb()[1] = 0x01;
    command->cdb()[2] = page;
  }
  return command;
}

std::unique_ptr<ScsiCommand> MakeFirmwareBlock(uint8_t buffer_id) {
  auto command = Make(10, ScsiCommand::kFirmwareBlockSize, ScsiCommand::kDataOut);
  if (command) {
    command->cdb()[0] = 0x3B;
    command->cdb()[1] = 0x05;
    command->cdb()[2] = buffer_id;
  }
  return command;
}

void SetFirmwareBlockNumber(ScsiCommand* command, uint32_t block_number) {
  uint8_t* cdb = command->cdb();
  cdb[3] = static_cast<uint8_t>(block_number >> 16);
  cdb[4] = static_cast<uint8_t>(block_number >> 8);
  cdb[5] = static_cast<uint8_t>(block_number);
}

std::unique_ptr<ScsiCommand> MakeVendorTime(uint32_t first, uint32_t second) {
  auto command = Make(9, 0, ScsiCommand::kDataOut);
  if (command) {
    command->cdb()[0] = 0xD1;
    PutBe32(command->cdb() + 1, first);
    PutBe32(command->cdb() + 5, second);
  }
  return command;
}

std::unique_ptr<ScsiCommand> MakeVendorRequest(uint32_t request, uint32_t value, uint32_t index,
                                               uint8_t reply_length, uint32_t out_length) {
  const uint32_t data_length = reply_length != 0 ? reply_length : out_length;
  auto command = Make(14, data_length,
                      reply_length != 0 ? ScsiCommand::kDataIn : ScsiCommand::kDataOut);
  if (command) {
    uint8_t* cdb = command->cdb();
    cdb[0] = 0xD0;
    cdb[1] = reply_length;
    PutBe32(cdb + 2, request);
    PutBe32(cdb + 6, value);
    PutBe32(cdb + 10, index);
  }
  return command;
}

namespace inquiry {

bool HasPlayerSignature(const uint8_t* data) {
  return std::memcmp(data + 44, kPlayerSignature, sizeof kPlayerSignature) == 0;
}

uint64_t Serial(const uint8_t* data) { return bytes::Be64(data + 36); }

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string Vendor(const uint8_t* data) { return Trim(TextField(data + 8, 8)); }
std::string Product(const uint8_t* data) { return Trim(TextField(data + 16, 16)); }
std::string Revision(const uint8_t* data) { return Trim(TextField(data + 32, 4)); }

bool HasPageMagic(const uint8_t* data) {
  return std::memcmp(data + 4, kPageMagic, sizeof kPageMagic) == 0;
}

uint32_t Word(const uint8_t* data, uint32_t offset) { return bytes::Be32(data + offset); }

std::string UnitSerial(const uint8_t* data) {
  // A player that claims more than its page holds gets what the page holds.
  const uint32_t length = std::min<uint32_t>(data[3], ScsiCommand::kPageLength - 4);
  return std::string(reinterpret_cast<const char*>(data + 4), length);
}

std::string DriveName(const uint8_t* data) { return TextField(data + 12, 24); }

}  // namespace inquiry
