// A record set in the order of one column: integer columns by their sort-order array, string
// columns by their pool (after Compact the column's compare order; equal texts in row order).
// Open rows beyond the columns are not visited.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/column_record_set.h"

class ColumnSortedRecordSet : public ColumnRecordSet {
 public:
  // An unknown column, a blob column or an integer column without a sort-order array give an
  // empty set.
  ColumnSortedRecordSet(ColumnTable* table, ColumnQuery* query, const std::string& column);

  Result MoveFirst() override;
  Result MoveNext() override;

 protected:
  ~ColumnSortedRecordSet() override = default;

 private:
  std::string column_name_;
  std::vector<uint32_t> order_;  // row numbers in the column's order, taken at MoveFirst
  size_t position_ = 0;
};
