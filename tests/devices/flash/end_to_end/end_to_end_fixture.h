// The whole stack as WMDM drives it: the in-process WMDM host over the provider that COM loads
// from the registered test build of Torvex.dll, the DLL's real enumerator and channel factory,
// and simulated USB players of flash families A, C and D behind a scripted interface listing
// handed to the DLL. Uploads keep their temporary copies in a folder of the test's own.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/flash/flash_player_a.h"
#include "sim/flash/flash_player_cde.h"
#include "sim/flash/sim_usb_interface_source.h"
#include "testlib/fake_clock.h"
#include "wmdm/storage_test_player.h"
#include "wmdm/provider/provider_environment.h"
#include "wmdm/provider/wmdm_host.h"
#include "wmdm/provider/wmdm_steps.h"

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
constexpr HRESULT kInterfaceDead = static_cast<HRESULT>(0x80045001);

// Product ids of the attached players.
constexpr uint32_t kFamilyD = 0x5005, kSecondFamilyD = 0x5010, kFamilyC = 0x5001,
                   kFamilyA = 0x5202, kFamilyE = 0x501C;

// What a player keeps of one uploaded file.
struct StoredFile {
  std::vector<uint8_t> record;  // the 2048-byte record the PC sent
  std::string data;             // cut to the record's length
};

class EndToEndTest : public testing::Test {
 protected:
  EndToEndTest();
  ~EndToEndTest() override;

  void SetUp() override { ASSERT_EQ(S_OK, host_.LoadRegistered(seams_)); }

  IMDServiceProvider2* provider() const { return host_.provider(); }
  // Every WMDM device of the attached players as WMDM finds them: CreateDevice with the name
  // plug and play gives each player, in the order attached. The host holds them.
  std::vector<IMDSPDevice*> List();
  // The WMDM devices of the one player attached at the interface path `path`.
  std::vector<IMDSPDevice*> DevicesOf(const std::string& path);
  // The plug and play names of the player attached at `path`.
  std::vector<std::string> PnpNamesOf(const std::string& path) const;
  // Every WMDM device the provider's EnumDevices lists now, in its order.
  std::vector<IMDSPDevice*> Enumerate();
  // The device's storage globals (through its root storage).
  static ComRef<IMDSPStorageGlobals> Globals(IMDSPDevice* device);
  static uint64_t FreeBytes(IMDSPDevice* device);

  // Uploaded files as the player keeps them: families C and D by storage, family A by slot.
  static StoredFile LastFile(SimStorage& storage);
  StoredFile LastSlot() const;

  // Operations in progress on the provider's devices.
  int32_t BusyCount() const { return host_.BusyCount(); }
  // The Windows path of the temporary copies.
  const TempDir& temp() const { return environment_.temp(); }

  FakeClock listing_clock_;  // the provider's waits for busy players
  TorvexTestSeams seams_;    // what the provider's DLL gets
  std::shared_ptr<SimDirectoryPlayer> family_d_, second_d_, family_c_, family_e_;
  std::shared_ptr<SimFlashPlayerA> family_a_;
  SimUsbInterfaceSource usb_;

 private:
  ProviderEnvironment environment_;
  WmdmHost host_;
};

// The interface path under which a player is attached.
std::string UsbPath(uint32_t product_id, int instance);
// A fixed text field of a record up to its first NUL.
std::string RecordText(const std::vector<uint8_t>& record, uint32_t offset, uint32_t width);
uint32_t RecordLe32(const std::vector<uint8_t>& record, uint32_t offset);
