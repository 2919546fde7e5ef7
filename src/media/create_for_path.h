// The creator that every handler table by file extension uses: one object for one path.
#pragma once

#include <memory>
#include <new>
#include <string>

#include "support/result_codes.h"

// A new T for `path` in *out; rc::kOutOfMemory (and *out untouched) when it cannot be had.
template <typename Base, typename T>
Result CreateForPath(const std::string& path, std::unique_ptr<Base>* out) {
  Base* object = new (std::nothrow) T(path);
  if (object == nullptr) return rc::kOutOfMemory;
  out->reset(object);
  return rc::kOk;
}
