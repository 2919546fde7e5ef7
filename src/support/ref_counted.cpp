#include "support/ref_counted.h"

int32_t RefCounted::Release() {
  const int32_t remaining = --count_;
  if (remaining == 0) delete this;
  return remaining;
}
