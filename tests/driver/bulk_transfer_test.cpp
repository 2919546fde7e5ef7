// Reads and writes: staged transfers over partial MDLs of the caller's buffer.
#include <numeric>

#include "driver/driver_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Field;

constexpr ULONG kStage = 0x40000;

class BulkTransferTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    StartPlayer();
    read_pipe_ = Open(L"\\PIPE00");
    write_pipe_ = Open(L"\\PIPE01");
  }
  void TearDown() override {
    if (read_pipe_) host_->Close(std::move(read_pipe_));
    if (write_pipe_) host_->Close(std::move(write_pipe_));
    DriverFixture::TearDown();
  }

  std::vector<ULONG> StageLengths() {
    std::vector<ULONG> lengths;
    for (const auto& transfer : bus_->Transfers()) lengths.push_back(transfer.length);
    return lengths;
  }

  std::unique_ptr<File> read_pipe_;
  std::unique_ptr<File> write_pipe_;
};

TEST_F(BulkTransferTest, LongReadGoesInStagesOfAtMost256KiB) {
  std::vector<uint8_t> buffer(0x50000, 0xEE);
  std::vector<uint8_t> first(kStage), second(0x10000);
  std::iota(first.begin(), first.end(), uint8_t{1});
  std::iota(second.begin(), second.end(), uint8_t{7});
  bus_->QueueReply(0, {first});
  bus_->QueueReply(0, {second});
  auto read = host_->Read(read_pipe_.get(), buffer.data(), 0x50000);
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  EXPECT_EQ(read->information(), 0x50000u);
  EXPECT_THAT(StageLengths(), ElementsAre(kStage, 0x10000u));
  for (const auto& transfer : bus_->Transfers()) {
    EXPECT_EQ(transfer.flags, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
  }
  EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer.begin()));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), buffer.begin() + kStage));
}

TEST_F(BulkTransferTest, AShortStageEndsTheRead) {
  std::vector<uint8_t> buffer(0x50000);
  bus_->QueueReply(0, {std::vector<uint8_t>(100, 0x42)});
  auto read = host_->Read(read_pipe_.get(), buffer.data(), 0x50000);
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  EXPECT_EQ(read->information(), 100u);
  EXPECT_THAT(StageLengths(), ElementsAre(kStage));
}

TEST_F(BulkTransferTest, AFailedLaterStageFailsTheWholeRead) {
  std::vector<uint8_t> buffer(0x50000);
  bus_->QueueReply(0, {std::vector<uint8_t>(kStage)});
  FakeUsbBus::Reply failure;
  failure.status = STATUS_UNSUCCESSFUL;
  bus_->QueueReply(0, failure);
  auto read = host_->Read(read_pipe_.get(), buffer.data(), 0x50000);
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(read->information(), 0u);
}

TEST_F(BulkTransferTest, WriteSendsTheCallersBytesOnItsPipe) {
  std::vector<uint8_t> data(kStage + 5);
  std::iota(data.begin(), data.end(), uint8_t{3});
  auto write = host_->Write(write_pipe_.get(), data.data(), static_cast<ULONG>(data.size()));
  ASSERT_TRUE(write->Wait());
  EXPECT_EQ(write->status(), STATUS_SUCCESS);
  EXPECT_EQ(write->information(), data.size());
  EXPECT_EQ(bus_->Written(1), data);
  EXPECT_THAT(StageLengths(), ElementsAre(kStage, 5u));
  EXPECT_EQ(bus_->Transfers()[0].flags, USBD_SHORT_TRANSFER_OK);
}

TEST_F(BulkTransferTest, ZeroBytesCompleteAtOnceWithoutTheBus) {
  auto read = host_->Read(read_pipe_.get(), nullptr, 0);
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  EXPECT_EQ(read->information(), 0u);
  EXPECT_TRUE(bus_->Transfers().empty());
}

TEST_F(BulkTransferTest, ADeviceHandleHasNoPipe) {
  EXPECT_EQ(OneByteOn(L"", false), STATUS_INVALID_HANDLE);
}

TEST_F(BulkTransferTest, AFailedFirstSubmissionResetsThePipeThenChecksThePort) {
  FakeUsbBus::Reply failure;
  failure.status = STATUS_UNSUCCESSFUL;
  bus_->QueueReply(0, failure);
  uint8_t buffer[64];
  auto read = host_->Read(read_pipe_.get(), buffer, sizeof(buffer));
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_UNSUCCESSFUL);
  EXPECT_THAT(bus_->PipeRequests(),
              ElementsAre(std::make_pair(USHORT{URB_FUNCTION_RESET_PIPE}, 0)));
  EXPECT_EQ(bus_->port_resets, 0);

  // A pipe that cannot be reset: the port is checked, and reset when it is not enabled.
  bus_->reset_pipe_status = STATUS_UNSUCCESSFUL;
  bus_->port_status = USBD_PORT_CONNECTED;
  bus_->QueueReply(0, failure);
  read = host_->Read(read_pipe_.get(), buffer, sizeof(buffer));
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(bus_->port_resets, 1);
}

TEST_F(BulkTransferTest, AGoneDeviceGetsNoPipeReset) {
  bus_->unplugged = true;
  uint8_t buffer[64];
  auto read = host_->Read(read_pipe_.get(), buffer, sizeof(buffer));
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_DEVICE_NOT_CONNECTED);
  EXPECT_TRUE(bus_->PipeRequests().empty());
  bus_->unplugged = false;
}

TEST_F(BulkTransferTest, CancellingAHeldReadEndsIt) {
  FakeUsbBus::Reply hold;
  hold.hold = true;
  bus_->QueueReply(0, hold);
  uint8_t buffer[64];
  auto read = host_->Read(read_pipe_.get(), buffer, sizeof(buffer));
  ASSERT_TRUE(bus_->WaitForHeld(1, 5000));
  EXPECT_FALSE(read->Wait(50));
  read->Cancel();
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_CANCELLED);
  EXPECT_EQ(read->information(), 0u);
}

class SinglePipeModeTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    ksub::SetRegistryValue(bus_->pdo(), L"VeltoStylePipes", 4, {1, 0, 0, 0});
    StartPlayer();
  }
};

TEST_F(SinglePipeModeTest, ReadsUseTheFirstPipeAndWritesTheSecond) {
  auto file = Open(L"\\PIPE00");
  uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  auto write = host_->Write(file.get(), data, sizeof(data));
  ASSERT_TRUE(write->Wait());
  EXPECT_EQ(write->status(), STATUS_SUCCESS);
  EXPECT_EQ(bus_->Written(1), std::vector<uint8_t>(data, data + 10));
  auto read = host_->Read(file.get(), data, sizeof(data));
  ASSERT_TRUE(read->Wait());
  EXPECT_EQ(read->status(), STATUS_SUCCESS);
  EXPECT_THAT(bus_->Transfers(), ElementsAre(Field(&FakeUsbBus::Transfer::pipe, 1),
                                             Field(&FakeUsbBus::Transfer::pipe, 0)));
  host_->Close(std::move(file));
}

class OnePipeTest : public DriverFixture {
 protected:
  OnePipeTest() : DriverFixture({{0x81, 2, 64}}) {}
};

TEST_F(OnePipeTest, ASinglePipeInterfaceCannotBeWrittenInSinglePipeMode) {
  ksub::SetRegistryValue(bus_->pdo(), L"VeltoStylePipes", 1, {});
  StartPlayer();
  EXPECT_EQ(OneByteOn(L"\\PIPE00", true), STATUS_INVALID_HANDLE);
}

class InterruptPipeTest : public DriverFixture {
 protected:
  InterruptPipeTest() : DriverFixture({{0x81, 3, 8}}) {}
};

TEST_F(InterruptPipeTest, OnlyBulkPipesTransfer) {
  StartPlayer();
  EXPECT_EQ(OneByteOn(L"\\PIPE00", false), STATUS_INVALID_HANDLE);
}

}  // namespace
