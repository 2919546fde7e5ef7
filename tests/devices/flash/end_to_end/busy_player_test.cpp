// A player busy with another operation (an upload from another WMDM session of this process,
// another program holding it) stays in a second session's device list: the provider waits for
// it within the ready time-out, then lists it from what this process knows. A busy player
// that nothing is known of is left out.
#include <algorithm>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/flash/end_to_end_audio.h"
#include "devices/flash/end_to_end/end_to_end_fixture.h"
#include "sim/flash/sim_usb_hardware.h"

namespace {

constexpr uint64_t kReadyTimeoutMs = 5000;

std::vector<std::wstring> Names(const std::vector<IMDSPDevice*>& devices) {
  std::vector<std::wstring> names;
  for (IMDSPDevice* device : devices) names.push_back(WmdmHost::NameOf(device));
  return names;
}

class BusyPlayerTest : public EndToEndTest {
 protected:
  // The family D player's devices as a second WMDM session of this process finds them on the
  // plug and play road; the time the provider waited in *waited_ms.
  std::vector<IMDSPDevice*> ListInSecondSession(WmdmHost& session, uint64_t* waited_ms) {
    EXPECT_EQ(S_OK, session.LoadRegistered(seams_));
    const uint64_t slept = listing_clock_.TotalSlept();
    std::vector<IMDSPDevice*> devices;
    EXPECT_EQ(S_OK, session.CreateDevices(PnpNamesOf(UsbPath(kFamilyD, 1)), &devices));
    *waited_ms = listing_clock_.TotalSlept() - slept;
    return devices;
  }

  const std::vector<std::wstring> kFamilyDNames = {L"Pavo Sim Internal", L"Pavo Sim Card"};
};

TEST_F(BusyPlayerTest, AnUploadOnItsOtherStorageLeavesThePlayerListed) {
  const std::vector<IMDSPDevice*> first = DevicesOf(UsbPath(kFamilyD, 1));
  const std::string bytes = Bytes(Audio("Road_Song.mp3"));
  ComRef<IMDSPObject> upload;
  ASSERT_EQ(S_OK, BeginUpload(DeviceNamed(first, L"Pavo Sim Card"), L"Road_Song.mp3",
                              bytes.size(), &upload));
  ASSERT_EQ(1, family_d_->holders);

  WmdmHost second;
  uint64_t waited = 0;
  const std::vector<IMDSPDevice*> listed = ListInSecondSession(second, &waited);
  EXPECT_EQ(kFamilyDNames, Names(listed));
  EXPECT_EQ(kReadyTimeoutMs, waited);
  ASSERT_EQ(2u, listed.size());
  EXPECT_EQ(std::vector<std::wstring>{L"Old_Song.mp3"}, TrackNames(listed[0]));
  // The enumeration road lists it too, and both devices of the player.
  std::vector<IMDSPDevice*> enumerated;
  ASSERT_EQ(S_OK, second.ListDevices(&enumerated));
  EXPECT_EQ(2, std::count_if(enumerated.begin(), enumerated.end(), [](IMDSPDevice* device) {
              return WmdmHost::NameOf(device).rfind(L"Pavo Sim ", 0) == 0;
            }));

  // When the upload ends, the devices listed from what was known reach the player.
  DWORD size = static_cast<DWORD>(bytes.size());
  std::string writable = bytes;
  ASSERT_EQ(S_OK, upload->Write(reinterpret_cast<BYTE*>(&writable[0]), &size, nullptr));
  ASSERT_EQ(S_OK, upload->Close());
  EXPECT_EQ(S_OK, Delete(listed[0], L"Old_Song.mp3"));
  EXPECT_TRUE(family_d_->Storage(0).files.empty());
  EXPECT_EQ(1u, family_d_->Storage(1).files.size());
  EXPECT_EQ(0, family_d_->holders);
  EXPECT_TRUE(family_d_->refusals.empty());
}

TEST_F(BusyPlayerTest, AnotherProgramHoldingThePlayerLeavesItListedWithWhatWasLastKnown) {
  const std::vector<IMDSPDevice*> first = DevicesOf(UsbPath(kFamilyD, 1));
  ASSERT_EQ(S_OK, Upload(DeviceNamed(first, L"Pavo Sim Card"), L"Road_Song.mp3",
                         Bytes(Audio("Road_Song.mp3"))));
  SimUsbHardware other_program(family_d_, kFamilyD);
  ASSERT_EQ(rc::kOk, other_program.Open());

  WmdmHost second;
  uint64_t waited = 0;
  const std::vector<IMDSPDevice*> listed = ListInSecondSession(second, &waited);
  EXPECT_EQ(kReadyTimeoutMs, waited);
  ASSERT_EQ(kFamilyDNames, Names(listed));
  // What this process knows includes the upload of the first session.
  EXPECT_EQ(std::vector<std::wstring>{L"Road Song.mp3"}, TrackNames(listed[1]));
  // While the other program holds it, changes fail as busy rather than act on a guess, and
  // free space is not counted (0, as for any storage without a predictor).
  EXPECT_EQ(static_cast<HRESULT>(rc::kPlayerBusy), Delete(listed[0], L"Old_Song.mp3"));
  EXPECT_EQ(0u, FreeBytes(listed[1]));
  other_program.Close();
  EXPECT_LT(0u, FreeBytes(listed[1])) << "counted once the player is free";
  EXPECT_EQ(1u, family_d_->Storage(0).files.size());
}

// A clock on which the other program lets the player go after a while of waiting.
class ReleasingClock : public FakeClock {
 public:
  ReleasingClock(SimUsbHardware* holder, uint64_t after_ms) : holder_(holder), after_ms_(after_ms) {}
  void SleepMs(uint32_t ms) override {
    FakeClock::SleepMs(ms);
    if (TotalSlept() >= after_ms_) holder_->Close();
  }

 private:
  SimUsbHardware* holder_;
  uint64_t after_ms_;
};

TEST_F(BusyPlayerTest, APlayerFreedWithinTheReadyTimeOutIsListedFromThePlayer) {
  const std::string path = UsbPath(kSecondFamilyD, 8);
  auto held = std::make_shared<SimDirectoryPlayer>(false, kSecondFamilyD);
  held->storages.resize(1);
  held->AddFile(0, 0x10, "x", "Held_Song.mp3");
  usb_.Attach(kSecondFamilyD, path, held);
  SimUsbHardware other_program(held, kSecondFamilyD);
  ASSERT_EQ(rc::kOk, other_program.Open());
  ReleasingClock clock(&other_program, 1200);
  TorvexTestSeams seams = seams_;
  seams.clock = &clock;

  WmdmHost second;
  ASSERT_EQ(S_OK, second.LoadRegistered(seams));
  std::vector<IMDSPDevice*> devices;
  ASSERT_EQ(S_OK, second.CreateDevices(PnpNamesOf(path), &devices));
  ASSERT_EQ(1u, devices.size());
  EXPECT_EQ(1200u, clock.TotalSlept());
  EXPECT_EQ(std::vector<std::wstring>{L"Held_Song.mp3"}, TrackNames(devices[0]));
}

TEST_F(BusyPlayerTest, ABusyPlayerNothingIsKnownOfIsLeftOut) {
  const std::string path = UsbPath(kSecondFamilyD, 7);
  auto held = std::make_shared<SimDirectoryPlayer>(false, kSecondFamilyD);
  held->storages.resize(1);
  usb_.Attach(kSecondFamilyD, path, held);
  SimUsbHardware other_program(held, kSecondFamilyD);
  ASSERT_EQ(rc::kOk, other_program.Open());

  std::vector<IMDSPDevice*> devices;
  WmdmHost second;
  ASSERT_EQ(S_OK, second.LoadRegistered(seams_));
  EXPECT_EQ(static_cast<HRESULT>(rc::kPlayerBusy), second.CreateDevices(PnpNamesOf(path), &devices));
  EXPECT_TRUE(devices.empty());
  // The players that are free are listed as ever.
  ASSERT_EQ(S_OK, second.ListDevices(&devices));
  EXPECT_EQ(6u, devices.size());
  EXPECT_EQ(1, held->holders);
}

}  // namespace
