#include "setup/file_version.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool HasExtension(const std::string& path, const char* extension) {
  const size_t length = std::strlen(extension);
  return path.size() >= length &&
         _stricmp(path.c_str() + path.size() - length, extension) == 0;
}

Result ReadInfVersion(const std::string& path, FileVersion* version) {
  // At most 63 characters of the value count.
  char text[64] = {};
  GetPrivateProfileStringA("Version", "DriverVer", "", text, sizeof(text), path.c_str());
  return ParseDriverVer(text, version) ? 0 : 1;
}

Result ReadResourceVersion(const std::string& path, FileVersion* version) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  if (size == 0) return 1;
  std::vector<char> info(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return 1;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
      fixed == nullptr || fixed_size < sizeof(VS_FIXEDFILEINFO) ||
      fixed->dwSignature != 0xFEEF04BD)
    return 1;
  version->high = static_cast<int32_t>(fixed->dwFileVersionMS);
  version->low = fixed->dwFileVersionLS;
  return 0;
}

}  // namespace

int CompareVersions(const FileVersion& a, const FileVersion& b) {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  return 0;
}

bool ParseDriverVer(const std::string& text, FileVersion* version) {
  const std::string date = text.substr(0, text.find(','));
  std::vector<long> parts;
  size_t start = 0;
  while (start <= date.size()) {
    size_t slash = date.find('/', start);
    if (slash == std::string::npos) slash = date.size();
    parts.push_back(std::strtol(date.substr(start, slash - start).c_str(), nullptr, 10));
    start = slash + 1;
  }
  if (date.empty() || parts.size() < 3) return false;
  const uint32_t month = static_cast<uint32_t>(parts[0]);
  const uint32_t day = static_cast<uint32_t>(parts[1]);
  version->high = static_cast<int32_t>(parts[2]);
  version->low = (month << 16) | day;
  return true;
}

Result ReadFileVersion(const std::string& path, FileVersion* version) {
  *version = FileVersion();
  if (HasExtension(path, ".INF")) return ReadInfVersion(path, version);
  if (HasExtension(path, ".CAT")) return 0;
  return ReadResourceVersion(path, version);
}
