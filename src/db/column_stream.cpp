// The stream form of a ColumnTable, the hard-disk players' music database. All numbers are
// little-endian; sections follow each other without padding:
//   version 2, stamp | table kind, format number, n, n x (type, flags), L, L bytes of names
//   each followed by a space | P, P x (row, length, packed row) | next row number, R, and when
//   R is not 0 one block per column | B, B bitmap bytes | stamp again.
// The players write this stream too, so Load trusts none of it: every count is bounded by what
// is left of the stream before anything is allocated, and every offset by its section.
#include <algorithm>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "db/column_table.h"
#include "support/buffered_reader.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "support/stream_io.h"

namespace {

constexpr uint32_t kStreamVersion = 2;
constexpr uint32_t kMaxBitmapBytes = 100000;
constexpr size_t kWriteChunk = 64 * 1024;

}  // namespace

class ColumnStreamWriter {
 public:
  explicit ColumnStreamWriter(Stream* stream) : stream_(stream) {}

  Result Write(const ColumnTable& t, uint32_t stamp) {
    U32(kStreamVersion);
    U32(stamp);
    U32(t.table_kind_);
    U32(t.format_number_);
    U32(static_cast<uint32_t>(t.columns_.size()));
    std::string names;
    for (const ColumnDesc& column : t.columns_) {
      U32(column.type);
      U32(column.flags);
      names += column.name;
      names += ' ';
    }
    U32(static_cast<uint32_t>(names.size()));
    Bytes(names.data(), names.size());

    U32(static_cast<uint32_t>(t.open_rows_.size()));
    for (const auto& open : t.open_rows_) {
      const std::string packed = open.second->Pack();  // the row's values as they stand now
      U32(open.first);
      U32(static_cast<uint32_t>(packed.size()));
      Bytes(packed.data(), packed.size());
    }

    const uint32_t rows = t.row_count_;
    U32(t.next_row_);
    U32(rows);
    if (rows != 0) {
      for (int32_t i = 0; i < t.ColumnCount(); ++i) ColumnBlock(t, i);
    }

    const uint32_t bitmap_size = t.has_bitmap_ ? static_cast<uint32_t>((uint64_t{rows} + 7) / 8) : 0;
    U32(bitmap_size);
    for (uint32_t i = 0; i < bitmap_size; ++i) {  // bytes past a short bitmap are zero
      const uint8_t byte = i < t.bitmap_.size() ? t.bitmap_[i] : 0;
      Bytes(&byte, 1);
    }
    U32(stamp);
    return Flush();
  }

 private:
  void ColumnBlock(const ColumnTable& t, int32_t column) {
    const ColumnTable::ColumnData& data = t.data_[column];
    const uint32_t rows = t.row_count_;
    uint8_t word[4];
    switch (t.columns_[column].type) {
      case kColumnTypeInt32:
        for (uint32_t r = 0; r < rows; ++r) U32(static_cast<uint32_t>(data.int32s[r]));
        break;
      case kColumnTypeString:
        U32(data.pool.size());
        for (uint32_t r = 0; r < rows; ++r) U32(data.offsets[r] & 0xFFFFFFu);
        Bytes(data.pool.data(), data.pool.size());
        break;
      case kColumnTypeBlob:
        for (uint32_t r = 0; r <= rows; ++r) U32(data.offsets[r]);
        Bytes(data.bytes.data(), data.offsets[rows]);
        break;
      case kColumnTypeByte:
        Bytes(data.bytes.data(), rows);
        break;
      case kColumnTypeInt16:
        for (uint32_t r = 0; r < rows; ++r) {
          bytes::PutLe16(word, static_cast<uint16_t>(data.int16s[r]));
          Bytes(word, 2);
        }
        break;
      default:
        break;  // a column of unknown type holds no block
    }
  }

  void U32(uint32_t value) {
    uint8_t word[4];
    bytes::PutLe32(word, value);
    Bytes(word, 4);
  }

  void Bytes(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && status_ == rc::kOk) {
      const size_t take = std::min(size, kWriteChunk - buffer_.size());
      buffer_.append(bytes, take);
      bytes += take;
      size -= take;
      if (buffer_.size() == kWriteChunk) Flush();
    }
  }

  // One Write per chunk; a stream that takes fewer bytes than offered ends the save.
  Result Flush() {
    if (status_ == rc::kOk && !buffer_.empty()) {
      uint32_t written = 0;
      const uint32_t size = static_cast<uint32_t>(buffer_.size());
      const Result result = stream_->Write(buffer_.data(), size, &written);
      if (result < 0) {
        status_ = result;
      } else if (written < size) {
        status_ = rc::kShortTransfer;
      }
      buffer_.clear();
    }
    return status_;
  }

  Stream* stream_;
  std::string buffer_;
  Result status_ = rc::kOk;
};

Result ColumnTable::Save(Stream* stream) const {
  return SaveWithStamp(stream, static_cast<uint32_t>(std::time(nullptr)));
}

Result ColumnTable::SaveWithStamp(Stream* stream, uint32_t stamp) const {
  // Rows without a column would make a stream that Load refuses: nothing is written.
  if (columns_.empty() && (row_count_ != 0 || !open_rows_.empty())) return rc::kBadData;
  ColumnStreamWriter writer(stream);
  return writer.Write(*this, stamp);
}

class ColumnStreamReader {
 public:
  ColumnStreamReader(ColumnTable* table, SeekableStream* stream) : t_(*table), stream_(stream) {}

  Result Read(bool check_format) {
    Result result = stream_->GetSize(&size_);
    if (result < 0) return result;
    uint32_t version = 0, stamp = 0, kind = 0, format = 0, columns = 0;
    if ((result = U32(&version)) != rc::kOk) return result;
    if (version != kStreamVersion) return rc::kBadData;
    if ((result = U32(&stamp)) != rc::kOk || (result = U32(&kind)) != rc::kOk ||
        (result = U32(&format)) != rc::kOk || (result = U32(&columns)) != rc::kOk)
      return result;
    if (kind != t_.table_kind_) return rc::kBadData;
    if (check_format && format != t_.format_number_) return rc::kBadData;
    t_.format_number_ = format;

    if ((result = Columns(columns)) != rc::kOk) return result;
    if ((result = OpenRows()) != rc::kOk) return result;
    if ((result = ColumnData()) != rc::kOk) return result;
    if ((result = Bitmap()) != rc::kOk) return result;

    uint32_t end_stamp = 0;
    if ((result = U32(&end_stamp)) != rc::kOk) return result;
    if (end_stamp != stamp) return rc::kBadData;

    // An open row replaces its column row: the column copy reads as deleted, so the scan,
    // FindRow and Compact see the row once.
    for (const auto& open : t_.open_rows_) {
      if (open.first < t_.row_count_) MarkReplaced(open.first);
    }
    // A new row must never take the number of a row the table holds.
    if (t_.next_row_ < t_.row_count_) t_.next_row_ = t_.row_count_;
    if (!t_.open_rows_.empty() && t_.next_row_ <= t_.open_rows_.rbegin()->first)
      t_.next_row_ = t_.open_rows_.rbegin()->first + 1;
    return rc::kOk;
  }

 private:
  // Bytes between the position and the end of the stream.
  uint64_t Left() {
    uint32_t position = 0;
    if (stream_->GetPosition(&position) < 0 || position > size_) return 0;
    return size_ - position;
  }

  // A count that needs more bytes than the stream has left cannot be read in full.
  Result Fits(uint64_t bytes) { return bytes <= Left() ? rc::kOk : rc::kShortTransfer; }

  Result U32(uint32_t* value) {
    uint8_t word[4];
    const Result result = ReadExact(stream_, word, 4);
    if (result == rc::kOk) *value = bytes::Le32(word);
    return result;
  }

  Result Bytes(void* buffer, uint64_t size) {
    const Result result = Fits(size);
    return result != rc::kOk ? result : ReadExact(stream_, buffer, static_cast<uint32_t>(size));
  }

  Result Columns(uint32_t count) {
    Result result = Fits(uint64_t{count} * 8);
    if (result != rc::kOk) return result;
    t_.columns_.resize(count);
    t_.data_.resize(count);
    for (ColumnDesc& column : t_.columns_) {
      if ((result = U32(&column.type)) != rc::kOk || (result = U32(&column.flags)) != rc::kOk)
        return result;
      // Refused even while the stream holds no rows: such a column has no block that a saved
      // table with rows could carry.
      if (column.type >= kColumnTypeCount) return rc::kBadData;
    }
    uint32_t length = 0;
    if ((result = U32(&length)) != rc::kOk || (result = Fits(length)) != rc::kOk) return result;
    std::string names(length, '\0');
    if ((result = Bytes(&names[0], length)) != rc::kOk) return result;
    size_t start = 0;
    for (ColumnDesc& column : t_.columns_) {
      const size_t space = names.find(' ', start);
      if (space == std::string::npos) break;  // too few names: the rest stay empty
      column.name = names.substr(start, space - start);
      start = space + 1;
    }
    return rc::kOk;
  }

  Result OpenRows() {
    uint32_t count = 0;
    Result result = U32(&count);
    if (result != rc::kOk || (result = Fits(uint64_t{count} * 8)) != rc::kOk) return result;
    // Rows without a column are refused here as in the column data: once compacted they
    // would be column rows that no stream can hold.
    if (count != 0 && t_.columns_.empty()) return rc::kBadData;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t row = 0, length = 0;
      if ((result = U32(&row)) != rc::kOk || (result = U32(&length)) != rc::kOk ||
          (result = Fits(length)) != rc::kOk)
        return result;
      // The next row number after it could not be stored.
      if (row >= ColumnTable::kNoMoreRows - 1) return rc::kBadData;
      std::string packed(length, '\0');
      if ((result = Bytes(&packed[0], length)) != rc::kOk) return result;
      RefPtr<ColumnRow> object = new (std::nothrow) ColumnRow(&t_, row);
      if (!object) return rc::kOutOfMemory;
      if ((result = object->Unpack(reinterpret_cast<const uint8_t*>(packed.data()), length)) !=
          rc::kOk)
        return result;
      object->detached_ = true;
      t_.open_rows_[row] = object;
    }
    return rc::kOk;
  }

  Result ColumnData() {
    uint32_t rows = 0;
    Result result = U32(&t_.next_row_);
    if (result != rc::kOk || (result = U32(&rows)) != rc::kOk) return result;
    // The row after it would wrap to 0 and take the number of a row already held.
    if (t_.next_row_ >= ColumnTable::kNoMoreRows) return rc::kBadData;
    // Only column blocks bound the row count by the stream: rows without a column are refused.
    if (rows != 0 && t_.columns_.empty()) return rc::kBadData;
    t_.row_count_ = rows;
    if (rows == 0) return rc::kOk;
    for (int32_t i = 0; i < t_.ColumnCount(); ++i) {
      if ((result = ColumnBlock(i, rows)) != rc::kOk) return result;
    }
    return rc::kOk;
  }

  // Reads `count` little-endian values of T into a block taken from the table's allocator.
  template <typename T>
  Result Values(TableBlock<T>* block, uint64_t count) {
    Result result = Fits(count * sizeof(T));
    if (result != rc::kOk) return result;
    if (!block->Allocate(t_.allocator_, count)) return rc::kOutOfMemory;
    if ((result = Bytes(block->data(), count * sizeof(T))) != rc::kOk) return result;
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(block->data());
    for (uint32_t i = 0; i < block->size(); ++i) {
      if (sizeof(T) == 4) (*block)[i] = static_cast<T>(bytes::Le32(raw + 4 * i));
      if (sizeof(T) == 2) (*block)[i] = static_cast<T>(bytes::Le16(raw + 2 * i));
    }
    return rc::kOk;
  }

  Result ColumnBlock(int32_t column, uint32_t rows) {
    ColumnTable::ColumnData& data = t_.data_[column];
    const ColumnDesc& desc = t_.columns_[column];
    Result result = rc::kOk;
    switch (desc.type) {
      case kColumnTypeInt32: result = Values(&data.int32s, rows); break;
      case kColumnTypeInt16: result = Values(&data.int16s, rows); break;
      case kColumnTypeByte: result = Values(&data.bytes, rows); break;
      case kColumnTypeString: return StringBlock(&data, rows);
      case kColumnTypeBlob: return BlobBlock(&data, rows);
      default: return rc::kBadData;
    }
    if (result == rc::kOk && (desc.flags & kColumnSorted) &&
        !t_.BuildSortOrder(&data, desc.type, rows))
      result = rc::kOutOfMemory;
    return result;
  }

  // Every row must point into the pool, and the pool's last text must end in it.
  Result StringBlock(ColumnTable::ColumnData* data, uint32_t rows) {
    uint32_t pool_size = 0;
    Result result = U32(&pool_size);
    if (result != rc::kOk || (result = Fits(uint64_t{rows} * 4 + pool_size)) != rc::kOk)
      return result;
    if ((result = Values(&data->offsets, rows)) != rc::kOk) return result;
    if (!data->pool.Allocate(t_.allocator_, pool_size)) return rc::kOutOfMemory;
    if ((result = Bytes(data->pool.data(), pool_size)) != rc::kOk) return result;
    if (pool_size == 0 || data->pool[pool_size - 1] != '\0') return rc::kBadData;
    for (uint32_t r = 0; r < rows; ++r) {
      if ((data->offsets[r] & 0xFFFFFFu) >= pool_size) return rc::kBadData;
    }
    return rc::kOk;
  }

  // Offsets run from row to row without going back, and the last one is the area's size.
  Result BlobBlock(ColumnTable::ColumnData* data, uint32_t rows) {
    Result result = Values(&data->offsets, uint64_t{rows} + 1);
    if (result != rc::kOk) return result;
    for (uint32_t r = 0; r < rows; ++r) {
      if (data->offsets[r] > data->offsets[r + 1]) return rc::kBadData;
    }
    const uint32_t area = data->offsets[rows];
    if ((result = Fits(area)) != rc::kOk) return result;
    if (!data->bytes.Allocate(t_.allocator_, area)) return rc::kOutOfMemory;
    return Bytes(data->bytes.data(), area);
  }

  // A bitmap shorter than the rows reads as zeros past its end; bytes beyond the rows are
  // dropped.
  Result Bitmap() {
    uint32_t size = 0;
    Result result = U32(&size);
    if (result != rc::kOk) return result;
    if (size > kMaxBitmapBytes) return rc::kBadData;
    std::vector<uint8_t> bitmap(size);
    if (size != 0 && (result = Bytes(bitmap.data(), size)) != rc::kOk) return result;
    const uint64_t needed = (uint64_t{t_.row_count_} + 7) / 8;
    if (bitmap.size() > needed) bitmap.resize(static_cast<size_t>(needed));
    t_.has_bitmap_ = size != 0;
    t_.bitmap_.swap(bitmap);
    return rc::kOk;
  }

  void MarkReplaced(uint32_t row) {
    const size_t needed = static_cast<size_t>((uint64_t{t_.row_count_} + 7) / 8);
    if (t_.bitmap_.size() < needed) t_.bitmap_.resize(needed, 0);
    t_.has_bitmap_ = true;
    t_.bitmap_[row / 8] |= static_cast<uint8_t>(1u << (row % 8));
  }

  ColumnTable& t_;
  SeekableStream* stream_;
  uint32_t size_ = 0;
};

Result ColumnTable::Load(Stream* stream, bool check_format) {
  Reset();
  Result result;
  try {
    result = LoadFrom(stream, check_format);
  } catch (const std::bad_alloc&) {
    result = rc::kOutOfMemory;
  }
  if (result != rc::kOk) Reset();
  return result;
}

Result ColumnTable::LoadFrom(Stream* stream, bool check_format) {
  // A stream that cannot tell its size is first taken into memory, so that every count can
  // still be bounded by the bytes that are really there.
  MemoryStream copy;
  SeekableStream* seekable = dynamic_cast<SeekableStream*>(stream);
  uint32_t probe = 0;
  Result result = rc::kOk;
  if (!seekable || seekable->GetSize(&probe) < 0 || seekable->GetPosition(&probe) < 0) {
    std::string bytes;
    char chunk[16 * 1024];
    for (;;) {
      uint32_t got = 0;
      result = ReadUpTo(stream, chunk, sizeof chunk, &got);
      if (result != rc::kOk) break;
      bytes.append(chunk, got);
      if (got < sizeof chunk) break;
    }
    copy = MemoryStream(std::move(bytes));
    seekable = &copy;
  }
  if (result == rc::kOk) {
    BufferedReader reader(seekable);
    ColumnStreamReader parser(this, &reader);
    result = parser.Read(check_format);
  }
  return result;
}
