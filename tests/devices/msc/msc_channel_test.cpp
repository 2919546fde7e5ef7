#include "devices/msc/msc_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "devices/msc/fat32_format.h"
#include "devices/msc/msc_results.h"
#include "devices/msc/player_eject.h"
#include "devices/fid_list.h"
#include "devices/predictor.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "msc_test_player.h"
#include "support/memory_stream.h"
#include "testlib/trace_capture.h"

namespace {

using Lines = std::vector<std::string>;

// The column names of a holder's set, in creation order.
Lines Keys(PropertyHolder& holder) {
  Lines keys;
  RefPtr<PropertySet> set = holder.GetSet();
  for (int32_t i = 0; !set->GetColumnName(i).empty(); ++i) keys.push_back(set->GetColumnName(i));
  return keys;
}

bool Has(PropertyHolder& holder, const char* key) {
  return holder.GetSet()->FindColumn(key) >= 0;
}

// Counts ejects; finds no device.
class CountingEjectApi : public EjectApi {
 public:
  std::vector<std::string> classes;
  WindowsVersion GetVersion() override { return {VER_PLATFORM_WIN32_NT, 6, 1}; }
  BOOL ClassGuidsFromNameA(PCSTR name, LPGUID, DWORD, PDWORD required) override {
    classes.push_back(name);
    *required = 0;
    return TRUE;
  }
  HDEVINFO GetClassDevsA(const GUID*, DWORD) override { return INVALID_HANDLE_VALUE; }
  BOOL EnumDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA) override { return FALSE; }
  BOOL GetDeviceInstanceIdA(HDEVINFO, PSP_DEVINFO_DATA, PSTR, DWORD, PDWORD) override {
    return FALSE;
  }
  BOOL DestroyDeviceInfoList(HDEVINFO) override { return TRUE; }
  HMODULE LoadLibraryA(LPCSTR) override { return nullptr; }
  FARPROC GetProcAddress(HMODULE, LPCSTR) override { return nullptr; }
  BOOL FreeLibrary(HMODULE) override { return TRUE; }
};

class MscChannelTest : public ::testing::Test {
 protected:
  MscTestPlayer sim;
  CountingEjectApi eject;
  EmptyFileSource files{"E:\\"};

  std::unique_ptr<MscChannel> Channel(const MscDriveRecord& record) {
    MscEnvironment environment = sim.Environment();
    environment.eject = &eject;
    return std::make_unique<MscChannel>(record, &files, environment);
  }
  std::unique_ptr<MscChannel> Channel() { return Channel(sim.Record()); }
};

// --- device properties --------------------------------------------------------------------------

TEST_F(MscChannelTest, DevicePropertiesInTheirOrder) {
  sim.player->capability_flags = kCapabilityExtended;
  sim.player->extended_flags = 0x3F;
  sim.player->vendor_id = 0x1234;  // not the home vendor: no model code
  sim.player->image_format_flags = 0x11;
  sim.player->image_width = 176;
  sim.player->image_height = 220;
  sim.player->hardware_revision = 4;
  PropertyHolder info;
  EXPECT_EQ(Channel()->GetDeviceInfo(info), rc::kOk);
  EXPECT_EQ(Keys(info), (Lines{"image_formats", "codecs", "device_id", "name", "manufacturer",
                               "serial", "serial_raw", "device_generation", "capabilities",
                               "max_playlist_name", "connection_type", "boot_version",
                               "boot_version_bcd", "firmware_version", "preferred_image_width",
                               "preferred_image_height", "hwrev"}));
  EXPECT_EQ(info.GetString("image_formats"), ";jpg;tiff;");
  EXPECT_EQ(info.GetString("device_id"), std::to_string(0x5041));
  EXPECT_EQ(info.GetString("name"), "Qel MS 20");
  EXPECT_EQ(info.GetString("serial"), "0123456789ABCDEF");
  uint32_t length = 0;
  const uint8_t* raw = info.GetSet()->GetBlob("serial_raw", &length);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw), length), "0123456789ABCDEF");
  EXPECT_EQ(info.GetString("max_playlist_name"), "260");
  EXPECT_EQ(info.GetString("connection_type"), "msc");
  EXPECT_EQ(info.GetString("firmware_version"), "2.15");
  EXPECT_EQ(info.GetString("hwrev"), "4");
}

TEST_F(MscChannelTest, CodecAndCapabilityLists) {
  struct Case {
    uint32_t codecs, capabilities;
    const char* codec_list;
    const char* capability_list;
  } cases[] = {
      {0x1, 0, ";mp3;", ";firmware;rewrite_metadata;"},
      {0x181, 0x28000, ";mp3;mp2;mp1;", ";firmware;rewrite_metadata;playlists;"},
      {0, 0x1FE800, "",
       ";firmware;rewrite_metadata;read_content;audible;utf8;file_replace;playlists;"
       "tuner_record;voice_record;album_art;"},
      {0x7E, 0, ";wma;acelp;wave-ima-adpcm;wave;vorbis;flac;", ";firmware;rewrite_metadata;"},
  };
  for (const Case& c : cases) {
    MscDriveRecord record = sim.Record();
    record.codec_flags = c.codecs;
    record.capability_flags = c.capabilities;
    PropertyHolder info;
    Channel(record)->GetDeviceInfo(info);
    EXPECT_EQ(info.GetString("codecs"), c.codec_list);
    EXPECT_EQ(info.GetString("capabilities"), c.capability_list);
  }
}

TEST_F(MscChannelTest, RecoveryImageSizeAndBootVersion) {
  MscDriveRecord record = sim.Record();
  record.capability_flags = kCapabilityRecovery;
  record.boot_version = 0x0110;
  record.preferred_image_width = 176;
  PropertyHolder info;
  Channel(record)->GetDeviceInfo(info);
  const Lines keys = Keys(info);
  const auto at = [&](const char* key) { return std::find(keys.begin(), keys.end(), key); };
  ASSERT_NE(at("recovery"), keys.end());
  EXPECT_EQ(at("recovery") + 1, at("capabilities"));
  EXPECT_EQ(info.GetString("recovery"), "1");
  EXPECT_EQ(info.GetString("boot_version"), "1.10");
  EXPECT_EQ(info.GetString("boot_version_bcd"), "272");
  EXPECT_FALSE(Has(info, "image_formats"));
  EXPECT_FALSE(Has(info, "preferred_image_width"));
  EXPECT_FALSE(Has(info, "preferred_image_height"));
}

TEST_F(MscChannelTest, ModelCodeOfHomeVendorPlayers) {
  struct Case {
    uint32_t product_id, firmware;
    std::string prefix;
    uint32_t number;
    const char* version;  // null: no model code
  } cases[] = {
      {0x503E, 0x0102, "", 0, "808010200"},
      {0x503D, 0x0215, "", 0, "807021500"},
      {0x5042, 0x0099, "", 0, "813009900"},
      {0x5041, 0x1234, "XYZ", 3, "803123400"},  // the player's own code wins
      {0x5041, 0x0100, "XYZ", 0, "814010000"},  // half of one is none: the table's
      {0x5999, 0x0100, "", 0, nullptr},
  };
  for (const Case& c : cases) {
    MscDriveRecord record = sim.Record();
    record.product_id = c.product_id;
    record.firmware_version = c.firmware;
    record.pavo_prefix = c.prefix;
    record.pavo_number = c.number;
    PropertyHolder info;
    TraceCapture trace;
    Channel(record)->GetDeviceInfo(info);
    if (c.version) {
      EXPECT_EQ(info.GetString("pavo_version"), c.version) << std::hex << c.product_id;
      EXPECT_EQ(info.GetString("pavo_prefix").size(), 3u);
      if (!c.prefix.empty() && c.number) { EXPECT_EQ(info.GetString("pavo_prefix"), c.prefix); }
      EXPECT_EQ(trace.lines, "");
    } else {
      EXPECT_FALSE(Has(info, "pavo_version"));
      EXPECT_NE(trace.lines.find("NO PAVO INFORMATION FOR PLAYER ID 5999. THIS IS VERY VERY BAD."),
                std::string::npos);
    }
  }
  // Players of other makers have no model code and nothing is said about it.
  MscDriveRecord record = sim.Record();
  record.vendor_id = 0x1234;
  record.product_id = 0x5999;
  PropertyHolder info;
  TraceCapture trace;
  Channel(record)->GetDeviceInfo(info);
  EXPECT_FALSE(Has(info, "pavo_prefix"));
  EXPECT_EQ(trace.lines, "");
}

TEST_F(MscChannelTest, ModelPrefixesAreDistinctPerRow) {
  std::map<std::string, uint32_t> prefixes;
  for (uint32_t id : {0x503Du, 0x503Eu, 0x503Fu, 0x5041u, 0x5042u, 0x5224u}) {
    MscDriveRecord record = sim.Record();
    record.product_id = id;
    PropertyHolder info;
    Channel(record)->GetDeviceInfo(info);
    prefixes[info.GetString("pavo_prefix")] |= 1u << (id & 0xF);
  }
  EXPECT_EQ(prefixes.size(), 5u);  // 0x503E and 0x503F share one
}

// --- storages ----------------------------------------------------------------------------------

TEST_F(MscChannelTest, StorageOfADriveWithoutSizes) {
  auto channel = Channel();
  PropertyHolder info;
  EXPECT_EQ(channel->GetStorageInfo(1, info), rc::kOk);
  EXPECT_EQ(Keys(info), (Lines{"storage_type", "storage_index", "serial", "serial_raw", "name",
                               "drive_letter", "size_in_bytes", "free_in_bytes",
                               "used_in_bytes", "bad_in_bytes", "block_size", "size_in_blocks",
                               "free_in_blocks", "used_in_blocks", "bad_in_blocks"}));
  EXPECT_EQ(info.GetString("storage_type"), "2");
  EXPECT_EQ(info.GetString("storage_index"), "1");
  EXPECT_EQ(info.GetString("serial"), "UNIT-F");
  EXPECT_EQ(info.GetString("name"), "Card");
  EXPECT_EQ(info.GetString("drive_letter"), "70");
  EXPECT_EQ(info.GetString("size_in_bytes"), "0");  // F: is not a drive of this system
  EXPECT_EQ(info.GetString("block_size"), "512");
  EXPECT_EQ(info.GetString("free_in_blocks"), "0");
  PropertyHolder bad;
  EXPECT_EQ(channel->GetStorageInfo(2, bad), rc::kBadIndex);
  EXPECT_TRUE(Keys(bad).empty());
  EXPECT_EQ(channel->GetStorageInfo(0x10000, bad), rc::kOk);  // only the low 16 bits count
  Predictor* predictor = nullptr;
  EXPECT_EQ(channel->CreatePredictor(2, &predictor), rc::kBadIndex);
  EXPECT_EQ(channel->CreatePredictor(1, &predictor), rc::kOk);
  delete predictor;
}

TEST_F(MscChannelTest, StorageSizesOfAMountedDrive) {
  MscDriveRecord record = sim.Record();
  record.drive_entries[0].drive_letter = 'C';
  record.drive_entries[0].unit_serial = std::string("\x01\xFF" "A", 3);
  PropertyHolder info;
  EXPECT_EQ(Channel(record)->GetStorageInfo(0, info), rc::kOk);
  EXPECT_EQ(info.GetString("serial"), "01FF41");
  uint32_t length = 0;
  info.GetSet()->GetBlob("serial_raw", &length);
  EXPECT_EQ(length, 3u);
  const int64_t size = info.GetSet()->GetInt64("size_in_bytes");
  const int64_t free = info.GetSet()->GetInt64("free_in_bytes");
  const int64_t used = info.GetSet()->GetInt64("used_in_bytes");
  const int64_t block = info.GetSet()->GetInt("block_size");
  EXPECT_GT(size, 0);
  EXPECT_EQ(size, free + used);
  EXPECT_GT(block, 0);
  EXPECT_EQ(static_cast<uint32_t>(info.GetSet()->GetInt("size_in_blocks")),
            static_cast<uint32_t>(static_cast<uint64_t>(size) / block));
}

class StorageCollector : public HolderVisitor {
 public:
  explicit StorageCollector(size_t stop_after = 99) : stop_after_(stop_after) {}
  bool Visit(PropertyHolder& item) override {
    names.push_back(item.GetString("name"));
    return names.size() < stop_after_;
  }
  Lines names;

 private:
  size_t stop_after_;
};

TEST_F(MscChannelTest, EnumStoragesVisitsEachDrive) {
  auto channel = Channel();
  StorageCollector all;
  EXPECT_EQ(channel->EnumStorages(&all), rc::kOk);
  EXPECT_EQ(all.names, (Lines{"Internal", "Card"}));
  StorageCollector last_refuses(2);
  EXPECT_EQ(channel->EnumStorages(&last_refuses), 1);
  StorageCollector empty;
  EXPECT_EQ(channel->EnumFiles(0, &empty), rc::kOk);
  EXPECT_TRUE(empty.names.empty());
  EXPECT_EQ(channel->EnumFiles(2, &empty), rc::kBadIndex);
}

// --- player commands ---------------------------------------------------------------------------

TEST_F(MscChannelTest, FailingCommandOfAGonePlayerSaysGone) {
  auto channel = Channel();
  sim.player->accepted.erase(146);
  EXPECT_EQ(channel->Request146(1, 2), rc::kNotImplemented);  // the player is there
  EXPECT_EQ(channel->Request137(1, 2), rc::kOk);
  sim.io.drives['E'].gone = true;
  EXPECT_EQ(channel->GetState(), kStateGone);
  EXPECT_EQ(channel->Request137(1, 2), rc::kPlayerGone);
  std::vector<uint32_t> words;
  EXPECT_EQ(channel->Request128(&words), rc::kPlayerGone);
  EXPECT_EQ(channel->SetClock(1000), rc::kPlayerGone);
  sim.io.drives['E'].gone = false;
  sim.io.drives['E'].access_denied = true;  // every command refused: the state fails too
  EXPECT_EQ(channel->Request137(1, 2), rc::kPlayerGone);
  EXPECT_EQ(sim.io.OpenHandleCount(), 0u);
}

TEST_F(MscChannelTest, ForwardedRequests) {
  auto channel = Channel();
  sim.io.log.clear();
  sim.player->replies[128] = {0, 0, 0, 5, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 9};
  sim.player->replies[147] = std::vector<uint8_t>(32, 0);
  sim.player->replies[147][3] = 2;
  sim.player->replies[147][11] = 42;
  std::vector<uint32_t> words;
  EXPECT_EQ(channel->Request128(&words), rc::kOk);
  EXPECT_EQ(words, (std::vector<uint32_t>{5, 7}));
  PropertyHolder battery;
  EXPECT_EQ(channel->GetBatteryInfo(battery), rc::kOk);
  EXPECT_EQ(battery.GetString("voltage"), "42");
  EXPECT_EQ(channel->Request117(1, 4001, 0), rc::kBadIndex);
  EXPECT_TRUE(sim.io.LogLines("E: D0 117").empty());  // nothing sent
  EXPECT_EQ(channel->Request117(1, 4000, 1), rc::kOk);
  EXPECT_EQ(channel->Request142("hello", 2), rc::kOk);
  EXPECT_EQ(channel->Request145(3), rc::kOk);
  EXPECT_EQ(channel->Request119(0x1FFFF, 4), rc::kOk);
  EXPECT_EQ(sim.io.LogLines("E: D0 117"), Lines{"E: D0 117 v=1 i=20384 out=0"});
  EXPECT_EQ(sim.io.LogLines("E: D0 142"), Lines{"E: D0 142 v=5 i=2 out=96"});
  EXPECT_EQ(sim.io.LogLines("E: D0 119"), Lines{"E: D0 119 v=65535 i=4 out=0"});
  uint32_t id = 0;
  EXPECT_EQ(channel->GetDeviceID(&id), rc::kOk);
  EXPECT_EQ(id, 0x5041u);
  EXPECT_TRUE(sim.io.LogLines("F:").empty());  // everything goes to the first drive
}

TEST_F(MscChannelTest, ClockGoesOutAsLocalAndUniversalTime) {
  // The tests run with TZ=UTC: local time is the time itself.
  EXPECT_EQ(Channel()->SetClock(1700000000), rc::kOk);
  ASSERT_EQ(sim.player->times.size(), 1u);
  EXPECT_EQ(sim.player->times[0], std::make_pair(1700000000u, 1700000000u));
}

TEST_F(MscChannelTest, CommitFlushesEveryDrive) {
  auto channel = Channel();
  sim.io.log.clear();
  EXPECT_EQ(channel->Commit(1), rc::kOk);
  EXPECT_EQ(sim.io.LogLines("flush"), (Lines{"flush E:", "flush F:"}));
}

TEST_F(MscChannelTest, SuspendOnlyRemembers) {
  auto channel = Channel();
  sim.io.log.clear();
  EXPECT_EQ(channel->Suspend(true), rc::kOk);
  EXPECT_EQ(channel->Suspend(true), rc::kOk);
  EXPECT_TRUE(channel->suspended());
  EXPECT_EQ(channel->Suspend(false), rc::kOk);
  EXPECT_FALSE(channel->suspended());
  EXPECT_TRUE(sim.io.log.empty());
}

TEST_F(MscChannelTest, EachFidListIsNewAndEmpty) {
  auto channel = Channel();
  RefPtr<FidList> first, second;
  ASSERT_EQ(channel->EnumFids(&first), rc::kOk);
  ASSERT_EQ(channel->EnumFids(&second), rc::kOk);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(first->Count(), 0u);
}

TEST_F(MscChannelTest, UnsupportedOperations) {
  auto channel = Channel();
  PropertyHolder holder;
  EXPECT_EQ(channel->GetOwnerInfo(holder), rc::kNotImplemented);
  EXPECT_EQ(channel->ConvertFileInfo(holder, nullptr, 0), rc::kNotImplemented);
  EXPECT_EQ(channel->ReservedOperation(0), rc::kNotImplemented);
  EXPECT_EQ(channel->ReloadDatabase(nullptr), rc::kNotImplemented);
  EXPECT_EQ(channel->HoldStorage(true), rc::kOk);
  EXPECT_EQ(channel->Login(""), rc::kOk);
}

// --- firmware ----------------------------------------------------------------------------------

TEST_F(MscChannelTest, MainFirmwareUpgradeEjectsThePlayer) {
  auto channel = Channel();
  MemoryStream image(std::string(9000, '\x5A'));
  ProgressLog progress;
  EXPECT_EQ(channel->UpgradeFirmware(&image, 0, &progress), rc::kOk);
  EXPECT_EQ(sim.player->firmware_blocks, 2u);
  EXPECT_EQ(progress.calls.back(), std::make_pair(9000u, 9000u));
  EXPECT_EQ(eject.classes, Lines{"usb"});
  for (uint32_t flags : {0x08u, 0x20u}) {
    MemoryStream other(std::string(10, '\x01'));
    sim.player->firmware_blocks = 0;
    EXPECT_EQ(channel->UpgradeFirmware(&other, flags, nullptr), rc::kOk);
    EXPECT_EQ(eject.classes.size(), 1u) << flags;  // no restart for these
  }
}

TEST_F(MscChannelTest, FailedUpgradeNeitherEjectsNorAsksTheState) {
  sim.io.drives['F'].lock_refused = true;
  auto channel = Channel();
  MemoryStream image(std::string(10, '\x01'));
  EXPECT_EQ(channel->UpgradeFirmware(&image, 0, nullptr), rc::kVolumeLockRejected);
  EXPECT_TRUE(eject.classes.empty());
  sim.io.drives['E'].gone = true;
  EXPECT_EQ(channel->UpgradeFirmware(&image, 0, nullptr), rc::FromWin32(ERROR_FILE_NOT_FOUND));
}

TEST_F(MscChannelTest, RecoveryPlayerTakesFirmwareToo) {
  sim.player->recovery = true;
  auto channel = Channel();
  MemoryStream image(std::string(100, '\x01'));
  EXPECT_EQ(channel->UpgradeFirmware(&image, 0, nullptr), rc::kOk);
  EXPECT_EQ(sim.player->firmware_buffer_ids, std::vector<uint8_t>{0});
}

// --- format ------------------------------------------------------------------------------------

class ScriptedFormatter : public FormatterLibrary {
 public:
  static std::wstring root, file_system;
  static DWORD media_flag;
  static BOOL quick;
  FormatExFunction Load() override { return &FormatEx; }
  void Unload() override {}
  static VOID WINAPI FormatEx(PWCHAR drive, DWORD media, PWCHAR fs, PWCHAR, BOOL quick_format,
                              DWORD, FormatExCallback callback) {
    root = drive;
    file_system = fs;
    media_flag = media;
    quick = quick_format;
    DWORD percent = 100;
    callback(kFormatProgress, 0, &percent);
    BOOLEAN ok = TRUE;
    callback(kFormatDone, 0, &ok);
  }
};
std::wstring ScriptedFormatter::root, ScriptedFormatter::file_system;
DWORD ScriptedFormatter::media_flag;
BOOL ScriptedFormatter::quick;

TEST_F(MscChannelTest, FormatStorageFormatsItsDriveAsFat32) {
  ScriptedFormatter formatter;
  MscEnvironment environment = sim.Environment();
  environment.formatter = &formatter;
  MscChannel channel(sim.Record(), &files, environment);
  EXPECT_EQ(channel.FormatStorage(2, nullptr), rc::kBadIndex);
  EXPECT_EQ(channel.FormatStorage(1, nullptr), rc::kOk);
  EXPECT_EQ(ScriptedFormatter::root, L"F:\\");
  EXPECT_EQ(ScriptedFormatter::file_system, L"FAT32");
  EXPECT_EQ(ScriptedFormatter::media_flag, 12u);
  EXPECT_FALSE(ScriptedFormatter::quick);
}

}  // namespace
