#include "devices/msc/source_path_compare.h"

#include <algorithm>

#include "support/collation.h"
#include "support/path_helpers.h"

namespace {

// The canonical form with backslashes, in lower case, ending in a backslash; empty when the
// path has none.
std::string ComparableFolder(const std::string& path) {
  std::string slashed = path;
  std::replace(slashed.begin(), slashed.end(), '/', '\\');
  std::string canonical;
  if (rc::Failed(NormalizePath(slashed, &canonical)) || canonical.empty()) return std::string();
  return WithTrailingSeparator(ToLowerCopy(canonical.c_str()));
}

}  // namespace

bool PathBelowAny(const std::string& path, const std::vector<std::string>& folders) {
  const std::string key = ComparableFolder(path);
  if (key.empty()) return false;
  for (const std::string& folder : folders) {
    const std::string prefix = ComparableFolder(folder);
    if (!prefix.empty() && key.size() > prefix.size() &&
        key.compare(0, prefix.size(), prefix) == 0) {
      return true;
    }
  }
  return false;
}

bool PathIsAny(const std::string& path, const std::vector<std::string>& paths) {
  const std::string key = ComparableFolder(path);
  if (key.empty()) return false;
  for (const std::string& other : paths) {
    if (ComparableFolder(other) == key) return true;
  }
  return false;
}
