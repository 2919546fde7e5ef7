#include "db/column_record_set.h"

#include "db/column_table.h"
#include "db/db_results.h"

ColumnRecordSet::ColumnRecordSet(ColumnTable* table, ColumnQuery* query)
    : table_(table), query_(query), generation_(table->LayoutGeneration()) {}

void ColumnRecordSet::Pin() { generation_ = table_->LayoutGeneration(); }

bool ColumnRecordSet::Stale() const { return generation_ != table_->LayoutGeneration(); }

bool ColumnRecordSet::EndIfStale() {
  if (!Stale()) return false;
  ReleaseRow();
  at_end_ = true;
  return true;
}

Result ColumnRecordSet::MoveFirst() {
  ReleaseRow();
  Pin();
  current_ = -1;
  at_end_ = table_->RowCount() == 0;  // kept as the players' software has it: open rows alone
  if (at_end_) return rc::kOk;        // show as an empty set
  return MoveNext();
}

bool ColumnRecordSet::TakeRow(uint32_t row) {
  ReleaseRow();
  current_ = row;
  if (table_->IsDeleted(row)) {
    row_ = table_->OpenRow(row);
    if (!row_) return false;
  }
  return !query_ || query_->Passes(this);
}

Result ColumnRecordSet::MoveNext() {
  ReleaseRow();
  if (EndIfStale()) return rc::kStaleRecordSet;
  if (at_end_) return rc::kOk;
  const uint32_t rows = table_->RowCount();
  for (int64_t next = current_ + 1;; ++next) {
    if (next < rows) {
      if (TakeRow(static_cast<uint32_t>(next))) return rc::kOk;
      continue;
    }
    // Beyond the columns: the open rows in row order. Jumping to the next one visits the same
    // rows as stepping through the numbers between them, without a walk through a wide gap.
    const auto& open = table_->OpenRows();
    const auto found = next > UINT32_MAX ? open.end() : open.lower_bound(static_cast<uint32_t>(next));
    if (found == open.end()) break;
    next = found->first;
    if (TakeRow(found->first)) return rc::kOk;
  }
  ReleaseRow();
  at_end_ = true;
  return rc::kOk;
}

Result ColumnRecordSet::AddNew() {
  ReleaseRow();
  uint32_t row = 0;
  if (!table_->NextRowNumber(&row)) {
    at_end_ = true;  // no row to edit
    return rc::kBadIndex;
  }
  Pin();
  current_ = row;
  row_ = table_->GetRow(row, true);
  at_end_ = false;
  return rc::kOk;
}

void ColumnRecordSet::StandOn(uint32_t row, ColumnRow* object) {
  Pin();
  current_ = row;
  row_ = object;
  at_end_ = false;
}

int32_t ColumnRecordSet::FindColumn(const std::string& name) { return table_->FindColumn(name); }

std::string ColumnRecordSet::GetColumnName(int32_t index) {
  return index >= 0 && index < table_->ColumnCount() ? table_->Column(index).name : std::string();
}

Result ColumnRecordSet::GetColumnType(int32_t index, ColumnKind* kind) {
  if (index < 0 || index >= table_->ColumnCount()) return rc::kBadIndex;
  return table_->ColumnKindOf(index, kind);
}

ColumnRow* ColumnRecordSet::ReadSource() const {
  if (row_) return row_.Get();
  if (current_ < 0 || current_ > UINT32_MAX) return nullptr;
  const uint32_t row = static_cast<uint32_t>(current_);
  return table_->IsDeleted(row) ? table_->OpenRow(row) : nullptr;
}

std::string ColumnRecordSet::GetString(int32_t index) {
  if (index < 0 || index >= table_->ColumnCount() || Stale()) return std::string();
  if (ColumnRow* source = ReadSource()) return source->GetText(index);
  if (current_ < 0 || current_ >= table_->RowCount()) return std::string();
  const uint32_t row = static_cast<uint32_t>(current_);
  const uint32_t type = table_->Column(index).type;
  switch (type) {
    case kColumnTypeString:
      return table_->ColumnText(index, row);
    case kColumnTypeBlob: {
      uint32_t length = 0;
      const uint8_t* data = table_->ColumnBlob(index, row, &length);
      return std::string(reinterpret_cast<const char*>(data), length);
    }
    default:
      return IntCellText(type, table_->ColumnInt(index, row));
  }
}

int32_t ColumnRecordSet::GetInt(int32_t index) {
  if (index < 0 || index >= table_->ColumnCount() || Stale()) return 0;
  if (ColumnRow* source = ReadSource()) return source->GetInt(index);
  if (current_ < 0 || current_ >= table_->RowCount()) return 0;
  const uint32_t row = static_cast<uint32_t>(current_);
  if (table_->Column(index).type == kColumnTypeString)
    return LeadingNumber(table_->ColumnText(index, row));
  return table_->ColumnInt(index, row);
}

const uint8_t* ColumnRecordSet::GetBlob(int32_t index, uint32_t* length) {
  if (length) *length = 0;
  if (index < 0 || index >= table_->ColumnCount() || Stale()) return nullptr;
  if (ColumnRow* source = ReadSource()) return source->GetBlob(index, length);
  if (current_ < 0 || current_ >= table_->RowCount()) return nullptr;
  return table_->ColumnBlob(index, static_cast<uint32_t>(current_), length);
}

ColumnRow* ColumnRecordSet::EditSource() {
  if (!row_ && !at_end_ && current_ >= 0 && current_ <= UINT32_MAX)
    row_ = table_->GetRow(static_cast<uint32_t>(current_), true);
  return at_end_ ? nullptr : row_.Get();
}

Result ColumnRecordSet::SetString(int32_t index, const std::string& value) {
  if (EndIfStale()) return rc::kStaleRecordSet;
  ColumnRow* row = EditSource();
  return row ? row->SetText(index, value) : rc::kShortTransfer;
}

Result ColumnRecordSet::SetInt(int32_t index, int32_t value) {
  if (EndIfStale()) return rc::kStaleRecordSet;
  ColumnRow* row = EditSource();
  return row ? row->SetInt(index, value) : rc::kShortTransfer;
}

Result ColumnRecordSet::SetBlob(int32_t index, const void* data, uint32_t length) {
  if (EndIfStale()) return rc::kStaleRecordSet;
  ColumnRow* row = EditSource();
  return row ? row->SetBlob(index, data, length) : rc::kShortTransfer;
}

// A row object taken before a Compact carries a row number that now names another row.
Result ColumnRecordSet::Update() {
  if (EndIfStale()) return rc::kStaleRecordSet;
  if (!row_) return rc::kOk;
  const Result result = table_->WriteBack(row_.Get());
  ReleaseRow();
  return result;
}

Result ColumnRecordSet::Delete(int32_t flag) {
  if (EndIfStale()) return rc::kStaleRecordSet;
  if (at_end_) return rc::kShortTransfer;
  do {
    table_->DeleteRow(static_cast<uint32_t>(current_));
    ReleaseRow();
    if (!flag) return rc::kOk;
    MoveNext();
  } while (!at_end_);
  return rc::kOk;
}

ColumnRowRecordSet::ColumnRowRecordSet(ColumnTable* table, uint32_t row, ColumnRow* object)
    : ColumnRecordSet(table, nullptr) {
  StandOn(row, object);
}

Result ColumnRowRecordSet::MoveFirst() {
  if (EndIfStale()) return rc::kStaleRecordSet;  // its one row cannot be found again
  at_end_ = false;
  return rc::kOk;
}

Result ColumnRowRecordSet::MoveNext() {
  ReleaseRow();
  at_end_ = true;
  return rc::kOk;
}

Result ColumnRowRecordSet::Delete(int32_t flag) {
  if (EndIfStale()) return rc::kStaleRecordSet;
  if (at_end_) return rc::kShortTransfer;
  table_->DeleteRow(static_cast<uint32_t>(current_));
  ReleaseRow();
  at_end_ = true;
  return rc::kOk;
}
