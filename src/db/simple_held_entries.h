// The index entries a SimpleDB holds in memory while an index batch is open. An entry that
// many records share (every track's type, a common genre) would otherwise be read, decoded,
// searched and written whole for each record added to or removed from it; held, each change
// costs a constant time and the entry is written once when it is needed. Removals from the
// other entries wait in a queue and are made in key order, so that the file is read and
// written in order rather than a page here and a page there for every record. Changes keep
// the exact order that writing each one at once would leave, so the file's bytes do not
// depend on whether a batch was open.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/result_codes.h"

class BerkeleyDb;

class HeldIndexEntry {
 public:
  // `numbers` as stored (`stored` false when the file has no entry); false when they hold a
  // number twice, which the one-step rules treat differently: such an entry is not held.
  bool Load(const std::vector<uint32_t>& numbers, bool stored);
  // Appends the number unless the entry lists it already.
  void Add(uint32_t record);
  // Moves the last number into the slot of `record`, when listed.
  void Remove(uint32_t record);
  size_t size() const { return numbers_.size(); }
  bool dirty() const { return dirty_; }
  // Puts the entry (or deletes it when it is empty) and marks it clean.
  Result Write(BerkeleyDb* db, const std::string& key);

 private:
  std::vector<uint32_t> numbers_;
  std::unordered_map<uint32_t, size_t> positions_;
  bool stored_ = false;
  bool dirty_ = false;
};

// The held entries by key.
class HeldIndexEntries {
 public:
  // An entry is held once it reaches this many numbers; smaller ones cost little to rewrite.
  static constexpr size_t kHoldFrom = 32;
  // Queued removals are made once this many wait, to bound the memory they take.
  static constexpr size_t kMaxQueuedRemovals = size_t{1} << 16;

  HeldIndexEntry* Find(const std::string& key);
  HeldIndexEntry* Hold(const std::string& key) { return &entries_[key]; }
  void Drop(const std::string& key) { entries_.erase(key); }
  // Writes every changed entry whose key begins with `prefix` (all of them for an empty one).
  // Every entry is tried; the first failure is the result, and a failed entry stays changed.
  Result WriteChanged(BerkeleyDb* db, const std::string& prefix);
  bool empty() const { return entries_.empty() && removals_.empty(); }
  void Clear() {
    entries_.clear();
    removals_.clear();
    queued_ = 0;
  }

  // Queues the removal of `record` from the entry under `key` (one that is not held).
  void QueueRemoval(const std::string& key, uint32_t record);
  // How many removals wait.
  size_t queued() const { return queued_; }
  // The records queued for `key`, in the order queued, now taken from the queue.
  std::vector<uint32_t> TakeRemovals(const std::string& key);
  typedef std::function<Result(const std::string& key, const std::vector<uint32_t>& records)>
      RemovalMaker;
  // Hands the queued removals of each key that begins with `prefix` to `make`, in key order,
  // and forgets those it made. Every key is tried; the first failure is the result, and a
  // failed key's removals stay queued.
  Result MakeRemovals(const std::string& prefix, const RemovalMaker& make);

 private:
  std::map<std::string, HeldIndexEntry> entries_;
  std::map<std::string, std::vector<uint32_t>> removals_;
  size_t queued_ = 0;
};
