#include "wmdm/enumerator_device_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/usb/win32_usb_hardware.h"
#include "testlib/fake_usb_interface_source.h"
#include "testlib/fake_win32_usb_api.h"

namespace {

class NoDrives : public MassStorageSource {
 public:
  Result ListDrives(std::vector<MassStorageDrive>* drives) override {
    ++listings;
    drives->clear();
    return rc::kOk;
  }
  int listings = 0;
};

// The driver answers the device descriptor with product id `id`.
void AnswerDescriptor(FakeWin32UsbApi& api, uint16_t id) {
  api.on_ioctl = [id](const FakeWin32UsbApi::IoctlCall& call, uint8_t* out) {
    if (call.code != MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR)
      return FakeWin32UsbApi::Fail(ERROR_INVALID_FUNCTION);
    std::memset(out, 0, call.out_size);
    out[10] = static_cast<uint8_t>(id);
    out[11] = static_cast<uint8_t>(id >> 8);
    return FakeWin32UsbApi::Done(call.out_size);
  };
}

class EnumeratorDeviceSourceTest : public ::testing::Test {
 protected:
  std::shared_ptr<TransportCounts> counts = std::make_shared<TransportCounts>();
  FakeUsbInterfaceSource usb{counts};
  NoDrives drives;
  FakeWin32UsbApi api;
  EnumeratorDeviceSource source{&usb, &drives, &api};
};

TEST_F(EnumeratorDeviceSourceTest, AppendsThePlayersOfOneIdInOrder) {
  usb.paths[0x5210] = {"hd1", "hd2"};
  usb.paths[0x5003] = {"flash"};
  std::vector<RefPtr<Device>> found;
  EXPECT_EQ(rc::kOk, source.Enumerate(0x5003, &found));
  EXPECT_EQ(rc::kOk, source.Enumerate(0x5210, &found));
  ASSERT_EQ(3u, found.size());
  const char* expected[] = {"flash", "hd1", "hd2"};
  for (size_t i = 0; i < found.size(); ++i) {
    std::string path;
    EXPECT_EQ(rc::kOk, found[i]->GetCanonicalName(&path));
    EXPECT_EQ(expected[i], path);
    EXPECT_EQ(1, found[i]->RefCount());  // the list holds the only reference
  }
  EXPECT_EQ(0, drives.listings);  // USB players' own ids have no drives
  EXPECT_EQ(0, counts->opens);
  found.clear();
  EXPECT_EQ(0, counts->alive);
}

TEST_F(EnumeratorDeviceSourceTest, FailingUsbWalkStillListsNothingAndSucceeds) {
  usb.failing[0x5210] = rc::FromWin32(ERROR_ACCESS_DENIED);
  std::vector<RefPtr<Device>> found;
  EXPECT_EQ(rc::kOk, source.Enumerate(0x5210, &found));
  EXPECT_TRUE(found.empty());
}

// Without a USB source of its own the source reaches the driver through the Win32 functions.
class SystemUsbPathTest : public ::testing::Test {
 protected:
  NoDrives drives;
  FakeWin32UsbApi api;
  EnumeratorDeviceSource source{nullptr, &drives, &api};
};

TEST_F(SystemUsbPathTest, OpensAPathAsAUsbDeviceOfTheDriversProductId) {
  const std::string path = "\\\\?\\usb#vid_0e21&pid_5202#1#{x}";
  AnswerDescriptor(api, 0x5202);
  RefPtr<Device> device;
  ASSERT_EQ(rc::kOk, source.OpenUsbPath(path, &device));
  ASSERT_TRUE(device);
  uint32_t product_id = 0;
  EXPECT_EQ(rc::kOk, device->GetProductId(&product_id));
  EXPECT_EQ(0x5202u, product_id);
  std::string id;
  EXPECT_EQ(rc::kOk, device->GetUniqueId(&id));
  EXPECT_EQ("QelDeviceUsb:Win32@" + path, id);
  EXPECT_EQ(0u, api.OpenHandleCount());  // the descriptor read closed what it opened
}

// Plug and play names the player by its interface path, "$" and a number. Opened as it is,
// the driver would take the trailing digit for pipe 0; the device and its pipes are opened
// from the interface path, and the player is the same one the enumerator lists.
TEST_F(SystemUsbPathTest, PlugAndPlayNameOpensTheInterfacePath) {
  const std::string interface_path = "\\\\?\\usb#vid_0e21&pid_5202#1#{x}";
  AnswerDescriptor(api, 0x5202);
  for (const char* suffix : {"$0", "$17"}) {
    SCOPED_TRACE(suffix);
    api.opened.clear();
    RefPtr<Device> device;
    ASSERT_EQ(rc::kOk, source.OpenUsbPath(interface_path + suffix, &device));
    std::string canonical;
    EXPECT_EQ(rc::kOk, device->GetCanonicalName(&canonical));
    EXPECT_EQ(interface_path, canonical);
    ASSERT_EQ(1u, api.opened.size());
    EXPECT_EQ(interface_path, api.opened[0]);
  }
}

TEST_F(SystemUsbPathTest, PathThatDoesNotOpenGivesTheTransportsFailure) {
  api.open_errors["\\\\?\\usb#gone"] = ERROR_FILE_NOT_FOUND;
  RefPtr<Device> device;
  EXPECT_EQ(rc::FromWin32(ERROR_FILE_NOT_FOUND), source.OpenUsbPath("\\\\?\\usb#gone$0", &device));
  EXPECT_FALSE(device);
  EXPECT_EQ(0u, api.OpenHandleCount());
}

// A source of its own makes the transport of a path, as it does for the players it lists.
TEST_F(EnumeratorDeviceSourceTest, OpensAPathThroughItsOwnUsbSource) {
  usb.product_ids["flash"] = 0x5003;
  RefPtr<Device> device;
  ASSERT_EQ(rc::kOk, source.OpenUsbPath("flash$3", &device));
  uint32_t product_id = 0;
  EXPECT_EQ(rc::kOk, device->GetProductId(&product_id));
  EXPECT_EQ(0x5003u, product_id);
  EXPECT_EQ(std::vector<std::string>{"flash"}, usb.read_paths);
  EXPECT_EQ(1, counts->alive);
  EXPECT_EQ(rc::FromWin32(ERROR_FILE_NOT_FOUND), source.OpenUsbPath("other$0", &device));
  EXPECT_FALSE(device);
  EXPECT_EQ(0, counts->alive);
}

TEST(EnumeratorDeviceSourceDefaultTest, ProcessSourceIsTheEnumerator) {
  EXPECT_NE(nullptr, dynamic_cast<EnumeratorDeviceSource*>(GetDeviceSource()));
}

}  // namespace
