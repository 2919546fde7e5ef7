#include "db/simple_rs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/simple_layout.h"

using namespace simple_layout;

namespace {

// atol: a leading decimal number, else 0.
int32_t DecimalValue(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

std::string DecimalText(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", value);
  return text;
}

}  // namespace

SimpleRecordSet::SimpleRecordSet(SimpleDB* db, SimpleQuery* filter)
    : db_(db), filter_(filter), filter_hold_(filter), cells_(db->Columns().size()) {}

Result SimpleRecordSet::AddNew() {
  cells_.assign(db_->Columns().size(), SimpleCell());
  stored_.clear();
  has_stored_ = false;
  record_ = kNewRecord;
  end_ = false;
  return rc::kOk;
}

void SimpleRecordSet::TakeValue(uint32_t record, const std::string& value) {
  if (!DecodeRecord(db_->Columns(), value, &cells_)) db_->MarkInconsistent();
  stored_.clear();
  has_stored_ = true;
  record_ = record;
  dirty_ = false;
  end_ = false;
}

Result SimpleRecordSet::LoadRecord(uint32_t record) {
  BerkeleyDb* file = db_->Db();
  std::string value;
  const Result found = file ? file->Get(RecordKey(record), &value) : rc::kNotFound;
  if (rc::Failed(found)) {
    db_->MarkInconsistent();
    end_ = true;
    return found;
  }
  TakeValue(record, value);
  return rc::kOk;
}

std::string SimpleRecordSet::GetColumnName(int32_t index) {
  const std::vector<SimpleColumn>& columns = db_->Columns();
  if (index < 0 || static_cast<size_t>(index) >= columns.size()) return std::string();
  return columns[index].name;
}

std::string SimpleRecordSet::GetString(int32_t index) {
  if (end_ || !CellIndexValid(index)) return std::string();
  const SimpleCell& cell = cells_[index];
  switch (db_->Columns()[index].type) {
    case kSimpleNumber: return cell.number == 0 ? std::string() : DecimalText(cell.number);
    case kSimpleText:
    case kSimpleList: return cell.bytes;
  }
  return std::string();
}

int32_t SimpleRecordSet::GetInt(int32_t index) {
  if (end_ || !CellIndexValid(index)) return 0;
  switch (db_->Columns()[index].type) {
    case kSimpleNumber: return cells_[index].number;
    case kSimpleText: return DecimalValue(cells_[index].bytes);
  }
  return 0;
}

const uint8_t* SimpleRecordSet::GetBlob(int32_t index, uint32_t* length) {
  if (end_ || !CellIndexValid(index) || db_->Columns()[index].type != kSimpleList) {
    if (length) *length = 0;
    return nullptr;
  }
  const std::string& bytes = cells_[index].bytes;
  if (length) *length = static_cast<uint32_t>(bytes.size());
  return reinterpret_cast<const uint8_t*>(bytes.data());
}

Result SimpleRecordSet::BeforeChange(int32_t index, uint32_t type) {
  if (end_) return rc::kFail;
  if (!CellIndexValid(index) || db_->Columns()[index].type != type) return rc::kNotFound;
  if (!dirty_ && has_stored_) stored_ = cells_;
  return rc::kOk;
}

Result SimpleRecordSet::SetInt(int32_t index, int32_t value) {
  const Result result = BeforeChange(index, kSimpleNumber);
  if (rc::Failed(result)) return result;
  cells_[index].number = value;
  dirty_ = true;
  return rc::kOk;
}

Result SimpleRecordSet::SetString(int32_t index, const std::string& value) {
  if (!end_ && CellIndexValid(index) && db_->Columns()[index].type == kSimpleNumber) {
    return SetInt(index, static_cast<int32_t>(TextToUInt32(value)));
  }
  const Result result = BeforeChange(index, kSimpleText);
  if (rc::Failed(result)) return result;
  cells_[index].bytes = value.c_str();  // a text ends at its first NUL
  dirty_ = true;
  return rc::kOk;
}

Result SimpleRecordSet::SetBlob(int32_t index, const void* data, uint32_t length) {
  const Result result = BeforeChange(index, kSimpleList);
  if (rc::Failed(result)) return result;
  cells_[index].bytes.assign(static_cast<const char*>(data), data ? length : 0);
  dirty_ = true;
  return rc::kOk;
}

Result SimpleRecordSet::Update() {
  if (end_) return rc::kFail;
  for (RecordObserver* observer : db_->Observers()) {
    const Result verdict = observer->OnUpdate(this);
    if (rc::Failed(verdict)) return verdict;
  }
  if (!dirty_) return rc::kOk;
  ScopedEnter<SimpleDB> hold(*db_);
  // A deleted record stays deleted: writing it would store a record under the deleted mark.
  if (record_ == kDeletedRecord) return rc::kNotFound;
  if (EncodedRecordLength(db_->Columns(), cells_) >= kRecordValueLimit) return rc::kOutOfMemory;
  BerkeleyDb* file = db_->Db();
  if (file == nullptr) return rc::kNotFound;
  if (record_ == kNewRecord) {
    uint32_t number = 0;
    const Result counted = db_->NextRecordNumber(&number);
    if (rc::Failed(counted)) return counted;
    record_ = number;
  }
  Result result = file->Put(RecordKey(record_), EncodeRecord(db_->Columns(), cells_));
  if (rc::Succeeded(result)) {
    result = db_->MoveInIndexes(record_, has_stored_ ? &stored_ : nullptr, &cells_);
  }
  if (rc::Succeeded(result) && db_->SyncOnChange() && !db_->SchemaEmpty()) result = db_->Sync();
  if (rc::Failed(result)) return result;
  // What was written is now what the file holds.
  dirty_ = false;
  has_stored_ = true;
  stored_.clear();
  return rc::kOk;
}

Result SimpleRecordSet::Delete(int32_t flag) {
  if (flag != 1) return DeleteCurrent();
  Result result = MoveFirst();
  while (rc::Succeeded(result) && !IsEOF()) {
    result = DeleteCurrent();
    if (rc::Succeeded(result)) result = MoveNext();
  }
  return result;
}

Result SimpleRecordSet::DeleteCurrent() {
  ScopedEnter<SimpleDB> hold(*db_);
  if (end_ || record_ == kDeletedRecord || record_ == kNewRecord) return rc::kNotFound;
  for (RecordObserver* observer : db_->Observers()) {
    const Result verdict = observer->OnDelete(this);
    if (rc::Failed(verdict)) return verdict;
  }
  BerkeleyDb* file = db_->Db();
  if (file == nullptr) return rc::kNotFound;
  // The index entries hold the record under the values it was stored with, not under
  // changes not yet written.
  const SimpleCells& stored = (has_stored_ && dirty_) ? stored_ : cells_;
  Result result = file->Delete(RecordKey(record_));
  if (result == rc::kNotFound) result = rc::kOk;  // gone already: a retried delete
  if (rc::Succeeded(result)) result = db_->MoveInIndexes(record_, &stored, nullptr);
  if (rc::Succeeded(result) && db_->SyncOnChange()) result = db_->Sync();
  if (rc::Failed(result)) return result;
  record_ = kDeletedRecord;
  dirty_ = false;
  has_stored_ = false;
  stored_.clear();
  return rc::kOk;
}

std::string SimpleRecordSet::GetRowKey() {
  std::string key;
  const std::vector<SimpleColumn>& columns = db_->Columns();
  for (size_t i = 0; i < columns.size() && i < cells_.size(); ++i) {
    std::string text;
    if (columns[i].type == kSimpleNumber) {
      text = DecimalText(cells_[i].number);
    } else if (columns[i].type == kSimpleText) {
      text = cells_[i].bytes.substr(0, 255);
    } else {
      continue;
    }
    key.push_back(static_cast<char>(i));
    key.push_back(static_cast<char>(text.size()));
    key += text;
  }
  key.push_back(static_cast<char>(0xFF));
  return key;
}

Result SimpleTableRecordSet::MoveFirst() {
  ScopedEnter<SimpleDB> hold(*db_);
  cursor_ = BerkeleyDbCursor(db_->Db());
  cursor_.Seek(WordKey(kCounterKey), true);
  if (cursor_.AtEnd()) {
    end_ = true;
    return rc::kOk;
  }
  return MoveNext();
}

Result SimpleTableRecordSet::MoveNext() {
  ScopedEnter<SimpleDB> hold(*db_);
  for (;;) {
    cursor_.Next();
    uint32_t record = 0;
    if (cursor_.AtEnd() || !IsRecordKey(cursor_.Key(), &record)) {
      end_ = true;
      return rc::kOk;
    }
    TakeValue(record, cursor_.Value());
    if (FilterPasses()) return rc::kOk;
  }
}

SimpleLookupRecordSet::SimpleLookupRecordSet(SimpleDB* db, SimpleQuery* filter,
                                             const std::string& key, size_t prefix_length,
                                             bool matches_nothing)
    : SimpleRecordSet(db, filter),
      cursor_(db->Db()),
      key_(key),
      prefix_length_(prefix_length),
      matches_nothing_(matches_nothing),
      filter_needed_(filter != nullptr && filter->FilterNeeded()) {}

bool SimpleLookupRecordSet::TakeEntry() {
  const std::string& key = cursor_.Key();
  if (cursor_.AtEnd() || key.size() < prefix_length_ ||
      key.compare(0, prefix_length_, key_, 0, prefix_length_) != 0) {
    return false;
  }
  if (!DecodeNumberList(cursor_.Value(), &numbers_)) db_->MarkInconsistent();
  position_ = 0;
  return true;
}

// From the current number on, the first record that loads and passes; a number whose record
// is missing is passed over (the database is marked inconsistent).
void SimpleLookupRecordSet::FindPassing() {
  for (;;) {
    for (; position_ < numbers_.size(); ++position_) {
      if (rc::Failed(LoadRecord(numbers_[position_]))) continue;
      if (!filter_needed_ || FilterPasses()) return;
    }
    db_->MakeQueuedChanges(key_.substr(0, prefix_length_));
    cursor_.Next();
    if (!TakeEntry()) {
      end_ = true;
      return;
    }
  }
}

Result SimpleLookupRecordSet::MoveFirst() {
  if (positioned_) return rc::kOk;
  ScopedEnter<SimpleDB> hold(*db_);
  numbers_.clear();
  position_ = 0;
  end_ = true;
  if (!matches_nothing_) {
    db_->MakeQueuedChanges(key_.substr(0, prefix_length_));
    cursor_ = BerkeleyDbCursor(db_->Db());
    cursor_.Seek(key_, false);
    if (TakeEntry()) FindPassing();
  }
  positioned_ = true;
  return rc::kOk;
}

Result SimpleLookupRecordSet::MoveNext() {
  if (end_) return rc::kOk;
  positioned_ = false;
  ScopedEnter<SimpleDB> hold(*db_);
  ++position_;
  FindPassing();
  return rc::kOk;
}

SimpleIndexRecordSet::SimpleIndexRecordSet(SimpleDB* db, SimpleQuery* filter, uint32_t column)
    : SimpleLookupRecordSet(db, filter, IndexKeyHead(std::vector<uint32_t>{column}),
                            IndexKeyHead(std::vector<uint32_t>{column}).size(), false) {}
