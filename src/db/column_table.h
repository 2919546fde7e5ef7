// An in-memory table stored by column: one array of values per column, texts in a shared pool
// per column, rows only marked deleted until Compact. It holds the hard-disk players' music
// database; column_stream.cpp reads and writes its stream form. Rows are read and edited
// through ColumnRow objects; an edited row whose values no longer fit the columns lives on as
// an open row until Compact merges it back. One thread uses a table at a time.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "db/column_row.h"
#include "db/record_allocator.h"
#include "db/record_database.h"
#include "db/table_block.h"
#include "support/stream.h"

enum ColumnType : uint32_t {
  kColumnTypeInt32 = 0,
  kColumnTypeString = 1,
  kColumnTypeBlob = 2,
  kColumnTypeByte = 3,
  kColumnTypeInt16 = 4,
};
constexpr uint32_t kColumnTypeCount = 5;
// Column flag: keep a sort-order array (integer columns).
constexpr uint32_t kColumnSorted = 0x1;

// Order of two texts: negative, 0 or positive.
typedef int (*TextCompare)(const char* a, const char* b);

struct ColumnDesc {
  std::string name;
  uint32_t type = kColumnTypeInt32;
  uint32_t flags = 0;
  TextCompare compare = nullptr;  // string columns; null: the default text order
};

class ColumnTable;

// Told after rows were deleted, undeleted or removed, and after Compact.
class TableChangeListener {
 public:
  virtual ~TableChangeListener() = default;
  virtual void OnTableChanged(ColumnTable* table) = 0;
};

// Receives (done, total) steps of Compact.
class CompactProgress {
 public:
  virtual ~CompactProgress() = default;
  virtual void Report(uint32_t done, uint32_t total) = 0;
};

class ColumnTable : public RecordDatabase {
 public:
  // Without an allocator the table takes RecordAllocator::Default().
  ColumnTable(uint32_t table_kind, uint32_t format_number, RecordAllocator* allocator = nullptr);
  ~ColumnTable() override;

  uint32_t TableKind() const { return table_kind_; }
  uint32_t FormatNumber() const { return format_number_; }

  // Columns -----------------------------------------------------------------------------
  int32_t ColumnCount() const { return static_cast<int32_t>(columns_.size()); }
  // Valid for 0 <= index < ColumnCount().
  const ColumnDesc& Column(int32_t index) const { return columns_[index]; }
  // Appends a column; existing rows read 0, an empty text or an empty blob in it.
  // rc::kInvalidArg for an unknown type or a name holding a space (the stream separates names
  // by spaces); rc::kOutOfMemory when its arrays cannot be had.
  Result AddColumn(const std::string& name, uint32_t type, uint32_t flags);
  // Index of the first column named exactly `name`, or -1.
  int32_t FindColumn(const std::string& name) const;
  // Sets a string column's order; an index outside the columns is ignored.
  void SetColumnCompare(int32_t index, TextCompare compare);
  // The value kind the record sets report: rc::kFail for a type outside the known ones.
  Result ColumnKindOf(int32_t index, ColumnKind* kind) const;

  // Rows --------------------------------------------------------------------------------
  uint32_t RowCount() const { return row_count_; }
  uint32_t PeekNextRowNumber() const { return next_row_; }
  // Takes the next row number and advances it; false, taking nothing, once the number after it
  // would reach kNoMoreRows (a saved table must hold a next row number that Load accepts).
  bool NextRowNumber(uint32_t* row);
  // Load refuses a stored next row number, or an open row whose successor would be, at or
  // above this.
  static constexpr uint32_t kNoMoreRows = 0xFFFFFFFFu;
  // True for a row outside the columns; false without a bitmap.
  bool IsDeleted(uint32_t row) const;
  bool HasDeletedBitmap() const { return has_bitmap_; }
  // Rows outside the columns are ignored; both tell the listener. An open row replaces its
  // column row, so Undelete of a row that has one drops the open row object: the column copy
  // is the row again.
  void MarkDeleted(uint32_t row);
  void Undelete(uint32_t row);
  // MarkDeleted, then drops the row's open row object; tells the listener again.
  void DeleteRow(uint32_t row);
  // A live column row gives a new row object filled from the columns (not entered among the
  // open rows); otherwise its open row object; otherwise, with `create`, a new empty row
  // object entered among the open rows at once; else null (also on exhausted memory).
  RefPtr<ColumnRow> GetRow(uint32_t row, bool create);
  // Writes a row object back: in place when its texts already stand in their pools and its
  // blobs keep their lengths, else as an open row (the column copy then reads as deleted).
  Result WriteBack(ColumnRow* row);
  // The open row objects by ascending row number.
  const std::map<uint32_t, RefPtr<ColumnRow>>& OpenRows() const { return open_rows_; }
  ColumnRow* OpenRow(uint32_t row) const;

  void SetListener(TableChangeListener* listener) { listener_ = listener; }

  // Changes whenever row numbers and pools are replaced (Compact, Load, Reset), so that a
  // record set positioned before can tell that its positions no longer hold.
  uint32_t LayoutGeneration() const { return layout_generation_; }

  // Bytes held by the columns and the open rows' packed forms.
  uint64_t GetDataSize() const;
  // Drops every column, row, open row and the bitmap; next row number 0.
  void Reset();
  // Renumbers the live rows and then the open rows 0 to N - 1 and rebuilds every array, pool
  // and sort order; afterwards no row is deleted or open. On exhausted memory the table is
  // left as it was and rc::kOutOfMemory returned.
  Result Compact(CompactProgress* progress);

  // Stream form (column_stream.cpp) ---------------------------------------------------------
  // Writes the table with the current time as its stamp. A table holding rows but no columns,
  // which no stream can hold so that it loads, writes nothing and answers rc::kBadData.
  Result Save(Stream* stream) const;
  Result SaveWithStamp(Stream* stream, uint32_t stamp) const;
  // Replaces the table with the stream's. On failure the table is left empty; rows (open rows
  // too) without columns fail with rc::kBadData.
  Result Load(Stream* stream, bool check_format);

  // RecordDatabase ------------------------------------------------------------------------
  Result CreateQuery(RefPtr<RecordQuery>* out) override;
  Result OpenRecordSet(RefPtr<RecordSet>* out) override;
  Result FindRow(RefPtr<RecordSet>* out, uint32_t key) override;

  // Cell readers of the column copy (row < RowCount(), 0 <= column < ColumnCount()) --------
  // The row read as an integer: an integer column's value, the number at the start of a
  // string column's text, 0 for a blob column.
  int32_t ColumnInt(int32_t column, uint32_t row) const;
  // The text of a string column's row (never null).
  const char* ColumnText(int32_t column, uint32_t row) const;
  // A blob column's bytes; null and 0 for other columns.
  const uint8_t* ColumnBlob(int32_t column, uint32_t row, uint32_t* length) const;
  // The pool of a string column, and its size in bytes.
  const char* Pool(int32_t column, uint32_t* size) const;
  // Position in the pool of a string column's row.
  uint32_t PoolOffset(int32_t column, uint32_t row) const;
  // The sort-order array of an integer column (null when it keeps none); R entries.
  const uint32_t* SortOrder(int32_t column) const;

 private:
  friend class ColumnStreamReader;
  friend class ColumnStreamWriter;
  friend class ColumnCompactor;

  // One per column: the sort order, and the arrays that hold the column's type.
  struct ColumnData {
    TableBlock<uint32_t> sort_order;
    bool sort_stale = false;        // a value changed in place since the order was built
    TableBlock<int32_t> int32s;     // int32
    TableBlock<int16_t> int16s;     // int16
    TableBlock<uint8_t> bytes;      // byte values, or a blob column's data area
    TableBlock<char> pool;          // string
    TableBlock<uint32_t> offsets;   // string: R words; blob: R + 1
  };

  Result LoadFrom(Stream* stream, bool check_format);
  bool TryWriteInPlace(ColumnRow* row);
  // Builds the sort-order array of an integer column's `rows` values (other types keep none).
  bool BuildSortOrder(ColumnData* data, uint32_t type, uint32_t rows);
  void Notify();
  uint32_t FindRowByScan(uint32_t key) const;

  uint32_t table_kind_;
  uint32_t format_number_;
  std::vector<ColumnDesc> columns_;
  std::vector<ColumnData> data_;
  std::vector<uint8_t> bitmap_;  // (row count + 7) / 8 bytes once a row was deleted
  bool has_bitmap_ = false;
  uint32_t next_row_ = 0;
  uint32_t row_count_ = 0;
  uint32_t layout_generation_ = 0;
  std::map<uint32_t, RefPtr<ColumnRow>> open_rows_;
  TableChangeListener* listener_ = nullptr;
  RecordAllocator* allocator_;
};

// The text form of an integer cell, shared by the row objects and the record sets: int32 "%d"
// except that 0 gives an empty text, byte "%u", int16 "%d".
std::string IntCellText(uint32_t type, int32_t value);
// The decimal number at the start of a text (blanks skipped, an optional sign), as the integer
// getters read string columns.
int32_t LeadingNumber(const char* text);
// The default text order: CompareFolded, ties broken by the first unequal code points.
int DefaultTextCompare(const char* a, const char* b);
