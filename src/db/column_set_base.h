// What every column-store record set does alike: the by-name operations look the name up with
// FindColumn and act by index, an unknown name answering rc::kNotFound from setters and type
// queries and 0, null or an empty text from getters; 64-bit values go through the 32-bit
// getter; rows have no key text.
#pragma once

#include <cstdint>
#include <string>

#include "media/record_set.h"

class ColumnSetBase : public RecordSet {
 public:
  using RecordSet::GetBlob;
  using RecordSet::GetColumnType;
  using RecordSet::GetInt;
  using RecordSet::GetInt64;
  using RecordSet::GetString;
  using RecordSet::SetBlob;
  using RecordSet::SetInt;
  using RecordSet::SetInt64;
  using RecordSet::SetString;

  Result GetColumnType(const std::string& name, ColumnKind* kind) override;
  std::string GetString(const std::string& name) override;
  int32_t GetInt(const std::string& name) override;
  int64_t GetInt64(int32_t index) override { return GetInt(index); }
  int64_t GetInt64(const std::string& name) override { return GetInt(name); }
  const uint8_t* GetBlob(const std::string& name, uint32_t* length) override;
  Result SetString(const std::string& name, const std::string& value) override;
  Result SetInt(const std::string& name, int32_t value) override;
  Result SetInt64(int32_t, int64_t) override { return rc::kNotImplemented; }
  Result SetInt64(const std::string&, int64_t) override { return rc::kNotImplemented; }
  Result SetBlob(const std::string& name, const void* data, uint32_t length) override;
  std::string GetRowKey() override { return std::string(); }

 protected:
  ~ColumnSetBase() override = default;
};
