#include "db/simple_layout.h"

#include <cstring>

#include "support/byte_order.h"
#include "support/collation.h"
#include "support/text_convert.h"

namespace simple_layout {

namespace {

size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

void PadWith(std::string* out, char byte) { out->resize(RoundUp4(out->size()), byte); }

}  // namespace

void AppendLe32(std::string* out, uint32_t value) {
  uint8_t word[4];
  bytes::PutLe32(word, value);
  out->append(reinterpret_cast<const char*>(word), 4);
}

void AppendBe32(std::string* out, uint32_t value) {
  uint8_t word[4];
  bytes::PutBe32(word, value);
  out->append(reinterpret_cast<const char*>(word), 4);
}

uint32_t Le32At(const std::string& bytes, size_t offset) {
  return bytes::Le32(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}

std::string WordKey(uint32_t word) {
  std::string key;
  AppendLe32(&key, word);
  return key;
}

std::string RecordKey(uint32_t record) {
  std::string key = WordKey(kCounterKey);
  AppendLe32(&key, record);
  return key;
}

bool IsRecordKey(const std::string& key, uint32_t* record) {
  if (key.size() != 8 || Le32At(key, 0) != kCounterKey) return false;
  *record = Le32At(key, 4);
  return true;
}

std::string EncodeSchema(const std::vector<SimpleColumn>& columns) {
  std::string value;
  AppendLe32(&value, static_cast<uint32_t>(columns.size()));
  for (const SimpleColumn& column : columns) AppendLe32(&value, column.type);
  for (const SimpleColumn& column : columns) value.append(column.name.c_str(), column.name.size() + 1);
  PadWith(&value, static_cast<char>(kFiller));
  return value;
}

bool DecodeSchema(const std::string& value, std::vector<SimpleColumn>* columns) {
  columns->clear();
  if (value.size() < 4) return false;
  const uint64_t count = Le32At(value, 0);
  if (4 + 4 * count > value.size()) return false;
  size_t pos = 4 + 4 * count;
  for (uint64_t i = 0; i < count; ++i) {
    SimpleColumn column;
    column.type = Le32At(value, 4 + 4 * i);
    if (column.type > kSimpleList) return false;
    const size_t end = value.find('\0', pos);
    if (end == std::string::npos) return false;
    column.name = value.substr(pos, end - pos);
    pos = end + 1;
    columns->push_back(std::move(column));
  }
  return true;
}

std::string EncodeIndexList(const std::vector<std::vector<uint32_t>>& indexes) {
  std::string value;
  for (const std::vector<uint32_t>& index : indexes) {
    for (uint32_t column : index) AppendLe32(&value, column);
    AppendLe32(&value, kIndexListEnd);
  }
  return value;
}

bool DecodeIndexList(const std::string& value, size_t column_count,
                     std::vector<std::vector<uint32_t>>* indexes) {
  indexes->clear();
  if (value.size() % 4 != 0) return false;
  std::vector<uint32_t> index;
  for (size_t pos = 0; pos < value.size(); pos += 4) {
    const uint32_t word = Le32At(value, pos);
    if (word == kIndexListEnd) {
      indexes->push_back(std::move(index));
      index.clear();
    } else if (word >= column_count) {
      return false;
    } else {
      index.push_back(word);
    }
  }
  return true;  // a trailing run without its terminator is dropped
}

uint64_t EncodedRecordLength(const std::vector<SimpleColumn>& columns, const SimpleCells& cells) {
  uint64_t length = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    switch (columns[i].type) {
      case kSimpleNumber: length = RoundUp4(length) + 4; break;
      case kSimpleText: length += std::strlen(cells[i].bytes.c_str()) + 1; break;
      case kSimpleList: length = RoundUp4(length) + 4 + cells[i].bytes.size(); break;
    }
  }
  return RoundUp4(length);
}

std::string EncodeRecord(const std::vector<SimpleColumn>& columns, const SimpleCells& cells) {
  std::string value;
  value.reserve(static_cast<size_t>(EncodedRecordLength(columns, cells)));
  const char filler = static_cast<char>(kFiller);
  for (size_t i = 0; i < columns.size(); ++i) {
    const SimpleCell& cell = cells[i];
    switch (columns[i].type) {
      case kSimpleNumber:
        PadWith(&value, filler);
        AppendLe32(&value, static_cast<uint32_t>(cell.number));
        break;
      case kSimpleText:
        value.append(cell.bytes.c_str(), std::strlen(cell.bytes.c_str()) + 1);
        break;
      case kSimpleList:
        PadWith(&value, filler);
        AppendLe32(&value, static_cast<uint32_t>(cell.bytes.size()));
        value += cell.bytes;
        break;
    }
  }
  PadWith(&value, filler);
  return value;
}

bool DecodeRecord(const std::vector<SimpleColumn>& columns, const std::string& value,
                  SimpleCells* cells) {
  cells->assign(columns.size(), SimpleCell());
  const size_t length = value.size();
  size_t pos = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    SimpleCell& cell = (*cells)[i];
    switch (columns[i].type) {
      case kSimpleNumber:
        pos = RoundUp4(pos);
        if (pos + 4 > length) return false;
        cell.number = static_cast<int32_t>(Le32At(value, pos));
        pos += 4;
        break;
      case kSimpleText: {
        const size_t end = pos < length ? value.find('\0', pos) : std::string::npos;
        if (end == std::string::npos) return false;
        cell.bytes = value.substr(pos, end - pos);
        pos = end + 1;
        break;
      }
      case kSimpleList: {
        pos = RoundUp4(pos);
        if (pos + 4 > length) return false;
        const uint64_t size = Le32At(value, pos);
        pos += 4;
        if (pos + size > length) return false;
        cell.bytes = value.substr(pos, static_cast<size_t>(size));
        pos += static_cast<size_t>(size);
        break;
      }
      default:
        return false;
    }
  }
  return RoundUp4(pos) == RoundUp4(length);
}

bool DecodeNumberList(const std::string& value, std::vector<uint32_t>* numbers) {
  numbers->clear();
  if (value.empty() || value.size() % 4 != 0) return false;
  for (size_t pos = 0; pos < value.size(); pos += 4) numbers->push_back(Le32At(value, pos));
  return true;
}

std::string FoldedText(const char* text) {
  const std::u16string folded = CollationKey(text ? text : "");
  return WideToUtf8String(std::wstring(folded.begin(), folded.end()));
}

void PadKey(std::string* key) { PadWith(key, '\0'); }

std::string IndexKeyHead(const std::vector<uint32_t>& index) {
  std::string key;
  AppendLe32(&key, kIndexKeyMagic);
  AppendLe32(&key, static_cast<uint32_t>(index.size()));
  for (uint32_t column : index) AppendLe32(&key, column);
  return key;
}

void AppendKeyPart(std::string* key, uint32_t type, const SimpleCell& cell) {
  if (type == kSimpleNumber) {
    PadKey(key);
    AppendBe32(key, static_cast<uint32_t>(cell.number));
  } else if (type == kSimpleText) {
    key->append(FoldedText(cell.bytes.c_str()));
    key->push_back('\0');
  }
}

namespace {

// Collects what a transform emits, each part with its zero byte.
class PartCollector : public KeyEmitter {
 public:
  void EmitFolded(const char* text) override { Add(FoldedText(text)); }
  void EmitRaw(const char* text) override { Add(text ? text : ""); }
  std::vector<std::string> parts;

 private:
  void Add(std::string part) {
    part.push_back('\0');
    parts.push_back(std::move(part));
  }
};

}  // namespace

RecordKeyParts::RecordKeyParts(const std::vector<SimpleColumn>& columns, const SimpleCells& cells)
    : columns_(columns), cells_(cells), parts_(columns.size()), made_(columns.size(), false) {}

const std::vector<std::string>& RecordKeyParts::TextParts(uint32_t column) {
  if (!made_[column]) {
    const char* text = cells_[column].bytes.c_str();
    if (columns_[column].transform != nullptr) {
      PartCollector collector;
      columns_[column].transform->Transform(text, &collector);
      parts_[column] = std::move(collector.parts);
    } else {
      std::string part = FoldedText(text);
      part.push_back('\0');
      parts_[column] = {std::move(part)};
    }
    made_[column] = true;
  }
  return parts_[column];
}

size_t WriteIndexKeys(const std::string& head, const std::vector<uint32_t>& index,
                      RecordKeyParts* parts, std::vector<std::string>* keys) {
  if (keys->empty()) keys->emplace_back();
  (*keys)[0].assign(head);
  size_t count = 1;
  for (uint32_t number : index) {
    switch (parts->columns()[number].type) {
      case kSimpleNumber:
        for (size_t k = 0; k < count; ++k) {
          AppendKeyPart(&(*keys)[k], kSimpleNumber, parts->cells()[number]);
        }
        break;
      case kSimpleText: {
        const std::vector<std::string>& emitted = parts->TextParts(number);
        if (emitted.size() == 1) {
          for (size_t k = 0; k < count; ++k) (*keys)[k] += emitted[0];
          break;
        }
        std::vector<std::string> grown;
        for (size_t k = 0; k < count; ++k) {
          for (const std::string& part : emitted) grown.push_back((*keys)[k] + part);
        }
        count = grown.size();
        if (keys->size() < count) keys->resize(count);
        for (size_t k = 0; k < count; ++k) (*keys)[k].swap(grown[k]);
        break;
      }
    }
  }
  // A transform that emits one value twice must not list the record twice in one entry.
  size_t unique = 0;
  for (size_t k = 0; k < count; ++k) {
    std::string& key = (*keys)[k];
    PadKey(&key);
    bool seen = false;
    for (size_t kept = 0; kept < unique && !seen; ++kept) seen = (*keys)[kept] == key;
    if (!seen) (*keys)[unique++].swap(key);
  }
  return unique;
}

std::vector<std::string> IndexKeys(const std::vector<uint32_t>& index, RecordKeyParts* parts) {
  std::vector<std::string> keys;
  keys.resize(WriteIndexKeys(IndexKeyHead(index), index, parts, &keys));
  return keys;
}

std::vector<std::string> IndexKeys(const std::vector<SimpleColumn>& columns,
                                   const std::vector<uint32_t>& index, const SimpleCells& cells) {
  RecordKeyParts parts(columns, cells);
  return IndexKeys(index, &parts);
}

bool FirstTransformedPart(KeyTransform* transform, const char* text, std::string* part) {
  PartCollector collector;
  transform->Transform(text ? text : "", &collector);
  if (collector.parts.empty()) return false;
  *part = collector.parts.front();
  return true;
}

}  // namespace simple_layout
