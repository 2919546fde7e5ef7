// Listing the hard-disk player's files, playlists and fids from its music database.
#include "devices/harddisk/tarnu_channel.h"

#include <new>

#include "db/column_table.h"
#include "devices/fid_enumerator.h"
#include "devices/row_flags.h"
#include "devices/tarnu_row_collector.h"
#include "devices/visitors.h"
#include "media/property_set.h"

namespace {

// Hands the storage to the contents visitor's storage operation.
class StorageToContents : public HolderVisitor {
 public:
  explicit StorageToContents(ContentsVisitor* visitor) : visitor_(visitor) {}
  bool Visit(PropertyHolder& storage) override { return visitor_->Storage(storage); }

 private:
  ContentsVisitor* visitor_;
};

}  // namespace

Result TarnuChannel::EnumFiles(uint32_t storage, HolderVisitor* visitor) {
  if (static_cast<uint16_t>(storage) != 0) return rc::kBadIndex;
  const Result loaded = EnsureDatabase();
  if (rc::Failed(loaded)) return loaded;
  TarnuRowCollector collector(visitor, nullptr);
  return ForEachRow(&collector, database_.get());
}

Result TarnuChannel::EnumContents(ContentsVisitor* visitor) {
  Result result = EnsureDatabase();
  if (rc::Failed(result)) return result;
  StorageToContents storages(visitor);
  result = EnumStorages(&storages);
  if (rc::Failed(result)) return result;
  TarnuRowCollector collector(nullptr, visitor);
  result = ForEachRow(&collector, database_.get());
  if (rc::Succeeded(result)) result = collector.WalkPlaylists();
  return result;
}

Result TarnuChannel::EnumFids(RefPtr<FidList>* list) {
  RefPtr<FidEnumerator> fids(new (std::nothrow) FidEnumerator);
  if (!fids) return rc::kOutOfMemory;
  *list = fids;
  return rc::kOk;
}

Result TarnuChannel::ForEachRow(TarnuRowCollector* collector, ColumnTable* table) {
  return ::ForEachRow(collector, table);
}

std::string TarnuChannel::FlagsFromOptions(int32_t options) {
  return ::FlagsFromOptions(static_cast<uint32_t>(options));
}

int32_t TarnuChannel::ApplyFlagsToOptions(PropertySet& file, int32_t options) {
  return static_cast<int32_t>(::ApplyFlagsToOptions(file, static_cast<uint32_t>(options)));
}
