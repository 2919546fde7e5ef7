// Result codes of the file systems (framework, block cache, partition tables and the types).
#pragma once

#include "support/result_codes.h"

namespace fsrc {

constexpr Result kOk = 0;
constexpr Result kOutOfMemory = static_cast<Result>(0x80000002);
constexpr Result kBadPartition = static_cast<Result>(0x80820001);
constexpr Result kCacheFull = static_cast<Result>(0x80820002);
constexpr Result kNoMoreEntries = static_cast<Result>(0x80820004);
constexpr Result kNotFound = static_cast<Result>(0x80820005);
constexpr Result kTypeOutOfMemory = static_cast<Result>(0x80820006);
constexpr Result kNotAFile = static_cast<Result>(0x80820007);
constexpr Result kCacheIoError = static_cast<Result>(0x80820009);
constexpr Result kNotSupported = static_cast<Result>(0x8082000A);
constexpr Result kCrossVolume = static_cast<Result>(0x8082000C);
constexpr Result kInvalidArgument = static_cast<Result>(0x8082000D);
constexpr Result kLeavesVolume = static_cast<Result>(0x8082000E);
constexpr Result kNoType = static_cast<Result>(0x80820011);
constexpr Result kCorrupt = static_cast<Result>(0x80820013);
constexpr Result kBufferTooSmall = static_cast<Result>(0x80820014);
constexpr Result kReadOnlyAttribute = static_cast<Result>(0x80820015);
constexpr Result kEndOfFile = static_cast<Result>(0x80820017);
constexpr Result kExists = static_cast<Result>(0x80820018);
constexpr Result kHostFailure = static_cast<Result>(0x8082001A);
constexpr Result kBusy = static_cast<Result>(0x8082001B);
constexpr Result kOpenElsewhere = static_cast<Result>(0x8082001D);
constexpr Result kOutsideVolume = static_cast<Result>(0x8082001E);
constexpr Result kListFull = static_cast<Result>(0x80820020);
constexpr Result kNotADirectory = static_cast<Result>(0x80820022);
constexpr Result kReadOnly = static_cast<Result>(0x80820024);
constexpr Result kNothingMatched = static_cast<Result>(0x80820025);
constexpr Result kLayoutMismatch = static_cast<Result>(0x80820026);

inline bool Failed(Result r) { return r < 0; }

}  // namespace fsrc

// Node types as attribute 1 reports them.
namespace fs_node {
constexpr uint32_t kFile = 1;
constexpr uint32_t kDirectory = 2;
}  // namespace fs_node

// Open flags kept in a handle.
namespace fs_open {
constexpr uint32_t kRead = 0x1;
constexpr uint32_t kWrite = 0x2;
constexpr uint32_t kExactCase = 0x200;
}  // namespace fs_open
