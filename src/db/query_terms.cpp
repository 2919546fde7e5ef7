#include "db/query_terms.h"

Result QueryTerms::Clear() {
  conditions_.clear();
  sort_columns_.clear();
  group_columns_.clear();
  return rc::kOk;
}

Result QueryTerms::AddSortColumn(const std::string& column) {
  sort_columns_.push_back(column);
  return rc::kOk;
}

Result QueryTerms::AddGroupColumn(const std::string& column) {
  group_columns_.push_back(column);
  return rc::kOk;
}

void QueryTerms::AppendIntCondition(const std::string& column, int32_t op, uint32_t value) {
  Condition condition;
  condition.column = column;
  condition.op = op;
  condition.value = static_cast<int32_t>(value);
  condition.is_int = true;
  conditions_.push_back(std::move(condition));
}

void QueryTerms::AppendTextCondition(const std::string& column, int32_t op,
                                     const std::string& text) {
  Condition condition;
  condition.column = column;
  condition.op = op;
  condition.text = text;
  conditions_.push_back(std::move(condition));
}
