// The bytes of a SimpleDB file: entry keys, the schema and index list values, record values
// and index keys. Words are little-endian unless said otherwise; index key parts of numbers
// are big-endian so that key order is the unsigned order of the values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/simple_db.h"

namespace simple_layout {

constexpr uint32_t kSchemaKey = 0xABCDEFAB;
constexpr uint32_t kIndexListKey = 0xB0FB0FB0;
constexpr uint32_t kVersionKey = 0xFEF1F0FA;
constexpr uint32_t kCounterKey = 0x12345678;  // also the first word of every record key
constexpr uint32_t kIndexKeyMagic = 0x87654321;
constexpr uint32_t kIndexListEnd = 0xFFFFFFFF;
constexpr uint8_t kFiller = 0xEF;
// A record value must be shorter than this; it also bounds what a list can hold.
constexpr uint32_t kRecordValueLimit = 0x400000;

void AppendLe32(std::string* out, uint32_t value);
void AppendBe32(std::string* out, uint32_t value);
uint32_t Le32At(const std::string& bytes, size_t offset);

std::string WordKey(uint32_t word);
std::string RecordKey(uint32_t record);
// True for an 8-byte key that starts with the counter word; `record` gets the second word.
bool IsRecordKey(const std::string& key, uint32_t* record);

std::string EncodeSchema(const std::vector<SimpleColumn>& columns);
// False when the value does not hold what it claims, or names an unknown type.
bool DecodeSchema(const std::string& value, std::vector<SimpleColumn>* columns);

std::string EncodeIndexList(const std::vector<std::vector<uint32_t>>& indexes);
// False when the value is not whole words or names a column beyond `column_count`.
bool DecodeIndexList(const std::string& value, size_t column_count,
                     std::vector<std::vector<uint32_t>>* indexes);

// Length of the encoded record, before the check against kRecordValueLimit.
uint64_t EncodedRecordLength(const std::vector<SimpleColumn>& columns, const SimpleCells& cells);
std::string EncodeRecord(const std::vector<SimpleColumn>& columns, const SimpleCells& cells);
// Fills one cell per column. False when a field runs past the value or the walk does not end
// at the value's length rounded up to 4; the cells then hold what could be read.
bool DecodeRecord(const std::vector<SimpleColumn>& columns, const std::string& value,
                  SimpleCells* cells);

// A record value's record numbers: false when the value is empty or not whole words.
bool DecodeNumberList(const std::string& value, std::vector<uint32_t>* numbers);

// The text's collation fold without the ignored units, in UTF-8.
std::string FoldedText(const char* text);
// Zero bytes up to the next multiple of 4.
void PadKey(std::string* key);
// Word 0x87654321, the column count and the column numbers.
std::string IndexKeyHead(const std::vector<uint32_t>& index);
// Appends one column's key part for a number or a text without transform.
void AppendKeyPart(std::string* key, uint32_t type, const SimpleCell& cell);
// The key parts of one record's text columns (the folded text, or what the column's transform
// emits, each part with its zero byte), each column's made once however many indexes use it.
class RecordKeyParts {
 public:
  RecordKeyParts(const std::vector<SimpleColumn>& columns, const SimpleCells& cells);
  const std::vector<std::string>& TextParts(uint32_t column);
  const std::vector<SimpleColumn>& columns() const { return columns_; }
  const SimpleCells& cells() const { return cells_; }

 private:
  const std::vector<SimpleColumn>& columns_;
  const SimpleCells& cells_;
  std::vector<std::vector<std::string>> parts_;
  std::vector<bool> made_;
};

// Every key under which a record with these values stands in the index: one per combination
// of the values its transformed columns emit (none when a transform emits nothing).
std::vector<std::string> IndexKeys(const std::vector<uint32_t>& index, RecordKeyParts* parts);
// The same keys, for an index whose IndexKeyHead is `head`, written over the first strings of
// `keys` (grown as needed; their storage is used again); returns how many there are.
size_t WriteIndexKeys(const std::string& head, const std::vector<uint32_t>& index,
                      RecordKeyParts* parts, std::vector<std::string>* keys);
std::vector<std::string> IndexKeys(const std::vector<SimpleColumn>& columns,
                                   const std::vector<uint32_t>& index, const SimpleCells& cells);
// The first key part a transform emits for a text, with its zero byte; false when it emits
// nothing.
bool FirstTransformedPart(KeyTransform* transform, const char* text, std::string* part);

}  // namespace simple_layout
