// Compact: the live column rows and then the open rows become rows 0 to N - 1 of new arrays;
// every string column gets a pool holding each distinct text once, in its compare order.
#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/column_table.h"
#include "support/collation.h"

class ColumnCompactor {
 public:
  explicit ColumnCompactor(ColumnTable* table) : table_(table) {}

  Result Run(CompactProgress* progress) {
    ColumnTable& t = *table_;
    // An open row stands in for its column row, even one whose bit a damaged stream left clear.
    for (uint32_t row = 0; row < t.row_count_; ++row) {
      if (!t.IsDeleted(row) && !t.OpenRow(row)) sources_.push_back(Source{row, nullptr});
    }
    for (const auto& open : t.open_rows_) sources_.push_back(Source{open.first, open.second.Get()});
    if (sources_.size() > UINT32_MAX) return rc::kBadIndex;
    const uint32_t rows = static_cast<uint32_t>(sources_.size());
    const uint32_t columns = static_cast<uint32_t>(t.ColumnCount());

    std::vector<ColumnTable::ColumnData> fresh(columns);
    for (uint32_t i = 0; i < columns; ++i) {
      if (progress) progress->Report(i, columns + 1);
      const Result result = BuildColumn(static_cast<int32_t>(i), rows, &fresh[i]);
      if (result != rc::kOk) return result;  // the table is untouched so far
    }
    t.data_.swap(fresh);
    t.open_rows_.clear();
    t.bitmap_.clear();
    t.has_bitmap_ = false;
    t.row_count_ = rows;
    ++t.layout_generation_;
    t.Notify();
    if (progress) progress->Report(columns + 1, columns + 1);
    return rc::kOk;
  }

 private:
  struct Source {
    uint32_t row;
    ColumnRow* open;  // null: the row is read from the columns
  };

  int32_t IntOf(int32_t column, const Source& source) const {
    return source.open ? source.open->CellInt(column) : table_->ColumnInt(column, source.row);
  }
  std::string_view BytesOf(int32_t column, const Source& source) const {
    if (source.open) {
      const std::string& bytes = source.open->CellBytes(column);
      return table_->Column(column).type == kColumnTypeString ? std::string_view(bytes.c_str())
                                                             : std::string_view(bytes);
    }
    if (table_->Column(column).type == kColumnTypeString)
      return table_->ColumnText(column, source.row);
    uint32_t length = 0;
    const uint8_t* bytes = table_->ColumnBlob(column, source.row, &length);
    return std::string_view(reinterpret_cast<const char*>(bytes), length);
  }

  Result BuildColumn(int32_t column, uint32_t rows, ColumnTable::ColumnData* out) {
    RecordAllocator* allocator = table_->allocator_;
    const ColumnDesc& desc = table_->Column(column);
    bool ok = true;
    switch (desc.type) {
      case kColumnTypeInt32:
        ok = out->int32s.Allocate(allocator, rows);
        for (uint32_t r = 0; ok && r < rows; ++r) out->int32s[r] = IntOf(column, sources_[r]);
        break;
      case kColumnTypeInt16:
        ok = out->int16s.Allocate(allocator, rows);
        for (uint32_t r = 0; ok && r < rows; ++r)
          out->int16s[r] = static_cast<int16_t>(IntOf(column, sources_[r]));
        break;
      case kColumnTypeByte:
        ok = out->bytes.Allocate(allocator, rows);
        for (uint32_t r = 0; ok && r < rows; ++r)
          out->bytes[r] = static_cast<uint8_t>(IntOf(column, sources_[r]));
        break;
      case kColumnTypeString:
        return BuildPool(column, rows, out);
      case kColumnTypeBlob:
        return BuildBlobs(column, rows, out);
      default:
        return rc::kOk;  // a column of unknown type holds nothing
    }
    if (ok && (desc.flags & kColumnSorted)) ok = table_->BuildSortOrder(out, desc.type, rows);
    return ok ? rc::kOk : rc::kOutOfMemory;
  }

  // Every distinct text keeps an entry of its own, so that no row's text is ever replaced by
  // another: texts count as one only when their bytes agree, which is when they decode to the
  // same code points (the decoding reads every byte sequence in one way only). The entries
  // follow the column's order; texts it calls equal ("A Day" and "Day" in an article-skipping
  // column, case variants, texts its 16-bit decoding confuses) follow the default text order
  // and then their bytes, so that every compaction of the same texts writes the same pool and
  // case variants stand side by side for a grouped walk.
  Result BuildPool(int32_t column, uint32_t rows, ColumnTable::ColumnData* out) {
    const TextCompare compare = table_->Column(column).compare
                                    ? table_->Column(column).compare
                                    : DefaultTextCompare;
    std::vector<std::string_view> distinct;  // in the order first met
    std::vector<uint32_t> distinct_of_row(rows);
    std::unordered_map<std::string_view, uint32_t> seen;
    for (uint32_t r = 0; r < rows; ++r) {
      const std::string_view text = BytesOf(column, sources_[r]);
      const auto inserted = seen.emplace(text, static_cast<uint32_t>(distinct.size()));
      if (inserted.second) distinct.push_back(text);
      distinct_of_row[r] = inserted.first->second;
    }
    // Owned copies with their zero bytes, for the compare functions.
    std::vector<std::string> texts(distinct.begin(), distinct.end());
    std::vector<uint32_t> order(distinct.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      int c = compare(texts[a].c_str(), texts[b].c_str());
      if (c == 0) c = DefaultTextCompare(texts[a].c_str(), texts[b].c_str());
      return c != 0 ? c < 0 : texts[a] < texts[b];
    });

    std::vector<uint32_t> position_of(distinct.size());
    uint64_t size = 0;
    for (const uint32_t d : order) {
      position_of[d] = static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
      size += texts[d].size() + 1;
    }
    // Offset words hold 24 bits of position.
    if (size > 0x1000000u) return rc::kBadIndex;
    if (!out->pool.Allocate(table_->allocator_, size) ||
        !out->offsets.Allocate(table_->allocator_, rows))
      return rc::kOutOfMemory;
    for (const uint32_t d : order)
      std::memcpy(out->pool.data() + position_of[d], texts[d].c_str(), texts[d].size() + 1);
    for (uint32_t r = 0; r < rows; ++r) out->offsets[r] = position_of[distinct_of_row[r]];
    return rc::kOk;
  }

  Result BuildBlobs(int32_t column, uint32_t rows, ColumnTable::ColumnData* out) {
    uint64_t size = 0;
    for (uint32_t r = 0; r < rows; ++r) size += BytesOf(column, sources_[r]).size();
    if (size > UINT32_MAX) return rc::kBadIndex;
    if (!out->bytes.Allocate(table_->allocator_, size) ||
        !out->offsets.Allocate(table_->allocator_, uint64_t{rows} + 1))
      return rc::kOutOfMemory;
    uint32_t at = 0;
    for (uint32_t r = 0; r < rows; ++r) {
      const std::string_view bytes = BytesOf(column, sources_[r]);
      out->offsets[r] = at;
      if (!bytes.empty()) std::memcpy(out->bytes.data() + at, bytes.data(), bytes.size());
      at += static_cast<uint32_t>(bytes.size());
    }
    out->offsets[rows] = at;
    return rc::kOk;
  }

  ColumnTable* table_;
  std::vector<Source> sources_;
};

Result ColumnTable::Compact(CompactProgress* progress) {
  try {
    ColumnCompactor compactor(this);
    return compactor.Run(progress);
  } catch (const std::bad_alloc&) {
    return rc::kOutOfMemory;  // nothing was changed yet
  }
}
