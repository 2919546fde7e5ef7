#include "db/simple_db.h"

#include <clocale>
#include <memory>
#include <new>

#include "db/simple_layout.h"
#include "db/simple_query.h"
#include "db/simple_rs.h"
#include "support/debug_trace.h"

using namespace simple_layout;

namespace {

std::string CurrentLocaleName() {
  const char* name = std::setlocale(LC_ALL, nullptr);
  return name ? name : "";
}

}  // namespace

SimpleDB::SimpleDB(BerkeleyDb::OpenFunction open) : open_function_(open) {}

SimpleDB::~SimpleDB() { db_.reset(); }

Result SimpleDB::CreateQuery(RefPtr<RecordQuery>* out) {
  *out = new (std::nothrow) SimpleQuery(this);
  return rc::kOk;
}

Result SimpleDB::OpenRecordSet(RefPtr<RecordSet>* out) {
  *out = new (std::nothrow) SimpleTableRecordSet(this, nullptr);
  return rc::kOk;
}

Result SimpleDB::Open(const char* path, uint32_t mode) {
  ScopedEnter<SimpleDB> hold(*this);
  db_.reset(new BerkeleyDb(open_function_));
  queued_.Clear();
  queue_failure_ = rc::kOk;
  counter_ = 0;
  schema_empty_ = true;
  columns_.clear();
  SetIndexes({});
  Result result = db_->Open(path, mode);
  if (rc::Failed(result)) {
    TORVEX_TRACE("Opening database %s failed, rc = 0x%x\n", path ? path : "(null)",
                 static_cast<unsigned>(result));
    db_.reset();
    return result;
  }
  inconsistent_ = false;
  result = LoadSchema();
  if (rc::Succeeded(result)) result = LoadIndexList();
  if (rc::Failed(result)) {
    columns_.clear();
    SetIndexes({});
    schema_empty_ = true;
    db_.reset();
  }
  return result;
}

Result SimpleDB::LoadSchema() {
  BerkeleyDbCursor cursor(db_.get());
  cursor.Seek(WordKey(kSchemaKey), true);
  if (cursor.AtEnd()) return rc::kOk;
  if (!DecodeSchema(cursor.Value(), &columns_)) {
    TORVEX_TRACE("Damaged database schema\n");
    return rc::kBadData;
  }
  if (!columns_.empty()) schema_empty_ = false;
  return rc::kOk;
}

Result SimpleDB::LoadIndexList() {
  BerkeleyDbCursor cursor(db_.get());
  cursor.Seek(WordKey(kIndexListKey), true);
  if (cursor.AtEnd()) return rc::kOk;
  std::vector<std::vector<uint32_t>> indexes;
  if (!DecodeIndexList(cursor.Value(), columns_.size(), &indexes)) {
    TORVEX_TRACE("Damaged database index list\n");
    return rc::kBadData;
  }
  SetIndexes(std::move(indexes));
  return rc::kOk;
}

void SimpleDB::SetIndexes(std::vector<std::vector<uint32_t>> indexes) {
  indexes_ = std::move(indexes);
  index_heads_.clear();
  for (const std::vector<uint32_t>& index : indexes_) index_heads_.push_back(IndexKeyHead(index));
}

Result SimpleDB::Close() {
  if (!db_) return rc::kOk;
  // A batch left open ends here: its first failed index write is the answer.
  MakeQueued(std::string());
  const Result made = queue_failure_;
  queue_failure_ = rc::kOk;
  batch_depth_ = 0;
  const Result result = db_->Close();
  db_.reset();
  return rc::Failed(made) ? made : result;
}

Result SimpleDB::Sync() {
  if (!db_) return rc::kNotFound;
  Result made = rc::kOk;
  if (!queued_.empty()) {
    ScopedEnter<SimpleDB> hold(*this);
    made = MakeQueued(std::string());
  }
  const Result synced = db_->Sync();
  return rc::Failed(made) ? made : synced;
}

void SimpleDB::BeginIndexBatch() {
  ScopedEnter<SimpleDB> hold(*this);
  ++batch_depth_;
}

Result SimpleDB::EndIndexBatch() {
  ScopedEnter<SimpleDB> hold(*this);
  if (batch_depth_ == 0 || --batch_depth_ > 0) return rc::kOk;
  MakeQueued(std::string());
  const Result result = queue_failure_;
  queue_failure_ = rc::kOk;
  return result;
}

void SimpleDB::MakeQueuedChanges(const std::string& prefix) { MakeQueued(prefix); }

Result SimpleDB::MakeQueued(const std::string& prefix) {
  if (queued_.empty() || !db_) return rc::kOk;
  const Result result =
      queued_.Make(prefix, [this](const std::string& key, const std::vector<IndexChange>& changes) {
        return ChangeStoredEntry(key, changes);
      });
  if (rc::Failed(result)) {
    MarkInconsistent();
    if (rc::Succeeded(queue_failure_)) queue_failure_ = result;
  }
  return result;
}

Result SimpleDB::WriteSchema() {
  return db_ ? db_->Put(WordKey(kSchemaKey), EncodeSchema(columns_)) : rc::kNotFound;
}

Result SimpleDB::WriteIndexList() {
  return db_ ? db_->Put(WordKey(kIndexListKey), EncodeIndexList(indexes_)) : rc::kNotFound;
}

void SimpleDB::AddColumn(const std::string& name, uint32_t type) {
  ScopedEnter<SimpleDB> hold(*this);
  if (FindColumn(name) >= 0 || type > kSimpleList) return;
  SimpleColumn column;
  column.name = name;
  column.type = type;
  columns_.push_back(std::move(column));
  WriteSchema();
}

Result SimpleDB::AddIndex(const std::vector<std::string>& names) {
  ScopedEnter<SimpleDB> hold(*this);
  std::vector<uint32_t> index;
  for (const std::string& name : names) {
    const int32_t column = FindColumn(name);
    // -1 is the list's separator: such an index could not be read back.
    if (column < 0) return rc::kNotFound;
    index.push_back(static_cast<uint32_t>(column));
  }
  std::vector<std::vector<uint32_t>> indexes = indexes_;
  indexes.push_back(std::move(index));
  SetIndexes(std::move(indexes));
  return WriteIndexList();
}

bool SimpleDB::HasIndex(const std::vector<uint32_t>& columns) const {
  for (const std::vector<uint32_t>& index : indexes_) {
    if (index == columns) return true;
  }
  return false;
}

bool SimpleDB::HasIndex(const std::vector<std::string>& names) const {
  std::vector<uint32_t> columns;
  for (const std::string& name : names) {
    const int32_t column = FindColumn(name);
    if (column < 0) return false;
    columns.push_back(static_cast<uint32_t>(column));
  }
  return HasIndex(columns);
}

Result SimpleDB::SetColumnTransform(const std::string& name, KeyTransform* transform) {
  const int32_t column = FindColumn(name);
  if (column < 0) return rc::kNotFound;
  columns_[column].transform = transform;
  return rc::kOk;
}

void SimpleDB::SetVersion(uint32_t version) {
  ScopedEnter<SimpleDB> hold(*this);
  if (!db_) return;
  std::string value;
  AppendLe32(&value, version);
  const std::string locale = CurrentLocaleName();
  value.append(locale.c_str(), locale.size() + 1);
  if (rc::Succeeded(db_->Put(WordKey(kVersionKey), value))) Sync();
}

Result SimpleDB::GetVersion(uint32_t* version) {
  ScopedEnter<SimpleDB> hold(*this);
  if (!db_) return rc::kNotFound;
  std::string value;
  if (rc::Failed(db_->Get(WordKey(kVersionKey), &value)) || value.size() <= 4) {
    return rc::kNotFound;
  }
  const std::string locale = CurrentLocaleName();
  if (value.compare(4, std::string::npos, locale.c_str(), locale.size() + 1) != 0) {
    return rc::kNotFound;
  }
  *version = Le32At(value, 0);
  return rc::kOk;
}

int32_t SimpleDB::FindColumn(const std::string& name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name == name) return static_cast<int32_t>(i);
  }
  return -1;
}

Result SimpleDB::NextRecordNumber(uint32_t* number) {
  ScopedEnter<SimpleDB> hold(*this);
  if (!db_) return rc::kNotFound;
  if (counter_ == 0) {
    std::string value;
    const Result found = db_->Get(WordKey(kCounterKey), &value);
    if (found == rc::kNotFound) {
      counter_ = 1;
    } else if (rc::Failed(found)) {
      return found;
    } else if (value.size() != 4) {
      return rc::kBadData;
    } else {
      counter_ = Le32At(value, 0);
    }
  }
  // 0 marks a record not yet numbered and 0xFFFFFFFF a deleted one.
  if (counter_ >= 0xFFFFFFFEu) return rc::kFail;
  std::string value;
  AppendLe32(&value, counter_ + 1);
  const Result stored = db_->Put(WordKey(kCounterKey), value);
  if (rc::Failed(stored)) {
    // Read the counter again next time rather than trust a number that was never stored.
    counter_ = 0;
    return stored;
  }
  *number = ++counter_;
  return rc::kOk;
}

Result SimpleDB::GetColumnKind(int32_t column, ColumnKind* kind) const {
  if (column < 0 || static_cast<size_t>(column) >= columns_.size()) return rc::kBadIndex;
  switch (columns_[column].type) {
    case kSimpleNumber: *kind = kColumnInt; return rc::kOk;
    case kSimpleText: *kind = kColumnText; return rc::kOk;
    case kSimpleList: *kind = kColumnBinary; return rc::kOk;
  }
  return rc::kFail;
}

Result SimpleDB::ChangeEntry(const std::string& key, IndexChange change) {
  if (batch_depth_ == 0) return ChangeStoredEntry(key, {change});
  queued_.Queue(key, change);
  if (queued_.Full()) MakeQueued(std::string());
  return rc::kOk;
}

Result SimpleDB::ChangeStoredEntry(const std::string& key,
                                   const std::vector<IndexChange>& changes) {
  std::string& value = entry_value_;
  const Result found = db_->Get(key, &value);
  if (found != rc::kNotFound && rc::Failed(found)) return found;
  std::vector<uint32_t>& numbers = entry_numbers_;
  numbers.clear();
  const bool damaged = found == rc::kOk && !DecodeNumberList(value, &numbers);
  if (damaged) {
    MarkInconsistent();
    value.resize(value.size() & ~size_t{3});
    DecodeNumberList(value, &numbers);
  }
  if (!MakeIndexChanges(changes, damaged, &numbers)) return rc::kOk;
  if (numbers.empty()) {
    const Result deleted = db_->Delete(key);
    return deleted == rc::kNotFound ? rc::kOk : deleted;
  }
  value.clear();
  for (uint32_t number : numbers) AppendLe32(&value, number);
  return db_->Put(key, value);
}

namespace {

// Numbers by value, texts byte for byte; lists are not part of any key.
bool KeyColumnsEqual(const std::vector<SimpleColumn>& columns, const std::vector<uint32_t>& index,
                     const SimpleCells& a, const SimpleCells& b) {
  for (uint32_t column : index) {
    switch (columns[column].type) {
      case kSimpleNumber:
        if (a[column].number != b[column].number) return false;
        break;
      case kSimpleText:
        if (a[column].bytes != b[column].bytes) return false;
        break;
    }
  }
  return true;
}

}  // namespace

Result SimpleDB::MoveInIndexes(uint32_t record, const SimpleCells* before,
                               const SimpleCells* after) {
  if (!db_) return rc::kNotFound;
  std::unique_ptr<RecordKeyParts> before_parts, after_parts;
  if (before) before_parts.reset(new RecordKeyParts(columns_, *before));
  if (after) after_parts.reset(new RecordKeyParts(columns_, *after));
  for (size_t i = 0; i < indexes_.size(); ++i) {
    const std::vector<uint32_t>& index = indexes_[i];
    if (before && after && KeyColumnsEqual(columns_, index, *before, *after)) continue;
    const struct {
      RecordKeyParts* parts;
      std::vector<std::string>* keys;
      bool addition;
    } sides[] = {{before_parts.get(), &old_keys_, false}, {after_parts.get(), &new_keys_, true}};
    for (const auto& side : sides) {
      if (side.parts == nullptr) continue;
      const size_t count = WriteIndexKeys(index_heads_[i], index, side.parts, side.keys);
      for (size_t k = 0; k < count; ++k) {
        const Result result = ChangeEntry((*side.keys)[k], {record, side.addition});
        if (rc::Failed(result)) return result;
      }
    }
  }
  return rc::kOk;
}
