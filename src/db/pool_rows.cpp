#include "db/pool_rows.h"

#include <algorithm>

#include "db/column_table.h"

void PoolRows::Build(const ColumnTable& table, int32_t column) {
  entries_.clear();
  rows_.clear();
  uint32_t pool_size = 0;
  const char* pool = table.Pool(column, &pool_size);
  if (!pool) return;

  // (offset, row) pairs in one sort: by entry, then by row number.
  std::vector<uint64_t> pairs;
  pairs.reserve(table.RowCount());
  for (uint32_t row = 0; row < table.RowCount(); ++row)
    pairs.push_back(uint64_t{table.PoolOffset(column, row)} << 32 | row);
  std::sort(pairs.begin(), pairs.end());

  size_t next_pair = 0;
  rows_.reserve(pairs.size());
  for (uint32_t at = 0; at < pool_size;) {
    Entry entry{at, static_cast<uint32_t>(rows_.size()), 0};
    while (next_pair < pairs.size() && (pairs[next_pair] >> 32) < at) ++next_pair;  // mid-entry
    while (next_pair < pairs.size() && (pairs[next_pair] >> 32) == at) {
      rows_.push_back(static_cast<uint32_t>(pairs[next_pair++]));
      ++entry.count;
    }
    entries_.push_back(entry);
    while (at < pool_size && pool[at] != '\0') ++at;
    ++at;  // past the zero byte
  }
}
