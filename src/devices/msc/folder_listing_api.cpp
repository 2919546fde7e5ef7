#include "devices/msc/folder_listing_api.h"

namespace {

class SystemFolderListingApi : public FolderListingApi {
 public:
  DWORD GetFileAttributesA(LPCSTR path) override { return ::GetFileAttributesA(path); }
  HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* found) override {
    return ::FindFirstFileA(pattern, found);
  }
  BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* found) override {
    return ::FindNextFileA(search, found);
  }
  BOOL FindClose(HANDLE search) override { return ::FindClose(search); }
  DWORD GetLastError() override { return ::GetLastError(); }
};

}  // namespace

FolderListingApi* FolderListingApi::System() {
  static SystemFolderListingApi api;
  return &api;
}
