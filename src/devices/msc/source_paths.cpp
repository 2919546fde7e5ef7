#include "devices/msc/source_paths.h"

#include <windows.h>

#include <sys/stat.h>

#include "support/path_helpers.h"
#include "support/text_convert.h"

Result CanonicalPath(const std::string& path, std::string* out) {
  if (path.empty()) return rc::kInvalidArg;
  char buffer[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (length == 0) return rc::FromWin32(GetLastError());
  if (length >= sizeof buffer) return rc::kPathTooLong;
  out->assign(buffer, length);
  return rc::kOk;
}

std::string StoredPathForm(const std::string& path) { return Latin1ToUtf8(path); }

std::string RecordPath(RecordSet& record) { return Utf8ToLatin1(record.GetString("path")); }

Result FindRecordByPath(RecordDatabase* database, const std::string& path,
                        RefPtr<RecordSet>* record) {
  RefPtr<RecordQuery> query;
  Result status = database->CreateQuery(&query);
  if (rc::Succeeded(status) && !query) status = rc::kOutOfMemory;
  if (rc::Succeeded(status)) {
    status = query->AddTextCondition("path", kOpEqual, StoredPathForm(path));
  }
  RefPtr<RecordSet> found;
  if (rc::Succeeded(status)) status = query->Execute(&found);
  if (rc::Failed(status)) return status;
  if (!found || found->IsEOF()) return rc::kNotFound;
  *record = found;
  return rc::kOk;
}

bool ReadFileStatus(const std::string& path, FileStatus* status) {
  struct _stat64 info;
  if (_stat64(path.c_str(), &info) != 0) return false;
  status->size = static_cast<uint64_t>(info.st_size);
  status->mtime = static_cast<int32_t>(info.st_mtime);
  status->ctime = static_cast<int32_t>(info.st_ctime);
  status->is_folder = (info.st_mode & _S_IFDIR) != 0;
  return true;
}
