// SimpleGroupRecordSet: one row per distinct index key under a prefix, holding the group
// columns of the key's first record and a "count" column with the number of its records that
// pass the query. Read-only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/berkeley_db.h"
#include "db/column_set_base.h"
#include "db/simple_rs.h"

class SimpleGroupRecordSet : public ColumnSetBase {
 public:
  SimpleGroupRecordSet(SimpleDB* db, SimpleQuery* query, const std::string& key,
                       size_t prefix_length, bool matches_nothing);

  using ColumnSetBase::GetInt;
  using ColumnSetBase::GetString;

  bool IsEOF() override { return end_; }
  Result MoveNext() override;
  Result MoveFirst() override;
  Result AddNew() override { return rc::kNotImplemented; }
  int32_t FindColumn(const std::string& name) override;
  std::string GetColumnName(int32_t index) override;
  Result GetColumnType(int32_t index, ColumnKind* kind) override;
  Result GetColumnType(const std::string& name, ColumnKind* kind) override;
  std::string GetString(int32_t index) override;
  int32_t GetInt(int32_t index) override;
  const uint8_t* GetBlob(int32_t, uint32_t*) override { return nullptr; }
  const uint8_t* GetBlob(const std::string&, uint32_t*) override { return nullptr; }
  Result SetString(int32_t, const std::string&) override { return rc::kNotImplemented; }
  Result SetString(const std::string&, const std::string&) override {
    return rc::kNotImplemented;
  }
  Result SetInt(int32_t, int32_t) override { return rc::kNotImplemented; }
  Result SetInt(const std::string&, int32_t) override { return rc::kNotImplemented; }
  Result SetBlob(int32_t, const void*, uint32_t) override { return rc::kNotImplemented; }
  Result SetBlob(const std::string&, const void*, uint32_t) override {
    return rc::kNotImplemented;
  }
  Result Update() override { return rc::kNotImplemented; }
  Result Delete(int32_t) override { return rc::kNotImplemented; }

 protected:
  ~SimpleGroupRecordSet() override = default;

 private:
  struct GroupColumn {
    std::string name;
    int32_t number = -1;
    ColumnKind kind = kColumnInt;
    std::string text;
    int32_t value = 0;
  };

  bool InPrefix() const;
  void LoadGroup();
  bool LoadMember(uint32_t record);

  SimpleDB* db_;
  SimpleQuery* query_;
  RefPtr<SimpleQuery> query_hold_;
  BerkeleyDbCursor cursor_;
  bool end_ = true;
  std::string key_;
  size_t prefix_length_;
  bool matches_nothing_;
  bool filter_needed_;
  RefPtr<SimpleTableRecordSet> inner_;
  std::vector<GroupColumn> groups_;
  int32_t count_ = 0;
};
