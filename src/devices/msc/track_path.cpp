#include "devices/msc/track_path.h"

#include <cstdio>

#include "devices/msc/track_file_name.h"
#include "media/property_set.h"
#include "support/collation.h"
#include "support/file_helpers.h"
#include "support/path_helpers.h"
#include "support/text_convert.h"

const char kTrackPathTemplate[] = "Music\\%T\\%-%N";
const char kPlaylistPathTemplate[] = "Music\\%N";

namespace {

constexpr uint32_t kErrorAlreadyExists = 183;
constexpr int kMaxUniqueNumber = 99;

// The folder part and the last component of `path` (either separator).
size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

std::string ExtensionFor(const std::string& type, PropertySet& properties) {
  if (type == "playlist") return ".m3u";
  if (type != "tune") return std::string();
  std::string extension = TrackExtensionForCodec(properties.GetString("codec"));
  return extension.empty() ? extension : "." + extension;
}

// The path with its last component replaced by the source file's name without extension,
// when "path" names one; otherwise `path` unchanged.
std::string WithSourceFileName(const std::string& path, PropertySet& properties) {
  std::string source = Utf8ToLatin1(properties.GetString("path"));
  if (source.empty()) return path;
  size_t separator = LastSeparator(path);
  std::string folder = separator == std::string::npos ? std::string() : path.substr(0, separator);
  return JoinPath(folder, FileStem(source));
}

}  // namespace

std::string TrackExtensionForCodec(const std::string& codec) {
  return CodecFileExtension(codec.c_str());
}

Result MakeUniqueName(const std::string& path, const std::string& extension, std::string* out) {
  if (!FileExists(path + extension)) {
    *out = path + extension;
    return rc::kOk;
  }
  for (int n = 1; n <= kMaxUniqueNumber; ++n) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%02d", n);
    std::string candidate = path + suffix + extension;
    if (!FileExists(candidate)) {
      *out = candidate;
      return rc::kOk;
    }
  }
  return rc::FromWin32(kErrorAlreadyExists);
}

Result BuildTrackPathParts(PropertySet& properties, char drive_letter, std::string* base,
                           std::string* extension, std::string* first_made) {
  std::string format = properties.GetString("file_format");
  std::string type = properties.GetString("type");
  if (format.empty()) {
    if (type == "tune") format = kTrackPathTemplate;
    if (type == "playlist") format = kPlaylistPathTemplate;
  }
  char root[4] = {drive_letter, ':', '\\', '\0'};
  std::string path = root + ExpandTrackFileName(format, properties);
  size_t separator = LastSeparator(path);
  if (SanitizeFileName(path.substr(separator + 1)).empty()) {
    path = WithSourceFileName(path, properties);
  }
  std::string folder = path.substr(0, LastSeparator(path));
  const Result result = MakeDirectories(folder, first_made);
  if (rc::Failed(result)) return result;
  *base = path;
  *extension = ExtensionFor(type, properties);
  return rc::kOk;
}

Result BuildTrackPath(PropertySet& properties, char drive_letter, std::string* out) {
  std::string base, extension;
  const Result result = BuildTrackPathParts(properties, drive_letter, &base, &extension);
  return rc::Succeeded(result) ? MakeUniqueName(base, extension, out) : result;
}
