// The drive as the folder walk reads it, with failures on demand: one folder whose listing
// fails, or a drive that goes away after a number of entries were listed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "devices/msc/folder_listing_api.h"

class FailingFolderListing : public FolderListingApi {
 public:
  // Listing a folder of this name (its last component) fails with `failing_error`.
  std::string failing_folder;
  DWORD failing_error = ERROR_ACCESS_DENIED;
  // After this many entries were listed, every call fails as on a drive pulled out.
  uint32_t entries_before_gone = UINT32_MAX;

  bool gone() const { return listed_ >= entries_before_gone; }

  DWORD GetFileAttributesA(LPCSTR path) override {
    if (gone()) return Fail(ERROR_NOT_READY), INVALID_FILE_ATTRIBUTES;
    const DWORD attributes = ::GetFileAttributesA(path);
    error_ = ::GetLastError();
    return attributes;
  }
  HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found) override {
    if (gone()) return Fail(ERROR_NOT_READY), INVALID_HANDLE_VALUE;
    const std::string suffix = "\\" + failing_folder + "\\*";
    const size_t length = std::strlen(pattern);
    if (!failing_folder.empty() && length >= suffix.size() &&
        _stricmp(pattern + length - suffix.size(), suffix.c_str()) == 0) {
      return Fail(failing_error), INVALID_HANDLE_VALUE;
    }
    const HANDLE search = ::FindFirstFileA(pattern, found);
    error_ = ::GetLastError();
    if (search != INVALID_HANDLE_VALUE) ++listed_;
    return search;
  }
  BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found) override {
    if (gone()) return Fail(ERROR_NOT_READY), FALSE;
    const BOOL more = ::FindNextFileA(search, found);
    error_ = more ? ERROR_SUCCESS : ::GetLastError();
    if (more) ++listed_;
    return more;
  }
  BOOL FindClose(HANDLE search) override { return ::FindClose(search); }
  DWORD GetLastError() override { return error_; }

 private:
  void Fail(DWORD error) { error_ = error; }

  uint32_t listed_ = 0;
  DWORD error_ = ERROR_SUCCESS;
};
