// The row cursor shared by the record databases and property sets, so that code reading rows
// is written once. The virtual operations keep this order (destructor first); implementations
// in other modules rely on it.
#pragma once

#include <cstdint>
#include <string>

#include "support/ref_counted.h"
#include "support/result_codes.h"

// Kind of a column's values, as GetColumnType reports it.
enum ColumnKind : int32_t {
  kColumnInt = 1,     // signed 32-bit
  kColumnInt64 = 2,   // signed 64-bit
  kColumnText = 3,
  kColumnBinary = 4,
};

// Columns are addressed by a signed 32-bit index or by name (bytes, compared exactly).
// Getters and setters address the current row. Results: 0 success, negative failure.
class RecordSet : public RefCounted {
 protected:
  ~RecordSet() override = default;

 public:
  virtual bool IsEOF() = 0;
  virtual Result MoveNext() = 0;
  virtual Result MoveFirst() = 0;
  virtual Result AddNew() = 0;
  // -1 when the name is unknown.
  virtual int32_t FindColumn(const std::string& name) = 0;
  // Empty past the last column.
  virtual std::string GetColumnName(int32_t index) = 0;
  // rc::kBadIndex past the last column; rc::kNotFound for an unknown name.
  virtual Result GetColumnType(int32_t index, ColumnKind* kind) = 0;
  virtual Result GetColumnType(const std::string& name, ColumnKind* kind) = 0;
  virtual std::string GetString(int32_t index) = 0;
  virtual std::string GetString(const std::string& name) = 0;
  virtual int32_t GetInt(int32_t index) = 0;
  virtual int32_t GetInt(const std::string& name) = 0;
  virtual int64_t GetInt64(int32_t index) = 0;
  virtual int64_t GetInt64(const std::string& name) = 0;
  // The bytes stay owned by the record set; valid until the value changes.
  virtual const uint8_t* GetBlob(int32_t index, uint32_t* length) = 0;
  virtual const uint8_t* GetBlob(const std::string& name, uint32_t* length) = 0;
  virtual Result SetString(int32_t index, const std::string& value) = 0;
  virtual Result SetString(const std::string& name, const std::string& value) = 0;
  virtual Result SetInt(int32_t index, int32_t value) = 0;
  virtual Result SetInt(const std::string& name, int32_t value) = 0;
  virtual Result SetInt64(int32_t index, int64_t value) = 0;
  virtual Result SetInt64(const std::string& name, int64_t value) = 0;
  virtual Result SetBlob(int32_t index, const void* data, uint32_t length) = 0;
  virtual Result SetBlob(const std::string& name, const void* data, uint32_t length) = 0;
  virtual Result Update() = 0;
  // `flag` serves implementations that can delete several rows at once.
  virtual Result Delete(int32_t flag) = 0;
  virtual std::string GetRowKey() = 0;
};

// Text-to-number rules of text columns, shared by every implementation.
// TextToInt32: strtol in base 16 when the text starts with "0x"/"0X", else base 10; leading
// blanks and a sign accepted; no digits give 0; out of range saturates to INT32_MAX/INT32_MIN.
int32_t TextToInt32(const std::string& text);
// TextToInt64: a leading decimal number (blanks and sign accepted, no "0x"), else 0;
// out of range saturates to INT64_MAX/INT64_MIN.
int64_t TextToInt64(const std::string& text);
// TextToUInt32: strtoul on a 32-bit long: base 16 after "0x"/"0X", else base 10; leading blanks
// and a sign accepted (a minus negates modulo 2^32); no digits give 0; out of range saturates
// to UINT32_MAX.
uint32_t TextToUInt32(const std::string& text);
