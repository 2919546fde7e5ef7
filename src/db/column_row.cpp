#include "db/column_row.h"

#include <cstring>

#include "db/column_table.h"
#include "db/db_results.h"
#include "media/record_set.h"
#include "support/byte_order.h"

namespace {

uint32_t AlignedTo4(uint32_t position) { return (position + 3u) & ~3u; }

bool IsIntegerType(uint32_t type) {
  return type == kColumnTypeInt32 || type == kColumnTypeByte || type == kColumnTypeInt16;
}

}  // namespace

ColumnRow::ColumnRow(ColumnTable* table, uint32_t row)
    : table_(table), row_(row), cells_(static_cast<size_t>(table->ColumnCount())) {}

ColumnRow::Cell* ColumnRow::CellAt(int32_t column) {
  if (column < 0 || column >= table_->ColumnCount()) return nullptr;
  if (static_cast<size_t>(column) >= cells_.size()) cells_.resize(table_->ColumnCount());
  return &cells_[column];
}

const ColumnRow::Cell* ColumnRow::CellAt(int32_t column) const {
  static const Cell kEmpty;
  if (column < 0 || column >= table_->ColumnCount()) return nullptr;
  return static_cast<size_t>(column) < cells_.size() ? &cells_[column] : &kEmpty;
}

Result ColumnRow::SetInt(int32_t column, int32_t value) {
  Cell* cell = CellAt(column);
  if (!cell) return rc::kNotFound;
  const uint32_t type = table_->Column(column).type;
  if (type == kColumnTypeString) {
    cell->bytes = std::to_string(value);
  } else if (type == kColumnTypeBlob) {
    return rc::kIncompatibleTypes;
  } else {
    cell->value = value;
  }
  return rc::kOk;
}

Result ColumnRow::SetText(int32_t column, const std::string& text) {
  Cell* cell = CellAt(column);
  if (!cell) return rc::kNotFound;
  const uint32_t type = table_->Column(column).type;
  if (IsIntegerType(type)) {
    cell->value = static_cast<int32_t>(TextToUInt32(text));
  } else if (type == kColumnTypeBlob) {
    return SetBlob(column, text.data(), static_cast<uint32_t>(text.size()));
  } else {
    // A text stops at its first zero byte, as it would in the pool.
    cell->bytes.assign(text.c_str());
  }
  return rc::kOk;
}

Result ColumnRow::SetBlob(int32_t column, const void* data, uint32_t length) {
  Cell* cell = CellAt(column);
  if (!cell) return rc::kNotFound;
  if (table_->Column(column).type != kColumnTypeBlob) return rc::kIncompatibleTypes;
  if (length > kMaxPackedBlob) return rc::kInvalidArg;
  cell->bytes.assign(static_cast<const char*>(data), data ? length : 0);
  return rc::kOk;
}

int32_t ColumnRow::GetInt(int32_t column) const {
  const Cell* cell = CellAt(column);
  return cell && IsIntegerType(table_->Column(column).type) ? cell->value : 0;
}

std::string ColumnRow::GetText(int32_t column) const {
  const Cell* cell = CellAt(column);
  if (!cell) return std::string();
  const uint32_t type = table_->Column(column).type;
  if (IsIntegerType(type)) return IntCellText(type, cell->value);
  if (type == kColumnTypeString || type == kColumnTypeBlob) return cell->bytes;
  return std::string();
}

const uint8_t* ColumnRow::GetBlob(int32_t column, uint32_t* length) const {
  const Cell* cell = CellAt(column);
  if (!cell || table_->Column(column).type != kColumnTypeBlob) {
    if (length) *length = 0;
    return nullptr;
  }
  if (length) *length = static_cast<uint32_t>(cell->bytes.size());
  return reinterpret_cast<const uint8_t*>(cell->bytes.data());
}

int32_t ColumnRow::CellInt(int32_t column) const {
  const Cell* cell = CellAt(column);
  return cell ? cell->value : 0;
}

const std::string& ColumnRow::CellBytes(int32_t column) const {
  static const std::string kNone;
  const Cell* cell = CellAt(column);
  return cell ? cell->bytes : kNone;
}

// Values follow each other in column order; int32 values and blob length words start at a
// multiple of 4 counted from the first byte of the row.
Result ColumnRow::Unpack(const uint8_t* packed, uint32_t length) {
  std::vector<Cell> cells(static_cast<size_t>(table_->ColumnCount()));
  uint32_t at = 0;
  auto take = [&](uint32_t size) {  // true when `size` bytes stand at `at`
    return at <= length && size <= length - at;
  };
  for (int32_t i = 0; i < table_->ColumnCount(); ++i) {
    Cell& cell = cells[i];
    switch (table_->Column(i).type) {
      case kColumnTypeInt32:
        at = AlignedTo4(at);
        if (!take(4)) return rc::kBadData;
        cell.value = static_cast<int32_t>(bytes::Le32(packed + at));
        at += 4;
        break;
      case kColumnTypeString: {
        if (!take(1)) return rc::kBadData;
        const void* end = std::memchr(packed + at, 0, length - at);
        if (!end) return rc::kBadData;
        const uint32_t size = static_cast<uint32_t>(static_cast<const uint8_t*>(end) - packed) - at;
        cell.bytes.assign(reinterpret_cast<const char*>(packed + at), size);
        at += size + 1;
        break;
      }
      case kColumnTypeBlob: {
        at = AlignedTo4(at);
        if (!take(4)) return rc::kBadData;
        const int32_t size = static_cast<int32_t>(bytes::Le32(packed + at));
        at += 4;
        if (size < 0 || size > kMaxPackedBlob || !take(static_cast<uint32_t>(size)))
          return rc::kBadData;
        cell.bytes.assign(reinterpret_cast<const char*>(packed + at), static_cast<size_t>(size));
        at += static_cast<uint32_t>(size);
        break;
      }
      case kColumnTypeByte:
        if (!take(1)) return rc::kBadData;
        cell.value = packed[at++];
        break;
      case kColumnTypeInt16:
        if (!take(2)) return rc::kBadData;
        cell.value = static_cast<int16_t>(bytes::Le16(packed + at));
        at += 2;
        break;
      default:
        return rc::kBadData;
    }
  }
  cells_ = std::move(cells);
  packed_.assign(reinterpret_cast<const char*>(packed), length);
  return rc::kOk;
}

std::string ColumnRow::Pack() const {
  std::string out;
  uint8_t word[4];
  auto pad_to_4 = [&] { out.resize(AlignedTo4(static_cast<uint32_t>(out.size())), '\0'); };
  for (int32_t i = 0; i < table_->ColumnCount(); ++i) {
    const Cell& cell = *CellAt(i);
    switch (table_->Column(i).type) {
      case kColumnTypeInt32:
        pad_to_4();
        bytes::PutLe32(word, static_cast<uint32_t>(cell.value));
        out.append(reinterpret_cast<char*>(word), 4);
        break;
      case kColumnTypeString:
        out.append(cell.bytes.c_str(), std::strlen(cell.bytes.c_str()) + 1);
        break;
      case kColumnTypeBlob: {
        const uint32_t size = static_cast<uint32_t>(cell.bytes.size());
        pad_to_4();
        bytes::PutLe32(word, size);
        out.append(reinterpret_cast<char*>(word), 4);
        out.append(cell.bytes.data(), size);
        break;
      }
      case kColumnTypeByte:
        out.push_back(static_cast<char>(cell.value));
        break;
      case kColumnTypeInt16:
        bytes::PutLe16(word, static_cast<uint16_t>(cell.value));
        out.append(reinterpret_cast<char*>(word), 2);
        break;
      default:
        break;
    }
  }
  return out;
}

bool ColumnRow::FitsPacked() const {
  for (size_t i = 0; i < cells_.size(); ++i) {
    if (table_->Column(static_cast<int32_t>(i)).type == kColumnTypeBlob &&
        cells_[i].bytes.size() > static_cast<size_t>(kMaxPackedBlob))
      return false;
  }
  return true;
}
