#include "devices/msc/source_sinks.h"

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

Result PlaylistImportSink::OnTitle(const std::string& title) {
  title_ = title;
  return rc::kOk;
}

Result PlaylistImportSink::AddEntry(const std::string&) { return rc::kOk; }
