#include "sim/flash/flash_player_a.h"

#include <algorithm>

namespace {
constexpr size_t kDatabasePart = 512, kSlotSize = 256;
}  // namespace

SimFlashPlayerA::SimFlashPlayerA() { storages.resize(1); }

void SimFlashPlayerA::AddSlot(const std::vector<uint8_t>& record) {
  SimDatabaseSlot slot;
  std::copy_n(record.begin(), std::min(record.size(), kSlotSize), slot.record.begin());
  slots.push_back(slot);
}

size_t SimFlashPlayerA::FileCount() const {
  return std::count_if(slots.begin(), slots.end(),
                       [](const SimDatabaseSlot& s) { return SimGetLe32(s.record.data()) != 0; });
}

bool SimFlashPlayerA::OnRequest(uint8_t request, uint16_t, uint16_t, uint32_t* word) {
  if (recovery) return false;
  if (request == 118) {
    *word = value118;
    return true;
  }
  if (request == 130 && !slots.empty()) {
    // The base serves the image; it is only made from the slots here.
    database.clear();
    for (const auto& slot : slots) database.append(slot.record.begin(), slot.record.end());
    has_database = true;
  }
  return false;
}

void SimFlashPlayerA::TakeInfoRecord(const std::vector<uint8_t>& record) {
  if (upload_ != Upload::kFile) return SimFlashPlayer::TakeInfoRecord(record);
  want_record_ = false;
  SimDatabaseSlot slot;
  std::copy_n(record.begin() + kDatabasePart, kSlotSize, slot.record.begin());
  slot.file_record = record;
  slot.data = upload_data_.substr(0, std::min<size_t>(SimGetLe32(&record[8]), upload_data_.size()));
  auto free_slot = slot_policy == SlotPolicy::kAppend
                       ? slots.end()
                       : std::find_if(slots.begin(), slots.end(), [](const SimDatabaseSlot& s) {
                           return SimGetLe32(s.record.data()) == 0;
                         });
  if (free_slot != slots.end())
    *free_slot = slot;
  else
    slots.push_back(slot);
  QueueStatus("DONE");
  EndTransfer();
}

void SimFlashPlayerA::TakeInbound(const std::vector<uint8_t>& bytes) {
  if (inbound_ != Inbound::kDeleteRecord) return SimFlashPlayer::TakeInbound(bytes);
  EndTransfer();
  const uint32_t fid = SimGetLe32(&bytes[kDatabasePart + 4]);
  if (fid >= slots.size() || SimGetLe32(slots[fid].record.data()) == 0) {
    QueueStatus("NOFL");
    return;
  }
  slots[fid] = SimDatabaseSlot();
  QueueStatus("DELD");
}
