#include "db/column_group_record_set.h"

#include <new>

#include "db/column_table.h"
#include "db/db_results.h"
#include "support/collation.h"

namespace {
const char kCountColumn[] = "count";
}  // namespace

ColumnGroupRecordSet::ColumnGroupRecordSet(ColumnTable* table, ColumnQuery* query,
                                           const std::string& column)
    : table_(table), query_(query), column_name_(column) {
  cursor_ = new (std::nothrow) ColumnRecordSet(table, nullptr);
}

Result ColumnGroupRecordSet::MoveFirst() {
  column_ = table_->FindColumn(column_name_);
  pool_ = PoolRows();
  if (column_ >= 0 && table_->Column(column_).type == kColumnTypeString && cursor_)
    pool_.Build(*table_, column_);
  uint32_t pool_size = 0;
  const char* pool = column_ >= 0 ? table_->Pool(column_, &pool_size) : nullptr;
  lost_.clear();
  for (const PoolRows::Entry& entry : pool_.entries())
    lost_.push_back(CollationLostCodePoints(pool + entry.offset));
  taken_.assign(pool_.entries().size(), false);
  generation_ = table_->LayoutGeneration();
  next_entry_ = 0;
  groups_passed_ = 0;
  at_end_ = false;
  if (table_->RowCount() == 0) {
    at_end_ = true;
    return rc::kOk;
  }
  return MoveNext();
}

uint32_t ColumnGroupRecordSet::CountEntry(const PoolRows::Entry& entry) {
  uint32_t count = 0;
  for (uint32_t i = 0; i < entry.count; ++i) {
    const uint32_t row = pool_.rows()[entry.first + i];
    ColumnRow* object = nullptr;
    if (table_->IsDeleted(row)) {
      object = table_->OpenRow(row);
      if (!object) continue;
    }
    cursor_->StandOn(row, object);
    if (!query_ || query_->Passes(cursor_.Get())) ++count;
  }
  return count;
}

Result ColumnGroupRecordSet::MoveNext() {
  if (generation_ != table_->LayoutGeneration()) {
    at_end_ = true;
    return rc::kStaleRecordSet;
  }
  if (at_end_) return rc::kOk;
  const auto& entries = pool_.entries();
  uint32_t pool_size = 0;
  const char* pool = column_ >= 0 ? table_->Pool(column_, &pool_size) : nullptr;
  group_count_ = 0;
  group_text_.clear();
  while (next_entry_ < entries.size()) {
    const size_t first = next_entry_++;
    if (taken_[first]) continue;
    // The group takes every later entry that folds to the same text, except those that only
    // the folding's decoding confuses with it (another case order may set them in between).
    const char* text = pool + entries[first].offset;
    for (size_t k = first; k < entries.size(); ++k) {
      const char* other = pool + entries[k].offset;
      if (k > first && CompareFolded(other, text, nullptr) != 0) break;
      if (taken_[k] || lost_[k] != lost_[first]) continue;
      taken_[k] = true;
      const uint32_t counted = CountEntry(entries[k]);
      if (counted > 0 && group_count_ == 0) group_text_ = other;
      group_count_ += counted;
    }
    if (group_count_ > 0) {
      ++groups_passed_;
      return rc::kOk;
    }
  }
  at_end_ = true;
  return rc::kOk;
}

int32_t ColumnGroupRecordSet::FindColumn(const std::string& name) {
  if (name == kCountColumn) return 1;
  return name == column_name_ ? 0 : -1;
}

std::string ColumnGroupRecordSet::GetColumnName(int32_t index) {
  if (index == 0) return column_name_;
  return index == 1 ? kCountColumn : std::string();
}

Result ColumnGroupRecordSet::GetColumnType(int32_t index, ColumnKind* kind) {
  const int32_t column = table_->FindColumn(column_name_);
  if (index != 0 || column < 0) return rc::kBadIndex;
  return table_->ColumnKindOf(column, kind);
}

std::string ColumnGroupRecordSet::GetString(int32_t index) {
  return index == 0 && !at_end_ ? group_text_ : std::string();
}

int32_t ColumnGroupRecordSet::GetInt(int32_t index) {
  if (at_end_) return 0;
  if (index == 0) return LeadingNumber(group_text_.c_str());
  return index == 1 ? static_cast<int32_t>(group_count_) : 0;
}

const uint8_t* ColumnGroupRecordSet::GetBlob(int32_t, uint32_t* length) {
  if (length) *length = 0;
  return nullptr;
}
