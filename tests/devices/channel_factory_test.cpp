#include "devices/channel_factory.h"

#include <gtest/gtest.h>

#include <memory>

#include "devices/device_results.h"
#include "testlib/counting_usb_hardware.h"
#include "testlib/owning_fake_channel.h"

namespace {

const ChannelFactoryRow kRows[] = {{0x5003, CreateOwningFakeChannel}, {0x5220, nullptr}};

class ChannelFactoryTest : public ::testing::Test {
 protected:
  ChannelFactoryTest() { FakeChannelNext() = FakeChannelScript(); }

  // An open transport, as the device hands it over.
  UsbHardware* OpenTransport(uint32_t product_id) {
    auto* transport = new CountingUsbHardware(counts, "\\\\?\\usb#p", product_id);
    EXPECT_EQ(rc::kOk, transport->Open());
    return transport;
  }

  std::shared_ptr<TransportCounts> counts = std::make_shared<TransportCounts>();
  ChannelFactory factory{kRows, 2};
};

TEST_F(ChannelFactoryTest, ReadyChannelIsHandedOutWithTheTransportAndProductId) {
  UsbHardware* transport = OpenTransport(0x5003);
  Channel* channel = nullptr;
  ASSERT_EQ(rc::kOk, factory.Create(0x5003, transport, &channel));
  ASSERT_NE(nullptr, channel);
  EXPECT_EQ(transport, static_cast<OwningFakeChannel*>(channel)->transport());
  EXPECT_EQ(0x5003u, FakeChannelNext().product_id);
  EXPECT_EQ(1, counts->open);
  delete channel;
  EXPECT_EQ(0, counts->alive);
}

TEST_F(ChannelFactoryTest, ChannelNotReadyIsDeletedWithItsTransport) {
  for (int32_t state : {kStateGone, kStateError, kStateNotUsable}) {
    SCOPED_TRACE(state);
    FakeChannelNext().state = state;
    Channel* channel = reinterpret_cast<Channel*>(1);
    EXPECT_EQ(rc::kPlayerNotReady, factory.Create(0x5003, OpenTransport(0x5003), &channel));
    EXPECT_EQ(nullptr, channel);
    EXPECT_EQ(0, counts->alive);
    EXPECT_EQ(0, counts->open);
  }
}

TEST_F(ChannelFactoryTest, CreatorFailureIsReturned) {
  FakeChannelNext().result = rc::kOutOfMemory;
  Channel* channel = nullptr;
  EXPECT_EQ(rc::kOutOfMemory, factory.Create(0x5003, OpenTransport(0x5003), &channel));
  EXPECT_EQ(nullptr, channel);
  EXPECT_EQ(0, counts->alive);
}

// An id without a row and a row without a creator (a family not in this build) look alike.
TEST_F(ChannelFactoryTest, UnknownProductClosesAndDeletesTheTransport) {
  for (uint32_t id : {0x5220u, 0x501Bu, 0x0000u, 0xFFF1u}) {
    SCOPED_TRACE(id);
    Channel* channel = nullptr;
    EXPECT_EQ(rc::kUnknownProduct, factory.Create(id, OpenTransport(id), &channel));
    EXPECT_EQ(nullptr, channel);
    EXPECT_EQ(0, counts->alive);
    EXPECT_EQ(0, counts->open);
  }
  EXPECT_EQ(0, FakeChannelNext().created);
}

TEST(ChannelFactoryTableTest, PlayersTableHasEveryPlayerIdAndNoOther) {
  const uint32_t players[] = {0x5001, 0x5002, 0x5003, 0x5008, 0x5005, 0x5006, 0x5007, 0x5009,
                              0x500C, 0x500D, 0x500E, 0x500F, 0x5010, 0x501D, 0x501E, 0x501F,
                              0x501C, 0x5202, 0x5801, 0x5220, 0x5221, 0x5210};
  const ChannelFactory& table = ChannelFactory::Default();
  for (uint32_t id : players) EXPECT_NE(nullptr, table.Find(id)) << std::hex << id;
  for (uint32_t id : {0x5004u, 0x500Au, 0x500Bu, 0x501Bu, 0x5011u, 0x5041u, 0x5200u, 0xFFF0u})
    EXPECT_EQ(nullptr, table.Find(id)) << std::hex << id;
}

TEST(ChannelFactoryTableTest, FlashFamilyBIdsHaveAChannelClass) {
  for (uint32_t id : {0x5220u, 0x5221u}) {
    const ChannelFactoryRow* row = ChannelFactory::Default().Find(id);
    ASSERT_NE(nullptr, row) << std::hex << id;
    EXPECT_NE(nullptr, row->create) << std::hex << id;
  }
}

// The players' own table answers 0xC004901C for ids that have no channel class.
TEST(ChannelFactoryTableTest, PlayersTableRejectsUnknownAndUnbuiltIds) {
  auto counts = std::make_shared<TransportCounts>();
  for (uint32_t id : {0x501Bu, 0x5210u}) {
    SCOPED_TRACE(id);
    const ChannelFactoryRow* row = ChannelFactory::Default().Find(id);
    if (row != nullptr && row->create != nullptr) continue;  // built in since
    auto* transport = new CountingUsbHardware(counts, "p", id);
    ASSERT_EQ(rc::kOk, transport->Open());
    Channel* channel = nullptr;
    EXPECT_EQ(rc::kUnknownProduct, ChannelFactory::Default().Create(id, transport, &channel));
    EXPECT_EQ(nullptr, channel);
    EXPECT_EQ(0, counts->alive);
  }
}

}  // namespace
