// Code below the COM boundary (channels, predictors, the C++ library's allocations) may throw;
// nothing may leave a COM method that way. This turns what escapes into a result code.
#pragma once

#include <new>

#include "support/result_codes.h"

template <typename Call>
Result CallNoThrow(Call&& call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;
  } catch (...) {
    return rc::kFail;
  }
}
