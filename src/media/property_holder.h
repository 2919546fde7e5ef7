// Owner of one PropertySet reference, handed to channels and predictors to fill or read device,
// storage and file information. Assignment shares the set; CloneFrom copies it.
#pragma once

#include <cstdint>
#include <string>

#include "media/property_set.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

class PropertyHolder {
 public:
  // Holds a new empty set that already stands on its one row (AddNew done).
  PropertyHolder();
  virtual ~PropertyHolder();

  // Keep SetInt the first virtual operation after the destructor.
  virtual Result SetInt(const std::string& name, int32_t value);
  Result SetInt64(const std::string& name, int64_t value);
  Result SetString(const std::string& name, const std::string& value);
  // Empty when the name is absent.
  std::string GetString(const std::string& name) const;
  // The held set with its count raised; null only when memory ran out at construction.
  RefPtr<PropertySet> GetSet() const;

  // A holder with a deep copy of `other`'s set; later changes to either do not reach the other.
  static PropertyHolder CloneFrom(const PropertyHolder& other);

  // Shares `other`'s set: every later change through either holder reaches both.
  PropertyHolder& operator=(const PropertyHolder& other);
  // Copying is spelled out (operator= shares, CloneFrom copies), never implicit.
  PropertyHolder(const PropertyHolder&) = delete;

  // Empties the held set in place (holders sharing it see it empty too) and stands it on its
  // row again; the row position is left as it was. Result: that of AddNew.
  Result Clear();

 private:
  struct CloneTag {};
  PropertyHolder(const PropertyHolder& other, CloneTag);

  RefPtr<PropertySet> set_;
};
