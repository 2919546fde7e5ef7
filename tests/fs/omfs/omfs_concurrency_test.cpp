// Requests of several threads on two volumes at once: each thread writes a file, renames it
// over its current one and reads both that and a file all threads share. The load must end
// (a watchdog ends the process when it does not), every read must see whole files, and both
// volumes must pass the check afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "omfs_fixture.h"

namespace {

constexpr int kThreads = 6;
constexpr int kVolumes = 2;
constexpr int kRounds = 25;
// Far beyond what the load needs when requests take turns; reached only by a hang.
constexpr DWORD kWatchdogMs = 180000;

class OmfsConcurrencyTest : public OmfsFixture {
 protected:
  std::string Path(int thread, const char* suffix) const {
    return roots_[thread % kVolumes] + "t" + std::to_string(thread) + suffix;
  }
  static std::vector<uint8_t> Content(int thread, int round) {
    return Pattern(4096 * (1 + (thread + round) % 7) + 123 * round, thread * 1000 + round);
  }

  // One thread's load; returns what went wrong.
  std::string Work(int thread) {
    std::string problem;
    for (int round = 0; round < kRounds && problem.empty(); ++round) {
      const std::vector<uint8_t> data = Content(thread, round);
      if (Result written = WriteWhole(Path(thread, ".new"), data); written != 0)
        problem = "write " + std::to_string(written);
      else if (Result renamed = fs_->RenameReplacing(Path(thread, ".new").c_str(), nullptr,
                                                     Path(thread, ".cur").c_str(), nullptr,
                                                     nullptr);
               renamed != 0)
        problem = "rename " + std::to_string(renamed);
      Result read = 0;
      if (problem.empty() && ReadWhole(Path(thread, ".cur"), &read) != data)
        problem = "current file read " + std::to_string(read);
      if (problem.empty() && ReadWhole(roots_[thread % kVolumes] + "shared", &read) != shared_)
        problem = "shared file read " + std::to_string(read);
    }
    return problem;
  }

  std::string roots_[kVolumes];
  const std::vector<uint8_t> shared_ = Pattern(150000, 77);
};

TEST_F(OmfsConcurrencyTest, SixThreadsOnTwoVolumesEndAndLeaveBothVolumesWhole) {
  OmfsShape shape;
  shape.blocks = 1024;
  TestBlockDevice* devices[kVolumes];
  for (int v = 0; v < kVolumes; ++v) {
    devices[v] = NewDevice(v, shape);
    ASSERT_EQ(0, Format(devices[v], shape));
    ASSERT_EQ(0, Mount(devices[v], shape));
    roots_[v] = Root(devices[v], shape);
    ASSERT_EQ(0, WriteWhole(roots_[v] + "shared", shared_));
  }
  std::atomic<int> finished{0};
  std::string problems[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t, &finished, &problems] {
      problems[t] = Work(t);
      ++finished;
    });
  const DWORD began = GetTickCount();
  while (finished < kThreads && GetTickCount() - began < kWatchdogMs) Sleep(20);
  if (finished < kThreads) {
    // The threads cannot be joined: say so and end here rather than hang the run.
    fprintf(stderr, "%d of %d threads still running after %lu ms: requests spin or wait "
            "for ever\n", kThreads - finished.load(), kThreads,
            static_cast<unsigned long>(kWatchdogMs));
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ("", problems[t]) << "thread " << t;
  for (int v = 0; v < kVolumes; ++v) {
    EXPECT_EQ(0, Check(devices[v], shape)) << "volume " << v;
    ASSERT_EQ(0, Unmount(devices[v]));
    ASSERT_EQ(0, Mount(devices[v], shape));
    for (int t = v; t < kThreads; t += kVolumes) {
      Result read = 0;
      EXPECT_EQ(Content(t, kRounds - 1), ReadWhole(Path(t, ".cur"), &read)) << "thread " << t;
      ReadWhole(Path(t, ".new"), &read);
      EXPECT_EQ(static_cast<Result>(0x80820005), read) << "thread " << t;
    }
    EXPECT_EQ(0, Check(devices[v], shape)) << "volume " << v;
  }
}

}  // namespace
