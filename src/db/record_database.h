// The database side shared by the record stores: a RecordDatabase hands out queries and
// record sets; a RecordQuery collects conditions, a sort column and a group column and then
// builds a RecordSet. The virtual operations keep this order (destructor first).
#pragma once

#include <cstdint>
#include <string>

#include "media/record_set.h"
#include "support/ref_counted.h"
#include "support/result_codes.h"

// Condition operators, the same numbers in every store. Integer fields and values compare as
// signed 32-bit numbers; texts through CompareFolded.
enum ConditionOp : int32_t {
  kOpLess = 0,
  kOpEqual = 1,
  kOpGreater = 2,
  kOpLessEqual = 3,
  kOpGreaterEqual = 4,
  kOpNotEqual = 5,
  kOpMatch = 6,    // store-specific; the column store lets every row pass
  kOpIgnored = 8,  // set by a query on a condition whose column is unknown
};

// Reference counted; held through RefPtr.
class RecordQuery : public RefCounted {
 protected:
  ~RecordQuery() override = default;

 public:
  // Two slots kept for the interface's layout; they do nothing.
  virtual Result Reserved1(int32_t, int32_t) { return rc::kNotImplemented; }
  virtual Result Reserved2(int32_t, int32_t) { return rc::kNotImplemented; }
  virtual Result AddIntCondition(const std::string& column, int32_t op, uint32_t value) = 0;
  virtual Result AddTextCondition(const std::string& column, int32_t op,
                                  const std::string& text) = 0;
  // Empties the conditions, the sort and the group columns.
  virtual Result Clear() = 0;
  virtual Result AddSortColumn(const std::string& column) = 0;
  virtual Result AddGroupColumn(const std::string& column) = 0;
  // Builds the record set, positioned on its first row.
  virtual Result Execute(RefPtr<RecordSet>* out) = 0;
};

// One owner, which deletes it through the virtual destructor.
class RecordDatabase {
 public:
  RecordDatabase() = default;
  RecordDatabase(const RecordDatabase&) = delete;
  RecordDatabase& operator=(const RecordDatabase&) = delete;
  virtual ~RecordDatabase() = default;

  // A new empty query bound to this database; 0 always (null on exhausted memory).
  virtual Result CreateQuery(RefPtr<RecordQuery>* out) = 0;
  // Every live row in row order, no filter, positioned on the first row.
  virtual Result OpenRecordSet(RefPtr<RecordSet>* out) = 0;
  // The row whose column 0 holds `key`, as a one-row record set; rc::kNotFound (the out
  // reference left as it was) when no live row holds it.
  virtual Result FindRow(RefPtr<RecordSet>* out, uint32_t key) { return rc::kNotImplemented; }
};
