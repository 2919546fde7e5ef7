// The simulated player of flash family A: it keeps its files as slots of a database of 256-byte
// records (request 130 returns them in slot order). A new file's slot, filled from the database
// part (offset 512) of the file's record, is the player's own choice, which the protocol does
// not tell: the lowest empty slot (a new one at the end when none is empty), or always a new
// one at the end. A delete names the slot by the fid at offset 516 and leaves it empty (first
// word 0), so the other files keep their positions.
// Request 118 answers `value118`.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/flash/flash_player.h"

struct SimDatabaseSlot {
  std::array<uint8_t, 256> record{};
  std::vector<uint8_t> file_record;  // the 2048 bytes of an upload
  std::string data;
};

class SimFlashPlayerA : public SimFlashPlayer {
 public:
  SimFlashPlayerA();

  enum class SlotPolicy { kLowestFree, kAppend };

  uint32_t value118 = 0x20;
  SlotPolicy slot_policy = SlotPolicy::kLowestFree;
  std::vector<SimDatabaseSlot> slots;

  // Appends a slot holding `record` (padded or cut to 256 bytes).
  void AddSlot(const std::vector<uint8_t>& record);
  // Slots whose first word is not 0.
  size_t FileCount() const;

 protected:
  bool OnRequest(uint8_t request, uint16_t value, uint16_t index, uint32_t* word) override;
  void TakeInfoRecord(const std::vector<uint8_t>& record) override;
  void TakeInbound(const std::vector<uint8_t>& bytes) override;
};
