#include "devices/msc/directory_walk.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/path_helpers.h"

namespace {

struct WalkEntry {
  std::string path;
  std::string name;
  DWORD attributes;
  bool is_folder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

std::vector<WalkEntry> ListFolder(const std::string& folder) {
  const std::string prefix = WithTrailingSeparator(folder);
  std::vector<WalkEntry> entries;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((prefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    if (IsDotOrDotDot(found.cFileName)) continue;
    entries.push_back({prefix + found.cFileName, found.cFileName, found.dwFileAttributes});
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(entries.begin(), entries.end(), [](const WalkEntry& a, const WalkEntry& b) {
    if (a.is_folder() != b.is_folder()) return a.is_folder();
    return _stricmp(a.path.c_str(), b.path.c_str()) < 0;
  });
  return entries;
}

}  // namespace

Result scan_directory(DirectoryVisitor* visitor, const std::string& path, uint32_t flags) {
  const std::string name = BaseName(path);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return visitor->OnError(path, name, rc::FromWin32(GetLastError()));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return visitor->OnFile(path, name);

  if (flags & kWalkAnnounceFolder) {
    const Result entered = visitor->OnEnterDirectory(path, name);
    if (rc::Failed(entered)) return entered;
  }
  for (const WalkEntry& entry : ListFolder(path)) {
    if ((flags & kWalkSkipHidden) &&
        (entry.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
      continue;
    }
    Result result = rc::kOk;
    if (!entry.is_folder()) {
      result = visitor->OnFile(entry.path, entry.name);
    } else if ((flags & kWalkNoDescent) == 0) {
      result = scan_directory(visitor, entry.path, flags | kWalkAnnounceFolder);
    } else if (flags & kWalkReportSubfolders) {
      result = visitor->OnEnterDirectory(entry.path, entry.name);
    }
    if (rc::Failed(result)) return result;
  }
  return (flags & kWalkAnnounceFolder) ? visitor->OnLeaveDirectory(path, name) : rc::kOk;
}
