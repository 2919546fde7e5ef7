#include "sim/flash/flash_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kChunk = 16384;
constexpr uint32_t kRecord = 2048;
constexpr uint32_t kFirmwareChunk = 8192;
constexpr Result kTimeout = static_cast<Result>(0xC004000B);
constexpr Result kPlayerGone = static_cast<Result>(0xC0049026);
constexpr uint32_t kDeviceNotConnected = 1167;

const uint8_t kFullSignature[8] = {0x98, 0xCE, 0x87, 0x15, 0x1E, 0x34, 0xB9, 0xCC};

bool Begins(const std::vector<uint8_t>& bytes, const char* text) {
  size_t n = strlen(text);
  return bytes.size() >= n && memcmp(bytes.data(), text, n) == 0;
}

std::string Head(const uint8_t* p, uint32_t length, const char* prefix) {
  if (length != 64 || memcmp(p, prefix, 4) != 0) return std::string();
  return std::string(reinterpret_cast<const char*>(p), 8);
}

}  // namespace

uint32_t SimGetLe32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void SimPutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> SimFileRecord(uint32_t fid, uint32_t length) {
  std::vector<uint8_t> record(kRecord, 0);
  SimPutLe32(&record[0], fid);
  SimPutLe32(&record[8], length);
  return record;
}

uint32_t SimFile::fid() const { return SimGetLe32(record.data()); }

SimFile* SimStorage::Find(uint32_t fid) {
  for (auto& f : files)
    if (f.fid() == fid) return &f;
  return nullptr;
}

std::string SimLogEntry::ToString() const {
  char text[64];
  switch (kind) {
    case kOpen:
      return "open";
    case kClose:
      return "close";
    case kControl:
      if (value == 0 && index == 0)
        snprintf(text, sizeof text, "C%u", request);
      else
        snprintf(text, sizeof text, "C%u(%u,%u)", request, value, index);
      break;
    case kWrite:
    case kRead: {
      const char letter = kind == kWrite ? 'W' : 'R';
      if (result < 0)
        snprintf(text, sizeof text, "%c!%08x", letter, static_cast<uint32_t>(result));
      else if (!head.empty() && length_field != 0)
        snprintf(text, sizeof text, "%c:%s len=%u", letter, head.c_str(), length_field);
      else if (!head.empty())
        snprintf(text, sizeof text, "%c:%s", letter, head.c_str());
      else
        snprintf(text, sizeof text, "%c%u", letter, length);
      break;
    }
  }
  return text;
}

SimFlashPlayer::SimFlashPlayer() {
  storages.resize(1);
  SimPutLe32(&info_block[4], 0x50030123);  // device id, firmware 1.23
  SimPutLe32(&info_block[8], 0x4000);
  memcpy(&info_block[128], "Sim Player", 10);
  memcpy(&info_block[192], "Sim", 3);
  type_codes = {1, 2};
}

std::vector<std::string> SimFlashPlayer::LogLines(bool with_open_close) const {
  std::vector<std::string> lines;
  for (const auto& e : log)
    if (with_open_close || (e.kind != SimLogEntry::kOpen && e.kind != SimLogEntry::kClose))
      lines.push_back(e.ToString());
  return lines;
}

bool SimFlashPlayer::Gone() {
  if (unplug_after_calls > 0 && --unplug_after_calls == 0) unplugged = true;
  return unplugged;
}

void SimFlashPlayer::QueueStatus(const std::string& word, uint32_t field8) {
  std::vector<uint8_t> block(64, 0);
  if (word == "FULL" && full_as_signature) {
    memcpy(block.data(), kFullSignature, 8);
    SimPutLe32(&block[8], field8);
    Queue(block, "<FULL>");
    return;
  }
  memcpy(block.data(), "SQEL", 4);
  memcpy(block.data() + 4, word.data(), std::min<size_t>(word.size(), 60));
  SimPutLe32(&block[8], field8);
  Queue(block);
}

void SimFlashPlayer::QueueFirmware(uint8_t letter, uint8_t a, uint8_t b) {
  std::vector<uint8_t> block(64, 0);
  block[0] = letter;
  block[1] = a;
  block[2] = b;
  std::string label(1, static_cast<char>(letter));
  label += letter == '$' ? std::to_string(a) : letter == 'P' ? std::string{char(a), char(b)} : "";
  Queue(block, label);
}

void SimFlashPlayer::QueueFirmwarePercent(int percent) {
  QueueFirmware('P', static_cast<uint8_t>('0' + percent / 10 % 10),
                static_cast<uint8_t>('0' + percent % 10));
}

// --- control requests ----------------------------------------------------------------------

Result SimFlashPlayer::Control(uint8_t request, uint16_t value, uint16_t index,
                               uint8_t reply[12]) {
  SimLogEntry entry(SimLogEntry::kControl);
  entry.request = request;
  entry.value = value;
  entry.index = index;
  if (Gone()) {
    entry.result = kPlayerGone;
    Log(entry);
    return kPlayerGone;
  }
  Log(entry);
  uint32_t word = 0;
  const std::string refusal = RefusalOf(request);
  if (!refusal.empty()) {
    refusals.push_back(entry.ToString() + ": " + refusal);
    ADD_FAILURE() << "the simulated player refuses " << refusals.back();
  } else if (!OnRequest(request, value, index, &word)) {
    word = HandleRequest(request, value, index);
  }
  memset(reply, 0, 12);
  SimPutLe32(reply, word);
  return 0;
}

std::string SimFlashPlayer::RefusalOf(uint8_t request) const {
  // A PC that gives up on a stalled format or upgrade releases the player: the unlock is
  // taken at any time.
  if (request == 102) return std::string();
  switch (mode_) {
    case Mode::kIdle:
      break;
    case Mode::kFirmware:
      // The upgrade is started by repeating its request until the player takes it.
      if (request == 107) return std::string();
      [[fallthrough]];
    default:
      return request == 96 ? "ready asked while a transfer is open"
                           : "a request in the middle of a transfer";
  }
  switch (request) {
    case 106: case 107: case 108: case 112: case 120: case 121: case 130: case 133: case 135:
    case 136: case 142:
      if (lock_depth == 0) return "a transfer without the lock";
      break;
    default:
      break;
  }
  return std::string();
}

uint32_t SimFlashPlayer::HandleRequest(uint8_t request, uint16_t value, uint16_t index) {
  const uint32_t echo = 0xC0u | static_cast<uint32_t>(request) << 8;
  if (recovery && request != 96 && request != 97 && request != 101 && request != 102 &&
      request != 107)
    return echo;
  switch (request) {
    case 96:
      if (not_ready_polls != 0) {
        if (not_ready_polls > 0) --not_ready_polls;
        return 0;
      }
      return Busy() ? 0 : 1;
    case 97:
      return recovery ? (status_word & ~0xF00u) | 0x700 : status_word;
    case 98:
      Queue(std::vector<uint8_t>(info_block.begin(), info_block.end()));
      return 1;
    case 99: {
      std::vector<uint8_t> block(128, 0);
      if (value < type_codes.size()) SimPutLe32(&block[0], type_codes[value]);
      Queue(block);
      return 1;
    }
    case 101:
      max_lock_depth = std::max(max_lock_depth, ++lock_depth);
      return 1;
    case 102:
      if (lock_depth == 0) return 0;
      --lock_depth;
      return 1;
    case 104: {
      std::vector<uint8_t> block(256, 0);
      if (value < storages.size()) {
        const SimStorage& s = storages[value];
        SimPutLe32(&block[0], 1);
        SimPutLe32(&block[4], s.kind);
        SimPutLe32(&block[16], s.total_blocks);
        SimPutLe32(&block[20], s.used_blocks);
        SimPutLe32(&block[24], s.free_blocks);
        SimPutLe32(&block[28], s.bad_blocks);
        memcpy(&block[64], s.name.data(), std::min<size_t>(s.name.size(), 63));
        memcpy(&block[128], s.serial.data(), 16);
      }
      Queue(block);
      return 1;
    }
    case 105: {
      std::vector<uint8_t> record(kRecord, 0);
      if (value < storages.size() && index < storages[value].files.size())
        record = storages[value].files[index].record;
      Queue(record);
      return 1;
    }
    case 106: {
      if (value >= storages.size()) return 0;
      storages[value].files.clear();
      formatted_storage = value;
      for (const auto& word : format_progress) QueueStatus(word);
      mode_ = Mode::kFormatting;
      return 1;
    }
    case 107: {
      if (mode_ != Mode::kFirmware) {
        firmware_start_tries_ = 0;
        for (int p : firmware_start_progress) QueueFirmwarePercent(p);
        QueueFirmware('%', 0);
        mode_ = Mode::kFirmware;
        want_ = 64;
        firmware_size = 0;
        firmware_image.clear();
        firmware_chunks_ = 0;
        firmware_chunks.clear();
      }
      const size_t n = firmware_start_words.size();
      const size_t at = std::min<size_t>(firmware_start_tries_++, n - 1);
      return n == 0 ? 1 : firmware_start_words[at];
    }
    case 108:
    case 133:
    case 135:
    case 136:
      if ((request == 108 || request == 136) && value >= storages.size()) return 0;
      mode_ = Mode::kUpload;
      upload_ = request == 133 ? Upload::kRecord
                               : request == 135 ? Upload::kDatabase : Upload::kFile;
      transfer_value_ = value;
      accepted_pieces_ = 0;
      upload_data_.clear();
      want_ = 64;
      want_piece_ = want_record_ = false;
      QueueStatus("RDY.");
      QueueStatus("DATA");
      return 1;
    case 112:
    case 120:
    case 121:
    case 142:
      mode_ = Mode::kInbound;
      transfer_value_ = value;
      inbound_ = request == 112   ? Inbound::kDownloadRecord
                 : request == 120 ? Inbound::kDeleteRecord
                 : request == 121 ? Inbound::kOwnerRecord
                                  : Inbound::kString;
      want_ = request == 142 ? value : kRecord;
      QueueStatus(request == 112   ? "UPLD"
                  : request == 120 ? "DELS"
                  : request == 121 ? "PRFS"
                                   : "RDY.");
      if (want_ == 0) EndTransfer();
      return 1;
    case 117:
    case 119:
    case 145:
      last_value = value;
      last_index = index;
      return 1;
    case 118:
      return button_count;
    case 122:
      Queue(std::vector<uint8_t>(owner_record.begin(), owner_record.end()));
      return 1;
    case 123:
      device_time = static_cast<int32_t>(static_cast<uint32_t>(value) << 16 | index);
      return 1;
    case 128:
      Queue(std::vector<uint8_t>(block128.begin(), block128.end()));
      return 1;
    case 130:
      if (!has_database) {
        QueueStatus("NODB");
        return 1;
      }
      QueueStatus("DBSE", static_cast<uint32_t>(database.size()));
      mode_ = Mode::kDownload;
      download_data_ = database;
      download_offset_ = 0;
      download_ends_with_done_ = true;
      return 1;
    case 132:
      return battery_value;
    case 134:
      return 1;
    case 137:
      QueueStatus("DONE");
      return 1;
    case 138:
      Queue(std::vector<uint8_t>(512, 0));
      return 1;
    case 140:
      return value140;
    case 141:
    case 144:
      Queue(std::vector<uint8_t>(64, 0));
      return 1;
    default:
      return echo;
  }
}

// --- bulk transfers ------------------------------------------------------------------------

Result SimFlashPlayer::Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) {
  *done = 0;
  SimLogEntry entry(SimLogEntry::kRead);
  entry.timeout_ms = timeout_ms;
  Result result = 0;
  if (Gone()) {
    result = static_cast<Result>(0x80070000u | kDeviceNotConnected);
  } else if (++reads_ == fail_read_at) {
    result = fail_read_code;
  } else if (read_timeouts_ > 0) {
    --read_timeouts_;
    result = kTimeout;
  } else if (out_.empty() && mode_ == Mode::kFormatting && format_stalls) {
    QueueStatus("PR05");
  }
  if (result == 0 && out_.empty()) result = kTimeout;
  if (result != 0) {
    entry.result = result;
    Log(entry);
    return result;
  }
  const std::vector<uint8_t>& message = out_.front().bytes;
  const uint32_t n = static_cast<uint32_t>(
      std::min<size_t>({length, message.size() - out_offset_, max_transfer}));
  memcpy(buffer, message.data() + out_offset_, n);
  entry.length = n;
  if (out_offset_ == 0) {
    if (clock != nullptr) clock->Advance(ms_per_message);
    if (real_ms_per_message != 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(real_ms_per_message));
    entry.head = Head(message.data(), n, "SQEL");
    if (entry.head.empty() && n == message.size()) entry.head = out_.front().label;
  }
  Log(entry);
  out_offset_ += n;
  if (out_offset_ == message.size()) {
    const bool finished = mode_ == Mode::kFormatting && Begins(message, "SQELFMTD");
    out_.pop_front();
    out_offset_ = 0;
    if (finished) EndTransfer();
  }
  *done = n;
  return 0;
}

Result SimFlashPlayer::Write(const void* buffer, uint32_t length, uint32_t* done,
                             uint32_t timeout_ms) {
  *done = 0;
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  length = std::min(length, max_transfer);
  SimLogEntry entry(SimLogEntry::kWrite);
  entry.timeout_ms = timeout_ms;
  entry.length = length;
  entry.head = Head(p, length, "CQEL");
  if (!entry.head.empty()) entry.length_field = SimGetLe32(p + 8);
  if (Gone()) {
    entry.result = static_cast<Result>(0x80070000u | kDeviceNotConnected);
    Log(entry);
    return entry.result;
  }
  if (++writes_ == fail_write_at) {
    // The first bytes reach the player before the transfer breaks.
    const uint32_t taken = std::min(fail_write_done, length);
    in_.insert(in_.end(), p, p + taken);
    *done = taken;
    entry.result = fail_write_code;
    Log(entry);
    return fail_write_code;
  }
  Log(entry);
  *done = length;
  if (mode_ != Mode::kIdle && entry.head == "CQELABRT") {
    ++aborts;
    in_.clear();
    out_.clear();
    out_offset_ = 0;
    EndTransfer();
    return 0;
  }
  in_.insert(in_.end(), p, p + length);
  while (in_.size() >= want_ && want_ > 0) {
    std::vector<uint8_t> message(in_.begin(), in_.begin() + want_);
    in_.erase(in_.begin(), in_.begin() + want_);
    TakeMessage(message);
  }
  return 0;
}

void SimFlashPlayer::TakeMessage(const std::vector<uint8_t>& message) {
  switch (mode_) {
    case Mode::kUpload:
      if (want_piece_)
        TakePiece(message);
      else if (want_record_)
        TakeInfoRecord(message);
      else
        TakeUploadCommand(message);
      break;
    case Mode::kDownload:
      TakeDownloadCommand(message);
      break;
    case Mode::kInbound:
      TakeInbound(message);
      break;
    case Mode::kFirmware:
      TakeFirmware(message);
      break;
    default:
      ++unexpected_writes;
      break;
  }
}

void SimFlashPlayer::TakeUploadCommand(const std::vector<uint8_t>& block) {
  if (Begins(block, "CQELDATA")) {
    const uint32_t length = SimGetLe32(&block[8]);
    want_ = length != 0 ? length : kChunk;
    want_piece_ = true;
  } else if (Begins(block, "CQELINFO") && upload_ != Upload::kDatabase) {
    want_ = kRecord;
    want_record_ = true;
  } else if (Begins(block, "CQELINFO")) {
    database = upload_data_;
    has_database = true;
    QueueStatus("DONE");
    EndTransfer();
  } else {
    ++unexpected_writes;
  }
}

void SimFlashPlayer::TakePiece(const std::vector<uint8_t>& piece) {
  want_ = 64;
  want_piece_ = false;
  const int number = accepted_pieces_ + 1;
  if (number == crcf_piece && crcf_times > 0) {
    --crcf_times;
    QueueStatus("CRCF");
    return;
  }
  if (number == full_piece) {
    QueueStatus("FULL");
    EndTransfer();
    return;
  }
  ++accepted_pieces_;
  upload_data_.append(piece.begin(), piece.end());
  QueueStatus("DATA");
}

void SimFlashPlayer::TakeInfoRecord(const std::vector<uint8_t>& record) {
  want_record_ = false;
  SimStorage& storage = storages.at(upload_ == Upload::kFile ? transfer_value_ : 0);
  const uint32_t fid = SimGetLe32(record.data());
  SimFile* existing = storage.Find(fid);
  if (upload_ == Upload::kRecord) {
    if (existing == nullptr) {
      QueueStatus("EROR");
    } else {
      existing->record = record;
      QueueStatus("DONE");
    }
    EndTransfer();
    return;
  }
  SimFile file;
  file.record = record;
  file.data = upload_data_.substr(0, std::min<size_t>(SimGetLe32(&record[8]), upload_data_.size()));
  if (existing != nullptr)
    *existing = file;
  else
    storage.files.push_back(file);
  QueueStatus("DONE");
  EndTransfer();
}

SimFile* SimFlashPlayer::FindNamedFile(SimStorage& storage, const std::vector<uint8_t>& record) {
  return record.size() >= 4 ? storage.Find(SimGetLe32(record.data())) : nullptr;
}

void SimFlashPlayer::TakeInbound(const std::vector<uint8_t>& bytes) {
  SimStorage* storage = transfer_value_ < storages.size() ? &storages[transfer_value_] : nullptr;
  EndTransfer();
  switch (inbound_) {
    case Inbound::kDownloadRecord: {
      SimFile* file = storage != nullptr ? FindNamedFile(*storage, bytes) : nullptr;
      if (file == nullptr) {
        QueueStatus("NOFL");
      } else if (deny_download) {
        QueueStatus("NOAC");
      } else {
        QueueStatus("RDY.");
        download_data_ = file->data;
        download_offset_ = 0;
        download_ends_with_done_ = false;
        if (!download_data_.empty()) mode_ = Mode::kDownload;
      }
      break;
    }
    case Inbound::kDeleteRecord: {
      SimFile* file = storage != nullptr ? FindNamedFile(*storage, bytes) : nullptr;
      if (file == nullptr) {
        QueueStatus("NOFL");
      } else {
        storage->files.erase(storage->files.begin() + (file - storage->files.data()));
        QueueStatus("DELD");
      }
      break;
    }
    case Inbound::kOwnerRecord:
      std::copy(bytes.begin(), bytes.end(), owner_record.begin());
      QueueStatus("PRFD");
      break;
    case Inbound::kString:
      last_string.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size() - 1);
      QueueStatus("RDY.");
      break;
  }
}

void SimFlashPlayer::TakeDownloadCommand(const std::vector<uint8_t>& block) {
  if (!Begins(block, "CQELDATA")) {
    ++unexpected_writes;
    return;
  }
  if (download_offset_ >= download_data_.size()) {
    QueueStatus("DONE");
    EndTransfer();
    return;
  }
  QueueStatus("DATA");
  std::vector<uint8_t> chunk(kChunk, 0);
  const size_t n = std::min<size_t>(kChunk, download_data_.size() - download_offset_);
  memcpy(chunk.data(), download_data_.data() + download_offset_, n);
  Queue(chunk);
  download_offset_ += n;
  // A file download ends with its last chunk; a database image answers "DONE" after it.
  if (download_offset_ >= download_data_.size() && !download_ends_with_done_) EndTransfer();
}

void SimFlashPlayer::TakeFirmware(const std::vector<uint8_t>& bytes) {
  if (want_ == 64) {
    firmware_size = SimGetLe32(bytes.data());
    for (int p : firmware_size_progress) QueueFirmwarePercent(p);
    QueueFirmware('$', 0);
    want_ = kFirmwareChunk;
    return;
  }
  const uint8_t state =
      firmware_chunks_ < firmware_states.size() ? firmware_states[firmware_chunks_] : 1;
  ++firmware_chunks_;
  firmware_chunks.emplace_back(bytes.begin(), bytes.end());
  read_timeouts_ = firmware_status_timeouts;
  if (state == 0) {
    firmware_image.clear();
    ++firmware_restarts;
  } else {
    const size_t n = std::min<size_t>(bytes.size(), firmware_size - firmware_image.size());
    firmware_image.append(bytes.begin(), bytes.begin() + n);
  }
  QueueFirmware('$', state);
  if (firmware_image.size() >= firmware_size && state != 0) {
    recovery = false;
    EndTransfer();
  }
}
