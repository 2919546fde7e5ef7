// One SCSI command for a player's drive: the command block, an 18-byte sense area and the
// data area, in one zeroed buffer. Builders make the commands the system sends; the sense rule
// turns a carried command's sense area into a result code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/result_codes.h"

class ScsiCommand {
 public:
  static constexpr uint8_t kSenseLength = 18;
  static constexpr uint32_t kFirmwareBlockSize = 8192;
  static constexpr uint32_t kPageLength = 96;

  enum Direction : uint8_t { kDataIn = 0, kDataOut = 1 };

  // A command with no data goes out as kDataOut.
  ScsiCommand(uint8_t cdb_length, uint32_t data_length, Direction direction);
  virtual ~ScsiCommand();
  ScsiCommand(const ScsiCommand&) = delete;
  ScsiCommand& operator=(const ScsiCommand&) = delete;

  // False when the buffer could not be allocated: such a command must not be sent.
  bool valid() const { return buffer_ != nullptr; }
  uint8_t cdb_length() const { return cdb_length_; }
  uint32_t data_length() const { return data_length_; }
  bool data_in() const { return direction_ == kDataIn && data_length_ != 0; }
  uint8_t* cdb() { return buffer_.get(); }
  const uint8_t* cdb() const { return buffer_.get(); }
  uint8_t* sense() { return buffer_.get() + cdb_length_; }
  const uint8_t* sense() const { return buffer_.get() + cdb_length_; }
  uint8_t* data() { return sense() + kSenseLength; }
  const uint8_t* data() const { return sense() + kSenseLength; }

  // Success when the sense area is all zeros or its key is 0; key 5 (illegal request):
  // E_NOTIMPL; any other key: E_FAIL.
  Result EvaluateSense() const;

 private:
  uint8_t cdb_length_;
  uint32_t data_length_;
  Direction direction_;
  std::unique_ptr<uint8_t[]> buffer_;
};

// --- builders (null when memory runs out) ---------------------------------------------------
std::unique_ptr<ScsiCommand> MakeInquiry();
// EVPD pages: 0x80 unit serial, 0xC0 player identification, 0xC1 drive identification.
std::unique_ptr<ScsiCommand> MakeInquiryPage(uint8_t page);
// WRITE BUFFER of one 8192-byte firmware block; the block number is set per block.
std::unique_ptr<ScsiCommand> MakeFirmwareBlock(uint8_t buffer_id);
void SetFirmwareBlockNumber(ScsiCommand* command, uint32_t block_number);
// Vendor command 0xD1: two 32-bit values, no data.
std::unique_ptr<ScsiCommand> MakeVendorTime(uint32_t first, uint32_t second);
// Vendor command 0xD0 carrying a player request. `reply_length` non-zero: that many bytes in;
// else `out_length` bytes go to the player.
std::unique_ptr<ScsiCommand> MakeVendorRequest(uint32_t request, uint32_t value, uint32_t index,
                                               uint8_t reply_length, uint32_t out_length = 0);

// --- identification replies (96-byte data areas) -------------------------------------------
namespace inquiry {

constexpr uint8_t kUnitSerialPage = 0x80;
constexpr uint8_t kPlayerPage = 0xC0;
constexpr uint8_t kDrivePage = 0xC1;

// Bytes 36 to 55 of the standard INQUIRY data are the player's serial and fixed signature.
bool HasPlayerSignature(const uint8_t* data);
uint64_t Serial(const uint8_t* data);
std::string Vendor(const uint8_t* data);
std::string Product(const uint8_t* data);
std::string Revision(const uint8_t* data);
// Blanks and tabs removed at both ends.
std::string Trim(const std::string& text);

// Bytes 4 to 7 of a vendor page.
bool HasPageMagic(const uint8_t* data);
uint32_t Word(const uint8_t* data, uint32_t offset);
// Byte 3 is the length of the text from byte 4; never read beyond the 96-byte page.
std::string UnitSerial(const uint8_t* data);
// Bytes 12 to 35 of the drive page up to the first NUL.
std::string DriveName(const uint8_t* data);

}  // namespace inquiry
