// A WMDM application listing devices while a mass-storage player sits on M:, the host folder
// that the test prefix shows as a removable drive: the provider finds it through the drive
// walk of the system's drives and answers for it from the player's identification.
#include <gtest/gtest.h>

#include "devices/msc/msc_drive_source.h"
#include "m_drive_player.h"
#include "sim/msc/sim_msc_player.h"
#include "wmdm/enumerator_device_source.h"
#include "wmdm/provider/wmdm_host.h"

namespace {

constexpr char kRoot[] = "M:\\";

class MscListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetDriveTypeA(kRoot), static_cast<UINT>(DRIVE_REMOVABLE))
        << "the test prefix has no removable drive M: (scripts/lib/wine_env.sh maps it)";
    PutPlayerOnDriveM(&io_, player_);
    player_->vendor = "Qel";
    player_->product = "Qel MS 20";
    previous_ = SetDeviceSourceForTesting(&system_);
  }
  void TearDown() override { SetDeviceSourceForTesting(previous_); }

  // Standard INQUIRY commands: one per drive per walk.
  size_t Walks() const {
    size_t count = 0;
    for (const std::string& line : io_.log) count += line == "M: INQUIRY";
    return count;
  }

  SimVolumeIo io_;
  std::shared_ptr<SimMscPlayer> player_ = std::make_shared<SimMscPlayer>();
  MscEnvironment environment_ = [this] {
    MscEnvironment environment;
    environment.volume_io = &io_;
    return environment;
  }();
  MscDriveSource drives_{environment_};
  EnumeratorDeviceSource system_{nullptr, &drives_};
  DeviceSource* previous_ = nullptr;
};

TEST_F(MscListingTest, PlayerOnARemovableDriveIsListedOnce) {
  {
    WmdmHost host;
    ASSERT_EQ(host.Load(), S_OK);
    std::vector<IMDSPDevice*> devices;
    ASSERT_EQ(host.ListDevices(&devices), S_OK);
    ASSERT_EQ(devices.size(), 1u);
    const DeviceReport report = WmdmHost::Describe(devices[0]);
    EXPECT_EQ(report.name, L"Qel MS 20");
    EXPECT_EQ(report.manufacturer, L"Qel");
    EXPECT_EQ(report.results.at("GetName"), S_OK);
    EXPECT_EQ(Walks(), 1u);  // one drive walk for the whole listing
  }
  EXPECT_EQ(io_.OpenHandleCount(), 0u);
}

TEST_F(MscListingTest, ListingOfManyProductIdsWalksTheDrivesOnce) {
  std::vector<RefPtr<Device>> found;
  EXPECT_EQ(system_.EnumerateProducts({0x5041, 0x503D, 0x5041, 0xFFF0}, &found), rc::kOk);
  EXPECT_EQ(Walks(), 1u);
  ASSERT_EQ(found.size(), 3u);  // the same player for each id that asks for it
  uint32_t product_id = 0;
  EXPECT_EQ(found[0]->GetProductId(&product_id), rc::kOk);
  EXPECT_EQ(product_id, 0x5041u);
  found.clear();
  EXPECT_EQ(system_.EnumerateProducts({0x5041}, &found), rc::kOk);
  EXPECT_EQ(Walks(), 2u);  // a new listing looks again
  EXPECT_EQ(found.size(), 1u);
}

TEST_F(MscListingTest, GoneDriveIsNotListed) {
  io_.drives['M'].gone = true;
  WmdmHost host;
  ASSERT_EQ(host.Load(), S_OK);
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(host.ListDevices(&devices), S_OK);
  EXPECT_TRUE(devices.empty());
}

}  // namespace
