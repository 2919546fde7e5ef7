#include "setup/system_library.h"

HMODULE LoadSystemLibrary(const char* name) {
  char folder[MAX_PATH + 1];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::string path(folder, length);
  if (path.back() != '\\') path += '\\';
  path += name;
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
