// The record in which the device library passes information around (device, storage and file
// properties, pending metadata): ordered name/value pairs, every value stored as bytes of text.
// It is a record set of exactly one row whose columns are its names.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "media/record_set.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

// No lock: fill a set on one thread, then only read it when it is handed to another.
class PropertySet : public RecordSet {
 public:
  // A new empty set with count 1 and no row yet; callers call AddNew right away.
  static Result Create(RefPtr<PropertySet>* out);
  // Stores the items of the text form (name=value lines, values optionally quoted) into
  // `target` by name. Returns the first failed store, else 0.
  static Result FromText(const std::string& text, const RefPtr<PropertySet>& target);

  PropertySet() = default;

  bool IsEOF() override;
  Result MoveNext() override;
  Result MoveFirst() override;
  // Succeeds once; later calls answer rc::kNotImplemented until the set is emptied.
  Result AddNew() override;
  int32_t FindColumn(const std::string& name) override;
  std::string GetColumnName(int32_t index) override;
  Result GetColumnType(int32_t index, ColumnKind* kind) override;
  Result GetColumnType(const std::string& name, ColumnKind* kind) override;
  // By index, an index past the entries reads as an absent name: empty, 0 or null.
  std::string GetString(int32_t index) override;
  std::string GetString(const std::string& name) override;
  int32_t GetInt(int32_t index) override;
  int32_t GetInt(const std::string& name) override;
  int64_t GetInt64(int32_t index) override;
  int64_t GetInt64(const std::string& name) override;
  const uint8_t* GetBlob(int32_t index, uint32_t* length) override;
  const uint8_t* GetBlob(const std::string& name, uint32_t* length) override;
  // By index, an index past the entries answers rc::kBadIndex and changes nothing.
  // By name, an absent name is appended at the end.
  Result SetString(int32_t index, const std::string& value) override;
  Result SetString(const std::string& name, const std::string& value) override;
  Result SetInt(int32_t index, int32_t value) override;
  Result SetInt(const std::string& name, int32_t value) override;
  Result SetInt64(int32_t index, int64_t value) override;
  Result SetInt64(const std::string& name, int64_t value) override;
  Result SetBlob(int32_t index, const void* data, uint32_t length) override;
  Result SetBlob(const std::string& name, const void* data, uint32_t length) override;
  Result Update() override;
  Result Delete(int32_t flag) override;
  std::string GetRowKey() override;

  // A deep copy of the entries; the copy's cursor is on its row and it accepts one AddNew.
  virtual Result Clone(RefPtr<PropertySet>* out);

  // Empties the set as a whole and allows AddNew again; the cursor stays where it is.
  void RemoveAll();

 protected:
  ~PropertySet() override = default;

 private:
  struct Entry {
    std::string name;
    std::string value;
  };

  // Null when the index is outside the entries.
  const std::string* ValueAt(int32_t index) const;
  int32_t FindOrAppend(const std::string& name);

  bool past_row_ = false;
  bool row_added_ = false;
  std::vector<Entry> entries_;  // insertion order; the position is the column index
  std::map<std::string, int32_t> index_;
};
