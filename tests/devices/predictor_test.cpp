#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "devices/block_predictor.h"
#include "devices/device_results.h"
#include "devices/flash_predictor.h"
#include "media/property_holder.h"

namespace {

using Factory = std::function<Result(Predictor**)>;

const Factory kFlashA = [](Predictor** out) { return CreateFlashPredictor(false, out); };
const Factory kFlashC = [](Predictor** out) { return CreateFlashPredictor(true, out); };
const Factory kOmfs = CreateOmfsPredictor;
const Factory kMsc = CreateMscPredictor;
const Factory kBlockB = CreateBlockPredictorB;
const Factory kBlockDE = CreateBlockPredictorDE;

int32_t IntOf(const PropertyHolder& props, const char* name) {
  return props.GetSet()->GetInt(name);
}
int64_t Int64Of(const PropertyHolder& props, const char* name) {
  return props.GetSet()->GetInt64(name);
}

class PredictorTest : public ::testing::Test {
 protected:
  // A predictor of the factory's kind, reset on a storage with these counts.
  Predictor& Start(const Factory& factory, uint32_t free_blocks, uint32_t used_blocks = 0,
                   uint32_t block_size = 512, int32_t storage_index = 0) {
    Predictor* created = nullptr;
    EXPECT_EQ(rc::kOk, factory(&created));
    predictor_.reset(created);
    storage_.SetInt("block_size", static_cast<int32_t>(block_size));
    storage_.SetInt("free_in_blocks", static_cast<int32_t>(free_blocks));
    storage_.SetInt("used_in_blocks", static_cast<int32_t>(used_blocks));
    storage_.SetInt("storage_index", storage_index);
    EXPECT_EQ(rc::kOk, predictor_->Reset(storage_));
    return *predictor_;
  }

  static std::unique_ptr<PropertyHolder> File(uint32_t length, int32_t fid = 0) {
    auto file = std::make_unique<PropertyHolder>();
    file->SetInt("length", static_cast<int32_t>(length));
    file->SetInt("fid", fid);
    return file;
  }

  // Accounts a new file of this length and answers the fid it was given.
  int32_t NewFid(uint32_t length = 0) {
    auto file = File(length);
    EXPECT_LE(0, predictor_->AccountNewFile(*file, nullptr));
    return IntOf(*file, "fid");
  }

  uint32_t Used() { return static_cast<uint32_t>(IntOf(storage_, "used_in_blocks")); }
  uint32_t Free() { return static_cast<uint32_t>(IntOf(storage_, "free_in_blocks")); }
  std::pair<uint32_t, uint32_t> Counters() {
    uint32_t counters[2] = {99, 99};
    EXPECT_EQ(rc::kOk, predictor_->GetCounters(counters));
    return {counters[0], counters[1]};
  }

  PropertyHolder storage_;
  std::unique_ptr<Predictor> predictor_;
};

TEST_F(PredictorTest, FirstFidsPerKind) {
  const struct {
    const char* kind;
    Factory factory;
    int32_t storage_index;
    int32_t first_fid;
    int32_t second_fid;
  } cases[] = {
      {"flash A", kFlashA, 0, 0, 1},
      {"flash C", kFlashC, 0, 1, 2},
      {"omfs", kOmfs, 0, 288, 304},
      {"msc", kMsc, 0, 288, 304},
      {"block B storage 0", kBlockB, 0, 16, 32},
      {"block B storage 1", kBlockB, 1, 16400, 16416},
      {"block DE storage 2", kBlockDE, 2, 32784, 32800},
  };
  for (const auto& c : cases) {
    Start(c.factory, 1000, 0, 512, c.storage_index);
    EXPECT_EQ(c.first_fid, NewFid()) << c.kind;
    EXPECT_EQ(c.second_fid, NewFid()) << c.kind;
  }
}

TEST_F(PredictorTest, NumbersFillAWordThenReuseTheLowestRemoved) {
  Start(kFlashA, 100000);
  for (int32_t expected = 0; expected < 32; ++expected) ASSERT_EQ(expected, NewFid());
  EXPECT_EQ(32, NewFid());  // a second word
  predictor_->RemoveFile(*File(0, 7));
  predictor_->RemoveFile(*File(0, 5));
  EXPECT_EQ(5, NewFid());
  EXPECT_EQ(7, NewFid());
  EXPECT_EQ(33, NewFid());
}

TEST_F(PredictorTest, ExistingFilesAreMarkedButNotCounted) {
  Start(kFlashA, 50, 20);
  EXPECT_EQ(rc::kOk, predictor_->AddExistingFile(*File(100000, 0)));
  EXPECT_EQ(rc::kOk, predictor_->AddExistingFile(*File(100000, 2)));
  EXPECT_EQ(20u, Used());
  EXPECT_EQ(50u, Free());
  EXPECT_EQ(std::make_pair(0u, 0u), Counters());
  EXPECT_EQ(1, NewFid());
  EXPECT_EQ(3, NewFid());
}

TEST_F(PredictorTest, CorruptFidsDoNotGrowTheNumbers) {
  Start(kFlashA, 50);
  EXPECT_EQ(rc::kOk, predictor_->AddExistingFile(*File(0, -1)));
  EXPECT_EQ(rc::kOk, predictor_->AddExistingFile(*File(0, 0x7FFFFFFF)));
  EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*File(0, 0x7FFFFFF0)));
  EXPECT_EQ(0, NewFid());
}

TEST_F(PredictorTest, OverCommitmentIsADeficitPaidBackFirst) {
  Start(kFlashA, 10, 4);
  auto file = File(5301);  // 5301 + 331 + 512 = 6144 bytes: 12 blocks
  uint32_t blocks = 0;
  EXPECT_EQ(1, predictor_->AccountNewFile(*file, &blocks));
  EXPECT_EQ(12u, blocks);
  EXPECT_EQ(0u, Free());
  EXPECT_EQ(16u, Used());
  EXPECT_EQ(16 * 512, Int64Of(storage_, "used_in_bytes"));
  EXPECT_EQ(0, Int64Of(storage_, "free_in_bytes"));

  // (2500 + 78) / 512: 5 blocks, 2 of them pay back the deficit.
  EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*File(2500, 0)));
  EXPECT_EQ(11u, Used());
  EXPECT_EQ(3u, Free());
  EXPECT_EQ(std::make_pair(12u, 5u), Counters());
  EXPECT_EQ(0, predictor_->AccountNewFile(*File(0), nullptr));  // deficit gone: fits
  EXPECT_EQ(2u, Free());
}

TEST_F(PredictorTest, ReleasingMoreThanIsUsed) {
  Start(kFlashA, 0, 0);
  EXPECT_EQ(1, predictor_->AccountFile(*File(1500, 1)));  // 4 blocks, all of them a deficit
  EXPECT_EQ(4u, Used());
  EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*File(5000, 1)));  // (5000 + 156) / 512: 10 blocks
  EXPECT_EQ(0u, Used());
  EXPECT_EQ(10u, Free());  // grows by the full amount, the deficit is dropped
  EXPECT_EQ(0, predictor_->AccountFile(*File(0, 2)));
  EXPECT_EQ(1u, Used());
  EXPECT_EQ(9u, Free());

  Start(kFlashA, 5, 0);
  EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*File(5000, 1)));
  EXPECT_EQ(0u, Used());
  EXPECT_EQ(5u, Free());  // nothing was counted as used, so nothing is freed
}

TEST_F(PredictorTest, ResizeChargesOrRefundsTheDifference) {
  Start(kFlashA, 3, 10);
  auto small = File(0);      // 1 block
  auto same = File(400);     // 400 + 25 + 512: still 1 block
  auto large = File(2000);   // 2000 + 125 + 512: 5 blocks
  uint32_t blocks = 777;
  EXPECT_EQ(0, predictor_->Resize(*small, *same, &blocks));
  EXPECT_EQ(777u, blocks);
  EXPECT_EQ(std::make_pair(0u, 0u), Counters());

  EXPECT_EQ(1, predictor_->Resize(*small, *large, &blocks));
  EXPECT_EQ(4u, blocks);
  EXPECT_EQ(0u, Free());
  EXPECT_EQ(14u, Used());

  EXPECT_EQ(0, predictor_->Resize(*large, *small, &blocks));
  EXPECT_EQ(0u, blocks);
  EXPECT_EQ(10u, Used());
  EXPECT_EQ(3u, Free());  // one of the four paid the deficit
  EXPECT_EQ(std::make_pair(4u, 4u), Counters());
}

TEST_F(PredictorTest, WouldOverflowChangesNothing) {
  Start(kFlashA, 2, 1);
  EXPECT_EQ(0, predictor_->WouldOverflow(*File(500)));   // 2 blocks
  EXPECT_EQ(1, predictor_->WouldOverflow(*File(1000)));  // 3 blocks
  EXPECT_EQ(2u, Free());
  EXPECT_EQ(1u, Used());
  EXPECT_EQ(std::make_pair(0u, 0u), Counters());
}

TEST_F(PredictorTest, StorageInformationIsSharedAndSixtyFourBit) {
  Start(kFlashA, 100001, 0, 65536);
  NewFid(0);  // one block
  PropertyHolder out;
  EXPECT_EQ(rc::kOk, predictor_->GetStorageInfo(out));
  EXPECT_EQ(storage_.GetSet().Get(), out.GetSet().Get());
  EXPECT_EQ(6553600000, Int64Of(out, "free_in_bytes"));
  EXPECT_EQ(65536, Int64Of(out, "used_in_bytes"));
}

TEST_F(PredictorTest, ResetStartsOver) {
  Start(kOmfs, 100);
  NewFid(5000);
  NewFid(5000);
  PropertyHolder fresh;
  fresh.SetInt("block_size", 512);
  fresh.SetInt("free_in_blocks", 7);
  EXPECT_EQ(rc::kOk, predictor_->Reset(fresh));
  EXPECT_EQ(std::make_pair(0u, 0u), Counters());
  auto file = File(0);
  EXPECT_EQ(0, predictor_->AccountNewFile(*file, nullptr));
  EXPECT_EQ(288, IntOf(*file, "fid"));
  EXPECT_EQ(6, IntOf(fresh, "free_in_blocks"));
}

TEST_F(PredictorTest, RoundUpPerKind) {
  const struct {
    const char* kind;
    Factory factory;
    uint32_t length;
    uint32_t bytes;
  } cases[] = {
      {"flash", kFlashA, 0, 512},
      {"flash", kFlashA, 512, 1024},
      {"flash", kFlashA, 5300, 5632},
      {"flash", kFlashA, 5301, 6144},
      {"flash", kFlashA, 0xFFFFFF00u, 0xFFFFFFFFu},  // too long to count: all there is
      {"omfs", kOmfs, 5301, 6144},
      {"msc", kMsc, 0, 512},
      {"msc", kMsc, 511, 512},
      {"msc", kMsc, 512, 1024},
      {"msc", kMsc, 5301, 5632},
      {"block B", kBlockB, 0, 0},
      {"block B", kBlockB, 1, 32768},
      {"block B", kBlockB, 32768, 32768},
      {"block B", kBlockB, 32769, 98304},
      {"block B", kBlockB, 65537, 131072},
      {"block DE", kBlockDE, 16384, 16384},
      {"block DE", kBlockDE, 16385, 49152},
  };
  for (const auto& c : cases) {
    Start(c.factory, 10);
    EXPECT_EQ(c.bytes, predictor_->RoundUp(*File(c.length))) << c.kind << " " << c.length;
  }
}

TEST_F(PredictorTest, MissingBlockSizeCountsBytes) {
  Start(kFlashA, 1000, 0, 0);
  uint32_t blocks = 0;
  EXPECT_EQ(0, predictor_->AccountNewFile(*File(100), &blocks));
  EXPECT_EQ(107u, blocks);  // 100 + 6 + 1
  EXPECT_EQ(0, predictor_->WouldOverflow(*File(800)));
  EXPECT_EQ(893, Int64Of(storage_, "free_in_bytes"));
}

TEST_F(PredictorTest, BlockCountsAreInStorageBlocks) {
  Start(kBlockB, 1000);
  uint32_t blocks = 0;
  predictor_->AccountNewFile(*File(1), &blocks);
  EXPECT_EQ(64u, blocks);
  predictor_->AccountNewFile(*File(32769), &blocks);
  EXPECT_EQ(192u, blocks);
  predictor_->AccountNewFile(*File(0), &blocks);
  EXPECT_EQ(0u, blocks);
  EXPECT_EQ(256u, Used());
  EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*File(32769, 32)));
  EXPECT_EQ(64u, Used());
  EXPECT_EQ(std::make_pair(256u, 192u), Counters());
  EXPECT_EQ(32, NewFid());  // the removed number is free again
}

TEST_F(PredictorTest, OmfsLeavesThePlayersOwnNumbersAlone) {
  Start(kOmfs, 100, 50);
  for (int32_t fid : {256, 272, 0, 100}) {
    auto file = File(20000, fid);
    EXPECT_EQ(rc::kOk, predictor_->AddExistingFile(*file));
    EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*file));
    EXPECT_EQ(fid, IntOf(*file, "fid"));
  }
  EXPECT_EQ(50u, Used());
  EXPECT_EQ(std::make_pair(0u, 0u), Counters());

  auto existing = File(0, 288);
  EXPECT_EQ(rc::kOk, predictor_->AddExistingFile(*existing));
  EXPECT_EQ(288, IntOf(*existing, "fid"));  // the caller's fid keeps its form
  EXPECT_EQ(304, NewFid());
  EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*existing));
  EXPECT_EQ(288, NewFid());
}

TEST_F(PredictorTest, OmfsAccountFileLeavesTheNumber) {
  Start(kOmfs, 100);
  auto file = File(1000, 304);
  EXPECT_EQ(0, predictor_->AccountFile(*file));
  EXPECT_EQ(3, IntOf(*file, "fid"));
  EXPECT_EQ(3u, Used());
  EXPECT_EQ(288, NewFid());
  EXPECT_EQ(320, NewFid());  // number 3 is taken
}

TEST_F(PredictorTest, RemovedBlocksPerKind) {
  // 1100 bytes: flash gives back (1100 + 34) / 512 = 2 blocks, msc its rounded (1100 + 512) / 512.
  const struct {
    Factory factory;
    int32_t fid;
    uint32_t released;
  } cases[] = {{kFlashA, 1, 2}, {kOmfs, 288, 2}, {kMsc, 288, 3}};
  for (const auto& c : cases) {
    Start(c.factory, 0, 10);
    predictor_->RemoveFile(*File(1100, c.fid));
    EXPECT_EQ(c.released, Free());
    EXPECT_EQ(c.released, Counters().second);
  }
}

TEST_F(PredictorTest, BlockNumbersIgnoreTheStorageBits) {
  Start(kBlockB, 100, 0, 512, 3);
  EXPECT_EQ(rc::kOk, predictor_->AddExistingFile(*File(0, 0x4010)));  // number 1, storage 1
  EXPECT_EQ(3 * 16384 + 2 * 16, NewFid());
  auto file = File(0, 0x4010);
  EXPECT_EQ(rc::kOk, predictor_->RemoveFile(*file));
  EXPECT_EQ(3 * 16384 + 16, NewFid());
}

TEST_F(PredictorTest, BlockStorageFullAfterTheLastNumber) {
  Start(kBlockDE, 100000, 0, 512, 1);
  for (int32_t number = 1; number < 1023; ++number) {
    predictor_->AddExistingFile(*File(0, number * 16));
  }
  EXPECT_EQ(16384 + 1023 * 16, NewFid(1));  // one unit: 32 blocks

  auto file = File(100, 55);
  uint32_t blocks = 777;
  EXPECT_EQ(rc::kPlayerFull, predictor_->AccountNewFile(*file, &blocks));
  EXPECT_EQ(55, IntOf(*file, "fid"));
  EXPECT_EQ(777u, blocks);
  EXPECT_EQ(32u, Used());  // only the last good file's unit
  EXPECT_EQ(std::make_pair(32u, 0u), Counters());

  predictor_->RemoveFile(*File(0, 16384 + 500 * 16));
  EXPECT_EQ(16384 + 500 * 16, NewFid());
}

}  // namespace
