#include "devices/usb/usb_device.h"

#include <gtest/gtest.h>

#include <memory>

#include "devices/channel_factory.h"
#include "devices/device_results.h"
#include "devices/usb/win32_usb_hardware.h"
#include "media/property_set.h"
#include "testlib/counting_usb_hardware.h"
#include "testlib/fake_win32_usb_api.h"
#include "testlib/owning_fake_channel.h"

namespace {

const ChannelFactoryRow kRows[] = {{0x5003, CreateOwningFakeChannel}};

class UsbDeviceTest : public ::testing::Test {
 protected:
  UsbDeviceTest() {
    FakeChannelNext() = FakeChannelScript();
    transport = new CountingUsbHardware(counts, "\\\\?\\usb#vid_1&pid_5003", 0x5003);
    EXPECT_EQ(rc::kOk, UsbDevice::Create(transport, &device, &factory));
  }

  std::shared_ptr<TransportCounts> counts = std::make_shared<TransportCounts>();
  ChannelFactory factory{kRows, 1};
  CountingUsbHardware* transport = nullptr;
  RefPtr<Device> device;
};

TEST_F(UsbDeviceTest, OwnsItsTransportUntilTheLastReference) {
  EXPECT_EQ(1, device->RefCount());
  EXPECT_EQ(transport, device->GetHardware());
  device = nullptr;
  EXPECT_EQ(0, counts->alive);
}

TEST_F(UsbDeviceTest, ChannelWorksOnAnOpenedCloneNeverOnTheDevicesTransport) {
  Channel* channel = nullptr;
  ASSERT_EQ(rc::kOk, device->OpenChannel(&channel));
  std::unique_ptr<Channel> owned(channel);
  UsbHardware* channel_transport = static_cast<OwningFakeChannel*>(channel)->transport();
  EXPECT_NE(transport, channel_transport);
  EXPECT_TRUE(static_cast<CountingUsbHardware*>(channel_transport)->is_open());
  EXPECT_FALSE(transport->is_open());
  EXPECT_EQ(0x5003u, FakeChannelNext().product_id);
  EXPECT_EQ(2, counts->alive);
  owned.reset();
  EXPECT_EQ(1, counts->alive);
  EXPECT_EQ(0, counts->open);
}

// Each failure on the way to a channel leaves no channel, no clone and nothing open.
TEST_F(UsbDeviceTest, FailedOpenLeavesNothingBehind) {
  struct Case {
    const char* name;
    Result open, product_id;
    bool clone_fails;
    int32_t channel_state;
    Result expected;
  } cases[] = {
      {"busy", rc::kWin32Busy, 0, false, kStateReady, rc::kWin32Busy},
      {"unplugged", rc::FromWin32(2), 0, false, kStateReady, rc::FromWin32(2)},
      {"no product id", 0, rc::kNoDeviceDescriptor, false, kStateReady, rc::kNoDeviceDescriptor},
      {"no memory for the clone", 0, 0, true, kStateReady, rc::kOutOfMemory},
      {"player not ready", 0, 0, false, kStateNotUsable, rc::kPlayerNotReady},
      {"player in error", 0, 0, false, kStateError, rc::kPlayerNotReady},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    counts->open_result = c.open;
    counts->product_id_result = c.product_id;
    counts->clone_fails = c.clone_fails;
    FakeChannelNext().state = c.channel_state;
    Channel* channel = reinterpret_cast<Channel*>(1);
    EXPECT_EQ(c.expected, device->OpenChannel(&channel));
    EXPECT_EQ(nullptr, channel);
    EXPECT_EQ(1, counts->alive);
    EXPECT_EQ(0, counts->open);
  }
}

TEST_F(UsbDeviceTest, StateComesFromAShortLivedChannel) {
  FakeChannelNext().state = kStateReady;
  EXPECT_EQ(kStateReady, device->GetState());
  EXPECT_EQ(1, counts->alive);
  EXPECT_EQ(0, counts->open);

  FakeChannelNext().state = kStateNotUsable;  // the factory refuses it: not ready
  EXPECT_EQ(kStateGone, device->GetState());

  counts->open_result = rc::kWin32Busy;
  EXPECT_EQ(kStateError, device->GetState());
  EXPECT_EQ(1, counts->alive);
}

TEST_F(UsbDeviceTest, ProductWithoutChannelClassIsRefused) {
  RefPtr<Device> other;
  ASSERT_EQ(rc::kOk,
            UsbDevice::Create(new CountingUsbHardware(counts, "q", 0x501B), &other, &factory));
  Channel* channel = nullptr;
  EXPECT_EQ(rc::kUnknownProduct, other->OpenChannel(&channel));
  EXPECT_EQ(nullptr, channel);
  EXPECT_EQ(2, counts->alive);
  EXPECT_EQ(0, counts->open);
}

TEST_F(UsbDeviceTest, PropertiesSayUsb) {
  RefPtr<PropertySet> properties;
  ASSERT_EQ(rc::kOk, device->GetProperties(&properties));
  ASSERT_TRUE(properties);
  EXPECT_EQ("usb", properties->GetString("connection_type"));
  EXPECT_EQ(rc::kNotImplemented, device->SetDescription("secret"));
  uint32_t product_id = 0;
  EXPECT_EQ(rc::kOk, device->GetProductId(&product_id));
  EXPECT_EQ(0x5003u, product_id);
}

TEST(UsbDeviceWin32Test, NamesComeFromTheDevicePath) {
  FakeWin32UsbApi api;
  const std::string path = "\\\\?\\usb#vid_0e21&pid_5210#6&1a2b#{guid}";
  RefPtr<Device> device;
  ASSERT_EQ(rc::kOk, UsbDevice::Create(new Win32UsbHardware(path, 0x5210, &api), &device));
  std::string text;
  ASSERT_EQ(rc::kOk, device->GetUniqueId(&text));
  EXPECT_EQ("QelDeviceUsb:Win32@" + path, text);
  ASSERT_EQ(rc::kOk, device->GetCanonicalName(&text));
  EXPECT_EQ(path, text);
  EXPECT_TRUE(api.opened.empty());  // listing a player never opens it
}

}  // namespace
