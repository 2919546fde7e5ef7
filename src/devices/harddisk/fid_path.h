// Where a hard-disk player keeps a fid's files on its music volume: the content at
// "/fids0/_%05x/%03x" (fid >> 12, fid & 0xFFF), the property file at the path of fid | 1, in a
// directory per group of 4096 fids.
#pragma once

#include <cstdint>
#include <string>

#include "devices/tarnu_row_collector.h"

namespace tarnu_fid {

constexpr uint32_t kRootPlaylist = TarnuRowCollector::kRootPlaylist;
constexpr uint32_t kFidStep = 16;

std::string FidPath(uint32_t fid);
std::string PropertyPath(uint32_t fid);
std::string FidDirectory(uint32_t fid);
// Fids are multiples of 16 from 0x100 on: any other value would name another fid's property
// file or lie below the root playlist.
bool IsValidFid(uint32_t fid);

}  // namespace tarnu_fid
