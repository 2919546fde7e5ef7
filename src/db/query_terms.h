// What every store's query collects: its conditions in the order given, and its sort and group
// columns. The stores differ in the operators they accept and in how Execute uses the lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/record_database.h"

class QueryTerms : public RecordQuery {
 public:
  Result Clear() override;
  Result AddSortColumn(const std::string& column) override;
  Result AddGroupColumn(const std::string& column) override;

 protected:
  ~QueryTerms() override = default;

  struct Condition {
    std::string column;
    int32_t op = kOpIgnored;
    int32_t value = 0;        // the operand of an integer condition
    std::string text;         // the operand of a text condition
    bool is_int = false;
    int32_t column_number = -1;  // the store's number for the column, once looked up
    bool resolved = false;       // column_number has been looked up
    bool used_by_index = false;  // an index key already tests this condition
  };

  void AppendIntCondition(const std::string& column, int32_t op, uint32_t value);
  void AppendTextCondition(const std::string& column, int32_t op, const std::string& text);

  std::vector<Condition> conditions_;
  std::vector<std::string> sort_columns_;
  std::vector<std::string> group_columns_;
};
