#include "db/column_query.h"

#include <new>

#include "db/column_group_record_set.h"
#include "db/column_record_set.h"
#include "db/column_sorted_record_set.h"
#include "support/collation.h"

namespace {

bool OperatorPasses(int32_t op, int order) {
  switch (op) {
    case kOpLess: return order < 0;
    case kOpEqual: return order == 0;
    case kOpGreater: return order > 0;
    case kOpLessEqual: return order <= 0;
    case kOpGreaterEqual: return order >= 0;
    case kOpNotEqual: return order != 0;
    default: return true;  // no comparison is defined for the other codes here
  }
}

}  // namespace

Result ColumnQuery::AddIntCondition(const std::string& column, int32_t op, uint32_t value) {
  Condition condition;
  condition.column = column;
  condition.op = op;
  condition.int_value = static_cast<int32_t>(value);
  condition.is_int = true;
  conditions_.push_back(std::move(condition));
  return rc::kOk;
}

Result ColumnQuery::AddTextCondition(const std::string& column, int32_t op,
                                     const std::string& text) {
  Condition condition;
  condition.column = column;
  condition.op = op;
  condition.text = text;
  conditions_.push_back(std::move(condition));
  return rc::kOk;
}

Result ColumnQuery::Clear() {
  conditions_.clear();
  group_columns_.clear();
  sort_columns_.clear();
  return rc::kOk;
}

Result ColumnQuery::AddSortColumn(const std::string& column) {
  sort_columns_.push_back(column);
  return rc::kOk;
}

Result ColumnQuery::AddGroupColumn(const std::string& column) {
  group_columns_.push_back(column);
  return rc::kOk;
}

Result ColumnQuery::Execute(RefPtr<RecordSet>* out) {
  RefPtr<RecordSet> set;
  if (!group_columns_.empty()) {
    set = new (std::nothrow) ColumnGroupRecordSet(table_, this, group_columns_.front());
  } else if (!sort_columns_.empty()) {
    set = new (std::nothrow) ColumnSortedRecordSet(table_, this, sort_columns_.front());
  } else {
    set = new (std::nothrow) ColumnRecordSet(table_, this);
  }
  if (set) set->MoveFirst();
  *out = set;
  return rc::kOk;
}

bool ColumnQuery::Passes(RecordSet* set) {
  for (Condition& condition : conditions_) {
    if (!condition.resolved) {
      condition.index = set->FindColumn(condition.column);
      if (condition.index < 0) condition.op = kOpIgnored;
      condition.resolved = true;
    }
    if (condition.op == kOpIgnored) continue;
    int order;
    if (condition.is_int) {
      const int32_t field = set->GetInt(condition.index);
      order = field < condition.int_value ? -1 : (field > condition.int_value ? 1 : 0);
    } else {
      order = CompareFolded(set->GetString(condition.index).c_str(), condition.text.c_str(),
                            nullptr);
    }
    if (!OperatorPasses(condition.op, order)) return false;
  }
  return true;
}
