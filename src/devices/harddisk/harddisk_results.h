// Result codes of the hard-disk player channel's file systems.
#pragma once

#include "support/result_codes.h"

namespace rc {

constexpr Result kWrongNodeKind = static_cast<Result>(0xC004000D);
constexpr Result kBadOpenFlags = static_cast<Result>(0xC0004009);
constexpr Result kPartitionLayoutMismatch = static_cast<Result>(0x80820026);
constexpr Result kUnsafeName = static_cast<Result>(0xC0040013);  // a name leaving its tree

}  // namespace rc
