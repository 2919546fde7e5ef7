#include "db/simple_held_entries.h"

#include "db/berkeley_db.h"
#include "db/simple_layout.h"

bool HeldIndexEntry::Load(const std::vector<uint32_t>& numbers, bool stored) {
  numbers_ = numbers;
  positions_.clear();
  positions_.reserve(numbers.size() * 2);
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (!positions_.emplace(numbers[i], i).second) return false;
  }
  stored_ = stored;
  dirty_ = false;
  return true;
}

void HeldIndexEntry::Add(uint32_t record) {
  if (!positions_.emplace(record, numbers_.size()).second) return;
  numbers_.push_back(record);
  dirty_ = true;
}

void HeldIndexEntry::Remove(uint32_t record) {
  const auto found = positions_.find(record);
  if (found == positions_.end()) return;
  const size_t at = found->second;
  positions_.erase(found);
  if (at + 1 != numbers_.size()) {
    numbers_[at] = numbers_.back();
    positions_[numbers_[at]] = at;
  }
  numbers_.pop_back();
  dirty_ = true;
}

Result HeldIndexEntry::Write(BerkeleyDb* db, const std::string& key) {
  Result result = rc::kOk;
  if (numbers_.empty()) {
    if (stored_) result = db->Delete(key);
    if (result == rc::kNotFound) result = rc::kOk;
  } else {
    std::string value;
    value.reserve(numbers_.size() * 4);
    for (uint32_t number : numbers_) simple_layout::AppendLe32(&value, number);
    result = db->Put(key, value);
  }
  if (rc::Failed(result)) return result;
  stored_ = !numbers_.empty();
  dirty_ = false;
  return rc::kOk;
}

HeldIndexEntry* HeldIndexEntries::Find(const std::string& key) {
  const auto found = entries_.find(key);
  return found == entries_.end() ? nullptr : &found->second;
}

Result HeldIndexEntries::WriteChanged(BerkeleyDb* db, const std::string& prefix) {
  Result first_failure = rc::kOk;
  for (auto at = entries_.lower_bound(prefix);
       at != entries_.end() && at->first.compare(0, prefix.size(), prefix) == 0; ++at) {
    if (!at->second.dirty()) continue;
    const Result result = at->second.Write(db, at->first);
    if (rc::Failed(result) && rc::Succeeded(first_failure)) first_failure = result;
  }
  return first_failure;
}

void HeldIndexEntries::QueueRemoval(const std::string& key, uint32_t record) {
  removals_[key].push_back(record);
  ++queued_;
}

std::vector<uint32_t> HeldIndexEntries::TakeRemovals(const std::string& key) {
  const auto found = removals_.find(key);
  if (found == removals_.end()) return std::vector<uint32_t>();
  std::vector<uint32_t> records = std::move(found->second);
  removals_.erase(found);
  queued_ -= records.size();
  return records;
}

Result HeldIndexEntries::MakeRemovals(const std::string& prefix, const RemovalMaker& make) {
  Result first_failure = rc::kOk;
  auto at = removals_.lower_bound(prefix);
  while (at != removals_.end() && at->first.compare(0, prefix.size(), prefix) == 0) {
    const Result result = make(at->first, at->second);
    if (rc::Failed(result)) {
      if (rc::Succeeded(first_failure)) first_failure = result;
      ++at;
      continue;
    }
    queued_ -= at->second.size();
    at = removals_.erase(at);
  }
  return first_failure;
}
