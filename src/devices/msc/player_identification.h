// Fills a player's record from its identification data (standard INQUIRY data and the player
// identification page, 96 bytes each).
#pragma once

#include <cstdint>

#include "devices/msc/msc_drive_record.h"

void ApplyInquiryData(const uint8_t* inquiry_data, MscDriveRecord* record);
void ApplyPlayerPage(const uint8_t* page, MscDriveRecord* record);
// The drive identification page: drive id and name.
void ApplyDrivePage(const uint8_t* page, MscDriveEntry* entry);
