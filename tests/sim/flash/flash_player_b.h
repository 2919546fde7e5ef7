// The simulated player of flash family B: files stored by directory record and fid (as family
// D), and a track database image that it keeps without looking inside (request 130 hands it
// out, request 135 takes a new one). File data comes in chunks whose length, a multiple of
// 32768, stands in the "CQELDATA" block (storage 5 takes the plain 16384-byte chunks of the
// other families); a database image comes in 16384-byte blocks that
// carry no length, after request 135 whose 16-bit value holds the low bits of the image size.
// Requests 137, 138, 141 and 144 answer the scripted blocks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/flash/flash_player_cde.h"

class SimFlashPlayerB : public SimDirectoryPlayer {
 public:
  explicit SimFlashPlayerB(uint16_t product_id = 0x5220);

  // --- scripts ------------------------------------------------------------------------------
  int fail_database_block = 0;         // database block k (from 1) is answered "EROR"
  bool fail_delete = false;            // request 120 answers "EROR" and keeps the file
  int64_t announced_database_size = -1;  // request 130 announces this instead of the size
  std::string answer137 = "DONE";
  bool battery_block_unknown = false;  // request 141 is echoed (unknown to the player)
  std::array<uint8_t, 512> hardware_block{};
  std::array<uint8_t, 64> battery_block{};
  std::array<uint8_t, 64> button_block{};

  // --- observed -----------------------------------------------------------------------------
  std::vector<uint16_t> database_write_values;  // the value of each request 135
  std::vector<uint32_t> chunk_lengths;          // the length field of each file data chunk
  int bad_chunks = 0;            // file chunks without a length or not a multiple of 32768
  int bad_database_blocks = 0;   // database blocks with a length field
  int bad_database_images = 0;   // images whose size the 16-bit value cannot have come from
  int database_reads = 0;        // requests 130
  int database_writes = 0;       // images taken whole
  int deletes = 0;               // files deleted

  // Puts a file on the player as an upload would leave it (record from the PC).
  void PutFile(uint32_t storage, const std::vector<uint8_t>& record, const std::string& data);

 protected:
  bool OnRequest(uint8_t request, uint16_t value, uint16_t index, uint32_t* word) override;
  void TakeUploadCommand(const std::vector<uint8_t>& block) override;
  void TakePiece(const std::vector<uint8_t>& piece) override;
  void TakeInbound(const std::vector<uint8_t>& bytes) override;
};
