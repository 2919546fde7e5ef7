// The one recursive folder walk of the file source. Entries are visited in a fixed order, so
// that fids and playlist members come out the same on every pass: in each folder the
// subfolders first, then the files, each kind sorted by full path without regard to case.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class FolderListingApi;

// Called by scan_directory for each entry. `path` is the entry's full path, `name` its last
// component. A negative result stops the walk and becomes its result.
class DirectoryVisitor {
 public:
  virtual ~DirectoryVisitor() = default;
  virtual Result OnFile(const std::string& path, const std::string& name) = 0;
  virtual Result OnEnterDirectory(const std::string& path, const std::string& name) {
    return rc::kOk;
  }
  virtual Result OnLeaveDirectory(const std::string& path, const std::string& name) {
    return rc::kOk;
  }
  // The entry's attributes cannot be read, or the folder cannot be listed (an empty folder
  // is no failure); the default stops the walk. A folder whose listing failed is walked with
  // the entries read before the failure when the answer is 0 or more.
  virtual Result OnError(const std::string& path, const std::string& name, Result error) {
    return error;
  }
};

// Flags of scan_directory.
constexpr uint32_t kWalkAnnounceFolder = 0x01;   // OnEnterDirectory/OnLeaveDirectory around it
constexpr uint32_t kWalkSkipHidden = 0x02;       // hidden and system entries are left out
constexpr uint32_t kWalkNoDescent = 0x04;        // subfolders are not walked
constexpr uint32_t kWalkReportSubfolders = 0x08; // with kWalkNoDescent: OnEnterDirectory each

// Walks one file or folder. A file is handed to OnFile; a folder is listed, and a walk of each
// subfolder runs with the same flags plus kWalkAnnounceFolder. The file source walks its roots
// with kWalkAnnounceFolder | kWalkSkipHidden. The drive is read through `listing` (null: the
// system's functions).
Result scan_directory(DirectoryVisitor* visitor, const std::string& path, uint32_t flags,
                      FolderListingApi* listing = nullptr);
