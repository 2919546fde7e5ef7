#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fs_fixture.h"
#include "testlib/test_block_device.h"

namespace {

constexpr uint64_t kVolume = 65536;

// The name a reading thread goes by in the turnstile's record.
thread_local std::string reader_name;

// Holds requests inside TinyFs reads of chosen volumes and records who got in, in order.
class Turnstile {
 public:
  Turnstile() : open_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Turnstile() { CloseHandle(open_); }

  void Hold(const std::string& label) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_[label] = true;
  }
  void OpenAll() { SetEvent(open_); }

  void Enter(const char* label) {
    bool wait;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      order_.push_back(reader_name.empty() ? label : reader_name);
      int now = ++inside_[label];
      if (now > most_inside_[label]) most_inside_[label] = now;
      wait = held_[label];
    }
    if (wait) WaitForSingleObject(open_, 10000);
    std::lock_guard<std::mutex> lock(mutex_);
    --inside_[label];
  }

  // Waits up to 5 s until n entries are recorded.
  bool WaitForEntries(size_t n) {
    for (int i = 0; i < 500; ++i) {
      if (Entries() >= n) return true;
      Sleep(10);
    }
    return false;
  }
  size_t Entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return order_.size();
  }
  std::vector<std::string> Order() {
    std::lock_guard<std::mutex> lock(mutex_);
    return order_;
  }
  int MostInside(const std::string& label) {
    std::lock_guard<std::mutex> lock(mutex_);
    return most_inside_[label];
  }
  void Note(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    order_.push_back(what);
  }

 private:
  HANDLE open_;
  std::mutex mutex_;
  std::map<std::string, bool> held_;
  std::map<std::string, int> inside_, most_inside_;
  std::vector<std::string> order_;
};

class AdmissionTest : public FsFixture {
 protected:
  void SetUp() override {
    FsFixture::SetUp();
    disk_ = TinyDisk({"alpha", "beta", "gamma"});
    ASSERT_EQ(0, fs_->Mount("DISK:0", 0, kVolume, 0, nullptr, 0));
    ASSERT_EQ(0, fs_->Mount("DISK:0", kVolume, kVolume, 0, nullptr, 0));
    for (const char* label : {"alpha", "beta"}) {
      FsHandle* file = nullptr;
      ASSERT_EQ(0, fs_->Open(&file, (std::string("/root/") + label + "/data").c_str(), nullptr,
                             fs_open::kRead | fs_open::kWrite, nullptr));
      uint32_t count = 0;
      ASSERT_EQ(0, fs_->WriteFile(file, "0123456789", 10, &count, nullptr));
      handles_[label] = file;
    }
    tiny_fs_hook = [this](const char* label) { turnstile_.Enter(label); };
  }
  void TearDown() override {
    turnstile_.OpenAll();
    for (std::thread& thread : threads_) thread.join();
    tiny_fs_hook = nullptr;
    for (auto& named : handles_) fs_->Close(named.second, nullptr);
    FsFixture::TearDown();
  }

  // Reads from a volume's file on a thread of its own (the hook runs even at its end).
  void ReadOn(const std::string& label, const FsTiming* timing = nullptr,
              const std::string& name = "", uint32_t length = 4) {
    FsHandle* file = handles_[label];
    threads_.emplace_back([this, file, timing, name, length] {
      reader_name = name;
      char buffer[64];
      uint32_t count = 0;
      fs_->ReadFile(file, buffer, length, &count, timing);
    });
  }

  TestBlockDevice* disk_ = nullptr;
  Turnstile turnstile_;
  std::map<std::string, FsHandle*> handles_;
  std::vector<std::thread> threads_;
};

TEST_F(AdmissionTest, RequestsOfOneVolumeRunOneAfterTheOther) {
  turnstile_.Hold("alpha");
  ReadOn("alpha");
  ASSERT_TRUE(turnstile_.WaitForEntries(1));
  ReadOn("alpha");
  Sleep(200);
  EXPECT_EQ(1u, turnstile_.Entries()) << "the second read waits for the first";
  turnstile_.OpenAll();
  ASSERT_TRUE(turnstile_.WaitForEntries(2));
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  EXPECT_EQ(1, turnstile_.MostInside("alpha"));
}

TEST_F(AdmissionTest, RequestsOfTwoVolumesRunSideBySide) {
  turnstile_.Hold("alpha");
  turnstile_.Hold("beta");
  ReadOn("alpha");
  ReadOn("beta");
  EXPECT_TRUE(turnstile_.WaitForEntries(2)) << "both reads are inside at once";
}

TEST_F(AdmissionTest, AMountWaitsForRunningRequestsAndHoldsBackNewOnes) {
  // A read of beta notes how many volumes it finds mounted when it gets in.
  tiny_fs_hook = [this](const char* label) {
    if (std::string(label) == "beta")
      turnstile_.Note("beta sees " + std::to_string(manager_->volumes().size()) + " volumes");
    turnstile_.Enter(label);
  };
  turnstile_.Hold("alpha");
  ReadOn("alpha");
  ASSERT_TRUE(turnstile_.WaitForEntries(1));
  std::atomic<bool> mounted{false};
  threads_.emplace_back([this, &mounted] {
    EXPECT_EQ(0, fs_->Mount("DISK:0", 2 * kVolume, kVolume, 0, nullptr, 0));
    mounted = true;
  });
  Sleep(200);
  EXPECT_FALSE(mounted) << "the mount waits for the running read";
  ReadOn("beta");
  Sleep(200);
  EXPECT_EQ(1u, turnstile_.Entries()) << "a read that came after the mount waits behind it";
  turnstile_.OpenAll();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  EXPECT_TRUE(mounted);
  EXPECT_EQ((std::vector<std::string>{"alpha", "beta sees 3 volumes", "beta"}),
            turnstile_.Order());
}

TEST_F(AdmissionTest, AnUrgentDeadlineOvertakesWaitingRequestsWithout) {
  turnstile_.Hold("alpha");
  ReadOn("alpha");
  ASSERT_TRUE(turnstile_.WaitForEntries(1));
  ReadOn("alpha", nullptr, "plain");
  Sleep(100);
  static const FsTiming kNow = {fs_timing::kRelative, 0, 0};
  ReadOn("alpha", &kNow, "deadline");
  Sleep(100);
  turnstile_.OpenAll();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  EXPECT_EQ((std::vector<std::string>{"alpha", "deadline", "plain"}), turnstile_.Order());
}

// A waiting plain request goes before a deadline request only when its estimated cost lets it
// finish before the deadline request must start.
TEST_F(AdmissionTest, APlainRequestGoesFirstOnlyWhenItFitsBeforeTheDeadline) {
  // Reads cost 100 ms a byte: the deadline read of 4 bytes, 2 s ahead, must start within 1.6 s.
  static const FsTiming kSoon = {fs_timing::kRelative, 0, 2000000000};
  turnstile_.Hold("alpha");
  ReadOn("alpha");
  ASSERT_TRUE(turnstile_.WaitForEntries(1));
  ReadOn("alpha", nullptr, "short plain", 4);  // 0.4 s: fits
  Sleep(100);
  ReadOn("alpha", nullptr, "long plain", 40);  // 4 s: does not
  Sleep(100);
  ReadOn("alpha", &kSoon, "deadline", 4);
  Sleep(100);
  turnstile_.OpenAll();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  EXPECT_EQ((std::vector<std::string>{"alpha", "short plain", "deadline", "long plain"}),
            turnstile_.Order());
}

}  // namespace
