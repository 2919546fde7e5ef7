#include "db/column_set_base.h"

Result ColumnSetBase::GetColumnType(const std::string& name, ColumnKind* kind) {
  const int32_t index = FindColumn(name);
  return index < 0 ? rc::kNotFound : GetColumnType(index, kind);
}

std::string ColumnSetBase::GetString(const std::string& name) {
  const int32_t index = FindColumn(name);
  return index < 0 ? std::string() : GetString(index);
}

int32_t ColumnSetBase::GetInt(const std::string& name) {
  const int32_t index = FindColumn(name);
  return index < 0 ? 0 : GetInt(index);
}

const uint8_t* ColumnSetBase::GetBlob(const std::string& name, uint32_t* length) {
  const int32_t index = FindColumn(name);
  if (index >= 0) return GetBlob(index, length);
  if (length) *length = 0;
  return nullptr;
}

Result ColumnSetBase::SetString(const std::string& name, const std::string& value) {
  const int32_t index = FindColumn(name);
  return index < 0 ? rc::kNotFound : SetString(index, value);
}

Result ColumnSetBase::SetInt(const std::string& name, int32_t value) {
  const int32_t index = FindColumn(name);
  return index < 0 ? rc::kNotFound : SetInt(index, value);
}

Result ColumnSetBase::SetBlob(const std::string& name, const void* data, uint32_t length) {
  const int32_t index = FindColumn(name);
  return index < 0 ? rc::kNotFound : SetBlob(index, data, length);
}
