// The record sets of a SimpleDB: SimpleRecordSet holds one record's values and writes them
// back (Update, Delete, with the observers and the index upkeep); the derived sets walk the
// file: every record (SimpleTableRecordSet), the records listed under an index key prefix
// (SimpleLookupRecordSet), or a whole one-column index (SimpleIndexRecordSet).
// The database must outlive its record sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/berkeley_db.h"
#include "db/column_set_base.h"
#include "db/simple_db.h"
#include "db/simple_query.h"

class SimpleRecordSet : public ColumnSetBase {
 public:
  static constexpr uint32_t kNewRecord = 0;
  static constexpr uint32_t kDeletedRecord = 0xFFFFFFFF;

  using ColumnSetBase::GetBlob;
  using ColumnSetBase::GetColumnType;
  using ColumnSetBase::GetInt;
  using ColumnSetBase::GetString;
  using ColumnSetBase::SetBlob;
  using ColumnSetBase::SetInt;
  using ColumnSetBase::SetString;

  SimpleRecordSet(SimpleDB* db, SimpleQuery* filter);

  bool IsEOF() override { return end_; }
  Result AddNew() override;
  int32_t FindColumn(const std::string& name) override { return db_->FindColumn(name); }
  std::string GetColumnName(int32_t index) override;
  Result GetColumnType(int32_t index, ColumnKind* kind) override {
    return db_->GetColumnKind(index, kind);
  }
  std::string GetString(int32_t index) override;
  int32_t GetInt(int32_t index) override;
  const uint8_t* GetBlob(int32_t index, uint32_t* length) override;
  Result SetString(int32_t index, const std::string& value) override;
  Result SetInt(int32_t index, int32_t value) override;
  Result SetInt64(int32_t index, int64_t value) override {
    return SetInt(index, static_cast<int32_t>(value));
  }
  Result SetInt64(const std::string& name, int64_t value) override {
    return SetInt(name, static_cast<int32_t>(value));
  }
  Result SetBlob(int32_t index, const void* data, uint32_t length) override;
  // Writes a changed record: a new one gets its number here. After a failure nothing is
  // forgotten, so the same Update can be called again.
  Result Update() override;
  // Flag 1 deletes every record the set reaches; flag 0 the current one.
  Result Delete(int32_t flag) override;
  std::string GetRowKey() override;

  uint32_t RecordNumber() const { return record_; }
  // Reads a record by number; rc::kNotFound (and the database marked inconsistent) when it
  // is missing.
  Result LoadRecord(uint32_t record);

 protected:
  ~SimpleRecordSet() override = default;
  bool FilterPasses() { return filter_ == nullptr || filter_->Passes(this); }
  void TakeValue(uint32_t record, const std::string& value);
  bool CellIndexValid(int32_t index) const {
    return index >= 0 && static_cast<size_t>(index) < cells_.size();
  }

  SimpleDB* db_;
  SimpleQuery* filter_;
  RefPtr<SimpleQuery> filter_hold_;
  bool positioned_ = false;
  bool end_ = true;

 private:
  Result DeleteCurrent();
  // The first change of a stored record keeps the values it was stored with.
  Result BeforeChange(int32_t index, uint32_t type);

  SimpleCells cells_;
  SimpleCells stored_;       // what the file holds, once a stored record was changed
  bool has_stored_ = false;  // the record's values are in the file (as stored_ or cells_)
  bool dirty_ = false;
  uint32_t record_ = kNewRecord;
};

class SimpleTableRecordSet : public SimpleRecordSet {
 public:
  SimpleTableRecordSet(SimpleDB* db, SimpleQuery* filter)
      : SimpleRecordSet(db, filter), cursor_(db->Db()) {}
  Result MoveFirst() override;
  Result MoveNext() override;

 private:
  BerkeleyDbCursor cursor_;
};

// The records listed in the index entries whose keys begin with a prefix of the lookup key,
// in key order; every record is tested against what the key did not consume.
class SimpleLookupRecordSet : public SimpleRecordSet {
 public:
  SimpleLookupRecordSet(SimpleDB* db, SimpleQuery* filter, const std::string& key,
                        size_t prefix_length, bool matches_nothing);
  // Stays where it stands when called again before a MoveNext.
  Result MoveFirst() override;
  Result MoveNext() override;

 private:
  bool TakeEntry();
  void FindPassing();

  BerkeleyDbCursor cursor_;
  std::string key_;
  size_t prefix_length_;
  bool matches_nothing_;
  bool filter_needed_;
  std::vector<uint32_t> numbers_;
  size_t position_ = 0;
};

// Every entry of the one-column index over `column`, in key order.
class SimpleIndexRecordSet : public SimpleLookupRecordSet {
 public:
  SimpleIndexRecordSet(SimpleDB* db, SimpleQuery* filter, uint32_t column);
};
