#include "db/simple_index_queue.h"

#include <algorithm>
#include <cstring>
#include <iterator>
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

namespace {

constexpr size_t kTailLength = 256;  // changes sorted into a run at a time

// The length of an index key's head (magic word, column count, column numbers); 0 when the
// key has none.
size_t HeadLength(const std::string& key) {
  if (key.size() < 8) return 0;
  const uint8_t* count = reinterpret_cast<const uint8_t*>(key.data()) + 4;
  const uint64_t columns = count[0] | count[1] << 8 | count[2] << 16 | uint64_t{count[3]} << 24;
  return columns > (key.size() - 8) / 4 ? 0 : static_cast<size_t>(8 + 4 * columns);
}

// Compares the bytes of two keys given in two pieces each, like memcmp over the whole keys
// (a shorter key that is a prefix of the other comes first); with `prefix_only`, only over the
// length of `b`, so that 0 means `a` begins with `b`.
int ComparePieces(const char* const a[2], const size_t a_length[2], const char* const b[2],
                  const size_t b_length[2], bool prefix_only) {
  size_t ai = 0, ao = 0, bi = 0, bo = 0;
  for (;;) {
    while (ai < 2 && ao == a_length[ai]) ++ai, ao = 0;
    while (bi < 2 && bo == b_length[bi]) ++bi, bo = 0;
    if (bi == 2) return (ai == 2 || prefix_only) ? 0 : 1;
    if (ai == 2) return -1;
    const size_t n = std::min(a_length[ai] - ao, b_length[bi] - bo);
    const int order = std::memcmp(a[ai] + ao, b[bi] + bo, n);
    if (order != 0) return order;
    ao += n;
    bo += n;
  }
}

}  // namespace

uint16_t IndexChangeQueue::HeadNumber(const std::string& key, size_t head_length) {
  for (size_t i = 0; i < heads_.size(); ++i) {
    if (heads_[i].size() == head_length && key.compare(0, head_length, heads_[i]) == 0) {
      return static_cast<uint16_t>(i);
    }
  }
  const std::string head = key.substr(0, head_length);
  // Heads of which none begins another order keys by themselves, whatever follows them.
  for (const std::string& other : heads_) {
    const size_t common = std::min(other.size(), head.size());
    if (other.compare(0, common, head, 0, common) == 0) heads_prefix_free_ = false;
  }
  heads_.push_back(head);
  std::vector<uint16_t> order(heads_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint16_t>(i);
  std::sort(order.begin(), order.end(), [this](uint16_t a, uint16_t b) {
    return heads_[a] < heads_[b];
  });
  head_rank_.assign(heads_.size(), 0);
  for (size_t i = 0; i < order.size(); ++i) head_rank_[order[i]] = static_cast<uint16_t>(i);
  return static_cast<uint16_t>(heads_.size() - 1);
}

IndexChangeQueue::KeyPieces IndexChangeQueue::PiecesOf(const Queued& queued) const {
  const std::string& head = heads_[queued.head];
  return {head.data(), head.size(), rests_.data() + queued.rest, queued.rest_length};
}

bool IndexChangeQueue::SameKey(uint32_t a, uint32_t b) const {
  return CompareKeys(a, b) == 0;
}

bool IndexChangeQueue::Before(uint32_t a, uint32_t b) const {
  const int order = CompareKeys(a, b);
  return order != 0 ? order < 0 : a < b;
}

int IndexChangeQueue::CompareKeys(uint32_t a, uint32_t b) const {
  const Queued& qa = queued_[a];
  const Queued& qb = queued_[b];
  int order = 0;
  if (qa.head == qb.head) {
    const int common = std::memcmp(rests_.data() + qa.rest, rests_.data() + qb.rest,
                                   std::min(qa.rest_length, qb.rest_length));
    order = common != 0 ? common : (qa.rest_length < qb.rest_length ? -1 :
                                    qa.rest_length > qb.rest_length ? 1 : 0);
  } else if (heads_prefix_free_) {
    order = head_rank_[qa.head] < head_rank_[qb.head] ? -1 : 1;
  } else {
    const KeyPieces pa = PiecesOf(qa), pb = PiecesOf(qb);
    const char* a_bytes[2] = {pa.head, pa.rest};
    const size_t a_lengths[2] = {pa.head_length, pa.rest_length};
    const char* b_bytes[2] = {pb.head, pb.rest};
    const size_t b_lengths[2] = {pb.head_length, pb.rest_length};
    order = ComparePieces(a_bytes, a_lengths, b_bytes, b_lengths, false);
  }
  return order;
}

void IndexChangeQueue::Queue(const std::string& key, IndexChange change) {
  const size_t head_length = HeadLength(key);
  Queued queued;
  queued.head = HeadNumber(key, head_length);
  queued.rest = static_cast<uint32_t>(rests_.size());
  queued.rest_length = static_cast<uint32_t>(key.size() - head_length);
  queued.record = change.record;
  queued.addition = change.addition;
  queued.made = false;
  rests_.append(key, head_length, std::string::npos);
  queued_.push_back(queued);
  ++waiting_;
  if (queued_.size() - tail_ >= kTailLength) SortTail();
}

void IndexChangeQueue::SortTail() {
  std::vector<uint32_t> run;
  run.reserve(queued_.size() - tail_);
  for (size_t i = tail_; i < queued_.size(); ++i) run.push_back(static_cast<uint32_t>(i));
  tail_ = queued_.size();
  const auto before = [this](uint32_t a, uint32_t b) { return Before(a, b); };
  std::sort(run.begin(), run.end(), before);
  runs_.push_back(std::move(run));
  // Runs merge while the newer is at least half the older: a few runs of falling length.
  while (runs_.size() > 1 && runs_.back().size() * 2 >= runs_[runs_.size() - 2].size()) {
    std::vector<uint32_t> merged;
    merged.reserve(runs_.back().size() + runs_[runs_.size() - 2].size());
    std::merge(runs_[runs_.size() - 2].begin(), runs_[runs_.size() - 2].end(),
               runs_.back().begin(), runs_.back().end(), std::back_inserter(merged), before);
    runs_.pop_back();
    runs_.back() = std::move(merged);
  }
}

void IndexChangeQueue::Clear() {
  heads_.clear();
  head_rank_.clear();
  heads_prefix_free_ = true;
  std::string().swap(rests_);
  std::vector<Queued>().swap(queued_);
  std::vector<std::vector<uint32_t>>().swap(runs_);
  tail_ = 0;
  waiting_ = 0;
}

bool IndexChangeQueue::Full() const {
  // The runs hold a position of every change before the tail, and a merge as many again.
  const size_t bytes = rests_.capacity() + queued_.capacity() * sizeof(Queued) +
                       tail_ * 2 * sizeof(uint32_t);
  return bytes >= kMaxQueuedBytes;
}

std::vector<uint32_t> IndexChangeQueue::Matching(const std::string& prefix) const {
  const char* p_bytes[2] = {prefix.data(), prefix.data()};
  const size_t p_lengths[2] = {prefix.size(), 0};
  // The one head that the prefix begins with, when heads are prefix-free: a change under
  // another head cannot match.
  int prefix_head = -1;
  if (heads_prefix_free_) {
    for (size_t i = 0; i < heads_.size() && prefix_head < 0; ++i) {
      if (prefix.size() >= heads_[i].size() &&
          prefix.compare(0, heads_[i].size(), heads_[i]) == 0) {
        prefix_head = static_cast<int>(i);
      }
    }
  }
  const auto compare = [&](uint32_t position) {
    const KeyPieces pieces = PiecesOf(queued_[position]);
    const char* bytes[2] = {pieces.head, pieces.rest};
    const size_t lengths[2] = {pieces.head_length, pieces.rest_length};
    return ComparePieces(bytes, lengths, p_bytes, p_lengths, true);
  };
  const auto before = [this](uint32_t a, uint32_t b) { return Before(a, b); };
  std::vector<uint32_t> found;
  // Each run's matches come in order: merged with those found before, not sorted again.
  const auto merge_from = [&](size_t start) {
    std::inplace_merge(found.begin(), found.begin() + start, found.end(), before);
  };
  for (const std::vector<uint32_t>& run : runs_) {
    const size_t start = found.size();
    // Keys that begin with the prefix stand together in a run, behind every key below it.
    auto at = std::partition_point(run.begin(), run.end(),
                                   [&](uint32_t position) { return compare(position) < 0; });
    for (; at != run.end() && compare(*at) == 0; ++at) {
      if (!queued_[*at].made) found.push_back(*at);
    }
    merge_from(start);
  }
  const size_t tail_start = found.size();
  for (size_t i = tail_; i < queued_.size(); ++i) {
    if (prefix_head >= 0 && queued_[i].head != prefix_head) continue;
    if (!queued_[i].made && compare(static_cast<uint32_t>(i)) == 0) {
      found.push_back(static_cast<uint32_t>(i));
    }
  }
  std::sort(found.begin() + tail_start, found.end(), before);
  merge_from(tail_start);
  return found;
}

Result IndexChangeQueue::Make(const std::string& prefix, const EntryChanger& change) {
  if (waiting_ == 0) return rc::kOk;
  const std::vector<uint32_t> found = Matching(prefix);
  Result first_failure = rc::kOk;
  std::vector<IndexChange> changes;
  std::string key;
  for (size_t i = 0; i < found.size();) {
    const KeyPieces pieces = PiecesOf(queued_[found[i]]);
    key.assign(pieces.head, pieces.head_length);
    key.append(pieces.rest, pieces.rest_length);
    changes.clear();
    size_t end = i;
    for (; end < found.size() && SameKey(found[i], found[end]); ++end) {
      Queued& queued = queued_[found[end]];
      changes.push_back({queued.record, queued.addition});
      queued.made = true;
    }
    const Result result = change(key, changes);
    if (rc::Failed(result) && rc::Succeeded(first_failure)) first_failure = result;
    waiting_ -= end - i;
    i = end;
  }
  if (waiting_ == 0) Clear();
  return first_failure;
}
