#include "devices/harddisk/fid_path.h"

#include <cstdio>

namespace tarnu_fid {

std::string FidPath(uint32_t fid) {
  char path[32];
  std::snprintf(path, sizeof path, "/fids0/_%05x/%03x", fid >> 12, fid & 0xFFF);
  return path;
}

std::string PropertyPath(uint32_t fid) { return FidPath(fid | 1); }

std::string FidDirectory(uint32_t fid) {
  char path[32];
  std::snprintf(path, sizeof path, "/fids0/_%05x", fid >> 12);
  return path;
}

bool IsValidFid(uint32_t fid) { return fid >= kRootPlaylist && fid % kFidStep == 0; }

}  // namespace tarnu_fid
