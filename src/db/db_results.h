// Result codes of the record databases beyond those every layer shares.
#pragma once

#include "support/result_codes.h"

namespace rc {

// A value of the wrong kind for a column (a blob into a number column, and so on).
constexpr Result kIncompatibleTypes = static_cast<Result>(0xC000400A);

}  // namespace rc
