#include "media/album_art.h"

#include <windows.h>

#include "support/file_helpers.h"
#include "support/path_helpers.h"

namespace {

const struct {
  uint32_t flags;
  const char* text;
} kTrackExtensions[] = {{kAlbumArtJpeg, "jpg"}, {kAlbumArtJpeg, "jpeg"}},
  kFolderPatterns[] = {{kAlbumArtJpeg, "AlbumArt*.jpg"}};

}  // namespace

bool FindAlbumArtInFolder(const std::string& folder, uint32_t flags, std::string* path) {
  path->clear();
  for (const auto& row : kFolderPatterns) {
    if ((row.flags & flags) == 0 || !path->empty()) continue;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(folder, row.text).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    DWORD largest = 0;
    std::string best;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (best.empty() || found.nFileSizeLow > largest) {
        largest = found.nFileSizeLow;
        best = found.cFileName;
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (!best.empty()) *path = JoinPath(folder, best);
  }
  return !path->empty();
}

bool FindAlbumArtForTrack(const std::string& track, uint32_t flags, std::string* path) {
  path->clear();
  const size_t dot = track.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string stem = track.substr(0, dot + 1);
  for (const auto& row : kTrackExtensions) {
    if ((row.flags & flags) == 0) continue;
    if (FileExists(stem + row.text)) {
      *path = stem + row.text;
      return true;
    }
  }
  return false;
}
