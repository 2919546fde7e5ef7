// SimpleDB's query: conditions, sort and group columns, and the choice of an access path (a
// scan, a walk of a one-column index, an index lookup or a grouping over an index).
// Reference counted; the database must outlive it and its record sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/query_terms.h"

class SimpleDB;

class SimpleQuery : public QueryTerms {
 public:
  explicit SimpleQuery(SimpleDB* db) : db_(db) {}

  // Codes 0 to 6; rc::kNotImplemented for any other.
  Result AddIntCondition(const std::string& column, int32_t op, uint32_t value) override;
  // Codes 1, 5 and 6; rc::kNotImplemented for any other.
  Result AddTextCondition(const std::string& column, int32_t op, const std::string& text) override;
  // rc::kNotImplemented when no index serves a sort or group list, or when both are given.
  // The equality conditions an index key consumes are not tested again: a query serves one
  // execution.
  Result Execute(RefPtr<RecordSet>* out) override;

  // True when the record the set stands on passes every condition still to be tested.
  bool Passes(RecordSet* set) const;
  // True when a condition is left that the index key did not consume.
  bool FilterNeeded() const;
  const std::vector<std::string>& GroupColumns() const { return group_columns_; }

 protected:
  ~SimpleQuery() override = default;

 private:
  // The index and lookup key the conditions and the order columns line up with.
  struct KeyPlan {
    std::vector<uint32_t> index;
    std::string key;
    size_t prefix_length = 0;
    bool matches_nothing = false;
  };

  bool FindKeyPlan(const std::vector<std::string>& order, KeyPlan* plan);
  bool ServesIndex(const Condition& condition) const;
  void BuildKey(KeyPlan* plan);
  void ResolveColumns();

  SimpleDB* db_;
};
