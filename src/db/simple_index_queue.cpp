#include "db/simple_index_queue.h"

#include <algorithm>
#include <unordered_map>

namespace {

// Changes one at a time, each searching the whole list: for an entry that lists a number
// twice, or is damaged, where the first number found is the one that counts.
bool MakeChangeBySearch(IndexChange change, bool* damaged, std::vector<uint32_t>* numbers) {
  const auto at = std::find(numbers->begin(), numbers->end(), change.record);
  if (change.addition) {
    if (at != numbers->end() && !*damaged) return false;
    numbers->push_back(change.record);
  } else {
    if (at == numbers->end()) return false;  // another record's entry: leave it whole
    *at = numbers->back();
    numbers->pop_back();
  }
  *damaged = false;
  return true;
}

// The numbers of an entry that lists each once, found through their positions.
class PositionedNumbers {
 public:
  // False when `numbers` list one twice.
  bool Load(std::vector<uint32_t>* numbers) {
    numbers_ = numbers;
    positions_.reserve(numbers->size() * 2);
    for (size_t i = 0; i < numbers->size(); ++i) {
      if (!positions_.emplace((*numbers)[i], i).second) return false;
    }
    return true;
  }

  bool Make(IndexChange change) {
    if (change.addition) {
      if (!positions_.emplace(change.record, numbers_->size()).second) return false;
      numbers_->push_back(change.record);
      return true;
    }
    const auto found = positions_.find(change.record);
    if (found == positions_.end()) return false;
    const size_t at = found->second;
    positions_.erase(found);
    if (at + 1 != numbers_->size()) {
      (*numbers_)[at] = numbers_->back();
      positions_[(*numbers_)[at]] = at;
    }
    numbers_->pop_back();
    return true;
  }

 private:
  std::vector<uint32_t>* numbers_ = nullptr;
  std::unordered_map<uint32_t, size_t> positions_;
};

}  // namespace

bool MakeIndexChanges(const std::vector<IndexChange>& changes, bool damaged,
                      std::vector<uint32_t>* numbers) {
  bool changed = false;
  size_t next = 0;
  while (damaged && next < changes.size()) {
    changed |= MakeChangeBySearch(changes[next++], &damaged, numbers);
  }
  if (next == changes.size()) return changed;
  PositionedNumbers positioned;
  if (changes.size() - next > 1 && positioned.Load(numbers)) {
    for (; next < changes.size(); ++next) changed |= positioned.Make(changes[next]);
    return changed;
  }
  for (; next < changes.size(); ++next) {
    changed |= MakeChangeBySearch(changes[next], &damaged, numbers);
  }
  return changed;
}

void IndexChangeQueue::Queue(const std::string& key, IndexChange change) {
  changes_[key].push_back(change);
  ++queued_;
}

Result IndexChangeQueue::Make(const std::string& prefix, const EntryChanger& change) {
  Result first_failure = rc::kOk;
  auto at = changes_.lower_bound(prefix);
  while (at != changes_.end() && at->first.compare(0, prefix.size(), prefix) == 0) {
    const Result result = change(at->first, at->second);
    if (rc::Failed(result) && rc::Succeeded(first_failure)) first_failure = result;
    queued_ -= at->second.size();
    at = changes_.erase(at);
  }
  return first_failure;
}
