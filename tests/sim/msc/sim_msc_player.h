// A simulated mass-storage player behind the NT back end's volume I/O: each drive letter is a
// volume that answers SCSI pass-through, volume locks, flushes and the hot-plug query. A
// player answers INQUIRY, its unit serial, player and drive identification pages, the vendor
// commands 0xD0 (player requests) and 0xD1 (time) and WRITE BUFFER (firmware blocks) as the
// players do; what the players do is the model, not what our code expects.
//
// Like a player it refuses what it would refuse: a firmware block while any of its drives is
// unlocked, a block out of order, a malformed pass-through request (the test fails). Requests
// it does not know get sense key 5 (illegal request).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "devices/msc/volume_io_api.h"

// One player, shared by all of its drive letters.
struct SimMscPlayer {
  std::string vendor = "Qel", product = "Qel MS 20", revision = "1.0";
  uint64_t serial = 0x0123456789ABCDEFull;
  uint32_t product_id = 0x5041;
  uint32_t firmware_version = 0x0215, boot_version = 0x0110;
  uint32_t capability_flags = 0, codec_flags = 0x1;
  uint32_t extended_flags = 0;  // bits 0 to 5; sent only with the 0x40 bit of capability byte 20
  uint32_t vendor_id = 0, hardware_revision = 0, pavo_number = 0, image_format_flags = 0;
  std::string pavo_prefix;
  uint16_t image_width = 0, image_height = 0;
  bool recovery = false;  // capability bit 31; no drive identification page

  // Replies of the 0xD0 requests by number; a request without one is not known to the
  // player unless it sends no reply (those in `accepted`).
  std::map<uint32_t, std::vector<uint8_t>> replies;
  std::set<uint32_t> accepted = {117, 119, 134, 137, 142, 145, 146};
  // What the player received.
  struct Request {
    uint32_t number, value, index;
    std::vector<uint8_t> data;  // data-out bytes
  };
  std::vector<Request> requests;
  std::vector<std::pair<uint32_t, uint32_t>> times;  // 0xD1 values
  std::vector<uint8_t> firmware;                      // concatenated WRITE BUFFER blocks
  std::vector<uint8_t> firmware_buffer_ids;
  uint32_t firmware_blocks = 0;
};

// One drive letter.
struct SimMscDrive {
  std::shared_ptr<SimMscPlayer> player;  // null: a removable drive that is no player
  UINT drive_type = DRIVE_REMOVABLE;
  std::string unit_serial = "UNIT0001";
  uint8_t unit_serial_length = 0;  // non-zero: claimed in byte 3 instead of the true length
  uint32_t drive_id = 1;
  std::string drive_name = "Internal";
  bool drive_page_magic = true;
  bool hot_pluggable = true;
  bool gone = false;            // the volume cannot be opened
  bool access_denied = false;   // pass-through fails with ERROR_ACCESS_DENIED
  bool silent_failure = false;  // pass-through fails with last error 0
  bool lock_refused = false;
  // Set by the volume I/O.
  int locks = 0;     // handles that hold the lock
  int flushes = 0;
};

class SimVolumeIo : public VolumeIoApi {
 public:
  SimVolumeIo();
  ~SimVolumeIo() override;

  std::map<char, SimMscDrive> drives;
  WindowsVersion version{VER_PLATFORM_WIN32_NT, 6, 1};
  // The drives present and their types are the system's (GetLogicalDrives, GetDriveTypeA);
  // the simulated drives answer the volume I/O of their letters.
  bool with_system_drives = false;

  // "open E:", "close E:", "lock E:", "flush E:", "hotplug E:", "E: INQUIRY", "E: INQUIRY 80",
  // "E: D0 142 v=10 i=0 out=96", "E: D0 138 in=124", "E: D1 1 2", "E: WRITE BUFFER 0 block 3".
  std::vector<std::string> log;
  // Lines of the log that begin with `prefix`, in order.
  std::vector<std::string> LogLines(const std::string& prefix) const;
  size_t OpenHandleCount() const { return handles_.size(); }

  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                       DWORD out_size, LPDWORD returned) override;
  BOOL FlushFileBuffers(HANDLE file) override;
  BOOL CloseHandle(HANDLE handle) override;
  DWORD GetLastError() override { return last_error_; }
  DWORD GetLogicalDrives() override;
  UINT GetDriveTypeA(LPCSTR root) override;
  WindowsVersion GetVersion() override { return version; }

 private:
  struct Handle {
    char letter;
    bool locked = false;
  };
  BOOL Fail(DWORD error);
  BOOL PassThrough(Handle& handle, uint8_t* buffer, DWORD in_size, DWORD out_size,
                   LPDWORD returned);
  // The command's answer: 0 good, else the sense key (the sense area is filled).
  uint8_t Answer(char letter, const uint8_t* cdb, uint8_t cdb_length, bool data_in,
                 uint8_t* data, uint32_t data_length);
  uint8_t AnswerInquiry(SimMscDrive& drive, const uint8_t* cdb, uint8_t* data);
  uint8_t AnswerFirmwareBlock(char letter, const uint8_t* cdb, const uint8_t* data,
                              uint32_t length);
  bool AllDrivesLocked(const SimMscPlayer* player) const;

  std::map<HANDLE, Handle> handles_;
  uintptr_t next_handle_ = 0x1000;
  DWORD last_error_ = 0;
};
