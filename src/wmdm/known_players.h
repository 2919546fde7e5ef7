// What this process last learned of each player's storages, kept so that a player busy with
// another operation (an upload on its other storage, another program) can still be listed.
// Process-wide; players are named by their Device unique id. Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/property_holder.h"
#include "wmdm/qel_device_ptr.h"

// One storage as a WMDM device last saw it; the holders are copies of its own.
struct KnownStorage {
  uint32_t storage_count = 0;
  PropertyHolder device_info;
  bool has_device_info = false;
  std::vector<uint8_t> serial;
  int64_t total_size = 0;
  std::wstring name;
  FileHolderList files;
};

// A copy of `files` whose holders hold copies of the sets.
FileHolderList CloneFiles(const FileHolderList& files);

namespace known_players {

// Replaces what is known of storage `index` of the player with `storage`, whose holders must
// be copies of the caller's own.
void Remember(const std::string& player_id, uint32_t index, KnownStorage&& storage);
// The storage count last remembered for the player; false when nothing is known.
bool StorageCount(const std::string& player_id, uint32_t* count);
// A copy of what is known of the storage; false when nothing is.
bool Recall(const std::string& player_id, uint32_t index, KnownStorage* storage);

}  // namespace known_players
