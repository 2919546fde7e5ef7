#include "sim/flash/flash_player_b.h"

#include <cstring>

namespace {

constexpr uint32_t kDatabaseBlock = 16384;
constexpr uint32_t kChunkUnit = 32768;
// Firmware files go to this storage in the whole 16384-byte chunks of the other families.
constexpr uint16_t kFirmwareStorage = 5;

bool Begins(const std::vector<uint8_t>& bytes, const char* text) {
  const size_t n = strlen(text);
  return bytes.size() >= n && memcmp(bytes.data(), text, n) == 0;
}

}  // namespace

SimFlashPlayerB::SimFlashPlayerB(uint16_t product_id) : SimDirectoryPlayer(false, product_id) {
  SetCapabilities(kSimCapUtf8 | kSimCapFileReplace | kSimCapPlaylists);
}

void SimFlashPlayerB::PutFile(uint32_t storage, const std::vector<uint8_t>& record,
                              const std::string& data) {
  SimFile file;
  file.record = record;
  file.data = data;
  storages.at(storage).files.push_back(file);
}

bool SimFlashPlayerB::OnRequest(uint8_t request, uint16_t value, uint16_t index,
                                uint32_t* word) {
  switch (request) {
    case 130:
      ++database_reads;
      if (!has_database || announced_database_size < 0) return false;
      QueueStatus("DBSE", static_cast<uint32_t>(announced_database_size));
      mode_ = Mode::kDownload;
      download_data_ = database;
      download_offset_ = 0;
      download_ends_with_done_ = true;
      *word = 1;
      return true;
    case 135:
      database_write_values.push_back(value);
      return false;
    case 137:
      QueueStatus(answer137);
      *word = 1;
      return true;
    case 138:
      Queue(std::vector<uint8_t>(hardware_block.begin(), hardware_block.end()));
      *word = 1;
      return true;
    case 141:
      if (battery_block_unknown) {
        *word = 0xC0u | static_cast<uint32_t>(request) << 8;
        return true;
      }
      Queue(std::vector<uint8_t>(battery_block.begin(), battery_block.end()));
      *word = 1;
      return true;
    case 144:
      Queue(std::vector<uint8_t>(button_block.begin(), button_block.end()));
      *word = 1;
      return true;
    default:
      return SimDirectoryPlayer::OnRequest(request, value, index, word);
  }
}

void SimFlashPlayerB::TakeUploadCommand(const std::vector<uint8_t>& block) {
  if (Begins(block, "CQELDATA")) {
    const uint32_t length = SimGetLe32(&block[8]);
    if (upload_ == Upload::kDatabase) {
      if (length != 0) ++bad_database_blocks;
    } else if (upload_ == Upload::kFile && transfer_value_ != kFirmwareStorage) {
      chunk_lengths.push_back(length);
      if (length == 0 || length % kChunkUnit != 0) ++bad_chunks;
    }
  } else if (Begins(block, "CQELINFO") && upload_ == Upload::kDatabase) {
    // The whole blocks hold the image and its padding; the value gives the size's low bits,
    // which single out the size within the last block.
    const auto received = static_cast<uint32_t>(upload_data_.size());
    const uint32_t padding = (received - transfer_value_) & 0xFFFF;
    if (padding >= kDatabaseBlock || padding > received) {
      ++bad_database_images;
      QueueStatus("EROR");
    } else {
      database = upload_data_.substr(0, received - padding);
      has_database = true;
      ++database_writes;
      QueueStatus("DONE");
    }
    EndTransfer();
    return;
  }
  SimDirectoryPlayer::TakeUploadCommand(block);
}

void SimFlashPlayerB::TakePiece(const std::vector<uint8_t>& piece) {
  if (upload_ == Upload::kDatabase && accepted_pieces_ + 1 == fail_database_block) {
    want_ = 64;
    want_piece_ = false;
    QueueStatus("EROR");
    return;
  }
  SimDirectoryPlayer::TakePiece(piece);
}

void SimFlashPlayerB::TakeInbound(const std::vector<uint8_t>& bytes) {
  if (inbound_ == Inbound::kDeleteRecord && fail_delete) {
    EndTransfer();
    QueueStatus("EROR");
    return;
  }
  const size_t before = transfer_value_ < storages.size() ? storages[transfer_value_].files.size()
                                                          : 0;
  const bool deleting = inbound_ == Inbound::kDeleteRecord;
  SimDirectoryPlayer::TakeInbound(bytes);
  if (deleting && transfer_value_ < storages.size() &&
      storages[transfer_value_].files.size() < before)
    ++deletes;
}
