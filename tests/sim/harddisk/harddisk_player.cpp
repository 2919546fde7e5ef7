#include "sim/harddisk/harddisk_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "devices/device_results.h"

namespace {

constexpr uint32_t kFx2PacketSize = 40;
constexpr uint32_t kFx2AnswerSize = 512;
constexpr uint32_t kWrapperSize = 31;
constexpr uint32_t kSector = 512;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kRefusedWrite = 0xFFFFFFFF;

uint32_t Le32(const uint8_t* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}
uint32_t Be32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | at[1] << 16 | at[2] << 8 | at[3];
}
void PutLe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutBe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

void SimHardDiskPlayer::ReadImage(uint64_t block, uint8_t* out) const {
  auto it = image_.find(block);
  if (it == image_.end())
    std::memset(out, 0, kSector);
  else
    std::memcpy(out, it->second.data(), kSector);
}

void SimHardDiskPlayer::WriteImage(uint64_t block, const uint8_t* data) {
  std::memcpy(image_[block].data(), data, kSector);
}

std::vector<uint8_t> SimHardDiskPlayer::ImageBytes(uint64_t offset, size_t length) const {
  std::vector<uint8_t> bytes(length);
  uint8_t sector[kSector];
  for (size_t i = 0; i < length;) {
    const uint64_t at = offset + i;
    ReadImage(at / kSector, sector);
    const size_t n = std::min<size_t>(length - i, kSector - at % kSector);
    std::memcpy(bytes.data() + i, sector + at % kSector, n);
    i += n;
  }
  return bytes;
}

void SimHardDiskPlayer::Refuse(const std::string& why) {
  ADD_FAILURE() << "simulated hard-disk player refuses: " << why;
}

Result SimHardDiskPlayer::Read(void* buffer, uint32_t length, uint32_t* done) {
  *done = 0;
  if (pending_.empty() && zero_length_then_status_) {
    // The empty packet that ends a short data phase; the status follows.
    zero_length_then_status_ = false;
    pending_.swap(status_after_data_);
    status_after_data_.clear();
    if (keep_log) log.push_back({SimHdPacket::kFromPlayer, {}});
    return rc::kOk;
  }
  if (pending_.empty()) {
    Refuse("a read while the player has nothing to send");
    return rc::kTimeout;
  }
  const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(pending_.size()));
  std::memcpy(buffer, pending_.data(), n);
  if (keep_log) {
    log.push_back({SimHdPacket::kFromPlayer,
                   std::vector<uint8_t>(pending_.begin(), pending_.begin() + n)});
  }
  pending_.erase(pending_.begin(), pending_.begin() + n);
  *done = n;
  if (pending_.empty() && !zero_length_then_status_ && !status_after_data_.empty()) {
    pending_.swap(status_after_data_);
    status_after_data_.clear();
  }
  return rc::kOk;
}

Result SimHardDiskPlayer::Write(const void* buffer, uint32_t length, uint32_t* done) {
  *done = 0;
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  if (keep_log) log.push_back({SimHdPacket::kToPlayer, std::vector<uint8_t>(bytes, bytes + length)});
  if (!pending_.empty() || zero_length_then_status_) {
    Refuse("a write while the player's answer is unread");
    return rc::kFail;
  }
  if (phase_ == Phase::kDataOut) {
    if (length > expected_out_) {
      Refuse("more data than the wrapper announced");
      return rc::kFail;
    }
    out_data_.insert(out_data_.end(), bytes, bytes + length);
    expected_out_ -= length;
    *done = length;
    if (expected_out_ == 0) FinishDataOut();
    return rc::kOk;
  }
  if (length == kFx2PacketSize && std::memcmp(bytes, "QELP", 4) == 0) {
    HandleFx2(bytes);
  } else if (length == kWrapperSize && std::memcmp(bytes, "USBC", 4) == 0) {
    if (phase_ == Phase::kAwaitPoll) {
      Refuse("a mass-storage command while an FX2 command awaits its polls");
      return rc::kFail;
    }
    HandleWrapper(bytes);
  } else {
    Refuse("a packet of " + std::to_string(length) + " bytes that is neither FX2 nor a wrapper");
    return rc::kFail;
  }
  *done = length;
  return rc::kOk;
}

void SimHardDiskPlayer::HandleFx2(const uint8_t* packet) {
  const uint16_t sequence = static_cast<uint16_t>(packet[6] | packet[7] << 8);
  std::vector<uint8_t> answer(kFx2AnswerSize, 0);
  if (packet[4] == 0x00) {
    if (phase_ != Phase::kIdle) Refuse("a new FX2 command before the last was answered");
    command_code_ = packet[5];
    sequence_ = sequence;
    fx2_commands.push_back(command_code_);
    naks_left_ = naks_before_answer;
    // A command the bridge does not acknowledge is not polled for.
    phase_ = command_ack_byte == 0xF0 ? Phase::kAwaitPoll : Phase::kIdle;
    answer[0] = command_ack_byte;
  } else if (packet[4] == 0x80) {
    if (phase_ != Phase::kAwaitPoll) Refuse("a poll without a command");
    if (sequence != sequence_) Refuse("a poll with another sequence number than its command");
    if (never_answer || naks_left_ > 0) {
      if (naks_left_ > 0) --naks_left_;
      answer[0] = 0x0F;
    } else {
      if (command_code_ == 1) bus_held = true;
      if (command_code_ == 2) bus_held = false;
      answer[0] = poll_answer_byte;
      PutLe32(answer.data() + 1, result_words[command_code_]);
      const std::vector<uint8_t>& data = reply_data[command_code_];
      std::memcpy(answer.data() + 7, data.data(), std::min<size_t>(data.size(), 505));
      phase_ = Phase::kIdle;
    }
  } else {
    Refuse("an FX2 packet of unknown kind");
  }
  pending_ = answer;
}

bool SimHardDiskPlayer::DiskAccessAllowed() {
  if (bus_held || !require_bus_for_io) return true;
  Refuse("disk access while the PC does not hold the bus");
  return false;
}

void SimHardDiskPlayer::QueueStatus(uint8_t status) {
  std::vector<uint8_t> csw(13, 0);
  std::memcpy(csw.data(), bad_next_status_signature ? "USBX" : "USBS", 4);
  PutLe32(csw.data() + 4, bad_next_status_tag ? tag_ + 0x100 : tag_);
  csw[12] = status;
  bad_next_status_signature = bad_next_status_tag = false;
  if (pending_.empty() && !zero_length_then_status_)
    pending_ = csw;
  else
    status_after_data_ = csw;
}

void SimHardDiskPlayer::HandleWrapper(const uint8_t* wrapper) {
  ++bulk_commands;
  tag_ = Le32(wrapper + 4);
  const uint32_t length = Le32(wrapper + 8);
  const bool data_in = wrapper[12] == 0x80;
  const uint8_t block_length = wrapper[14];
  const uint8_t* block = wrapper + 15;
  if (wrapper[13] != 0) Refuse("a LUN other than 0");
  switch (block[0]) {
    case 0x12: {  // INQUIRY
      if (block_length != 6 || !data_in) Refuse("a malformed INQUIRY");
      std::vector<uint8_t> data(36, 0);
      data[4] = 31;
      std::memcpy(data.data() + 8, inquiry_vendor.data(), std::min<size_t>(8, inquiry_vendor.size()));
      std::memcpy(data.data() + 16, inquiry_product.data(),
                  std::min<size_t>(16, inquiry_product.size()));
      data.resize(std::min<uint32_t>(length, std::min<uint32_t>(block[4], 36)));
      pending_ = data;
      QueueStatus(0);
      return;
    }
    case 0x25: {  // READ CAPACITY(10)
      if (block_length != 10 || !data_in || length != 8) Refuse("a malformed READ CAPACITY");
      std::vector<uint8_t> data(8, 0);
      PutBe32(data.data(), static_cast<uint32_t>(block_count_ - 1));
      PutBe32(data.data() + 4, kSector);
      if (short_next_read) {
        data.resize(4);
        short_next_read = false;
      }
      pending_ = data;
      QueueStatus(0);
      return;
    }
    case 0x28:
    case 0x2A: {  // READ(10), WRITE(10)
      const uint32_t first = Be32(block + 2);
      const uint32_t count = static_cast<uint32_t>(block[7] << 8 | block[8]);
      const bool reading = block[0] == 0x28;
      if (block_length != 10 || data_in != reading || length != count * kSector)
        Refuse("a READ/WRITE(10) whose wrapper does not match its block");
      const bool in_range = static_cast<uint64_t>(first) + count <= block_count_;
      if (!DiskAccessAllowed() || !in_range) {
        if (!in_range) Refuse("blocks beyond the end of the disk");
        if (reading) {
          pending_.assign(length, 0);
          QueueStatus(1);
          return;
        }
        // The data still comes; the status refuses it.
        phase_ = Phase::kDataOut;
        expected_out_ = length;
        out_data_.clear();
        write_block_ = kRefusedWrite;
        return;
      }
      if (reading) {
        if (status_instead_of_next_data) {
          status_instead_of_next_data = false;
          QueueStatus(2);
          return;
        }
        std::vector<uint8_t> data(length);
        for (uint32_t i = 0; i < count; ++i) ReadImage(first + i, data.data() + i * kSector);
        if (short_next_read && count > 0) {
          short_next_read = false;
          data.resize(data.size() - kSector);
          zero_length_then_status_ = true;
        }
        pending_ = data;
        QueueStatus(0);
      } else {
        phase_ = Phase::kDataOut;
        expected_out_ = length;
        out_data_.clear();
        write_block_ = first;
        if (length == 0) FinishDataOut();
      }
      return;
    }
    case 0x1B:  // START STOP UNIT
      if (block_length != 10 || length != 0) Refuse("a malformed START STOP UNIT");
      QueueStatus(0);
      return;
    default:
      Refuse("an unknown command block");
      QueueStatus(1);
  }
}

void SimHardDiskPlayer::FinishDataOut() {
  phase_ = Phase::kIdle;
  if (write_block_ == kRefusedWrite) {
    QueueStatus(1);
    return;
  }
  if (fail_next_write_status || fail_all_writes) {
    fail_next_write_status = false;
    QueueStatus(1);
    return;
  }
  for (size_t i = 0; i * kSector < out_data_.size(); ++i) {
    // Power fails: this sector and every later one never reach the disk.
    if (sectors_before_power_cut == 0) {
      QueueStatus(1);
      return;
    }
    if (sectors_before_power_cut > 0) --sectors_before_power_cut;
    WriteImage(write_block_ + i, out_data_.data() + i * kSector);
    ++sectors_written;
  }
  QueueStatus(0);
}

Result SimHardDiskUsb::Open() {
  if (open_) return rc::kOk;
  if (player_->holders > 0) return rc::kPlayerBusy;
  ++player_->holders;
  open_ = true;
  return rc::kOk;
}

Result SimHardDiskUsb::Close() {
  if (open_) --player_->holders;
  open_ = false;
  return rc::kOk;
}

Result SimHardDiskUsb::ControlRequest(uint8_t, uint16_t, uint16_t, uint8_t*) {
  return rc::kNotImplemented;
}

Result SimHardDiskUsb::Read(void* buffer, uint32_t length, uint32_t* done, uint32_t) {
  *done = 0;
  if (!open_) return rc::FromWin32(kErrorInvalidHandle);
  return player_->Read(buffer, length, done);
}

Result SimHardDiskUsb::Write(const void* buffer, uint32_t length, uint32_t* done, uint32_t) {
  *done = 0;
  if (!open_) return rc::FromWin32(kErrorInvalidHandle);
  return player_->Write(buffer, length, done);
}

Result SimHardDiskUsb::GetProductId(uint32_t* product_id) {
  *product_id = product_id_;
  return rc::kOk;
}

Result SimHardDiskUsb::GetName(std::string* name) {
  *name = "SimHardDisk";
  return rc::kOk;
}

Result SimHardDiskUsb::GetPath(std::string* path) {
  *path = "\\\\?\\usb#simhd";
  return rc::kOk;
}
