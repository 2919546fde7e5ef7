#include "db/column_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <numeric>

#include "db/column_query.h"
#include "db/column_record_set.h"
#include "media/record_set.h"
#include "support/collation.h"

std::string IntCellText(uint32_t type, int32_t value) {
  char text[16];
  if (type == kColumnTypeInt32 && value == 0) return std::string();
  std::snprintf(text, sizeof text, type == kColumnTypeByte ? "%u" : "%d",
                type == kColumnTypeByte ? static_cast<unsigned>(value & 0xFF) : value);
  return text;
}

int32_t LeadingNumber(const char* text) {
  const int64_t value = TextToInt64(text ? text : "");
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

int DefaultTextCompare(const char* a, const char* b) { return CompareCollated(a, b); }

ColumnTable::ColumnTable(uint32_t table_kind, uint32_t format_number, RecordAllocator* allocator)
    : table_kind_(table_kind),
      format_number_(format_number),
      allocator_(allocator ? allocator : RecordAllocator::Default()) {}

ColumnTable::~ColumnTable() = default;

Result ColumnTable::AddColumn(const std::string& name, uint32_t type, uint32_t flags) {
  if (type >= kColumnTypeCount || name.find(' ') != std::string::npos) return rc::kInvalidArg;
  ColumnData data;
  bool ok = true;
  switch (type) {
    case kColumnTypeInt32: ok = data.int32s.Allocate(allocator_, row_count_); break;
    case kColumnTypeInt16: ok = data.int16s.Allocate(allocator_, row_count_); break;
    case kColumnTypeByte: ok = data.bytes.Allocate(allocator_, row_count_); break;
    case kColumnTypeString:  // every row on the empty text at 0
      ok = data.pool.Allocate(allocator_, 1) && data.offsets.Allocate(allocator_, row_count_);
      break;
    case kColumnTypeBlob:
      ok = data.bytes.Allocate(allocator_, 0) &&
           data.offsets.Allocate(allocator_, uint64_t{row_count_} + 1);
      break;
  }
  if (!ok) return rc::kOutOfMemory;
  if ((flags & kColumnSorted) && !BuildSortOrder(&data, type, row_count_)) return rc::kOutOfMemory;
  columns_.push_back(ColumnDesc{name, type, flags, nullptr});
  data_.push_back(std::move(data));
  return rc::kOk;
}

int32_t ColumnTable::FindColumn(const std::string& name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name == name) return static_cast<int32_t>(i);
  }
  return -1;
}

void ColumnTable::SetColumnCompare(int32_t index, TextCompare compare) {
  if (index >= 0 && index < ColumnCount()) columns_[index].compare = compare;
}

Result ColumnTable::ColumnKindOf(int32_t index, ColumnKind* kind) const {
  ColumnKind found;
  switch (columns_[index].type) {
    case kColumnTypeInt32:
    case kColumnTypeByte:
    case kColumnTypeInt16: found = kColumnInt; break;
    case kColumnTypeString: found = kColumnText; break;
    case kColumnTypeBlob: found = kColumnBinary; break;
    default: return rc::kFail;
  }
  if (kind) *kind = found;
  return rc::kOk;
}

namespace {

template <typename T>
void SortRowsBy(const T* values, uint32_t* order, uint32_t rows) {
  std::iota(order, order + rows, 0u);
  std::stable_sort(order, order + rows, [values](uint32_t a, uint32_t b) { return values[a] < values[b]; });
}

// Start of the pool entry before the one at `offset` (> 0).
uint32_t PreviousEntry(const char* pool, uint32_t offset) {
  uint32_t start = offset - 1;
  while (start > 0 && pool[start - 1] != '\0') --start;
  return start;
}

// The entry that holds exactly `text`, or -1. The pool is searched by halving under the
// default text order, which calls some distinct texts equal (case aside, it decodes UTF-8 to
// 16-bit units); the entry found and its neighbours that order calls equal are then compared
// byte for byte.
int32_t FindExactPoolEntry(const char* pool, uint32_t size, const char* text) {
  const int32_t found = FindInSortedStrings(pool, size, text);
  if (found < 0 || size == 0 || pool[size - 1] != '\0') return found;
  uint32_t at = static_cast<uint32_t>(found);
  while (at > 0 && CompareCollated(pool + PreviousEntry(pool, at), text) == 0)
    at = PreviousEntry(pool, at);
  for (; at < size && CompareCollated(pool + at, text) == 0; at += std::strlen(pool + at) + 1) {
    if (std::strcmp(pool + at, text) == 0) return static_cast<int32_t>(at);
  }
  return -1;
}

}  // namespace

// Rows with equal values keep their row order, so a table sorts alike on every run.
bool ColumnTable::BuildSortOrder(ColumnData* data, uint32_t type, uint32_t rows) {
  if (type != kColumnTypeInt32 && type != kColumnTypeByte && type != kColumnTypeInt16) return true;
  TableBlock<uint32_t> order;
  if (!order.Allocate(allocator_, rows)) return false;
  if (type == kColumnTypeInt32) SortRowsBy(data->int32s.data(), order.data(), rows);
  if (type == kColumnTypeInt16) SortRowsBy(data->int16s.data(), order.data(), rows);
  if (type == kColumnTypeByte) SortRowsBy(data->bytes.data(), order.data(), rows);
  data->sort_order = std::move(order);
  data->sort_stale = false;
  return true;
}

// Rows ---------------------------------------------------------------------------------------

bool ColumnTable::IsDeleted(uint32_t row) const {
  if (row >= row_count_) return true;
  if (!has_bitmap_) return false;
  const uint32_t byte = row / 8;
  return byte < bitmap_.size() && (bitmap_[byte] >> (row % 8) & 1) != 0;
}

void ColumnTable::MarkDeleted(uint32_t row) {
  if (row < row_count_) {
    has_bitmap_ = true;
    // A bitmap shorter than the rows (a damaged stream) reads as zeros past its end.
    if (row / 8 >= bitmap_.size()) bitmap_.resize(row / 8 + 1, 0);
    bitmap_[row / 8] |= static_cast<uint8_t>(1u << (row % 8));
  }
  Notify();
}

bool ColumnTable::NextRowNumber(uint32_t* row) {
  if (next_row_ >= kNoMoreRows - 1) return false;
  *row = next_row_++;
  return true;
}

void ColumnTable::Undelete(uint32_t row) {
  if (row < row_count_ && row / 8 < bitmap_.size()) {
    bitmap_[row / 8] &= static_cast<uint8_t>(~(1u << (row % 8)));
    open_rows_.erase(row);  // one row must not be live twice
  }
  Notify();
}

void ColumnTable::DeleteRow(uint32_t row) {
  MarkDeleted(row);
  open_rows_.erase(row);
  Notify();
}

ColumnRow* ColumnTable::OpenRow(uint32_t row) const {
  const auto found = open_rows_.find(row);
  return found == open_rows_.end() ? nullptr : found->second.Get();
}

RefPtr<ColumnRow> ColumnTable::GetRow(uint32_t row, bool create) {
  if (!IsDeleted(row)) {
    RefPtr<ColumnRow> object = new (std::nothrow) ColumnRow(this, row);
    if (!object) return object;
    for (int32_t i = 0; i < ColumnCount(); ++i) {
      ColumnRow::Cell& cell = *object->CellAt(i);
      switch (columns_[i].type) {
        case kColumnTypeString: cell.bytes = ColumnText(i, row); break;
        case kColumnTypeBlob: {
          uint32_t length = 0;
          const uint8_t* bytes = ColumnBlob(i, row, &length);
          cell.bytes.assign(reinterpret_cast<const char*>(bytes), length);
          break;
        }
        default: cell.value = ColumnInt(i, row); break;
      }
    }
    return object;
  }
  if (ColumnRow* open = OpenRow(row)) return open;
  if (!create) return nullptr;
  RefPtr<ColumnRow> object = new (std::nothrow) ColumnRow(this, row);
  if (object) open_rows_[row] = object;
  return object;
}

bool ColumnTable::TryWriteInPlace(ColumnRow* object) {
  const uint32_t row = object->row();
  // Every text must stand in its pool already, and every blob keep its length.
  std::vector<int32_t> positions(columns_.size(), 0);
  for (int32_t i = 0; i < ColumnCount(); ++i) {
    const ColumnData& data = data_[i];
    if (columns_[i].type == kColumnTypeString) {
      positions[i] = FindExactPoolEntry(data.pool.data(), data.pool.size(),
                                        object->CellBytes(i).c_str());
      if (positions[i] < 0) return false;
    } else if (columns_[i].type == kColumnTypeBlob) {
      uint32_t length = 0;
      ColumnBlob(i, row, &length);
      if (object->CellBytes(i).size() != length) return false;
    }
  }
  for (int32_t i = 0; i < ColumnCount(); ++i) {
    ColumnData& data = data_[i];
    const int32_t value = object->CellInt(i);
    const int32_t before = ColumnInt(i, row);
    switch (columns_[i].type) {
      case kColumnTypeInt32: data.int32s[row] = value; break;
      case kColumnTypeInt16: data.int16s[row] = static_cast<int16_t>(value); break;
      case kColumnTypeByte: data.bytes[row] = static_cast<uint8_t>(value); break;
      case kColumnTypeString: data.offsets[row] = static_cast<uint32_t>(positions[i]); break;
      case kColumnTypeBlob: {
        const std::string& bytes = object->CellBytes(i);
        if (!bytes.empty()) std::memcpy(data.bytes.data() + data.offsets[row], bytes.data(), bytes.size());
        break;
      }
    }
    // Only Load and Compact build sort orders; lookups must not trust a changed one.
    if (!data.sort_order.empty() && ColumnInt(i, row) != before) data.sort_stale = true;
  }
  if (row / 8 < bitmap_.size()) bitmap_[row / 8] &= static_cast<uint8_t>(~(1u << (row % 8)));
  open_rows_.erase(row);
  Notify();
  return true;
}

Result ColumnTable::WriteBack(ColumnRow* object) {
  if (object->row() < row_count_ && TryWriteInPlace(object)) return rc::kOk;
  // An open row is streamed in packed form, which bounds its blobs.
  if (!object->FitsPacked()) return rc::kInvalidArg;
  RefPtr<ColumnRow> keep(object);
  open_rows_[object->row()] = keep;
  object->detached_ = true;
  object->packed_ = object->Pack();
  MarkDeleted(object->row());  // tells the listener, so the row is settled first
  return rc::kOk;
}

uint64_t ColumnTable::GetDataSize() const {
  uint64_t size = 0;
  for (size_t i = 0; i < columns_.size(); ++i) {
    const ColumnData& data = data_[i];
    switch (columns_[i].type) {
      case kColumnTypeInt32: size += 4ull * row_count_; break;
      case kColumnTypeString: size += data.pool.size() + 4ull * row_count_; break;
      case kColumnTypeBlob: size += data.bytes.size(); break;
      case kColumnTypeByte: size += row_count_; break;
      case kColumnTypeInt16: size += 2ull * row_count_; break;
    }
  }
  for (const auto& open : open_rows_) size += open.second->packed().size();
  return size;
}

void ColumnTable::Reset() {
  ++layout_generation_;
  columns_.clear();
  data_.clear();
  bitmap_.clear();
  has_bitmap_ = false;
  open_rows_.clear();
  row_count_ = 0;
  next_row_ = 0;
}

void ColumnTable::Notify() {
  if (listener_) listener_->OnTableChanged(this);
}

// Cell readers --------------------------------------------------------------------------------

int32_t ColumnTable::ColumnInt(int32_t column, uint32_t row) const {
  const ColumnData& data = data_[column];
  switch (columns_[column].type) {
    case kColumnTypeInt32: return data.int32s[row];
    case kColumnTypeInt16: return data.int16s[row];
    case kColumnTypeByte: return data.bytes[row];
    case kColumnTypeString: return LeadingNumber(ColumnText(column, row));
    default: return 0;
  }
}

const char* ColumnTable::ColumnText(int32_t column, uint32_t row) const {
  if (columns_[column].type != kColumnTypeString) return "";
  const ColumnData& data = data_[column];
  return data.pool.data() + PoolOffset(column, row);
}

uint32_t ColumnTable::PoolOffset(int32_t column, uint32_t row) const {
  return data_[column].offsets[row] & 0xFFFFFFu;
}

const uint8_t* ColumnTable::ColumnBlob(int32_t column, uint32_t row, uint32_t* length) const {
  if (columns_[column].type != kColumnTypeBlob) {
    if (length) *length = 0;
    return nullptr;
  }
  const ColumnData& data = data_[column];
  if (length) *length = data.offsets[row + 1] - data.offsets[row];
  return data.bytes.data() + data.offsets[row];
}

const char* ColumnTable::Pool(int32_t column, uint32_t* size) const {
  if (columns_[column].type != kColumnTypeString) {
    *size = 0;
    return nullptr;
  }
  *size = data_[column].pool.size();
  return data_[column].pool.data();
}

const uint32_t* ColumnTable::SortOrder(int32_t column) const {
  const TableBlock<uint32_t>& order = data_[column].sort_order;
  return order.empty() ? nullptr : order.data();
}

// RecordDatabase ------------------------------------------------------------------------------

Result ColumnTable::CreateQuery(RefPtr<RecordQuery>* out) {
  *out = new (std::nothrow) ColumnQuery(this);
  return rc::kOk;
}

Result ColumnTable::OpenRecordSet(RefPtr<RecordSet>* out) {
  RefPtr<RecordSet> set = new (std::nothrow) ColumnRecordSet(this, nullptr);
  if (set) set->MoveFirst();
  *out = set;
  return rc::kOk;
}

// The sort order of column 0 finds a key by halving while it is current; without one (the
// column keeps none, or a value changed in place since it was built) the live rows are read.
Result ColumnTable::FindRow(RefPtr<RecordSet>* out, uint32_t key) {
  const int32_t wanted = static_cast<int32_t>(key);
  for (const auto& open : open_rows_) {
    if (open.second->GetInt(0) == wanted) {
      *out = new (std::nothrow) ColumnRowRecordSet(this, open.first, open.second.Get());
      return rc::kOk;
    }
  }
  if (row_count_ == 0 || columns_.empty()) return rc::kNotFound;
  uint32_t found = UINT32_MAX;
  const ColumnData& data = data_[0];
  if (!data.sort_order.empty() && !data.sort_stale) {
    const uint32_t* begin = data.sort_order.data();
    const uint32_t* end = begin + row_count_;
    const uint32_t* at = std::lower_bound(
        begin, end, wanted, [&](uint32_t row, int32_t value) { return ColumnInt(0, row) < value; });
    for (; at != end && ColumnInt(0, *at) == wanted; ++at) {
      if (!IsDeleted(*at)) {
        found = *at;
        break;
      }
    }
  } else {
    found = FindRowByScan(key);
  }
  if (found == UINT32_MAX) return rc::kNotFound;
  *out = new (std::nothrow) ColumnRowRecordSet(this, found, nullptr);
  return rc::kOk;
}

uint32_t ColumnTable::FindRowByScan(uint32_t key) const {
  for (uint32_t row = 0; row < row_count_; ++row) {
    if (!IsDeleted(row) && ColumnInt(0, row) == static_cast<int32_t>(key)) return row;
  }
  return UINT32_MAX;
}
