#include "setup/install_location.h"

#include <windows.h>

#include <cstdlib>

namespace {

std::string WithoutTrailingBackslash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace

SetupFolders SetupFolders::OfThisProcess() {
  SetupFolders folders;
  char buffer[MAX_PATH + 1];
  UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) folders.windows = WithoutTrailingBackslash(buffer);
  length = GetSystemDirectoryA(buffer, MAX_PATH);
  if (length > 0 && length < MAX_PATH) folders.system = WithoutTrailingBackslash(buffer);
  DWORD module_length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (module_length > 0 && module_length < MAX_PATH) {
    std::string program(buffer, module_length);
    size_t slash = program.find_last_of("\\/");
    folders.program = slash == std::string::npos ? std::string(".") : program.substr(0, slash);
  }
  return folders;
}

std::string CompletePath(const std::string& folder, const std::string& name) {
  char name_drive[_MAX_DRIVE], name_dir[_MAX_DIR], name_file[_MAX_FNAME], name_ext[_MAX_EXT];
  _splitpath(name.c_str(), name_drive, name_dir, name_file, name_ext);
  const std::string base = WithoutTrailingBackslash(folder) + "\\";
  char base_drive[_MAX_DRIVE], base_dir[_MAX_DIR];
  _splitpath(base.c_str(), base_drive, base_dir, nullptr, nullptr);
  std::string path = name_drive[0] ? name_drive : base_drive;
  path += name_dir[0] ? name_dir : base_dir;
  path += name_file;
  path += name_ext;
  return path;
}

std::string LocationFolder(const SetupFolders& folders, InstallLocation location) {
  switch (location) {
    case InstallLocation::kWindows: return folders.windows;
    case InstallLocation::kSystem: return folders.system;
    case InstallLocation::kSystemDrivers: return folders.system + "\\DRIVERS";
    case InstallLocation::kWindowsInf: return folders.windows + "\\INF";
    case InstallLocation::kNone: break;
  }
  return std::string();
}

std::string LocationPath(const SetupFolders& folders, InstallLocation location,
                         const std::string& name) {
  if (location == InstallLocation::kNone) return name;
  return CompletePath(LocationFolder(folders, location), name);
}
