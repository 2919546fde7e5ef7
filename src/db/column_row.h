// One row of a ColumnTable taken out for reading or editing: a cell per column, and the packed
// form in which an open row is kept and streamed. Reference counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/ref_counted.h"
#include "support/result_codes.h"

class ColumnTable;

// Blob cells in packed rows hold at most this many bytes.
constexpr int32_t kMaxPackedBlob = 120000;

class ColumnRow : public RefCounted {
 public:
  // An empty row: integers 0, empty texts and blobs. The table must outlive the row.
  ColumnRow(ColumnTable* table, uint32_t row);

  ColumnTable* table() const { return table_; }
  uint32_t row() const { return row_; }
  // Set once the row was written back as an open row.
  bool detached() const { return detached_; }

  // Setters: rc::kNotFound for a column outside the table; rc::kIncompatibleTypes for a
  // blob into a number column; rc::kInvalidArg for a blob of more than kMaxPackedBlob bytes,
  // which an open row could not carry. Texts into number columns are read as unsigned numbers;
  // numbers into string columns are stored as "%d"; texts into blob columns as their bytes.
  Result SetInt(int32_t column, int32_t value);
  Result SetText(int32_t column, const std::string& text);
  Result SetBlob(int32_t column, const void* data, uint32_t length);

  // Integer columns give their value; other columns 0.
  int32_t GetInt(int32_t column) const;
  // Texts as the record sets show them (IntCellText for numbers, blob bytes as text).
  std::string GetText(int32_t column) const;
  // Blob columns only; null and 0 otherwise.
  const uint8_t* GetBlob(int32_t column, uint32_t* length) const;

  // Raw cell: the integer, or the text or blob bytes. Columns added after the row was made
  // read as empty cells.
  int32_t CellInt(int32_t column) const;
  const std::string& CellBytes(int32_t column) const;

  // Fills the cells from a packed row; rc::kBadData for a value that runs past `length`, a
  // text without its zero byte, a blob length outside 0 to 120000 or an unknown column type.
  Result Unpack(const uint8_t* packed, uint32_t length);
  // True when every blob cell fits a packed row.
  bool FitsPacked() const;
  // The cells in packed form, from the current values.
  std::string Pack() const;
  // The packed bytes kept when the row was last written back as an open row.
  const std::string& packed() const { return packed_; }

 private:
  friend class ColumnTable;
  friend class ColumnStreamReader;

  struct Cell {
    int32_t value = 0;
    std::string bytes;  // text (without its zero) or blob
  };

  // Null for a column outside the table; grows the cells to the table's columns.
  Cell* CellAt(int32_t column);
  const Cell* CellAt(int32_t column) const;

  ColumnTable* table_;
  uint32_t row_;
  std::vector<Cell> cells_;
  std::string packed_;
  bool detached_ = false;
};
