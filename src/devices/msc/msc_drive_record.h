// What is known of one mass-storage player: its identification texts and numbers from the
// INQUIRY data and the player's two vendor pages, and one entry per drive letter it shows.
// Copied by value: the device and each of its channels keep their own copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The USB vendor id of the players' own maker, assumed when a player does not report one.
constexpr uint32_t kHomeVendorId = 0x2F1A;

// Capability flags of the player identification page.
constexpr uint32_t kCapabilityRecovery = 0x80000000u;
constexpr uint32_t kCapabilityExtended = 0x40000000u;

struct MscDriveEntry {
  char drive_letter = 0;
  std::string unit_serial{};  // INQUIRY page 0x80
  uint32_t drive_id = 0;    // drive identification page; 0 when not read
  std::string drive_name{};   // likewise; empty when not read
  uint8_t not_hot_pluggable = 1;
};

struct MscDriveRecord {
  char drive_letter = 0;  // the first drive found
  std::vector<MscDriveEntry> drive_entries;
  std::string vendor;
  std::string product;
  std::string revision;
  uint64_t serial = 0;
  uint32_t product_id = 0;
  uint32_t capability_flags = 0;
  uint32_t codec_flags = 0;
  uint32_t firmware_version = 0;  // BCD: major in bits 8 to 15, minor in bits 0 to 7
  uint32_t boot_version = 0;      // likewise
  uint32_t vendor_id = kHomeVendorId;
  uint32_t hardware_revision = 0;
  std::string pavo_prefix;
  uint32_t pavo_number = 0;
  uint32_t image_format_flags = 0;
  uint32_t preferred_image_width = 0;
  uint32_t preferred_image_height = 0;

  bool recovery_mode() const { return (capability_flags & kCapabilityRecovery) != 0; }
  uint32_t serial_high() const { return static_cast<uint32_t>(serial >> 32); }
  uint32_t serial_low() const { return static_cast<uint32_t>(serial); }
};

// The player's serial as 16 upper-case hex digits, high half first.
std::string SerialText(const MscDriveRecord& record);

// The root of a drive letter: "E:\".
std::string DriveRoot(char letter);

// The unit serial as a key and a display text: the text itself when every character lies in
// 32..126, else "%02X" of every byte.
std::string PrintableUnitSerial(const std::string& unit_serial);

// Gathers per-drive records into one record per player (joined by serial): a record whose
// serial was seen already adds only its first drive entry to the first one's entries. The
// result is in ascending order of serial.
std::vector<MscDriveRecord> MergeDriveRecords(const std::vector<MscDriveRecord>& per_drive);
