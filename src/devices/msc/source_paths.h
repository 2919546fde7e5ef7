// Paths as the file source keeps them: canonical full paths on the PC, stored in the "path"
// column as if their bytes were Latin-1 (so that any ANSI byte survives the UTF-8 column), and
// the lookup of a record by path.
#pragma once

#include <cstdint>
#include <string>

#include "db/record_database.h"

// The full path with "." and ".." resolved and every '/' turned into '\'.
Result CanonicalPath(const std::string& path, std::string* out);
std::string StoredPathForm(const std::string& path);
// The path of a record, back in the form the file system takes.
std::string RecordPath(RecordSet& record);

// The record whose "path" is `path` (canonical): rc::kOk with the record, rc::kNotFound when
// none has it, or the query's failure.
Result FindRecordByPath(RecordDatabase* database, const std::string& path,
                        RefPtr<RecordSet>* record);

struct FileStatus {
  uint64_t size = 0;
  int32_t mtime = 0;
  int32_t ctime = 0;
  bool is_folder = false;
};
// False when the path cannot be examined.
bool ReadFileStatus(const std::string& path, FileStatus* status);
