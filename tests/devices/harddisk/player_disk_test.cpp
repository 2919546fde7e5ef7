#include <gtest/gtest-spi.h>

#include <cstring>
#include <vector>

#include "sim_fixture.h"

namespace {

class PlayerDiskTest : public HardDiskSimTest {
 protected:
  void SetUp() override {
    HardDiskSimTest::SetUp();
    ASSERT_EQ(disk->Identify(), rc::kOk);
    ASSERT_EQ(disk->AcquireBus(), rc::kOk);
    player->log.clear();
  }

  // The wrappers the player received, in order.
  std::vector<std::vector<uint8_t>> Wrappers() const {
    std::vector<std::vector<uint8_t>> wrappers;
    for (const SimHdPacket& p : player->log)
      if (p.direction == SimHdPacket::kToPlayer && p.bytes.size() == 31 &&
          std::memcmp(p.bytes.data(), "USBC", 4) == 0)
        wrappers.push_back(p.bytes);
    return wrappers;
  }
};

std::vector<uint8_t> Wrapper(uint32_t tag, uint32_t length, uint8_t flags,
                             std::vector<uint8_t> block) {
  std::vector<uint8_t> w = {'U', 'S', 'B', 'C'};
  for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(tag >> (8 * i)));
  for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(length >> (8 * i)));
  w.push_back(flags);
  w.push_back(0);
  w.push_back(static_cast<uint8_t>(block.size()));
  block.resize(16, 0);
  w.insert(w.end(), block.begin(), block.end());
  return w;
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + i / 512);
  return bytes;
}

TEST_F(PlayerDiskTest, IdentifySendsInquiryOffering512BytesAndAcceptsTheShortAnswer) {
  // Identify ran in SetUp with tag 1; the bus was acquired afterwards.
  std::unique_ptr<PlayerDisk> fresh;
  ASSERT_EQ(PlayerDisk::Create(usb.get(), &fresh, &clock), rc::kOk);
  ASSERT_EQ(fresh->Identify(), rc::kOk);
  EXPECT_EQ(fresh->product_id(), 0x5101u);
  ASSERT_EQ(Wrappers().size(), 1u);
  EXPECT_EQ(Wrappers()[0], Wrapper(1, 512, 0x80, {0x12, 0, 0, 0, 36, 0}));
}

TEST_F(PlayerDiskTest, TransfersSplitInto64BlockCommandsWithRisingTags) {
  const std::vector<uint8_t> data = Pattern(130 * 512, 3);
  ASSERT_EQ(disk->WriteSectors(0, 700, 130, data.data()), rc::kOk);
  std::vector<uint8_t> back(130 * 512);
  ASSERT_EQ(disk->ReadSectors(0, 700, 130, back.data()), rc::kOk);
  EXPECT_EQ(back, data);
  EXPECT_EQ(player->ImageBytes(700 * 512, data.size()), data);

  const auto w = Wrappers();
  ASSERT_EQ(w.size(), 6u);
  // Tag 1 went to INQUIRY in SetUp.
  EXPECT_EQ(w[0], Wrapper(2, 64 * 512, 0x00, {0x2A, 0, 0, 0, 0x02, 0xBC, 0, 0, 64, 0}));
  EXPECT_EQ(w[1], Wrapper(3, 64 * 512, 0x00, {0x2A, 0, 0, 0, 0x02, 0xFC, 0, 0, 64, 0}));
  EXPECT_EQ(w[2], Wrapper(4, 2 * 512, 0x00, {0x2A, 0, 0, 0, 0x03, 0x3C, 0, 0, 2, 0}));
  EXPECT_EQ(w[3], Wrapper(5, 64 * 512, 0x80, {0x28, 0, 0, 0, 0x02, 0xBC, 0, 0, 64, 0}));
  EXPECT_EQ(w[5], Wrapper(7, 2 * 512, 0x80, {0x28, 0, 0, 0, 0x03, 0x3C, 0, 0, 2, 0}));
}

TEST_F(PlayerDiskTest, ZeroBlocksSendNothing) {
  uint8_t buffer[512];
  EXPECT_EQ(disk->ReadSectors(0, 0, 0, buffer), rc::kOk);
  EXPECT_EQ(disk->WriteSectors(0, 0, -1, buffer), rc::kOk);
  EXPECT_TRUE(player->log.empty());
}

TEST_F(PlayerDiskTest, DiskInfoReportsTheLastBlocksAddress) {
  PlayerDiskInfo info;
  std::memset(info.model, 'm', sizeof info.model);
  ASSERT_EQ(disk->GetDiskInfo(&info), rc::kOk);
  EXPECT_EQ(info.last_block, 999u);
  EXPECT_EQ(info.model[0], 0);
  EXPECT_EQ(disk->GetDiskInfo(nullptr), rc::kOk);
  EXPECT_EQ(Wrappers().back(), Wrapper(2, 8, 0x80, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Every bad status wrapper fails the command, and nothing after the fault was taken as data.
TEST_F(PlayerDiskTest, StatusWrapperIsExamined) {
  struct Case {
    const char* name;
    bool SimHardDiskPlayer::*fault;
    bool writing;
    Result expected;
  } cases[] = {
      {"failed write", &SimHardDiskPlayer::fail_next_write_status, true, rc::kFail},
      {"wrong tag", &SimHardDiskPlayer::bad_next_status_tag, false, rc::kFail},
      {"wrong signature", &SimHardDiskPlayer::bad_next_status_signature, false, rc::kFail},
      {"short read", &SimHardDiskPlayer::short_next_read, false, rc::kShortTransfer},
      {"status for data", &SimHardDiskPlayer::status_instead_of_next_data, false, rc::kFail},
  };
  const std::vector<uint8_t> data = Pattern(4 * 512, 9);
  for (const Case& c : cases) {
    (*player).*c.fault = true;
    std::vector<uint8_t> buffer = data;
    const Result result = c.writing ? disk->WriteSectors(0, 10, 4, buffer.data())
                                    : disk->ReadSectors(0, 10, 4, buffer.data());
    EXPECT_EQ(result, c.expected) << c.name;
    // The link is still in step: the next command works.
    ASSERT_EQ(disk->WriteSectors(0, 20, 4, data.data()), rc::kOk) << c.name;
  }
  EXPECT_EQ(player->ImageBytes(10 * 512, 512), std::vector<uint8_t>(512, 0));
}

TEST_F(PlayerDiskTest, ShortReadCapacityFails) {
  player->short_next_read = true;
  PlayerDiskInfo info;
  EXPECT_EQ(disk->GetDiskInfo(&info), rc::kShortTransfer);
  EXPECT_EQ(disk->GetDiskInfo(&info), rc::kOk);
}

TEST_F(PlayerDiskTest, ReleaseBusStopsTheUnitThenGivesTheBusBack) {
  player->bad_next_status_tag = true;  // the stop fails
  EXPECT_EQ(disk->ReleaseBus(), rc::kOk);
  EXPECT_FALSE(player->bus_held);
  EXPECT_EQ(Wrappers().back(), Wrapper(2, 0, 0x00, {0x1B, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(player->fx2_commands.back(), 2);
}

TEST_F(PlayerDiskTest, BlockProtocolProductRefusesBusCommandsWithoutTransfers) {
  SimHardDiskUsb other(player, PlayerDisk::kBlockProtocolProduct);
  usb->Close();
  ASSERT_EQ(other.Open(), rc::kOk);
  std::unique_ptr<PlayerDisk> odd;
  ASSERT_EQ(PlayerDisk::Create(&other, &odd, &clock), rc::kOk);
  ASSERT_EQ(odd->Identify(), rc::kOk);
  EXPECT_EQ(odd->AcquireBus(), rc::kFail);
  EXPECT_EQ(odd->ReleaseBus(), rc::kFail);
  EXPECT_EQ(odd->SendCommand3(), rc::kFail);
  EXPECT_TRUE(player->log.empty());
}

TEST(PlayerDiskBusTest, DiskIoWithoutTheBusIsRefusedByThePlayer) {
  auto player = std::make_shared<SimHardDiskPlayer>(100);
  player->require_bus_for_io = true;
  SimHardDiskUsb usb(player);
  ASSERT_EQ(usb.Open(), rc::kOk);
  ManualFx2Clock clock;
  std::unique_ptr<PlayerDisk> disk;
  ASSERT_EQ(PlayerDisk::Create(&usb, &disk, &clock), rc::kOk);
  uint8_t sector[512] = {1};
  // The player refuses (which the simulator reports as a test failure); the status says so.
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    EXPECT_EQ(disk->WriteSectors(0, 1, 1, sector), rc::kFail);
  }
  EXPECT_EQ(failures.size(), 1);
  EXPECT_EQ(player->sectors_written, 0u);
}

}  // namespace
