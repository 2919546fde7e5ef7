// Changes to SimpleDB index entries: how a run of additions and removals changes one entry, and
// the queue in which an index batch keeps them. Queued, the changes to one entry are made
// together, once, and the entries in key order, so that the file is read and written in order
// rather than a page here and a page there for every record; an entry that many records share
// (every track's type, a common genre) is read and written once instead of once per record.
// The changes keep the order they came in, so the file's bytes do not depend on whether a
// batch was open.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/result_codes.h"

struct IndexChange {
  uint32_t record;
  bool addition;  // false: a removal
};

// Makes `changes` in order to the numbers of an entry, as making each at once would: an
// addition appends a number unless it is listed, a removal moves the last number into the
// slot of the first one it finds. A `damaged` entry (a value that is no whole list, cut down
// to `numbers`) stays as it is until a change is written, and its first addition appends
// without looking. False when nothing changed.
bool MakeIndexChanges(const std::vector<IndexChange>& changes, bool damaged,
                      std::vector<uint32_t>* numbers);

// The changes an index batch has queued, by key.
class IndexChangeQueue {
 public:
  // The queued changes are made once this many wait, to bound the memory they take.
  static constexpr size_t kMaxQueued = size_t{1} << 16;

  void Queue(const std::string& key, IndexChange change);
  bool empty() const { return changes_.empty(); }
  // How many changes wait.
  size_t queued() const { return queued_; }
  void Clear() {
    changes_.clear();
    queued_ = 0;
  }

  typedef std::function<Result(const std::string& key, const std::vector<IndexChange>& changes)>
      EntryChanger;
  // Hands the queued changes of each key that begins with `prefix` to `change`, in key order,
  // and forgets them. Every key is tried once; the first failure is the result (the caller
  // keeps it and marks the database inconsistent, so a failed key's changes are not retried).
  Result Make(const std::string& prefix, const EntryChanger& change);

 private:
  std::map<std::string, std::vector<IndexChange>> changes_;
  size_t queued_ = 0;
};
