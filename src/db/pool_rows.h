// The rows of a string column arranged by the pool entry they point at: entries in pool
// order, and under each entry its rows in ascending row number. Rows whose offset does not
// start an entry belong to none. Built once when a sorted or grouped walk begins.
#pragma once

#include <cstdint>
#include <vector>

class ColumnTable;

class PoolRows {
 public:
  struct Entry {
    uint32_t offset;  // position of the entry's text in the pool
    uint32_t first;   // index of its first row in rows()
    uint32_t count;   // rows pointing at it
  };

  void Build(const ColumnTable& table, int32_t column);

  const std::vector<Entry>& entries() const { return entries_; }
  const std::vector<uint32_t>& rows() const { return rows_; }

 private:
  std::vector<Entry> entries_;
  std::vector<uint32_t> rows_;
};
