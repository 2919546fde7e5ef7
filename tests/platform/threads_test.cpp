#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/or_thread.h"
#include "platform/platform_clock.h"
#include "platform/platform_codes.h"
#include "platform/thread_registry.h"
#include "platform/worker_thread.h"

namespace {

constexpr uint64_t kMs = 1000000;

TEST(ThreadPriorityTest, BytesMapToWin32AndBack) {
  struct Case {
    uint8_t byte;
    int win32;
  };
  const Case to_win32[] = {{0, 1},    {63, 1},   {64, 0},   {127, 0},
                           {128, -1}, {191, -1}, {192, -2}, {255, -2}};
  for (const Case& c : to_win32) EXPECT_EQ(c.win32, PriorityToWin32(c.byte)) << int(c.byte);
  const Case from_win32[] = {{32, 1}, {96, 0}, {160, -1}, {224, -2}, {0, 2}, {0, 15}};
  for (const Case& c : from_win32) EXPECT_EQ(c.byte, PriorityFromWin32(c.win32)) << c.win32;
}

// The thread table and registry exist for the tests of this group only.
class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegistryStart());
    ASSERT_TRUE(ThreadTableCreate());
  }
  void TearDown() override {
    ThreadTableDestroy();
    RegistryDestroy(true);
  }
};

struct Probe {
  ORThreadImpl* thread = nullptr;
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  Result join_self = 0;
  Result sleep = 0;
  ORThreadImpl* current = nullptr;
  static void Entry(void* argument) {
    Probe* probe = static_cast<Probe*>(argument);
    probe->current = probe->thread->Current();
    probe->join_self = probe->thread->Join();
    probe->sleep = probe->thread->Sleep(1 * kMs);
    while (!probe->release) Sleep(1);
    ++probe->runs;
  }
};

// Joins from another thread while the probe still runs, then lets the probe end. The joiner
// must be inside Join before the probe ends (a join after the end answers "not started"), so
// the probe is released well after the joiner began, however late a loaded machine starts it.
Result JoinWhileRunning(ORThreadImpl* thread, Probe* probe) {
  Result joined = -1;
  std::atomic<bool> joining{false};
  std::thread joiner([&] {
    joining = true;
    joined = thread->Join();
  });
  while (!joining) Sleep(1);
  Sleep(200);
  probe->release = true;
  joiner.join();
  return joined;
}

TEST_F(ThreadTest, StartWithoutTheRunBitWaitsSuspendedUntilResume) {
  ORThreadImpl* thread = new ORThreadImpl;
  Probe probe;
  probe.thread = thread;
  EXPECT_EQ(ORThreadImpl::kStateStopped, thread->State());
  EXPECT_EQ(prc::kThreadNotStarted, thread->Resume());
  EXPECT_EQ(prc::kThreadNotStarted, thread->Join());
  ASSERT_EQ(0, thread->Start(&Probe::Entry, &probe, 0, 100, 0, "probe"));
  EXPECT_EQ(ORThreadImpl::kStateSuspended, thread->State());
  EXPECT_STREQ("probe", thread->Name());
  EXPECT_EQ(96, thread->GetPriority());
  EXPECT_EQ(prc::kThreadAlreadyStarted, thread->Start(&Probe::Entry, &probe, 0, 100, 0, "x"));
  EXPECT_EQ(0, thread->Resume());
  EXPECT_EQ(prc::kThreadFailed, thread->Resume()) << "only the first resume releases it";
  EXPECT_EQ(ORThreadImpl::kStateRunning, thread->State());
  EXPECT_EQ(0, thread->SetPriority(200));
  EXPECT_EQ(224, thread->GetPriority());
  EXPECT_EQ(prc::kThreadFailed, thread->Kill()) << "Kill never stops a thread";
  EXPECT_EQ(prc::kThreadFailed, thread->Sleep(kMs)) << "only the thread itself sleeps";
  EXPECT_EQ(0, JoinWhileRunning(thread, &probe));
  EXPECT_EQ(1, probe.runs.load());
  EXPECT_EQ(thread, probe.current);
  EXPECT_EQ(prc::kThreadJoinsItself, probe.join_self);
  EXPECT_EQ(prc::kTimeout, probe.sleep) << "a sleep ends with the time-out code";
  EXPECT_EQ(ORThreadImpl::kStateStopped, thread->State());
  EXPECT_EQ(nullptr, thread->Name());
  // The same object runs a second thread.
  probe.release = false;
  ASSERT_EQ(0, thread->Start(&Probe::Entry, &probe, 0, 10, ORThreadImpl::kStartRunning, "again"));
  EXPECT_EQ(0, JoinWhileRunning(thread, &probe));
  EXPECT_EQ(2, probe.runs.load());
  thread->Destroy();
}

TEST_F(ThreadTest, DetachedThreadDeletesItsObject) {
  ORThreadImpl* thread = new ORThreadImpl;
  std::atomic<bool> ran{false};
  ASSERT_EQ(0, thread->StartDetached([](void* flag) { *static_cast<std::atomic<bool>*>(flag) = true; },
                                     &ran, 0, 100, ORThreadImpl::kStartRunning, "detached"));
  for (int i = 0; i < 500 && RegistryCount() != 0; ++i) Sleep(2);
  EXPECT_TRUE(ran);
  EXPECT_EQ(0u, RegistryCount());
}

// A detached start that fails, or that finds the object running, must leave the object its
// owner's: were it marked detached, its next thread would delete it while the owner still holds
// it, and the owner's release would free it a second time.
TEST_F(ThreadTest, FailedDetachedStartLeavesTheObjectToItsOwner) {
  ORThreadImpl* thread = new ORThreadImpl;
  EXPECT_EQ(prc::kThreadFailed, thread->StartDetached(nullptr, nullptr, 0, 100, 0, "none"));
  Probe probe;
  probe.thread = thread;
  ASSERT_EQ(0, thread->Start(&Probe::Entry, &probe, 0, 100, ORThreadImpl::kStartRunning, "owned"));
  EXPECT_EQ(prc::kThreadAlreadyStarted,
            thread->StartDetached(&Probe::Entry, &probe, 0, 100, ORThreadImpl::kStartRunning, "x"));
  EXPECT_EQ(0, JoinWhileRunning(thread, &probe));
  for (int i = 0; i < 500 && RegistryCount() != 0; ++i) Sleep(2);
  // Still alive and still startable: its thread did not delete it.
  EXPECT_EQ(ORThreadImpl::kStateStopped, thread->State());
  probe.release = true;
  ASSERT_EQ(0, thread->Start(&Probe::Entry, &probe, 0, 100, ORThreadImpl::kStartRunning, "again"));
  EXPECT_EQ(0, thread->Join());
  EXPECT_EQ(2, probe.runs.load());
  thread->Destroy();
}

// Threads that end while the table is destroyed and made again: each ending thread takes the
// table's mutex, which must stay valid, and must never find a table being deleted.
TEST_F(ThreadTest, ThreadsEndingWhileTheTableIsDestroyed) {
  constexpr int kThreads = 16;
  for (int round = 0; round < 20; ++round) {
    ORThreadImpl* threads[kThreads];
    for (ORThreadImpl*& thread : threads) {
      thread = new ORThreadImpl;
      ASSERT_EQ(0, thread->Start([](void*) {}, nullptr, 0, 100, ORThreadImpl::kStartRunning, "e"));
    }
    ThreadTableDestroy();
    EXPECT_EQ(nullptr, CurrentORThread());
    ASSERT_TRUE(ThreadTableCreate());
    for (ORThreadImpl* thread : threads) {
      const Result joined = thread->Join();  // a thread already ended counts as not started
      EXPECT_TRUE(joined == 0 || joined == prc::kThreadNotStarted) << joined;
      thread->Destroy();
    }
  }
}

TEST_F(ThreadTest, RegistryAnswersForUnknownThreads) {
  EXPECT_EQ(2, RegistryResume(0));
  EXPECT_EQ(2, RegistryResume(0x7FFFFFF0));
  EXPECT_EQ(0, RegistrySetPriority(0x7FFFFFF0, 0)) << "byte 0 changes nothing";
  EXPECT_EQ(2, RegistrySetPriority(0x7FFFFFF0, 10));
  EXPECT_EQ(kThreadOther, RegistryState(0));
  EXPECT_STREQ("[unknown]", RegistryName(12345));
  EXPECT_EQ(0u, RegistryCurrentThread());
  EXPECT_EQ(nullptr, CurrentORThread());
  ORThreadImpl* thread = new ORThreadImpl;
  EXPECT_EQ(prc::kThreadFailed, thread->Start(nullptr, nullptr, 0, 0, 0, "none"));
  EXPECT_EQ(ORThreadImpl::kStateStopped, thread->State());
  thread->Destroy();
}

TEST_F(ThreadTest, RegistryEndsThreadsThatOutliveIt) {
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  uint32_t id = RegistryCreateThread([](void* event) { WaitForSingleObject(event, INFINITE); },
                                     never, 0, 100, 0, "stuck");
  ASSERT_NE(0u, id);
  EXPECT_EQ(1u, RegistryCount());
  DWORD before = GetTickCount();
  RegistryDestroy(true);
  EXPECT_GE(GetTickCount() - before, 900u) << "threads get their second to end";
  ASSERT_TRUE(RegistryStart());
  EXPECT_EQ(0u, RegistryCount());
  CloseHandle(never);
}

class CountingWorker : public WorkerThread {
 public:
  explicit CountingWorker(Result startup) : WorkerThread("counting"), startup_(startup) {}
  Result StartUp() override { return startup_; }
  Result Work() override {
    seen_self = CurrentWorkerThread() == this;
    return 7;
  }
  void Finish() override { finished = true; }
  bool seen_self = false;
  bool finished = false;

 private:
  Result startup_;
};

TEST(WorkerThreadTest, StartReturnsTheStartUpCodeAndRunsTheLoopOnlyAfterSuccess) {
  CountingWorker* good = new CountingWorker(0);
  ASSERT_EQ(0, good->Start());
  WaitForSingleObject(good->ThreadHandle(), INFINITE);
  DWORD code = 0;
  GetExitCodeThread(good->ThreadHandle(), &code);
  EXPECT_EQ(7u, code);
  EXPECT_TRUE(good->seen_self);
  EXPECT_TRUE(good->finished);
  EXPECT_EQ(nullptr, CurrentWorkerThread());
  good->Destroy();

  CountingWorker* bad = new CountingWorker(static_cast<Result>(0x80004005));
  EXPECT_EQ(static_cast<Result>(0x80004005), bad->Start());
  WaitForSingleObject(bad->ThreadHandle(), INFINITE);
  EXPECT_FALSE(bad->finished);
  bad->Destroy();
}

TEST(ClockTest, TickerCallsTheCallbackEvery50MsUntilStopped) {
  ASSERT_TRUE(ClockStart());
  EXPECT_GT(ClockNanosecondsPerTick(), 0u);
  std::atomic<int> ticks{0};
  int64_t period = 0, start = 0;
  TickSource* source = SystemTickSource();
  ASSERT_EQ(1, source->RegisterTickCallback(
                   [](void* count, int64_t) { ++*static_cast<std::atomic<int>*>(count); },
                   &ticks, &period, &start));
  EXPECT_EQ(0, source->RegisterTickCallback(nullptr, nullptr, &period, &start));
  EXPECT_EQ(50000000, period);
  EXPECT_LE(start, ClockNow());
  Sleep(120);
  EXPECT_EQ(0, ticks.load()) << "ticks reach the callback only once enabled";
  source->EnableTicks();
  for (int i = 0; i < 200 && ticks.load() < 3; ++i) Sleep(10);
  EXPECT_GE(ticks.load(), 3);
  ClockStop(true);
  int after_stop = ticks.load();
  Sleep(120);
  EXPECT_EQ(after_stop, ticks.load()) << "no tick runs once the clock has stopped";
  EXPECT_EQ(0u, ClockTickCount());
}

}  // namespace
