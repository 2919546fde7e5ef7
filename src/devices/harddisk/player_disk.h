// The PC's handle on a hard-disk player's disk and bridge firmware: 512-byte sectors move with
// bulk-only mass-storage transfers, player commands go through the FX2 command link. One per
// open channel, used on the caller's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/harddisk/fx2io_host.h"
#include "devices/usb_hardware.h"

// What GetDiskInfo reports: the address of the disk's last block, as READ CAPACITY gives it
// (not the count of blocks). The texts are cleared.
struct PlayerDiskInfo {
  uint64_t last_block = 0;
  char model[21] = {};
  char serial[21] = {};
  uint8_t reserved[10] = {};
};

class PlayerDisk {
 public:
  static constexpr uint32_t kSectorSize = 512;
  static constexpr uint32_t kMaxBlocksPerCommand = 64;
  static constexpr uint32_t kTimeoutMs = 10000;
  static constexpr uint32_t kRebuildTimeoutMs = 30000;
  // The product whose bridge speaks another block protocol; no channel runs it.
  static constexpr uint32_t kBlockProtocolProduct = 0x5202;

  // The transport is not owned (the channel owns it). Null clock: the system clock.
  static Result Create(UsbHardware* transport, std::unique_ptr<PlayerDisk>* disk,
                       Fx2Clock* clock = nullptr);
  virtual ~PlayerDisk() = default;

  virtual Result Identify();
  virtual Result ReadSectors(uint32_t unit, uint32_t first, int32_t count, void* buffer);
  virtual Result WriteSectors(uint32_t unit, uint32_t first, int32_t count, const void* buffer);
  // Null info: 0 at once.
  virtual Result GetDiskInfo(PlayerDiskInfo* info);
  // The text operations leave the text unchanged on failure.
  virtual Result ReadPlayerInfo(std::string* text);
  virtual Result StopUnit();
  virtual Result AcquireBus();
  // Stops the unit, then gives the bus back whatever the stop answered.
  virtual Result ReleaseBus();
  virtual Result SendCommand3();
  virtual Result ReadBlock13(std::string* text);
  virtual Result ReadBlock14(std::string* text);
  virtual Result ReadButtonCounters(uint32_t* buttons, uint32_t* clockwise,
                                    uint32_t* anticlockwise);
  virtual Result SendCommand7(uint32_t a, uint32_t b);
  virtual Result ReadBlock8(std::string* text);
  // The text is cut at a UTF-8 character boundary to at most 30 bytes.
  virtual Result SendCommand9(uint8_t value, const std::string& text);
  virtual Result SendCommand10(uint32_t a, uint32_t b, uint32_t c);
  virtual Result SendCommand11(uint16_t value, uint8_t byte);
  virtual Result RequestDatabaseRebuild();
  virtual Result SendCommand4();

  uint32_t product_id() const { return product_id_; }

 private:
  enum class DataPhase { kNone, kIn, kOut };
  PlayerDisk(UsbHardware* transport) : transport_(transport) {}

  // One bulk-only command: wrapper, data, status. The status must carry the wrapper's tag and
  // status 0. `short_ok`: a data-in phase may end early (INQUIRY's normal answer).
  Result BulkCommand(const uint8_t* block, uint8_t block_length, DataPhase phase, void* data,
                     uint32_t length, bool short_ok = false);
  Result ReadDataIn(uint8_t* data, uint32_t length, uint32_t* got, bool* status_instead);
  Result TransferSectors(uint8_t opcode, uint32_t first, int32_t count, uint8_t* buffer);
  Result Command(uint8_t code, const uint8_t* arguments = nullptr, Fx2Reply* reply = nullptr,
                 uint32_t timeout_ms = kTimeoutMs);
  Result TextCommand(uint8_t code, std::string* text);

  uint32_t tag_counter_ = 0;
  uint32_t product_id_ = 0;
  UsbHardware* transport_;
  std::unique_ptr<Fx2IoHost> fx2_;
};
