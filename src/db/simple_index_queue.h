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

// The changes an index batch has queued. A change costs its key's bytes without the index's
// head (kept once per index) and a few words, so that a pass over a large library fits in
// one batch; changes are kept in sorted runs (merged as they grow) and a short unsorted tail,
// so that the changes of one key or prefix are found without a walk over all of them.
class IndexChangeQueue {
 public:
  // The queued changes are made once they take this much memory: about the changes of a pass
  // over 20,000 tracks of the file source's 33 indexes.
  static constexpr size_t kMaxQueuedBytes = size_t{48} << 20;

  void Queue(const std::string& key, IndexChange change);
  bool empty() const { return waiting_ == 0; }
  // How many changes wait.
  size_t queued() const { return waiting_; }
  // True when the queue takes kMaxQueuedBytes or more.
  bool Full() const;
  void Clear();

  typedef std::function<Result(const std::string& key, const std::vector<IndexChange>& changes)>
      EntryChanger;
  // Hands the queued changes of each key that begins with `prefix` to `change`, in key order,
  // and forgets them. Every key is tried once; the first failure is the result (the caller
  // keeps it and marks the database inconsistent, so a failed key's changes are not retried).
  Result Make(const std::string& prefix, const EntryChanger& change);

 private:
  struct Queued {
    uint32_t rest;         // offset of the key's bytes after its head in rests_
    uint32_t rest_length;
    uint32_t record;
    uint16_t head;         // index into heads_
    bool addition;
    bool made;
  };
  // A key as two pieces: its head and the rest.
  struct KeyPieces {
    const char* head;
    size_t head_length;
    const char* rest;
    size_t rest_length;
  };

  KeyPieces PiecesOf(const Queued& queued) const;
  // The number of the key's first `head_length` bytes in heads_ (added when new).
  uint16_t HeadNumber(const std::string& key, size_t head_length);
  // Of the changes at these positions: their keys' order; key order, then arrival order; and
  // whether their keys are the same.
  int CompareKeys(uint32_t a, uint32_t b) const;
  bool Before(uint32_t a, uint32_t b) const;
  bool SameKey(uint32_t a, uint32_t b) const;
  void SortTail();
  std::vector<uint32_t> Matching(const std::string& prefix) const;

  std::vector<std::string> heads_;
  std::vector<uint16_t> head_rank_;  // each head's place in the byte order of the heads
  bool heads_prefix_free_ = true;    // no head begins another
  std::string rests_;
  std::vector<Queued> queued_;              // in arrival order
  std::vector<std::vector<uint32_t>> runs_;  // positions in queued_, each run in order
  size_t tail_ = 0;                          // queued_ from here on is in no run yet
  size_t waiting_ = 0;
};
