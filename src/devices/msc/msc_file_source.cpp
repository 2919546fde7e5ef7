#include "devices/msc/msc_file_source.h"

#include <new>

Result EmptyFileSource::AddRoot(const std::string& root) {
  roots_.push_back(root);
  return rc::kOk;
}

Result EmptyFileSource::Create(uint32_t, const std::string&, const std::string& first_root,
                               std::unique_ptr<MscFileSource>* out) {
  out->reset(new (std::nothrow) EmptyFileSource(first_root));
  return *out ? rc::kOk : rc::kOutOfMemory;
}
