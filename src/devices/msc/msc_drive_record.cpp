#include "devices/msc/msc_drive_record.h"

#include <map>

#include "support/format_string.h"

std::string SerialText(const MscDriveRecord& record) {
  return FormatString("%08X%08X", record.serial_high(), record.serial_low());
}

std::string DriveRoot(char letter) { return FormatString("%c:\\", letter); }

std::string PrintableUnitSerial(const std::string& unit_serial) {
  bool printable = true;
  for (unsigned char c : unit_serial) printable = printable && c >= 32 && c <= 126;
  if (printable) return unit_serial;
  std::string hex;
  for (unsigned char c : unit_serial) hex += FormatString("%02X", c);
  return hex;
}

std::vector<MscDriveRecord> MergeDriveRecords(const std::vector<MscDriveRecord>& per_drive) {
  std::map<uint64_t, MscDriveRecord> by_serial;
  for (const MscDriveRecord& record : per_drive) {
    auto found = by_serial.find(record.serial);
    if (found == by_serial.end()) {
      by_serial.emplace(record.serial, record);
    } else if (!record.drive_entries.empty()) {
      found->second.drive_entries.push_back(record.drive_entries.front());
    }
  }
  std::vector<MscDriveRecord> merged;
  merged.reserve(by_serial.size());
  for (auto& pair : by_serial) merged.push_back(std::move(pair.second));
  return merged;
}
