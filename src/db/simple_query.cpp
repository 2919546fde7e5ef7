#include "db/simple_query.h"

#include <algorithm>
#include <new>

#include "db/glob_match.h"
#include "db/simple_db.h"
#include "db/simple_group_rs.h"
#include "db/simple_layout.h"
#include "db/simple_rs.h"
#include "support/collation.h"

using namespace simple_layout;

Result SimpleQuery::AddIntCondition(const std::string& column, int32_t op, uint32_t value) {
  if (op < kOpLess || op > kOpMatch) return rc::kNotImplemented;
  AppendIntCondition(column, op, value);
  return rc::kOk;
}

Result SimpleQuery::AddTextCondition(const std::string& column, int32_t op,
                                     const std::string& text) {
  if (op != kOpEqual && op != kOpNotEqual && op != kOpMatch) return rc::kNotImplemented;
  AppendTextCondition(column, op, text);
  return rc::kOk;
}

bool SimpleQuery::Passes(RecordSet* set) const {
  for (const Condition& condition : conditions_) {
    if (condition.op == kOpIgnored) continue;
    bool passes = true;
    if (condition.is_int) {
      const int32_t field = set->GetInt(condition.column_number);
      switch (condition.op) {
        case kOpLess: passes = field < condition.value; break;
        case kOpEqual: passes = field == condition.value; break;
        case kOpGreater: passes = field > condition.value; break;
        case kOpLessEqual: passes = field <= condition.value; break;
        case kOpGreaterEqual: passes = field >= condition.value; break;
        case kOpNotEqual: passes = field != condition.value; break;
        case kOpMatch: passes = field == condition.value; break;
      }
    } else {
      const std::string field = set->GetString(condition.column_number);
      switch (condition.op) {
        case kOpEqual:
          passes = CompareFolded(field.c_str(), condition.text.c_str(), nullptr) == 0;
          break;
        case kOpNotEqual:
          passes = CompareFolded(field.c_str(), condition.text.c_str(), nullptr) != 0;
          break;
        case kOpMatch: passes = glob_match(field.c_str(), condition.text.c_str(), true); break;
      }
    }
    if (!passes) return false;
  }
  return true;
}

bool SimpleQuery::FilterNeeded() const {
  for (const Condition& condition : conditions_) {
    if (condition.op != kOpIgnored) return true;
  }
  return false;
}

void SimpleQuery::ResolveColumns() {
  for (Condition& condition : conditions_) {
    condition.column_number = db_->FindColumn(condition.column);
  }
}

// An index key part stands for a condition only when the condition compares the column the way
// the key orders it: numbers by number, texts (equality only) by text.
bool SimpleQuery::ServesIndex(const Condition& condition) const {
  if (condition.column_number < 0) return false;
  const uint32_t type = db_->Columns()[condition.column_number].type;
  switch (condition.op) {
    case kOpEqual:
      return condition.is_int ? type == kSimpleNumber : type == kSimpleText;
    case kOpGreater:
    case kOpGreaterEqual:
      return condition.is_int && type == kSimpleNumber;
    default:
      return false;
  }
}

bool SimpleQuery::FindKeyPlan(const std::vector<std::string>& order, KeyPlan* plan) {
  std::vector<uint32_t> order_columns;
  for (const std::string& name : order) {
    const int32_t column = db_->FindColumn(name);
    if (column < 0) return false;
    order_columns.push_back(static_cast<uint32_t>(column));
  }

  // Every condition an equality: the equality columns, then the order columns.
  bool all_equal = true;
  std::vector<uint32_t> candidate;
  for (const Condition& condition : conditions_) {
    all_equal = all_equal && condition.op == kOpEqual && ServesIndex(condition);
    if (all_equal) candidate.push_back(static_cast<uint32_t>(condition.column_number));
  }
  if (all_equal) {
    for (uint32_t column : order_columns) {
      if (candidate.empty() || candidate.back() != column) candidate.push_back(column);
    }
    if (!candidate.empty() && db_->HasIndex(candidate)) {
      for (Condition& condition : conditions_) condition.used_by_index = true;
      plan->index = candidate;
      return true;
    }
  }

  // Otherwise the conditions that an index takes one by one before the order columns, up to
  // the first range.
  candidate = order_columns;
  size_t taken = 0;
  for (Condition& condition : conditions_) {
    if (!ServesIndex(condition)) continue;
    candidate.insert(candidate.begin() + taken, static_cast<uint32_t>(condition.column_number));
    if (!db_->HasIndex(candidate)) {
      candidate.erase(candidate.begin() + taken);
      continue;
    }
    condition.used_by_index = true;
    ++taken;
    if (condition.op != kOpEqual) break;
  }
  if (candidate.empty() || !db_->HasIndex(candidate)) return false;
  plan->index = candidate;
  return true;
}

void SimpleQuery::BuildKey(KeyPlan* plan) {
  plan->key = IndexKeyHead(plan->index);
  plan->prefix_length = plan->key.size();
  for (Condition& condition : conditions_) {
    if (!condition.used_by_index) continue;
    if (condition.op == kOpEqual) {
      const SimpleColumn& column = db_->Columns()[condition.column_number];
      SimpleCell cell;
      cell.number = condition.value;
      cell.bytes = condition.text;
      std::string part;
      if (!condition.is_int && column.transform != nullptr) {
        if (!FirstTransformedPart(column.transform, condition.text.c_str(), &part)) {
          // No key stands for this text, so no record can match it.
          plan->matches_nothing = true;
        }
        plan->key += part;
      } else {
        AppendKeyPart(&plan->key, column.type, cell);
      }
      condition.op = kOpIgnored;
      plan->prefix_length = plan->key.size();
    } else {
      // Keys run in unsigned order, so a negative bound would start the walk past every
      // non-negative value; the filter keeps the range either way.
      const uint32_t bound =
          static_cast<uint32_t>(condition.value) + (condition.op == kOpGreater ? 1u : 0u);
      if (static_cast<int32_t>(bound) >= 0) {
        PadKey(&plan->key);
        AppendBe32(&plan->key, bound);
      }
    }
  }
}

Result SimpleQuery::Execute(RefPtr<RecordSet>* out) {
  ScopedEnter<SimpleDB> hold(*db_);
  auto listed = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  std::vector<std::string> kept;
  for (const std::string& name : sort_columns_) {
    bool equal = false;
    for (const Condition& condition : conditions_) {
      equal = equal || (condition.op == kOpEqual && condition.column == name);
    }
    if (!equal && !listed(group_columns_, name)) kept.push_back(name);
  }
  sort_columns_ = kept;
  if (!sort_columns_.empty() && !group_columns_.empty()) return rc::kNotImplemented;

  ResolveColumns();
  const std::vector<std::string>& order = sort_columns_.empty() ? group_columns_ : sort_columns_;
  RefPtr<RecordSet> set;
  KeyPlan plan;
  if (FindKeyPlan(order, &plan)) {
    BuildKey(&plan);
    if (!group_columns_.empty()) {
      set = new (std::nothrow) SimpleGroupRecordSet(db_, this, plan.key, plan.prefix_length,
                                                    plan.matches_nothing);
    } else {
      set = new (std::nothrow) SimpleLookupRecordSet(db_, this, plan.key, plan.prefix_length,
                                                     plan.matches_nothing);
    }
  } else if (!order.empty()) {
    return rc::kNotImplemented;
  } else if (!conditions_.empty() && conditions_[0].column_number >= 0 &&
             db_->HasIndex(std::vector<uint32_t>{static_cast<uint32_t>(conditions_[0].column_number)}) &&
             std::all_of(conditions_.begin(), conditions_.end(), [&](const Condition& c) {
               return c.column == conditions_[0].column;
             })) {
    set = new (std::nothrow)
        SimpleIndexRecordSet(db_, this, static_cast<uint32_t>(conditions_[0].column_number));
  } else {
    set = new (std::nothrow) SimpleTableRecordSet(db_, this);
  }
  *out = set;
  if (!set) return rc::kOutOfMemory;
  return set->MoveFirst();
}
