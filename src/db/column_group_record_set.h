// Groups of a string column: one row per run of adjacent pool entries that CompareFolded calls
// equal (and that its lossy decoding does not merely confuse; see CollationLostCodePoints),
// with the count of the rows in it that pass the filter. Column 0 is the group's text
// (named as the group column), column 1 "count". Read-only. Open rows beyond the columns take
// no part. The entries are positions in the pool as it stood at MoveFirst: after a Compact,
// Load or Reset, MoveNext ends the set with rc::kStaleRecordSet until MoveFirst.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/column_query.h"
#include "db/column_record_set.h"
#include "db/column_set_base.h"
#include "db/pool_rows.h"

class ColumnTable;

class ColumnGroupRecordSet : public ColumnSetBase {
 public:
  // A column that is unknown or not a string column gives an empty set.
  ColumnGroupRecordSet(ColumnTable* table, ColumnQuery* query, const std::string& column);

  bool IsEOF() override { return at_end_; }
  Result MoveNext() override;
  Result MoveFirst() override;
  Result AddNew() override { return rc::kNotImplemented; }
  // 0 for the group column's name, 1 for "count", else -1.
  int32_t FindColumn(const std::string& name) override;
  std::string GetColumnName(int32_t index) override;
  Result GetColumnType(int32_t index, ColumnKind* kind) override;
  std::string GetString(int32_t index) override;
  int32_t GetInt(int32_t index) override;
  const uint8_t* GetBlob(int32_t index, uint32_t* length) override;
  Result SetString(int32_t, const std::string&) override { return rc::kNotImplemented; }
  Result SetInt(int32_t, int32_t) override { return rc::kNotImplemented; }
  Result SetBlob(int32_t, const void*, uint32_t) override { return rc::kNotImplemented; }
  Result Update() override { return rc::kNotImplemented; }
  Result Delete(int32_t) override { return rc::kNotImplemented; }

 protected:
  ~ColumnGroupRecordSet() override = default;

 private:
  // Rows of the entry that pass the filter.
  uint32_t CountEntry(const PoolRows::Entry& entry);

  ColumnTable* table_;
  RefPtr<ColumnQuery> query_;
  std::string column_name_;
  int32_t column_ = -1;
  PoolRows pool_;
  size_t next_entry_ = 0;     // where the next move begins
  std::vector<std::u32string> lost_;  // each entry's code points the folding confuses
  std::vector<bool> taken_;           // entries an earlier group took
  uint32_t groups_passed_ = 0;
  std::string group_text_;
  uint32_t group_count_ = 0;
  RefPtr<ColumnRecordSet> cursor_;  // stands on each candidate row for the filter
  bool at_end_ = true;
  uint32_t generation_ = 0;  // the table's layout the pool entries were taken from
};
