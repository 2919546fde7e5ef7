#include "devices/msc/source_sinks.h"

#include <sys/stat.h>

#include <algorithm>

#include "devices/msc/source_path_compare.h"
#include "support/path_helpers.h"

void PropertySetTagSink::SetInt(const char* key, uint32_t value) {
  properties_->SetInt(key, static_cast<int32_t>(value));
}

void PropertySetTagSink::SetString(const char* key, const char* value) {
  properties_->SetString(key, value);
}

PlaylistImportSink::PlaylistImportSink(const std::vector<std::string>& roots,
                                       const std::vector<std::string>& open_folders,
                                       Walk walk)
    : roots_(roots), open_folders_(open_folders), walk_(std::move(walk)) {}

Result PlaylistImportSink::SetTitle(const std::string& title) {
  title_ = title;
  return rc::kOk;
}

Result PlaylistImportSink::AddEntry(const std::string& path) {
  std::string slashed = path;
  std::replace(slashed.begin(), slashed.end(), '/', '\\');
  std::string resolved;
  if (rc::Failed(NormalizePath(slashed, &resolved))) return rc::kOk;
  // Decided on the text alone, so that a file of the PC or of the network is never touched.
  if (PathIsAny(resolved, open_folders_) || PathIsAny(resolved, roots_)) return rc::kOk;
  if (!PathBelowAny(resolved, roots_)) return rc::kOk;
  struct _stat64 status;
  if (_stat64(resolved.c_str(), &status) != 0) return rc::kOk;
  return walk_(resolved);
}
