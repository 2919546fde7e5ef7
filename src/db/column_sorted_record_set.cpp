#include "db/column_sorted_record_set.h"

#include "db/column_table.h"
#include "db/db_results.h"
#include "db/pool_rows.h"

ColumnSortedRecordSet::ColumnSortedRecordSet(ColumnTable* table, ColumnQuery* query,
                                             const std::string& column)
    : ColumnRecordSet(table, query), column_name_(column) {}

Result ColumnSortedRecordSet::MoveFirst() {
  ReleaseRow();
  Pin();
  order_.clear();
  const int32_t column = table_->FindColumn(column_name_);
  if (column >= 0) {
    const uint32_t type = table_->Column(column).type;
    if (type == kColumnTypeString) {
      PoolRows pool;
      pool.Build(*table_, column);
      order_ = pool.rows();
    } else if (const uint32_t* sorted = table_->SortOrder(column)) {
      order_.assign(sorted, sorted + table_->RowCount());
    }
  }
  position_ = 0;
  at_end_ = false;
  return MoveNext();
}

// The order was taken from the columns as they stood at MoveFirst.
Result ColumnSortedRecordSet::MoveNext() {
  ReleaseRow();
  if (EndIfStale()) return rc::kStaleRecordSet;
  while (!at_end_ && position_ < order_.size()) {
    if (TakeRow(order_[position_++])) return rc::kOk;
  }
  ReleaseRow();
  at_end_ = true;
  return rc::kOk;
}
