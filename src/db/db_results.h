// Result codes of the record databases beyond those every layer shares.
#pragma once

#include "support/result_codes.h"

namespace rc {

// A value of the wrong kind for a column (a blob into a number column, and so on).
constexpr Result kIncompatibleTypes = static_cast<Result>(0xC000400A);
// A record set whose table was compacted, loaded or reset since the set was positioned: its
// row numbers and pool positions name other rows now (E_CHANGED_STATE). MoveFirst starts it
// again.
constexpr Result kStaleRecordSet = static_cast<Result>(0x8000000C);

}  // namespace rc
