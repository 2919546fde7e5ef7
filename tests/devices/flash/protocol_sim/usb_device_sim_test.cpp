// A USB device over a simulated flash player: channels open on a clone of the device's
// transport, and a player that is not ready leaves nothing open behind.
#include <gtest/gtest.h>

#include <memory>

#include "devices/channel_factory.h"
#include "devices/device_results.h"
#include "devices/flash/protocol_sim/sardane_fixture.h"
#include "devices/usb/usb_device.h"
#include "sim/flash/flash_player_a.h"

namespace {

FakeClock* g_clock = nullptr;

Result CreateTestFamily(UsbHardware* transport, uint32_t product_id, Channel** out) {
  *out = new TestFamily(transport, product_id, g_clock);
  return rc::kOk;
}

const ChannelFactoryRow kRows[] = {{0x5003, CreateTestFamily}};

class UsbDeviceSimTest : public ::testing::Test {
 protected:
  UsbDeviceSimTest() {
    g_clock = &clock;
    EXPECT_EQ(rc::kOk, UsbDevice::Create(new SimUsbHardware(player, 0x5003), &device, &factory));
  }
  ~UsbDeviceSimTest() override { g_clock = nullptr; }

  FakeClock clock;
  std::shared_ptr<SimFlashPlayer> player = std::make_shared<SimFlashPlayer>();
  ChannelFactory factory{kRows, 1};
  RefPtr<Device> device;
};

TEST_F(UsbDeviceSimTest, ReadyPlayerGivesAChannelHoldingTheOnlyOpenTransport) {
  Channel* opened = nullptr;
  ASSERT_EQ(rc::kOk, device->OpenChannel(&opened));
  std::unique_ptr<Channel> channel(opened);
  EXPECT_EQ(1, player->holders);
  EXPECT_FALSE(static_cast<SimUsbHardware*>(device->GetHardware())->is_open());

  // The player is held by the channel: a second one is refused, and so is the state query.
  Channel* second = nullptr;
  EXPECT_EQ(rc::kPlayerBusy, device->OpenChannel(&second));
  EXPECT_EQ(nullptr, second);
  EXPECT_EQ(1, player->holders);

  channel.reset();
  EXPECT_EQ(0, player->holders);
  EXPECT_EQ(kStateReady, device->GetState());
  EXPECT_EQ(0, player->holders);
}

TEST_F(UsbDeviceSimTest, PlayerNotReadyLeavesNoChannelAndNoOpenTransport) {
  struct Case {
    const char* name;
    uint32_t status_word;
    int unplug_after_calls;
  } cases[] = {
      {"not usable", 0x00000F01, -1},
      {"gone after open", 0x00000001, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    player->status_word = c.status_word;
    player->unplug_after_calls = c.unplug_after_calls;
    player->unplugged = false;
    Channel* channel = reinterpret_cast<Channel*>(1);
    EXPECT_EQ(rc::kPlayerNotReady, device->OpenChannel(&channel));
    EXPECT_EQ(nullptr, channel);
    EXPECT_EQ(0, player->holders);
    EXPECT_EQ(0, player->lock_depth);
  }
}

TEST_F(UsbDeviceSimTest, UnpluggedPlayerFailsToOpen) {
  player->unplugged = true;
  Channel* channel = nullptr;
  EXPECT_TRUE(rc::Failed(device->OpenChannel(&channel)));
  EXPECT_EQ(nullptr, channel);
  EXPECT_EQ(0, player->holders);
  EXPECT_EQ(kStateGone, device->GetState());
}

// The players' own table builds each family that is in the build over the same player.
TEST(ChannelFactorySimTest, BuiltFamiliesOpenOnAReadyPlayerAndRefuseAnUnusableOne) {
  const uint32_t ids[] = {0x5003, 0x5005, 0x501C, 0x5202};
  for (uint32_t id : ids) {
    SCOPED_TRACE(id);
    const ChannelFactoryRow* row = ChannelFactory::Default().Find(id);
    ASSERT_NE(nullptr, row);
    if (row->create == nullptr) continue;
    // Family A also asks request 118, which only its own simulated player answers.
    std::shared_ptr<SimFlashPlayer> player = id == 0x5202
                                                 ? std::make_shared<SimFlashPlayerA>()
                                                 : std::make_shared<SimFlashPlayer>();
    RefPtr<Device> device;
    ASSERT_EQ(rc::kOk, UsbDevice::Create(new SimUsbHardware(player, id), &device));
    Channel* opened = nullptr;
    ASSERT_EQ(rc::kOk, device->OpenChannel(&opened));
    std::unique_ptr<Channel> channel(opened);
    EXPECT_EQ(1, player->holders);
    channel.reset();
    EXPECT_EQ(0, player->holders);

    player->status_word = 0x00000F01;
    EXPECT_EQ(rc::kPlayerNotReady, device->OpenChannel(&opened));
    EXPECT_EQ(0, player->holders);
  }
}

}  // namespace
