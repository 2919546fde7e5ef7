#include "setup_fixture.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(folder.c_str());
}

}  // namespace

std::string HostPath(const std::string& unix_path) {
  std::string path = "Z:" + unix_path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

void CopyHostFile(const std::string& unix_path, const std::string& destination) {
  if (!CopyFileA(HostPath(unix_path).c_str(), destination.c_str(), FALSE))
    throw std::runtime_error("cannot copy " + unix_path);
}

std::string InfWithDriverVer(const std::string& driver_ver) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=" + driver_ver + "\r\n";
}

WindowsLayout::WindowsLayout() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000 && root_.empty(); ++attempt) {
    char name[MAX_PATH];
    std::snprintf(name, sizeof(name), "%shaldor-%lu-%u", base, GetCurrentProcessId(), counter++);
    if (CreateDirectoryA(name, nullptr)) root_ = name;
  }
  if (root_.empty()) throw std::runtime_error("cannot create a temporary folder");
  folders_.windows = root_ + "\\WINDOWS";
  folders_.system = folders_.windows + "\\SYSTEM32";
  folders_.program = root_ + "\\PROGRAM";
  for (const std::string& folder : {folders_.windows, folders_.windows + "\\INF", folders_.system,
                                    folders_.system + "\\DRIVERS", folders_.program})
    CreateDirectoryA(folder.c_str(), nullptr);
}

WindowsLayout::~WindowsLayout() { RemoveTree(root_); }

void WindowsLayout::ShipDriverAndProvider(const std::string& provider_unix_path) {
  CopyHostFile(MIRRIN_INF, Program("MIRRIN.INF"));
  CopyHostFile(MIRRIN_SYS, Program("MIRRIN.SYS"));
  CopyHostFile(provider_unix_path, Program("TORVEX.DLL"));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void SetDesktopApplicationPath(const std::string& path) {
  const char key_path[] = "Software\\Qel\\Tessaly\\2.0";
  if (path.empty()) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_path, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "path");
      RegCloseKey(key);
    }
    return;
  }
  HKEY key;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS)
    throw std::runtime_error("cannot create the desktop application's key");
  RegSetValueExA(key, "path", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                 static_cast<DWORD>(path.size() + 1));
  RegCloseKey(key);
}
