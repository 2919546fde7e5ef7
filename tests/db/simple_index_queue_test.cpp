// The queue of an index batch against a plain model (a map from key to the changes in arrival
// order): Make hands every key that begins with the prefix, once, in key order, with its
// changes in the order they came, whether the changes wait in sorted runs or in the tail.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/simple_index_queue.h"
#include "db/simple_layout.h"

namespace {

using Model = std::map<std::string, std::vector<std::pair<uint32_t, bool>>>;
using Made = std::vector<std::pair<std::string, std::vector<std::pair<uint32_t, bool>>>>;

// Index keys of several heads (one, two and three columns) and texts that are prefixes of one
// another, as the file source's indexes make them; with `short_keys`, also keys too short to
// have a head, which every head begins with.
std::string Key(uint32_t n, bool short_keys = false) {
  if (short_keys && n % 11 == 0) return std::string(n % 3, '\x21');
  static const char* const kTexts[] = {"", "a", "ab", "abc", "b", "ba", "river", "riverside"};
  std::vector<uint32_t> columns;
  for (uint32_t c = 0; c <= n % 3; ++c) columns.push_back(17 + c);
  std::string key = simple_layout::IndexKeyHead(columns);
  key += kTexts[(n / 3) % 8];
  key.push_back('\0');
  if (n % 5 == 0) simple_layout::AppendBe32(&key, n % 7);
  simple_layout::PadKey(&key);
  return key;
}

Made MakeAll(IndexChangeQueue& queue, const std::string& prefix) {
  Made made;
  EXPECT_EQ(queue.Make(prefix,
                       [&](const std::string& key, const std::vector<IndexChange>& changes) {
                         std::vector<std::pair<uint32_t, bool>> pairs;
                         for (const IndexChange& c : changes) pairs.emplace_back(c.record, c.addition);
                         made.emplace_back(key, pairs);
                         return rc::kOk;
                       }),
            rc::kOk);
  return made;
}

Made TakeFromModel(Model& model, const std::string& prefix) {
  Made made;
  for (auto at = model.lower_bound(prefix);
       at != model.end() && at->first.compare(0, prefix.size(), prefix) == 0;) {
    made.emplace_back(at->first, at->second);
    at = model.erase(at);
  }
  return made;
}

TEST(SimpleIndexQueue, MakeHandsEveryKeyOfAPrefixOnceInKeyOrderWithItsChangesInOrder) {
  for (uint32_t count : {3u, 255u, 256u, 1000u, 5000u, 5001u}) {
    SCOPED_TRACE(count);
    const bool short_keys = count % 2 == 1;
    IndexChangeQueue queue;
    Model model;
    for (uint32_t i = 0; i < count; ++i) {
      const std::string key = Key((i * 7919u) % 97u, short_keys);
      const bool addition = i % 3 != 0;
      queue.Queue(key, {i, addition});
      model[key].emplace_back(i, addition);
    }
    EXPECT_EQ(queue.queued(), static_cast<size_t>(count));
    // A whole key, a text's prefix inside one head, one head alone, then everything.
    const std::vector<std::string> prefixes = {
        Key(3 * 6).substr(0, Key(3 * 6).find('\0', 12) + 1),
        simple_layout::IndexKeyHead({17}) + "ab",
        simple_layout::IndexKeyHead({17, 18}),
        "!",
        ""};
    for (const std::string& prefix : prefixes) {
      EXPECT_EQ(MakeAll(queue, prefix), TakeFromModel(model, prefix));
    }
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(MakeAll(queue, ""), Made());
  }
}

TEST(SimpleIndexQueue, AFailedKeyIsReportedAndTheOthersAreStillMade) {
  IndexChangeQueue queue;
  std::set<std::string> keys;
  for (uint32_t i = 0; i < 600; ++i) {
    queue.Queue(Key(i % 40), {i, true});
    keys.insert(Key(i % 40));
  }
  int calls = 0;
  const Result failure = static_cast<Result>(0x80041005);
  EXPECT_EQ(queue.Make("", [&](const std::string&, const std::vector<IndexChange>&) {
              return ++calls == 2 ? failure : rc::kOk;
            }),
            failure);
  EXPECT_EQ(calls, static_cast<int>(keys.size()));
  EXPECT_TRUE(queue.empty());
}

TEST(SimpleIndexQueue, ALargeQueueSaysItIsFull) {
  IndexChangeQueue queue;
  const std::string key = simple_layout::IndexKeyHead({19}) + std::string(200, 'x');
  uint32_t queued = 0;
  while (!queue.Full() && queued < 10000000u) queue.Queue(key, {queued++, true});
  EXPECT_TRUE(queue.Full());
  // Not before the bytes of the keys alone reach the bound.
  EXPECT_GT(queued * 200u, IndexChangeQueue::kMaxQueuedBytes / 4);
  MakeAll(queue, "");
  EXPECT_FALSE(queue.Full());
}

}  // namespace
