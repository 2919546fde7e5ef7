// The WMDM host over the provider, the real device enumerator and channel factory, and one
// simulated family B player whose track database image the tests decode after every step.
// Uploads keep their temporary copies in a folder of the test's own.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/flash/flash_player_b.h"
#include "sim/flash/sim_usb_interface_source.h"
#include "wmdm/provider/provider_environment.h"
#include "wmdm/provider/wmdm_host.h"
#include "wmdm/provider/wmdm_steps.h"
#include "wmdm/storage_test_player.h"

constexpr uint32_t kFamilyB = 0x5220;
extern const char kFamilyBPath[];

// One track row of the player's database image, read field by field through the image reader.
struct DatabaseRow {
  uint32_t fid = 0;
  std::string title, source, artist;
  uint32_t length = 0;       // fields 8 and 9
  uint32_t duration_s = 0;   // field 10
  uint32_t bitrate = 0;      // field 11, without the variable-rate flag
  uint32_t channels = 0;     // field 12
  uint32_t type_code = 0;    // field 13
  std::string rid;           // field 15 in hex
};

// The family B player: a database block can fail a set number of times, then works again, and
// the player can go away in the middle of a database write.
class FlakyDatabasePlayer : public SimFlashPlayerB {
 public:
  int database_failures = 0;  // image writes still to fail at their first block
  bool unplug_at_database = false;  // the player goes away with an image's first block

 protected:
  void TakePiece(const std::vector<uint8_t>& piece) override;
};

class FamilyBEndToEndTest : public testing::Test {
 protected:
  FamilyBEndToEndTest();
  ~FamilyBEndToEndTest() override;

  void SetUp() override { ASSERT_EQ(S_OK, host_->LoadRegistered(seams_)); }

  // A new host and provider over the same player, as a WMDM application started again.
  void Reopen();
  // Puts a new player without files or database in place of the attached one.
  void ReplacePlayer();

  // The player's WMDM devices as WMDM finds them: CreateDevice with its plug and play name.
  std::vector<IMDSPDevice*> List();
  // The player's storage as a WMDM device; fails the test when it is not listed.
  IMDSPDevice* Device(const std::wstring& name);
  std::vector<std::wstring> DeviceNames();
  // Operations in progress on the provider's devices.
  int32_t BusyCount() const { return host_->BusyCount(); }

  // The database image the player holds, decoded; fails the test when it does not decode.
  std::vector<DatabaseRow> PlayerRows() const;
  // The bytes the player keeps under `fid`; empty when it keeps no such file.
  std::string StoredBytes(uint32_t fid) const;

  std::shared_ptr<FlakyDatabasePlayer> player_;
  SimUsbInterfaceSource usb_;

 private:
  TorvexTestSeams seams_;
  ProviderEnvironment environment_;
  std::unique_ptr<WmdmHost> host_;
};
