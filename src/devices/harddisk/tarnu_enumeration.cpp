// Listing the hard-disk player's files, playlists and fids from its music database.
#include "devices/harddisk/tarnu_channel.h"

#include "media/property_set.h"
#include "support/token_set.h"

namespace {
constexpr int32_t kAutosyncOption = 0x400;
}  // namespace

Result TarnuChannel::EnumFiles(uint32_t, HolderVisitor*) { return rc::kNotImplemented; }

Result TarnuChannel::EnumContents(ContentsVisitor*) { return rc::kNotImplemented; }

Result TarnuChannel::EnumFids(RefPtr<FidList>*) { return rc::kNotImplemented; }

Result TarnuChannel::ForEachRow(TarnuRowCollector*, ColumnTable*) { return rc::kNotImplemented; }

std::string TarnuChannel::FlagsFromOptions(int32_t options) {
  std::string flags;
  if (options & kAutosyncOption) TokenSetAdd(&flags, "autosync");
  return flags;
}

int32_t TarnuChannel::ApplyFlagsToOptions(PropertySet& file, int32_t options) {
  std::string flags = file.GetString("flags");
  TokenSetNormalize(&flags);
  if (TokenSetContains(flags, "autosync")) return options | kAutosyncOption;
  return options & ~kAutosyncOption;
}
