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
  AppendIntCondition(column, op, value);
  return rc::kOk;
}

Result ColumnQuery::AddTextCondition(const std::string& column, int32_t op,
                                     const std::string& text) {
  AppendTextCondition(column, op, text);
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
      condition.column_number = set->FindColumn(condition.column);
      if (condition.column_number < 0) condition.op = kOpIgnored;
      condition.resolved = true;
    }
    if (condition.op == kOpIgnored) continue;
    int order;
    if (condition.is_int) {
      const int32_t field = set->GetInt(condition.column_number);
      order = field < condition.value ? -1 : (field > condition.value ? 1 : 0);
    } else {
      order = CompareFolded(set->GetString(condition.column_number).c_str(), condition.text.c_str(),
                            nullptr);
    }
    if (!OperatorPasses(condition.op, order)) return false;
  }
  return true;
}
