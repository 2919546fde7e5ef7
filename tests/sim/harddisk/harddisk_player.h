// A simulated hard-disk player behind UsbHardware: its USB bridge answers FX2 command packets
// ("QELP", 40 bytes; acknowledged with 0xF0, answered to polls) and bulk-only mass-storage
// commands (INQUIRY, READ CAPACITY, READ/WRITE(10), START STOP UNIT) onto a sparse disk image.
//
// Like the bridge it refuses what the bridge would refuse: a packet of the wrong size or magic,
// a transfer in the wrong phase, a data phase of another length than the wrapper announced, and
// (by default) disk access while the PC does not hold the player's bus. A refusal fails the
// test. Every packet is logged with its bytes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/usb_hardware.h"

struct SimHdPacket {
  enum Direction { kToPlayer, kFromPlayer } direction;
  std::vector<uint8_t> bytes;
};

class SimHardDiskPlayer {
 public:
  using Sector = std::array<uint8_t, 512>;

  explicit SimHardDiskPlayer(uint64_t block_count) : block_count_(block_count) {}

  // Settings of the bridge.
  bool require_bus_for_io = true;  // disk commands while the bus is not held: refused
  uint32_t naks_before_answer = 0;   // polls answered "not ready" before each answer
  bool never_answer = false;         // every poll is answered "not ready"
  uint8_t command_ack_byte = 0xF0;   // first byte of the acknowledgement of a command packet
  uint8_t poll_answer_byte = 0xF0;   // first byte of the answer to a ready poll
  std::map<uint8_t, uint32_t> result_words;        // by FX2 command; default 0
  std::map<uint8_t, std::vector<uint8_t>> reply_data;  // by FX2 command; padded with zeros
  std::string inquiry_vendor = "QEL     ", inquiry_product = "Tarnu HD        ";

  // Faults of the bridge, each applied to the next matching command and then cleared.
  bool fail_next_write_status = false;  // WRITE(10) answers status 1
  bool bad_next_status_tag = false;     // next status wrapper carries a wrong tag
  bool bad_next_status_signature = false;
  bool short_next_read = false;         // next READ(10) / READ CAPACITY sends one sector less
  bool status_instead_of_next_data = false;  // next data-in phase is a lone status wrapper
  bool fail_all_writes = false;               // every WRITE(10) answers status 1
  // Sectors still written before the power fails; after that every WRITE(10) answers status 1
  // and writes nothing. Negative: the power never fails.
  int64_t sectors_before_power_cut = -1;

  // What the player saw.
  bool keep_log = true;  // benchmarks turn the packet log off
  std::vector<SimHdPacket> log;
  uint64_t bulk_commands = 0;  // command wrappers received
  std::vector<uint8_t> fx2_commands;  // codes of the command packets, in order
  bool bus_held = false;
  int holders = 0;
  uint64_t sectors_written = 0;

  // The disk image: blocks never written read as zeros.
  void ReadImage(uint64_t block, uint8_t* out) const;
  void WriteImage(uint64_t block, const uint8_t* data);
  std::vector<uint8_t> ImageBytes(uint64_t offset, size_t length) const;
  uint64_t block_count() const { return block_count_; }

  Result Read(void* buffer, uint32_t length, uint32_t* done);
  Result Write(const void* buffer, uint32_t length, uint32_t* done);

 private:
  enum class Phase { kIdle, kAwaitPoll, kDataOut };
  void Refuse(const std::string& why);
  void HandleFx2(const uint8_t* packet);
  void HandleWrapper(const uint8_t* wrapper);
  void QueueStatus(uint8_t status);
  bool DiskAccessAllowed();
  void FinishDataOut();

  uint64_t block_count_;
  std::map<uint64_t, Sector> image_;
  Phase phase_ = Phase::kIdle;
  std::vector<uint8_t> pending_;   // bytes the next Read hands out
  uint32_t expected_out_ = 0;      // data-out bytes still due
  std::vector<uint8_t> out_data_;
  uint32_t tag_ = 0;
  uint32_t write_block_ = 0;
  uint8_t command_code_ = 0;
  uint16_t sequence_ = 0;
  uint32_t naks_left_ = 0;
  bool zero_length_then_status_ = false;  // a short data phase ends with an empty packet
  std::vector<uint8_t> status_after_data_;
};

// The transport in front of a simulated player; clones share the player.
class SimHardDiskUsb : public UsbHardware {
 public:
  SimHardDiskUsb(std::shared_ptr<SimHardDiskPlayer> player, uint32_t product_id = 0x5101)
      : player_(std::move(player)), product_id_(product_id) {}
  ~SimHardDiskUsb() override { Close(); }

  Result Open() override;
  Result Close() override;
  Result ControlRequest(uint8_t, uint16_t, uint16_t, uint8_t*) override;
  Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) override;
  Result Write(const void* buffer, uint32_t length, uint32_t* done,
               uint32_t timeout_ms) override;
  UsbHardware* Clone() override { return new SimHardDiskUsb(player_, product_id_); }
  Result GetProductId(uint32_t* product_id) override;
  Result GetName(std::string* name) override;
  Result GetPath(std::string* path) override;

 private:
  std::shared_ptr<SimHardDiskPlayer> player_;
  uint32_t product_id_;
  bool open_ = false;
};
