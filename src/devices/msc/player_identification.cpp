#include "devices/msc/player_identification.h"

#include <cstring>

#include "devices/msc/scsi_command.h"
#include "support/byte_order.h"

void ApplyInquiryData(const uint8_t* inquiry_data, MscDriveRecord* record) {
  record->vendor = inquiry::Vendor(inquiry_data);
  record->product = inquiry::Product(inquiry_data);
  record->revision = inquiry::Revision(inquiry_data);
  record->serial = inquiry::Serial(inquiry_data);
}

void ApplyPlayerPage(const uint8_t* page, MscDriveRecord* record) {
  record->product_id = inquiry::Word(page, 8);
  record->firmware_version = inquiry::Word(page, 12);
  record->boot_version = inquiry::Word(page, 16);
  record->capability_flags = inquiry::Word(page, 20);
  record->codec_flags = inquiry::Word(page, 24);

  // Each extended field counts only when byte 20 says the fields are there and its own bit
  // is set; otherwise it keeps its default, whatever the bytes hold.
  const uint32_t present = (page[20] & 0x40) ? inquiry::Word(page, 28) : 0;
  record->vendor_id = (present & 0x01) ? inquiry::Word(page, 32) : kHomeVendorId;
  record->hardware_revision = (present & 0x02) ? inquiry::Word(page, 36) : 0;
  record->pavo_prefix.clear();
  if (present & 0x04) {
    const char* prefix = reinterpret_cast<const char*>(page + 40);
    record->pavo_prefix.assign(prefix, strnlen(prefix, 3));
  }
  record->pavo_number = (present & 0x08) ? inquiry::Word(page, 44) : 0;
  record->image_format_flags = (present & 0x10) ? inquiry::Word(page, 48) : 0;
  record->preferred_image_width = (present & 0x20) ? bytes::Be16(page + 52) : 0;
  record->preferred_image_height = (present & 0x20) ? bytes::Be16(page + 54) : 0;
}

void ApplyDrivePage(const uint8_t* page, MscDriveEntry* entry) {
  entry->drive_id = inquiry::Word(page, 8);
  entry->drive_name = inquiry::DriveName(page);
}
