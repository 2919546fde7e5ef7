// The file source's database: where it lies, its schema, the root record, the rebuild rules.
#include "devices/msc/file_source.h"

#include "devices/msc/file_source_observer.h"

const char FileSource::kRootTitle[] = "All Music";

FileSource::~FileSource() { db_.Close(); }

Result FileSource::OpenDatabase(uint8_t* created) {
  if (created) *created = 0;
  return rc::kOk;
}

Result FileSource::RewritePaths(const std::function<bool(std::string* path)>&) {
  return rc::kNotImplemented;
}
