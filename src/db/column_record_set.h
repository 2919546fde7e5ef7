// The scanning record set over a ColumnTable (every live column row in row order, then the open
// rows beyond them), and the one-row set that FindRow gives.
#pragma once

#include <cstdint>
#include <string>

#include "db/column_query.h"
#include "db/column_row.h"
#include "db/column_set_base.h"

class ColumnTable;

class ColumnRecordSet : public ColumnSetBase {
 public:
  // `query` filters the rows (null: every row). Call MoveFirst before reading.
  ColumnRecordSet(ColumnTable* table, ColumnQuery* query);

  bool IsEOF() override { return at_end_; }
  Result MoveNext() override;
  Result MoveFirst() override;
  // Takes the next row number as the current row, with a new row object among the open rows.
  // rc::kBadIndex, ending the set, when no row number is left.
  Result AddNew() override;
  int32_t FindColumn(const std::string& name) override;
  std::string GetColumnName(int32_t index) override;
  Result GetColumnType(int32_t index, ColumnKind* kind) override;
  std::string GetString(int32_t index) override;
  int32_t GetInt(int32_t index) override;
  const uint8_t* GetBlob(int32_t index, uint32_t* length) override;
  // At the end of the set: rc::kShortTransfer (no row to change).
  Result SetString(int32_t index, const std::string& value) override;
  Result SetInt(int32_t index, int32_t value) override;
  Result SetBlob(int32_t index, const void* data, uint32_t length) override;
  // Writes the current row object back and releases it; 0 without one.
  Result Update() override;
  // Flag clear: deletes the current row and stays on it. Flag set: deletes every row from the
  // current one to the end of the set. rc::kShortTransfer at the end of the set.
  Result Delete(int32_t flag) override;

  // Stands on `row` (with its row object, which may be null) without moving, so that a filter
  // can read it.
  void StandOn(uint32_t row, ColumnRow* object);

  // A set positioned before the table's last Compact, Load or Reset answers
  // rc::kStaleRecordSet from MoveNext and the editing operations and reads as empty, until
  // MoveFirst starts it again: its row numbers now name other rows.
  bool Stale() const;

 protected:
  ~ColumnRecordSet() override = default;

  // Makes `row` current as a scan takes it: a deleted column row is replaced by its open row
  // object, or refused when there is none; then the filter decides. True when the set stops.
  bool TakeRow(uint32_t row);
  // The row object to read: the current one, else the open row object standing in for a
  // deleted row or a row beyond the columns; null when the columns hold the row.
  ColumnRow* ReadSource() const;
  // Takes a row object for the current row when there is none; null at the end.
  ColumnRow* EditSource();
  void ReleaseRow() { row_.Reset(); }
  // Takes the table's current layout as the one the set's positions refer to.
  void Pin();
  // At a stale set: releases the row, ends the set and answers true.
  bool EndIfStale();

  ColumnTable* table_;
  RefPtr<ColumnQuery> query_;
  int64_t current_ = -1;
  RefPtr<ColumnRow> row_;
  bool at_end_ = true;
  uint32_t generation_;
};

// Holds one row; no filter.
class ColumnRowRecordSet : public ColumnRecordSet {
 public:
  // `object` is the open row object the row came from, or null for a column row.
  ColumnRowRecordSet(ColumnTable* table, uint32_t row, ColumnRow* object);

  Result MoveNext() override;
  Result MoveFirst() override;
  // Deletes the row and ends the set.
  Result Delete(int32_t flag) override;

 protected:
  ~ColumnRowRecordSet() override = default;
};
