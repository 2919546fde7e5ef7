#include "devices/msc/directory_walk.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "devices/msc/folder_listing_api.h"
#include "support/path_helpers.h"

namespace {

struct WalkEntry {
  std::string path;
  std::string name;
  DWORD attributes;
  bool is_folder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// The folder's entries in walk order. A listing that fails, at its start or part-way, answers
// the error with what was read before it; "nothing found" is an empty folder, no failure.
Result ListFolder(FolderListingApi* listing, const std::string& folder,
                  std::vector<WalkEntry>* entries) {
  const std::string prefix = WithTrailingSeparator(folder);
  Result result = rc::kOk;
  WIN32_FIND_DATAA found;
  HANDLE search = listing->FindFirstFileA((prefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = listing->GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
      result = rc::FromWin32(error);
    }
  } else {
    do {
      if (IsDotOrDotDot(found.cFileName)) continue;
      entries->push_back({prefix + found.cFileName, found.cFileName, found.dwFileAttributes});
    } while (listing->FindNextFileA(search, &found));
    const DWORD error = listing->GetLastError();
    if (error != ERROR_NO_MORE_FILES) result = rc::FromWin32(error);
    listing->FindClose(search);
  }
  std::sort(entries->begin(), entries->end(), [](const WalkEntry& a, const WalkEntry& b) {
    if (a.is_folder() != b.is_folder()) return a.is_folder();
    return _stricmp(a.path.c_str(), b.path.c_str()) < 0;
  });
  return result;
}

}  // namespace

Result scan_directory(DirectoryVisitor* visitor, const std::string& path, uint32_t flags,
                      FolderListingApi* listing) {
  if (listing == nullptr) listing = FolderListingApi::System();
  const std::string name = BaseName(path);
  const DWORD attributes = listing->GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return visitor->OnError(path, name, rc::FromWin32(listing->GetLastError()));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return visitor->OnFile(path, name);

  if (flags & kWalkAnnounceFolder) {
    const Result entered = visitor->OnEnterDirectory(path, name);
    if (rc::Failed(entered)) return entered;
  }
  std::vector<WalkEntry> entries;
  const Result listed = ListFolder(listing, path, &entries);
  if (rc::Failed(listed)) {
    const Result answer = visitor->OnError(path, name, listed);
    if (rc::Failed(answer)) return answer;
  }
  for (const WalkEntry& entry : entries) {
    if ((flags & kWalkSkipHidden) &&
        (entry.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
      continue;
    }
    Result result = rc::kOk;
    if (!entry.is_folder()) {
      result = visitor->OnFile(entry.path, entry.name);
    } else if ((flags & kWalkNoDescent) == 0) {
      result = scan_directory(visitor, entry.path, flags | kWalkAnnounceFolder, listing);
    } else if (flags & kWalkReportSubfolders) {
      result = visitor->OnEnterDirectory(entry.path, entry.name);
    }
    if (rc::Failed(result)) return result;
  }
  return (flags & kWalkAnnounceFolder) ? visitor->OnLeaveDirectory(path, name) : rc::kOk;
}
