// Failing device requests: for every N, the Nth read or write of a workload fails (once, or
// from then on). Every operation either succeeds or reports the failure; after a remount the
// volume checks clean and what the workload was told had succeeded is there.
#include <gtest/gtest.h>

#include "omfs_fixture.h"

namespace {

using Fault = TestBlockDevice::Fault;
constexpr Result kNotFound = static_cast<Result>(0x80820005);

class OmfsIoFailureTest : public OmfsFixture {
 protected:
  struct Outcome {
    bool keep = false, frag1 = false, b = false, renamed = false, removed = false;
  };

  Result WriteAlternating(const std::string& root, bool* ok) {
    FsHandle* one = nullptr;
    FsHandle* two = nullptr;
    Result result = fs_->CreateFile(&one, (root + "frag1").c_str(), nullptr, 3, nullptr);
    if (result != 0) return result;
    result = fs_->CreateFile(&two, (root + "frag2").c_str(), nullptr, 3, nullptr);
    for (size_t done = 0; result == 0 && done < frag_.size(); done += 4096) {
      uint32_t count = 0;
      result = fs_->WriteFile(one, &frag_[done], 4096, &count, nullptr);
      if (result == 0) result = fs_->WriteFile(two, &frag_[done], 4096, &count, nullptr);
    }
    Result closed = fs_->Close(one, nullptr);
    if (two) fs_->Close(two, nullptr);
    *ok = result == 0 && closed == 0;
    return result != 0 ? result : closed;
  }

  // Runs every step whatever the earlier ones answered; counts the failures reported.
  Outcome RunWorkload(const std::string& root, int* reported) {
    Outcome outcome;
    auto note = [&](Result result) {
      if (result != 0) ++*reported;
      return result == 0;
    };
    outcome.keep = note(WriteWhole(root + "keep", keep_));
    FsHandle* dir = nullptr;
    if (note(fs_->CreateDir(&dir, (root + "d").c_str(), nullptr, 0, nullptr)))
      fs_->Close(dir, nullptr);
    outcome.b = note(WriteWhole(root + "d/b", b_));
    bool frag_ok = false;
    note(WriteAlternating(root, &frag_ok));
    outcome.frag1 = frag_ok;
    outcome.renamed = note(fs_->Rename((root + "d/b").c_str(), nullptr, (root + "b2").c_str(),
                                       nullptr, nullptr));
    outcome.removed = note(fs_->Remove((root + "frag2").c_str(), nullptr, nullptr));
    return outcome;
  }

  std::string Verify(TestBlockDevice* device, const Outcome& outcome) {
    const std::string root = Root(device, shape_);
    std::string problem;
    if (Result checked = Check(device, shape_); checked != 0)
      return "check failed " + std::to_string(checked);
    Result result = 0;
    if (outcome.keep && ReadWhole(root + "keep", &result) != keep_) problem += "keep; ";
    if (outcome.frag1 && ReadWhole(root + "frag1", &result) != frag_) problem += "frag1; ";
    if (outcome.b) {
      std::vector<uint8_t> at_new = ReadWhole(root + "b2", &result);
      const Result new_result = result;
      std::vector<uint8_t> at_old = ReadWhole(root + "d/b", &result);
      if (outcome.renamed ? at_new != b_ : (at_new != b_ && at_old != b_)) problem += "b; ";
      if (outcome.renamed && result != kNotFound) problem += "b under its old name; ";
      (void)new_result;
    }
    if (outcome.removed) {
      ReadWhole(root + "frag2", &result);
      if (result != kNotFound) problem += "frag2 not removed; ";
    }
    std::vector<uint8_t> fresh = Pattern(12000, 7);
    if (WriteWhole(root + "fresh", fresh) != 0 || ReadWhole(root + "fresh", &result) != fresh)
      problem += "volume does not take a new file; ";
    if (Check(device, shape_) != 0) problem += "second check failed; ";
    return problem;
  }

  void FailEveryRequest(Fault fault) {
    // A dry run counts the requests of the workload.
    TestBlockDevice* dry = NewDevice(0, shape_);
    ASSERT_EQ(0, Format(dry, shape_));
    ASSERT_EQ(0, Mount(dry, shape_));
    const uint32_t before = dry->counters().reads + dry->counters().writes;
    int reported = 0;
    RunWorkload(Root(dry, shape_), &reported);
    ASSERT_EQ(0, reported);
    ASSERT_EQ(0, Unmount(dry));
    const uint32_t requests = dry->counters().reads + dry->counters().writes - before;
    ASSERT_GT(requests, 40u);
    int failures = 0, unreported = 0;
    for (uint32_t n = 1; n <= requests && failures < 5; ++n) {
      TestBlockDevice* device = NewDevice(n, shape_);
      ASSERT_EQ(0, Format(device, shape_));
      ASSERT_EQ(0, Mount(device, shape_));
      device->FailRequest(n, fault);
      reported = 0;
      Outcome outcome = RunWorkload(Root(device, shape_), &reported);
      Unmount(device);
      if (reported == 0) ++unreported;
      device->ClearFaults();
      std::string problem;
      if (Result mounted = Mount(device, shape_); mounted != 0)
        problem = "remount failed " + std::to_string(mounted);
      else
        problem = Verify(device, outcome);
      Unmount(device);
      device->Destroy();
      if (!problem.empty()) {
        ++failures;
        ADD_FAILURE() << "request " << n << " of " << requests << " failing: " << problem;
      }
    }
    // A failed read is answered from a mirror and a failed write of a mirror copy is mended
    // by the next read; every other failure reaches the caller.
    EXPECT_LT(unreported, static_cast<int>(requests));
  }

  OmfsShape shape_;
  std::vector<uint8_t> keep_ = Pattern(20000, 1);
  std::vector<uint8_t> b_ = Pattern(9000, 2);
  std::vector<uint8_t> frag_ = Pattern(8 * 4096, 3);
};

TEST_F(OmfsIoFailureTest, OneFailedRequestAnywhere) { FailEveryRequest(Fault::kOnce); }

TEST_F(OmfsIoFailureTest, DeviceDeadFromAnyRequestOn) { FailEveryRequest(Fault::kAlways); }

}  // namespace
