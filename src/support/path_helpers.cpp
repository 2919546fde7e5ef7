#include "support/path_helpers.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kAbsoluteBuffer = 512;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

const char* const kReservedNames[] = {
    "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",
    "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "AUX",  "PRN",  "CON",  "CLOCK$",
    "NUL",
};

// Windows gives these names to devices whatever the case and whatever extension follows.
bool IsReservedName(const std::string& name) {
  const std::string stem = name.substr(0, name.find('.'));
  for (const char* reserved : kReservedNames) {
    if (stem.size() == std::strlen(reserved) && _stricmp(stem.c_str(), reserved) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsDotOrDotDot(const std::string& name) { return name == "." || name == ".."; }

std::string BaseName(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string DirectoryPart(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos || separator == 0) return "";
  return path.substr(0, separator);
}

std::string FileExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return "";
  return path.substr(dot + 1);
}

std::string FileStem(const std::string& path) {
  const std::string name = BaseName(path);
  return name.substr(0, name.rfind('.'));
}

std::string WithTrailingSeparator(const std::string& directory) {
  if (!directory.empty() && IsSeparator(directory.back())) return directory;
  return directory + '\\';
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : WithTrailingSeparator(directory) + name;
}

std::string RelativePath(const std::string& from, const std::string& to) {
  char buffer[MAX_PATH] = {};
  if (from.size() >= MAX_PATH || to.size() >= MAX_PATH ||
      !PathRelativePathToA(buffer, from.c_str(), FILE_ATTRIBUTE_DIRECTORY, to.c_str(),
                           FILE_ATTRIBUTE_NORMAL)) {
    return to;
  }
  std::string relative = buffer;
  if (relative.size() > 2 && relative[0] == '.' && IsSeparator(relative[1])) {
    relative.erase(0, 2);
  }
  return relative;
}

Result NormalizePath(const std::string& path, std::string* out) {
  if (path.size() >= kMaxPathLength) return rc::kPathTooLong;
  char buffer[MAX_PATH] = {};
  if (!PathCanonicalizeA(buffer, path.c_str())) return rc::kFail;
  *out = buffer;
  return rc::kOk;
}

Result MakeAbsolutePath(const std::string& base, const std::string& path, std::string* out) {
  if (PathIsUNCA(path.c_str()) || PathIsURLA(path.c_str())) {
    *out = path;
    return rc::kOk;
  }
  std::string result = path;
  if (!result.empty() && IsSeparator(result[0])) result = base.substr(0, 2) + result;
  if (PathIsRelativeA(result.c_str())) {
    if (base.size() + result.size() + 2 >= kAbsoluteBuffer) return rc::kNotFound;
    char joined[kAbsoluteBuffer] = {};
    std::memcpy(joined, base.c_str(), base.size());
    if (!PathAppendA(joined, result.c_str())) return rc::kNotFound;
    std::replace(joined, joined + std::strlen(joined), '/', '\\');
    char canonical[kAbsoluteBuffer] = {};
    if (std::strlen(joined) >= MAX_PATH || !PathCanonicalizeA(canonical, joined)) {
      return rc::kNotFound;
    }
    result = canonical;
  }
  if (PathIsRelativeA(result.c_str())) return rc::kNotFound;
  char long_form[kAbsoluteBuffer] = {};
  const DWORD n = GetLongPathNameA(result.c_str(), long_form, sizeof(long_form));
  *out = n > 0 && n < sizeof(long_form) ? std::string(long_form) : result;
  return rc::kOk;
}

std::string ShortPathName(const std::string& path) {
  char buffer[MAX_PATH] = {};
  const DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof(buffer));
  return n > 0 && n < sizeof(buffer) ? std::string(buffer) : path;
}

std::string SanitizeFileName(const std::string& text) {
  std::string name;
  for (const char c : text) {
    if (std::strchr("/\\:?'\"|<>*", c) == nullptr && c != '\0') name += c;
  }
  const size_t first = name.find_first_not_of(" .");
  if (first == std::string::npos) return "";
  name = name.substr(first, name.find_last_not_of(" .") - first + 1);
  if (IsReservedName(name)) {
    // The '_' goes behind the device part so that the extension stays the file's type.
    name.insert(name.find('.') == std::string::npos ? name.size() : name.find('.'), "_");
  }
  return name;
}
