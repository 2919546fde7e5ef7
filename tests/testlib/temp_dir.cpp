#include "testlib/temp_dir.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
  char base[MAX_PATH];
  if (!GetTempPathA(MAX_PATH, base)) throw std::runtime_error("GetTempPathA failed");
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char name[MAX_PATH];
    std::snprintf(name, sizeof(name), "%storvex-test-%lu-%u", base, GetCurrentProcessId(),
                  counter++);
    if (CreateDirectoryA(name, nullptr)) {
      path_ = name;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name != "." && name != "..") DeleteFileA(File(name).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path_.c_str());
}

std::string TempDir::WriteFile(const std::string& name, const std::string& bytes) const {
  std::string path = File(name);
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string TempDir::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}
