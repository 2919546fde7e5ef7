#include "sim/msc/sim_msc_player.h"

#include <ntddscsi.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>

#include "support/format_string.h"

namespace {

constexpr uint8_t kSenseLength = 18;
constexpr uint8_t kIllegalRequest = 5;
constexpr uint8_t kNotReady = 2;
constexpr uint8_t kPlayerSignature[12] = {0x34, 0xA2, 0x2E, 0xB6, 0x4C, 0xE1,
                                          0x45, 0x0D, 0x95, 0x83, 0xF1, 0xE4};
constexpr uint8_t kPageMagic[4] = {0xC8, 0xBE, 0x14, 0x99};

void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
void PutText(uint8_t* field, size_t width, const std::string& text) {
  std::memset(field, ' ', width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

}  // namespace

SimVolumeIo::SimVolumeIo() = default;

SimVolumeIo::~SimVolumeIo() {
  EXPECT_TRUE(handles_.empty()) << handles_.size() << " volume handles left open";
}

std::vector<std::string> SimVolumeIo::LogLines(const std::string& prefix) const {
  std::vector<std::string> lines;
  for (const std::string& line : log) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

BOOL SimVolumeIo::Fail(DWORD error) {
  last_error_ = error;
  return FALSE;
}

HANDLE SimVolumeIo::CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                                DWORD) {
  const std::string path = name;
  if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':') {
    ADD_FAILURE() << "not a volume path: " << path;
    Fail(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  const char letter = path[4];
  auto found = drives.find(letter);
  if (found == drives.end() || found->second.gone) {
    Fail(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  EXPECT_EQ(disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
  // Without shared reading and writing a mounted volume does not open.
  if ((share & (FILE_SHARE_READ | FILE_SHARE_WRITE)) != (FILE_SHARE_READ | FILE_SHARE_WRITE)) {
    Fail(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(next_handle_);
  next_handle_ += 4;
  handles_[handle] = Handle{letter};
  log.push_back(FormatString("open %c:", letter));
  return handle;
}

BOOL SimVolumeIo::CloseHandle(HANDLE handle) {
  auto found = handles_.find(handle);
  if (found == handles_.end()) {
    ADD_FAILURE() << "closing an unknown handle";
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (found->second.locked) --drives[found->second.letter].locks;
  log.push_back(FormatString("close %c:", found->second.letter));
  handles_.erase(found);
  return TRUE;
}

BOOL SimVolumeIo::FlushFileBuffers(HANDLE file) {
  auto found = handles_.find(file);
  if (found == handles_.end()) return Fail(ERROR_INVALID_HANDLE);
  ++drives[found->second.letter].flushes;
  log.push_back(FormatString("flush %c:", found->second.letter));
  return TRUE;
}

DWORD SimVolumeIo::GetLogicalDrives() {
  if (with_system_drives) return ::GetLogicalDrives();
  DWORD mask = 0;
  for (const auto& drive : drives) {
    if (drive.first >= 'A' && drive.first <= 'Z') mask |= 1u << (drive.first - 'A');
  }
  return mask;
}

UINT SimVolumeIo::GetDriveTypeA(LPCSTR root) {
  if (with_system_drives) return ::GetDriveTypeA(root);
  const auto found = drives.find(root[0]);
  return found != drives.end() ? found->second.drive_type : DRIVE_NO_ROOT_DIR;
}

BOOL SimVolumeIo::DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size,
                                  LPVOID out, DWORD out_size, LPDWORD returned) {
  auto found = handles_.find(device);
  if (found == handles_.end()) return Fail(ERROR_INVALID_HANDLE);
  Handle& handle = found->second;
  SimMscDrive& drive = drives[handle.letter];
  *returned = 0;
  switch (code) {
    case IOCTL_SCSI_PASS_THROUGH:
      EXPECT_EQ(in, out) << "pass-through uses one buffer both ways";
      return PassThrough(handle, static_cast<uint8_t*>(in), in_size, out_size, returned);
    case FSCTL_LOCK_VOLUME: {
      log.push_back(FormatString("lock %c:", handle.letter));
      int others = 0;
      for (const auto& other : handles_) others += other.second.letter == handle.letter;
      // A volume locks only for its one open handle.
      if (drive.lock_refused || others > 1 || drive.locks > 0) return Fail(ERROR_ACCESS_DENIED);
      handle.locked = true;
      ++drive.locks;
      return TRUE;
    }
    case IOCTL_STORAGE_GET_HOTPLUG_INFO: {
      log.push_back(FormatString("hotplug %c:", handle.letter));
      if (out_size < sizeof(STORAGE_HOTPLUG_INFO)) return Fail(ERROR_INSUFFICIENT_BUFFER);
      STORAGE_HOTPLUG_INFO info = {};
      info.Size = sizeof info;
      info.MediaRemovable = 1;
      info.DeviceHotplug = drive.hot_pluggable ? 1 : 0;
      std::memcpy(out, &info, sizeof info);
      *returned = sizeof info;
      return TRUE;
    }
    default:
      return Fail(ERROR_INVALID_FUNCTION);
  }
}

BOOL SimVolumeIo::PassThrough(Handle& handle, uint8_t* buffer, DWORD in_size, DWORD out_size,
                              LPDWORD returned) {
  SimMscDrive& drive = drives[handle.letter];
  SCSI_PASS_THROUGH request;
  if (in_size < sizeof request) {
    ADD_FAILURE() << "pass-through request of " << in_size << " bytes";
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::memcpy(&request, buffer, sizeof request);
  const bool data_in = request.DataIn == SCSI_IOCTL_DATA_IN;
  const uint64_t sense_end = uint64_t{request.SenseInfoOffset} + request.SenseInfoLength;
  const uint64_t data_end = uint64_t{request.DataBufferOffset} + request.DataTransferLength;
  const bool well_formed =
      request.Length == sizeof request && request.CdbLength > 0 && request.CdbLength <= 16 &&
      request.SenseInfoLength == kSenseLength && request.SenseInfoOffset >= sizeof request &&
      request.DataBufferOffset >= sense_end && sense_end <= in_size && data_end <= in_size &&
      in_size == out_size && request.TimeOutValue > 0;
  if (!well_formed) {
    ADD_FAILURE() << "malformed pass-through request";
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (drive.access_denied) return Fail(ERROR_ACCESS_DENIED);
  if (drive.silent_failure) return Fail(0);
  uint8_t* sense = buffer + request.SenseInfoOffset;
  std::memset(sense, 0, kSenseLength);
  const uint8_t key = Answer(handle.letter, request.Cdb, request.CdbLength, data_in,
                             buffer + request.DataBufferOffset, request.DataTransferLength);
  if (key != 0) {
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = 10;
  }
  *returned = out_size;
  return TRUE;
}

uint8_t SimVolumeIo::Answer(char letter, const uint8_t* cdb, uint8_t cdb_length, bool data_in,
                            uint8_t* data, uint32_t data_length) {
  SimMscDrive& drive = drives[letter];
  SimMscPlayer* player = drive.player.get();
  switch (cdb[0]) {
    case 0x12:
      log.push_back(cdb[1] & 1 ? FormatString("%c: INQUIRY %02X", letter, cdb[2])
                               : FormatString("%c: INQUIRY", letter));
      EXPECT_EQ(cdb_length, 6);
      if (!data_in || data_length != 96 || cdb[4] != 96) return kIllegalRequest;
      return AnswerInquiry(drive, cdb, data);
    case 0x3B:
      log.push_back(FormatString("%c: WRITE BUFFER %u block %u", letter, cdb[2],
                                 Be32(cdb + 2) & 0xFFFFFF));
      if (player == nullptr || data_in || cdb_length != 10 || cdb[1] != 0x05) {
        return kIllegalRequest;
      }
      return AnswerFirmwareBlock(letter, cdb, data, data_length);
    case 0xD1:
      log.push_back(FormatString("%c: D1 %u %u", letter, Be32(cdb + 1), Be32(cdb + 5)));
      if (player == nullptr || cdb_length != 9 || data_length != 0) return kIllegalRequest;
      player->times.emplace_back(Be32(cdb + 1), Be32(cdb + 5));
      return 0;
    case 0xD0: {
      const uint32_t number = Be32(cdb + 2), value = Be32(cdb + 6), index = Be32(cdb + 10);
      log.push_back(data_in ? FormatString("%c: D0 %u v=%u i=%u in=%u", letter, number, value,
                                           index, data_length)
                            : FormatString("%c: D0 %u v=%u i=%u out=%u", letter, number, value,
                                           index, data_length));
      if (player == nullptr || cdb_length != 14) return kIllegalRequest;
      // The reply length byte and the data length always agree.
      if (data_in != (cdb[1] != 0) || (data_in && cdb[1] != data_length)) return kIllegalRequest;
      const auto reply = player->replies.find(number);
      if (data_in) {
        if (reply == player->replies.end() || reply->second.size() != data_length) {
          return kIllegalRequest;
        }
        std::memcpy(data, reply->second.data(), data_length);
      } else if (!player->accepted.count(number)) {
        return kIllegalRequest;
      }
      player->requests.push_back(
          {number, value, index,
           data_in ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + data_length)});
      return 0;
    }
    default:
      log.push_back(FormatString("%c: %02X", letter, cdb[0]));
      return kIllegalRequest;
  }
}

uint8_t SimVolumeIo::AnswerInquiry(SimMscDrive& drive, const uint8_t* cdb, uint8_t* data) {
  std::memset(data, 0, 96);
  const SimMscPlayer* player = drive.player.get();
  if ((cdb[1] & 1) == 0) {
    data[0] = 0x00;
    data[1] = 0x80;  // removable
    data[4] = 91;
    PutText(data + 8, 8, player ? player->vendor : "Generic");
    PutText(data + 16, 16, player ? player->product : "Card Reader");
    PutText(data + 32, 4, player ? player->revision : "1.00");
    if (player != nullptr) {
      PutBe32(data + 36, static_cast<uint32_t>(player->serial >> 32));
      PutBe32(data + 40, static_cast<uint32_t>(player->serial));
      std::memcpy(data + 44, kPlayerSignature, sizeof kPlayerSignature);
    }
    return 0;
  }
  switch (cdb[2]) {
    case 0x80:
      data[1] = 0x80;
      data[3] = drive.unit_serial_length ? drive.unit_serial_length
                                         : static_cast<uint8_t>(drive.unit_serial.size());
      std::memcpy(data + 4, drive.unit_serial.data(), std::min<size_t>(drive.unit_serial.size(), 92));
      return 0;
    case 0xC0: {
      if (player == nullptr) return kIllegalRequest;
      data[1] = 0xC0;
      std::memcpy(data + 4, kPageMagic, 4);
      PutBe32(data + 8, player->product_id);
      PutBe32(data + 12, player->firmware_version);
      PutBe32(data + 16, player->boot_version);
      PutBe32(data + 20, player->capability_flags | (player->recovery ? 0x80000000u : 0));
      PutBe32(data + 24, player->codec_flags);
      PutBe32(data + 28, player->extended_flags);
      PutBe32(data + 32, player->vendor_id);
      PutBe32(data + 36, player->hardware_revision);
      std::memcpy(data + 40, player->pavo_prefix.data(), std::min<size_t>(3, player->pavo_prefix.size()));
      PutBe32(data + 44, player->pavo_number);
      PutBe32(data + 48, player->image_format_flags);
      data[52] = static_cast<uint8_t>(player->image_width >> 8);
      data[53] = static_cast<uint8_t>(player->image_width);
      data[54] = static_cast<uint8_t>(player->image_height >> 8);
      data[55] = static_cast<uint8_t>(player->image_height);
      return 0;
    }
    case 0xC1:
      // A player in recovery mode runs its boot code, which has no drive page.
      if (player == nullptr || player->recovery) return kIllegalRequest;
      data[1] = 0xC1;
      if (drive.drive_page_magic) std::memcpy(data + 4, kPageMagic, 4);
      PutBe32(data + 8, drive.drive_id);
      std::memcpy(data + 12, drive.drive_name.data(), std::min<size_t>(24, drive.drive_name.size()));
      return 0;
    default:
      return kIllegalRequest;
  }
}

bool SimVolumeIo::AllDrivesLocked(const SimMscPlayer* player) const {
  for (const auto& drive : drives) {
    if (drive.second.player.get() == player && !drive.second.gone && drive.second.locks == 0) {
      return false;
    }
  }
  return true;
}

uint8_t SimVolumeIo::AnswerFirmwareBlock(char letter, const uint8_t* cdb, const uint8_t* data,
                                         uint32_t length) {
  SimMscPlayer* player = drives[letter].player.get();
  const uint32_t block = Be32(cdb + 2) & 0xFFFFFF;
  if (!AllDrivesLocked(player)) {
    ADD_FAILURE() << "firmware block " << block << " while a drive of the player is unlocked";
    return kNotReady;
  }
  if (length != 8192 || block != player->firmware_blocks) {
    ADD_FAILURE() << "firmware block " << block << " of " << length << " bytes out of order";
    return kIllegalRequest;
  }
  player->firmware.insert(player->firmware.end(), data, data + length);
  player->firmware_buffer_ids.push_back(cdb[2]);
  ++player->firmware_blocks;
  return 0;
}
