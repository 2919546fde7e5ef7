// The column store's query: conditions tested on every candidate row, and the choice of the
// record set that Execute builds. Reference counted; the table must outlive it and its sets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/query_terms.h"

class ColumnTable;

class ColumnQuery : public QueryTerms {
 public:
  explicit ColumnQuery(ColumnTable* table) : table_(table) {}

  // Every operator code is accepted; codes other than 0 to 5 let every row pass.
  Result AddIntCondition(const std::string& column, int32_t op, uint32_t value) override;
  Result AddTextCondition(const std::string& column, int32_t op, const std::string& text) override;
  // A group column gives the grouped set over the first group name; else a sort column the
  // set in the order of the first sort name; else the scanning set. 0 always (null on
  // exhausted memory).
  Result Execute(RefPtr<RecordSet>* out) override;

  // True when the row the set stands on passes every condition. Condition columns are
  // resolved through the set's FindColumn on their first test; an unknown column turns the
  // condition into kOpIgnored.
  bool Passes(RecordSet* set);

 protected:
  ~ColumnQuery() override = default;

 private:
  ColumnTable* table_;
};
