#include "wmdm/known_players.h"

#include <map>
#include <memory>
#include <utility>

#include "support/registered_lock.h"

namespace {

RegisteredLock g_guard("KnownPlayers");

std::map<std::pair<std::string, uint32_t>, KnownStorage>& Storages() {
  static std::map<std::pair<std::string, uint32_t>, KnownStorage> storages;
  return storages;
}

void CopyInto(KnownStorage* to, const KnownStorage& from) {
  to->storage_count = from.storage_count;
  to->device_info = PropertyHolder::CloneFrom(from.device_info);
  to->has_device_info = from.has_device_info;
  to->serial = from.serial;
  to->total_size = from.total_size;
  to->name = from.name;
  to->files = CloneFiles(from.files);
}

}  // namespace

FileHolderList CloneFiles(const FileHolderList& files) {
  FileHolderList copies;
  copies.reserve(files.size());
  for (const auto& file : files)
    copies.emplace_back(new PropertyHolder(PropertyHolder::CloneFrom(*file)));
  return copies;
}

namespace known_players {

void Remember(const std::string& player_id, uint32_t index, KnownStorage&& storage) {
  ScopedEnter<RegisteredLock> lock(g_guard);
  Storages()[{player_id, index}] = std::move(storage);
}

bool StorageCount(const std::string& player_id, uint32_t* count) {
  ScopedEnter<RegisteredLock> lock(g_guard);
  const auto found = Storages().lower_bound({player_id, 0});
  if (found == Storages().end() || found->first.first != player_id) return false;
  *count = found->second.storage_count;
  return true;
}

bool Recall(const std::string& player_id, uint32_t index, KnownStorage* storage) {
  ScopedEnter<RegisteredLock> lock(g_guard);
  const auto found = Storages().find({player_id, index});
  if (found == Storages().end()) return false;
  CopyInto(storage, found->second);
  return true;
}

}  // namespace known_players
