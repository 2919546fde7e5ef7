#include "support/registered_lock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ThisThreadName() { return std::to_string(GetCurrentThreadId()); }

// Counts the listed locks by walking the list, checking that each still looks alive.
uint32_t WalkList() {
  struct Walk {
    uint32_t count = 0;
    uint32_t bad = 0;
  } walk;
  RegisteredLock::ForEachListed(
      [](const RegisteredLock& lock, void* context) {
        auto* w = static_cast<Walk*>(context);
        ++w->count;
        if (lock.Magic() != RegisteredLock::kMagic) ++w->bad;
      },
      &walk);
  EXPECT_EQ(walk.bad, 0u);
  return walk.count;
}

// By address only: the lock may be gone.
bool IsListed(uintptr_t wanted) {
  struct Find {
    uintptr_t wanted;
    bool found = false;
  } find{wanted};
  RegisteredLock::ForEachListed(
      [](const RegisteredLock& lock, void* context) {
        auto* f = static_cast<Find*>(context);
        if (reinterpret_cast<uintptr_t>(&lock) == f->wanted) f->found = true;
      },
      &find);
  return find.found;
}

TEST(RegisteredLockTest, NamedAfterTheCreatingThreadNotTheArgument) {
  RegisteredLock first("first");
  RegisteredLock second("second");
  EXPECT_EQ(first.Name(), ThisThreadName());
  EXPECT_STREQ(first.Name(), second.Name());
  EXPECT_EQ(first.Magic(), 0x0BADF00Du);

  std::string other_name, other_thread;
  std::thread([&] {
    RegisteredLock lock("elsewhere");
    other_name = lock.Name();
    other_thread = ThisThreadName();
  }).join();
  EXPECT_EQ(other_name, other_thread);
  EXPECT_NE(other_name, first.Name());
}

TEST(RegisteredLockTest, ListedWhileAliveAndUnlinkedFromAnyPlace) {
  const uint32_t before = RegisteredLock::ListedCount();
  auto a = std::make_unique<RegisteredLock>("a");
  auto b = std::make_unique<RegisteredLock>("b");
  auto c = std::make_unique<RegisteredLock>("c");
  EXPECT_EQ(RegisteredLock::ListedCount(), before + 3);
  const auto middle = reinterpret_cast<uintptr_t>(b.get());
  EXPECT_TRUE(IsListed(middle));

  b.reset();  // middle of the list
  EXPECT_FALSE(IsListed(middle));
  c.reset();  // tail
  a.reset();
  RegisteredLock after("after");  // appended to a tail that must have been mended
  EXPECT_TRUE(IsListed(reinterpret_cast<uintptr_t>(&after)));
  EXPECT_EQ(RegisteredLock::ListedCount(), before + 1);
  EXPECT_EQ(WalkList(), RegisteredLock::ListedCount());
}

TEST(RegisteredLockTest, ConcurrentCreationAndDestructionKeepTheListConsistent) {
  const uint32_t before = RegisteredLock::ListedCount();
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::vector<std::unique_ptr<RegisteredLock>> held;
      for (int i = 0; i < kRounds; ++i) {
        held.push_back(std::make_unique<RegisteredLock>("worker"));
        // Destroy in an order that differs per thread, so unlinks hit every part of the list.
        if (held.size() > static_cast<size_t>(3 + t)) held.erase(held.begin() + (i % held.size()));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(RegisteredLock::ListedCount(), before);
  EXPECT_EQ(WalkList(), before);
}

class Counter : public LockedObject {
 public:
  Counter() : LockedObject("Counter") {}
  long value = 0;
};

TEST(LockedObjectTest, EnterLeaveExcludeOtherThreadsAndTrackTheHeldFlag) {
  Counter counter;
  EXPECT_TRUE(counter.NotHeld());
  {
    ScopedEnter hold(counter);
    EXPECT_FALSE(counter.NotHeld());
  }
  EXPECT_TRUE(counter.NotHeld());

  constexpr int kThreads = 6;
  constexpr int kIncrements = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kIncrements; ++i) {
        ScopedEnter hold(counter);
        long seen = counter.value;  // read, yield, write: lost updates without the lock
        if (i % 64 == 0) SwitchToThread();
        counter.value = seen + 1;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter.value, long{kThreads} * kIncrements);
  EXPECT_TRUE(counter.NotHeld());
}

}  // namespace
