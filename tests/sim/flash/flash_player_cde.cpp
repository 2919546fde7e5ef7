#include "sim/flash/flash_player_cde.h"

#include <algorithm>
#include <cstring>

namespace {

void PutField(std::vector<uint8_t>& record, uint32_t offset, const std::string& text) {
  memcpy(&record[offset], text.data(), std::min<size_t>(text.size(), 63));
}

void Put24(std::string& out, uint32_t v) {
  for (int i = 0; i < 3; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
}

}  // namespace

SimDirectoryPlayer::SimDirectoryPlayer(bool by_name, uint16_t device_id) : by_name_(by_name) {
  SimPutLe32(&info_block[4], static_cast<uint32_t>(device_id) << 16 | 0x0123);
  storages.resize(2);
  storages[1].name = "Card";
  storages[1].kind = 2;
}

void SimDirectoryPlayer::SetCapabilities(uint32_t flags) { SimPutLe32(&info_block[8], flags); }

SimFile& SimDirectoryPlayer::AddFile(uint32_t storage, uint32_t fid, const std::string& data,
                                     const std::string& name, const std::string& directory,
                                     uint32_t generation) {
  SimFile file;
  file.record = SimFileRecord(fid, static_cast<uint32_t>(data.size()));
  file.data = data;
  SimPutLe32(&file.record[kSimFlagsAt], 0x110);
  PutField(file.record, kSimNameAt, name);
  PutField(file.record, kSimTitleAt, name);
  PutField(file.record, kSimDirectoryAt, directory);
  SimPutLe32(&file.record[kSimGenerationAt], generation);
  storages.at(storage).files.push_back(file);
  return storages[storage].files.back();
}

SimFile& SimDirectoryPlayer::AddPlaylist(
    uint32_t storage, uint32_t fid, const std::string& name,
    const std::vector<std::pair<uint32_t, uint32_t>>& entries, uint32_t generation) {
  SimFile& file = AddFile(storage, fid, SimFidList(entries), name, "", generation);
  SimPutLe32(&file.record[kSimTypeAt], 0x504C5320);  // "PLS "
  return file;
}

bool SimDirectoryPlayer::OnRequest(uint8_t request, uint16_t, uint16_t index, uint32_t* word) {
  if (request == 99 && old_firmware) {
    *word = 99;  // the echo: an unknown request
    return true;
  }
  if (request == 105 && endless_directory) {
    Queue(SimFileRecord(index + 1u, 0));
    *word = 1;
    return true;
  }
  return false;
}

SimFile* SimDirectoryPlayer::FindNamedFile(SimStorage& storage,
                                           const std::vector<uint8_t>& record) {
  if (!by_name_) return SimFlashPlayer::FindNamedFile(storage, record);
  if (record.size() < 2048) return nullptr;
  const std::string name = SimField(record, kSimNameAt);
  const std::string directory = SimField(record, kSimDirectoryAt);
  for (SimFile& file : storage.files) {
    if (SimField(file.record, kSimNameAt) == name &&
        SimField(file.record, kSimDirectoryAt) == directory) {
      ++finds_by_name;
      return &file;
    }
  }
  return nullptr;
}

std::string SimField(const std::vector<uint8_t>& record, uint32_t offset, uint32_t width) {
  const char* start = reinterpret_cast<const char*>(&record.at(offset));
  return std::string(start, strnlen(start, width));
}

std::string SimFidList(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
  std::string out("FIDLST\x01\x00\x00", 9);
  Put24(out, static_cast<uint32_t>(entries.size()));
  for (const auto& [fid, generation] : entries) {
    Put24(out, fid);
    Put24(out, generation);
  }
  return out;
}
