#include "devices/row_flags.h"

#include "media/property_set.h"
#include "support/token_set.h"

namespace {
const char kAutoSync[] = "autosync";
}

std::string FlagsFromOptions(uint32_t options) {
  std::string flags;
  if (options & kOptionAutoSync) TokenSetAdd(&flags, kAutoSync);
  return flags;
}

uint32_t ApplyFlagsToOptions(PropertySet& properties, uint32_t options) {
  std::string flags = properties.GetString("flags");
  TokenSetNormalize(&flags);
  return TokenSetContains(flags, kAutoSync) ? options | kOptionAutoSync
                                            : options & ~kOptionAutoSync;
}
