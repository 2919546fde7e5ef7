// The Win32 functions through which the folder walk reads a drive: a seam, so that tests can
// make a folder's listing fail, or the whole drive go away in the middle of a walk.
#pragma once

#include <windows.h>

class FolderListingApi {
 public:
  virtual ~FolderListingApi() = default;

  // Each forwards to the Win32 function of the same name, with the same contract.
  virtual DWORD GetFileAttributesA(LPCSTR path) = 0;
  virtual HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found) = 0;
  virtual BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found) = 0;
  virtual BOOL FindClose(HANDLE search) = 0;
  virtual DWORD GetLastError() = 0;

  // The real functions of the system.
  static FolderListingApi* System();
};
