#include "devices/flash/sardane_channel.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "devices/flash/protocol_sim/sardane_fixture.h"
#include "devices/flash/sardane_records.h"
#include "support/memory_stream.h"

namespace {

// --- state ---------------------------------------------------------------------------------

TEST_F(SardaneChannelTest, StateFollowsTheStatusWord) {
  const struct {
    uint32_t word;
    int32_t state;
  } cases[] = {{0x00000001, kStateReady},    {0x00000F00, kStateNotUsable},
               {0x00F00F01, kStateNotUsable}, {0x00000700, kStateReady},
               {0x00000E00, kStateReady},     {0x00000B00, kStateReady}};
  for (const auto& c : cases) {
    player->status_word = c.word;
    EXPECT_EQ(c.state, channel->GetState()) << std::hex << c.word;
  }
}

TEST_F(SardaneChannelTest, StateOfAGoneOrUnreachablePlayer) {
  ASSERT_EQ(rc::kOk, channel->Suspend(true));
  EXPECT_EQ(kStateError, channel->GetState());  // the transport is closed
  ASSERT_EQ(rc::kOk, channel->Suspend(false));
  player->unplugged = true;
  EXPECT_EQ(kStateGone, channel->GetState());
}

// --- storages ------------------------------------------------------------------------------

TEST_F(SardaneChannelTest, StorageWalkOffersEveryStorageAndEndsAtTheEmptyBlock) {
  player->storages.resize(2);
  player->Storage(1).name = "Card";
  player->Storage(1).kind = 2;
  RecordingVisitor visitor;
  EXPECT_EQ(rc::kOk, channel->EnumStorages(&visitor));
  ASSERT_EQ(2u, visitor.items.size());
  EXPECT_EQ("Internal", visitor.items[0]->GetString("name"));
  EXPECT_EQ(0, visitor.items[0]->GetInt("storage_index"));
  EXPECT_EQ("Card", visitor.items[1]->GetString("name"));
  EXPECT_EQ(2, visitor.items[1]->GetInt("storage_type"));
  EXPECT_EQ((Lines{"C101", "C96", "C104", "R256", "C96", "C104(1,0)", "R256", "C96",
                   "C104(2,0)", "R256", "C102"}),
            Log());
}

TEST_F(SardaneChannelTest, StorageWalkStopsWhenTheVisitorSaysSo) {
  player->storages.resize(3);
  RecordingVisitor visitor(1);
  EXPECT_EQ(1, channel->EnumStorages(&visitor));
  EXPECT_EQ(1u, visitor.items.size());
}

TEST_F(SardaneChannelTest, StorageWalkReturnsAFailureOfThePlayer) {
  player->storages.resize(2);
  player->unplug_after_calls = 6;  // gone at the request for storage 1
  RecordingVisitor visitor;
  EXPECT_EQ(rc::kPlayerGone, channel->EnumStorages(&visitor));
  EXPECT_EQ(1u, visitor.items.size());
  player->unplugged = false;
  player->lock_depth = 0;  // the player went away holding the lock
}

TEST_F(SardaneChannelTest, EndlessStorageListIsCutOff) {
  player->storages.resize(40);
  RecordingVisitor visitor;
  EXPECT_EQ(rc::kBadData, channel->EnumStorages(&visitor));
  EXPECT_EQ(sardane::kMaxStorages, visitor.items.size());
}

struct StorageCase {
  const char* what;
  uint32_t kind, total, used, free, bad;
  uint32_t device_unit, block_size;
  int32_t type, size_blocks, used_blocks, free_blocks, bad_blocks;
  int64_t size_bytes;
};

TEST_F(SardaneChannelTest, StorageInformationKeys) {
  const StorageCase cases[] = {
      {"counts as they are", 1, 1000, 300, 600, 10, 512, 512, 1, 1000, 300, 600, 10, 512000},
      {"free corrected", 3, 1000, 300, 900, 10, 512, 512, 3, 1000, 300, 690, 10, 512000},
      {"used and bad beyond total", 2, 100, 150, 20, 10, 512, 512, 2, 160, 150, 0, 10, 81920},
      {"sum wraps 32 bits", 1, 0xFFFFFFFF, 0x80000000, 0x80000000, 0, 1, 1, 1, -1,
       static_cast<int32_t>(0x80000000), 0x7FFFFFFF, 0, 0xFFFFFFFFLL},
      {"unknown kind, smaller blocks", 7, 1000, 100, 900, 0, 1024, 512, 0, 2000, 200, 1800, 0,
       1024000},
      {"larger blocks", 1, 1000, 100, 899, 1, 512, 2048, 1, 250, 25, 224, 0, 512000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimStorage& s = player->Storage(0);
    s.kind = c.kind;
    s.total_blocks = c.total;
    s.used_blocks = c.used;
    s.free_blocks = c.free;
    s.bad_blocks = c.bad;
    s.serial = {0x00, 0x01, 0xAB, 0xFF};
    channel->device_unit = c.device_unit;
    channel->block_size = c.block_size;
    PropertyHolder info;
    ASSERT_EQ(rc::kOk, channel->GetStorageInfo(0, info));
    RefPtr<PropertySet> set = info.GetSet();
    EXPECT_EQ(c.type, set->GetInt("storage_type"));
    EXPECT_EQ(static_cast<int32_t>(c.block_size), set->GetInt("block_size"));
    EXPECT_EQ(c.size_blocks, set->GetInt("size_in_blocks"));
    EXPECT_EQ(c.used_blocks, set->GetInt("used_in_blocks"));
    EXPECT_EQ(c.free_blocks, set->GetInt("free_in_blocks"));
    EXPECT_EQ(c.bad_blocks, set->GetInt("bad_in_blocks"));
    EXPECT_EQ(c.size_bytes, set->GetInt64("size_in_bytes"));
    EXPECT_EQ(static_cast<int64_t>(static_cast<uint32_t>(c.free_blocks)) * c.block_size,
              set->GetInt64("free_in_bytes"));
    EXPECT_EQ("0001abff000000000000000000000000", set->GetString("serial"));
    uint32_t length = 0;
    set->GetBlob("serial_raw", &length);
    EXPECT_EQ(16u, length);
    EXPECT_EQ("Internal", set->GetString("name"));
  }
}

TEST_F(SardaneChannelTest, StorageInformationOfAMissingStorage) {
  PropertyHolder info;
  EXPECT_EQ(rc::kShortTransfer, channel->GetStorageInfo(3, info));
  EXPECT_EQ("", info.GetString("name"));
  EXPECT_EQ(rc::kBadIndex, channel->GetStorageInfo(0x10000, info));
}

TEST_F(SardaneChannelTest, StorageNameWithoutNulStaysInsideItsField) {
  player->Storage(0).name = std::string(63, 'N');
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetStorageInfo(0, info));
  EXPECT_EQ(std::string(63, 'N'), info.GetString("name"));
}

// --- device information --------------------------------------------------------------------

TEST_F(SardaneChannelTest, DeviceInformationFromTheBlock) {
  player->status_word = 0x00300001;
  auto& block = player->info_block;
  SimPutLe32(&block[4], 0x50030123);
  SimPutLe32(&block[8], 0x4000);
  SimPutLe32(&block[12], 20061231);
  SimPutLe32(&block[16], 0xABCD0105);
  SimPutLe32(&block[24], 0x12340007);
  for (int i = 0; i < 16; ++i) block[96 + i] = static_cast<uint8_t>(i * 17);
  memcpy(&block[128], "Pl\xC3\xA4yer", 8);
  memset(&block[192], 'M', 64);  // no NUL: the text ends with the field
  player->type_codes = {Code("MPG3"), 0x20414D57 /* "WMA " reversed */, Code("ABCD")};
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
  RefPtr<PropertySet> set = info.GetSet();
  EXPECT_EQ(3, set->GetInt("firmware_flavour"));
  EXPECT_EQ(0x5003, set->GetInt("device_id"));
  EXPECT_EQ(0x0123, set->GetInt("firmware_version_bcd"));
  EXPECT_EQ("1.23", set->GetString("firmware_version"));
  EXPECT_EQ(20061231, set->GetInt("build_date"));
  EXPECT_EQ(0x0105, set->GetInt("boot_version_bcd"));
  EXPECT_EQ("1.05", set->GetString("boot_version"));
  EXPECT_EQ(7, set->GetInt("device_generation"));
  EXPECT_EQ("00112233445566778899aabbccddeeff", set->GetString("serial"));
  uint32_t length = 0;
  const uint8_t* raw = set->GetBlob("serial_raw", &length);
  ASSERT_EQ(16u, length);
  EXPECT_EQ(0, memcmp(raw, &block[96], 16));
  EXPECT_EQ("Pl\xC3\xA4yer", set->GetString("name"));
  EXPECT_EQ(std::string(64, 'M'), set->GetString("manufacturer"));
  EXPECT_EQ(";mp3;wma;;", set->GetString("codecs"));
  EXPECT_EQ(";format;firmware;device_prefs;utf8;", set->GetString("capabilities"));
  EXPECT_EQ(64, set->GetInt("max_playlist_name"));
  EXPECT_EQ(-1, set->FindColumn("recovery"));
  EXPECT_EQ(-1, set->FindColumn("pavo_prefix"));  // 0x5003 belongs to no group
}

TEST_F(SardaneChannelTest, VersionTextsAreBcd) {
  const struct {
    uint32_t firmware, boot;
    const char* firmware_text;
    const char* boot_text;
  } cases[] = {{0x0123, 0x0105, "1.23", "1.05"},
               {0x1009, 0x0A1F, "10.09", "a.1f"},
               {0x0000, 0x0000, "0.00", "0.00"}};
  for (const auto& c : cases) {
    SimPutLe32(&player->info_block[4], 0x50030000 | c.firmware);
    SimPutLe32(&player->info_block[16], c.boot);
    PropertyHolder info;
    ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
    EXPECT_EQ(c.firmware_text, info.GetString("firmware_version"));
    EXPECT_EQ(c.boot_text, info.GetString("boot_version"));
  }
}

TEST_F(SardaneChannelTest, EveryCapabilityFlagInItsOrder) {
  SimPutLe32(&player->info_block[8], 0x3E800 | 0x1000 | 0x1);
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
  EXPECT_EQ(";format;firmware;device_prefs;read_content;audible;utf8;rewrite_metadata;"
            "file_replace;playlists;",
            info.GetString("capabilities"));
}

TEST_F(SardaneChannelTest, ProductGroupsGetTheirPavoPrefix) {
  const struct {
    uint32_t product;
    const char* prefix;
  } cases[] = {{0x5005, "PVA"}, {0x5009, "PVA"}, {0x500D, "PVB"}, {0x5221, "PVC"},
               {0x500F, "PVC"}, {0x5202, "PVD"}, {0x5003, ""},    {0x5008, ""}};
  for (const auto& c : cases) {
    MakeChannel(c.product);
    PropertyHolder info;
    ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
    EXPECT_EQ(c.prefix, info.GetString("pavo_prefix")) << std::hex << c.product;
    EXPECT_EQ(*c.prefix ? std::string(c.prefix) + "-1.23" : "", info.GetString("pavo_version"));
  }
}

TEST_F(SardaneChannelTest, RecoveryModeOffersOnlyFirmware) {
  player->recovery = true;
  PropertyHolder info;
  ASSERT_EQ(rc::kOk, channel->GetDeviceInfo(info));
  EXPECT_EQ(";firmware;", info.GetString("capabilities"));
  EXPECT_EQ("1", info.GetString("recovery"));
  EXPECT_EQ("20483", info.GetString("device_id"));  // the product id, 0x5003
  EXPECT_EQ("Qel Player", info.GetString("name"));
  EXPECT_EQ("Qel", info.GetString("manufacturer"));
  EXPECT_EQ("", info.GetString("codecs"));
  EXPECT_EQ((Lines{"C97"}), Log());
  bool has = true;
  ASSERT_EQ(rc::kOk, channel->HasCapability("format", &has));
  EXPECT_FALSE(has);
  ASSERT_EQ(rc::kOk, channel->HasCapability("firmware", &has));
  EXPECT_TRUE(has);
}

TEST_F(SardaneChannelTest, CapabilitiesAreReadOnceAndAFailureIsNotKept) {
  bool has = false;
  player->unplugged = true;
  EXPECT_EQ(rc::kPlayerGone, channel->HasCapability("utf8", &has));
  player->unplugged = false;
  player->ClearLog();
  ASSERT_EQ(rc::kOk, channel->HasCapability("utf8", &has));
  EXPECT_TRUE(has);
  EXPECT_TRUE(Sent("C98"));
  player->ClearLog();
  ASSERT_EQ(rc::kOk, channel->HasCapability("playlists", &has));
  EXPECT_FALSE(has);
  ASSERT_EQ(rc::kOk, channel->HasCapability("utf", &has));
  EXPECT_FALSE(has);  // whole words only
  EXPECT_TRUE(Log().empty());
}

// --- formats -------------------------------------------------------------------------------

TEST_F(SardaneChannelTest, FormatsListEndsAtTheZeroCodeOrAShortBlock) {
  player->type_codes = {Code("MPG3"), Code("WAVE"), Code("IMA ")};
  std::string codecs;
  ASSERT_EQ(rc::kOk, channel->GetSupportedFormats(&codecs));
  EXPECT_EQ(";mp3;wave;wave;", codecs);
  player->type_codes.clear();
  ASSERT_EQ(rc::kOk, channel->GetSupportedFormats(&codecs));
  EXPECT_EQ(";", codecs);
}

// A player whose list ends with a block that brings no bytes at all.
class ShortFormatsTransport : public SimUsbHardware {
 public:
  using SimUsbHardware::SimUsbHardware;
  Result ControlRequest(uint8_t request, uint16_t value, uint16_t index,
                        uint8_t reply[kReplySize]) override {
    empty_reads_ = request == 99 && value >= player().type_codes.size();
    if (!empty_reads_) return SimUsbHardware::ControlRequest(request, value, index, reply);
    memset(reply, 0, kReplySize);
    reply[0] = 1;
    return rc::kOk;
  }
  Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) override {
    *done = 0;
    return empty_reads_ ? rc::kOk : SimUsbHardware::Read(buffer, length, done, timeout_ms);
  }

 private:
  bool empty_reads_ = false;
};

TEST_F(SardaneChannelTest, FormatsListEndingInAShortTransferIsComplete) {
  channel.reset();
  auto* transport = new ShortFormatsTransport(player, 0x5003);
  ASSERT_EQ(rc::kOk, transport->Open());
  TestFamily family(transport, 0x5003, &clock);
  player->type_codes = {Code("AAC "), Code("ACLP")};
  std::string codecs;
  ASSERT_EQ(rc::kOk, family.GetSupportedFormats(&codecs));
  EXPECT_EQ(";aac;aclp;", codecs);
}

TEST_F(SardaneChannelTest, FormatsListFailureIsReturned) {
  player->recovery = true;  // request 99 unknown
  std::string codecs = "kept";
  EXPECT_EQ(rc::kUnknownRequest, channel->GetSupportedFormats(&codecs));
  EXPECT_EQ("kept", codecs);
}

TEST_F(SardaneChannelTest, EndlessFormatsListIsCutOff) {
  player->type_codes.assign(1000, Code("MPG3"));
  std::string codecs = "kept";
  EXPECT_EQ(rc::kBadData, channel->GetSupportedFormats(&codecs));
  EXPECT_EQ("kept", codecs);
  EXPECT_LT(Log().size(), 1000u);
  PropertyHolder info;
  EXPECT_EQ(rc::kBadData, channel->GetDeviceInfo(info));
}

// --- clock ---------------------------------------------------------------------------------

// Sets TZ for one test and restores the test run's zone after it.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    const char* old = getenv("TZ");
    old_ = std::string("TZ=") + (old ? old : "UTC");
    _putenv((std::string("TZ=") + zone).c_str());
    _tzset();
  }
  ~ScopedZone() {
    _putenv(old_.c_str());
    _tzset();
  }

 private:
  std::string old_;
};

TEST_F(SardaneChannelTest, ClockIsSentAsLocalTimeInValueAndIndex) {
  ASSERT_EQ(rc::kOk, channel->SetClock(0x12345678));
  EXPECT_EQ((Lines{"C123(4660,22136)"}), Log());
  EXPECT_EQ(0x12345678, player->device_time);
  ASSERT_EQ(rc::kOk, channel->SetDeviceTime(0x8765ABCD, 5));
  EXPECT_EQ(static_cast<int32_t>(0x8765ABCD), player->device_time);
}

TEST_F(SardaneChannelTest, ClockEastOfUtcWithDaylightSaving) {
  ScopedZone zone("CET-1CEST");
  const uint32_t july = 1594814400;    // 2020-07-15 12:00 UTC
  const uint32_t january = 1579089600;  // 2020-01-15 12:00 UTC
  ASSERT_EQ(rc::kOk, channel->SetClock(july));
  EXPECT_EQ(static_cast<int32_t>(july + 7200), player->device_time);
  ASSERT_EQ(rc::kOk, channel->SetClock(january));
  EXPECT_EQ(static_cast<int32_t>(january + 3600), player->device_time);
}

// --- suspend -------------------------------------------------------------------------------

TEST_F(SardaneChannelTest, SuspendClosesAndResumeReopensTheTransport) {
  ASSERT_EQ(rc::kOk, channel->Suspend(true));
  EXPECT_EQ(0, player->holders);
  SimUsbHardware other(player, 0x5003);
  EXPECT_EQ(rc::kOk, other.Open());  // another process may have the player now
  other.Close();
  ASSERT_EQ(rc::kOk, channel->Suspend(false));
  EXPECT_EQ(1, player->holders);
  EXPECT_EQ(0u, clock.SleepCount());
  EXPECT_EQ(kStateReady, channel->GetState());
}

TEST_F(SardaneChannelTest, ResumeGivesUpOnAPlayerThatStaysBusy) {
  ASSERT_EQ(rc::kOk, channel->Suspend(true));
  SimUsbHardware other(player, 0x5003);
  ASSERT_EQ(rc::kOk, other.Open());
  EXPECT_EQ(rc::kPlayerBusy, channel->Suspend(false));
  EXPECT_EQ(14u, clock.SleepCount());
  EXPECT_EQ(2800u, clock.TotalSlept());
}

// Lets the other holder go after a few pauses.
class ReleasingClock : public FakeClock {
 public:
  void SleepMs(uint32_t ms) override {
    FakeClock::SleepMs(ms);
    if (SleepCount() == 3) holder->Close();
  }
  UsbHardware* holder = nullptr;
};

TEST_F(SardaneChannelTest, ResumeWaitsForTheOtherHolder) {
  ASSERT_EQ(rc::kOk, channel->Suspend(true));
  ReleasingClock releasing;
  SimUsbHardware other(player, 0x5003);
  releasing.holder = &other;
  auto* transport = new SimUsbHardware(player, 0x5003);
  TestFamily family(transport, 0x5003, &releasing);
  ASSERT_EQ(rc::kOk, other.Open());
  EXPECT_EQ(rc::kOk, family.Suspend(false));
  EXPECT_EQ(3u, releasing.SleepCount());
  EXPECT_TRUE(transport->is_open());
}

TEST_F(SardaneChannelTest, DestructorClosesTheTransport) {
  EXPECT_EQ(1, player->holders);
  channel.reset();
  EXPECT_EQ(0, player->holders);
  EXPECT_EQ((Lines{"close"}), player->LogLines(true));
}

// --- format and firmware -------------------------------------------------------------------

TEST_F(SardaneChannelTest, FormatReportsProgressTo100) {
  player->storages.resize(2);
  player->format_progress = {"PR10", "PR55", "FMTD"};
  RecordingProgress progress;
  EXPECT_EQ(rc::kOk, channel->FormatStorage(1, &progress));
  EXPECT_EQ((Reports{{10, 100}, {55, 100}, {100, 100}}), progress.reports);
  EXPECT_EQ(1u, player->formatted_storage);
  EXPECT_TRUE(Sent("C106(1,0)"));
  player->format_progress = {"FMTD"};
  EXPECT_EQ(rc::kOk, channel->FormatStorage(0, nullptr));
}

TEST_F(SardaneChannelTest, FormatFailuresAreReturned) {
  EXPECT_EQ(rc::kProtocolError, channel->FormatStorage(5, nullptr));  // no such storage
  EXPECT_EQ(rc::kBadIndex, channel->FormatStorage(0x10000, nullptr));
  player->format_progress = {"PR10"};
  player->format_stalls = true;
  EXPECT_EQ(rc::kTimeout, channel->FormatStorage(0, nullptr));
}

TEST_F(SardaneChannelTest, FirmwareOf8193BytesGoesAsTwoChunks) {
  const std::string image = Pattern(8193);
  MemoryStream stream(image);
  RecordingProgress progress;
  EXPECT_EQ(1, channel->UpgradeFirmware(&stream, 0, &progress));
  EXPECT_EQ(8193u, player->firmware_size);
  EXPECT_EQ(image, player->firmware_image);
  ASSERT_EQ(2u, player->firmware_chunks.size());
  EXPECT_EQ(image.substr(0, 8192), player->firmware_chunks[0]);
  EXPECT_EQ(image.substr(8192) + std::string(8191, '\0'), player->firmware_chunks[1]);
  EXPECT_EQ((Reports{{0, 8193}, {8192, 8193}, {8193, 8193}, {8193, 8193}}), progress.reports);
}

TEST_F(SardaneChannelTest, FirmwareStartsOverWhenThePlayerAsks) {
  const std::string image = Pattern(3 * 8192);
  MemoryStream stream(image);
  player->firmware_states = {1, 0, 1, 1, 1};
  EXPECT_EQ(1, channel->UpgradeFirmware(&stream, 0, nullptr));
  EXPECT_EQ(1, player->firmware_restarts);
  EXPECT_EQ(image, player->firmware_image);
  EXPECT_EQ(image.substr(0, 8192), player->firmware_chunks[2]);  // sent again from the start
}

TEST_F(SardaneChannelTest, FirmwareRejectedByThePlayer) {
  MemoryStream stream(Pattern(100));
  player->firmware_start_words = {0x80000000};
  EXPECT_EQ(rc::kFirmwareRejected, channel->UpgradeFirmware(&stream, 0, nullptr));
  EXPECT_TRUE(player->firmware_chunks.empty());
}

TEST_F(SardaneChannelTest, FirmwareThatKeepsStartingOverGivesUp) {
  MemoryStream stream(Pattern(100));
  player->firmware_states = {0, 0, 0, 0, 0, 0};
  EXPECT_EQ(rc::kTimeout, channel->UpgradeFirmware(&stream, 0, nullptr));
  player->ClearLog();
  EXPECT_EQ(rc::kInvalidArg, channel->UpgradeFirmware(nullptr, 0, nullptr));
  EXPECT_TRUE(Log().empty());
}

// --- owner record --------------------------------------------------------------------------

TEST_F(SardaneChannelTest, OwnerRecordRoundTripOnAUtf8Player) {
  RefPtr<PropertySet> owner = NewSet();
  std::string long_name;
  for (int i = 0; i < 40; ++i) long_name += "\xC3\xA9";  // 80 bytes of two-byte characters
  owner->SetString("name", long_name);
  owner->SetString("hello", "Hi \xE2\x82\xAC");
  owner->SetString("phone", std::string(40, '7'));
  owner->SetString("email", "a@b.c");
  ASSERT_EQ(rc::kOk, channel->SetOwnerInfo(*owner));
  EXPECT_TRUE(Sent("C121"));
  const auto& record = player->owner_record;
  EXPECT_EQ(0, memcmp(&record[64], "Hi \xE2\x82\xAC\0", 7));
  EXPECT_EQ(0, record[128 + 62]);  // 31 characters (62 bytes) and the NUL
  EXPECT_EQ(0, record[384 + 31]);

  PropertyHolder read;
  ASSERT_EQ(rc::kOk, channel->GetOwnerInfo(read));
  EXPECT_EQ(long_name.substr(0, 62), read.GetString("name"));
  EXPECT_EQ("Hi \xE2\x82\xAC", read.GetString("hello"));
  EXPECT_EQ(std::string(31, '7'), read.GetString("phone"));
  EXPECT_EQ("a@b.c", read.GetString("email"));
  EXPECT_EQ("", read.GetString("city_state"));
  EXPECT_GE(read.GetSet()->FindColumn("password"), 0);
}

TEST_F(SardaneChannelTest, OwnerRecordRoundTripOnALatin1Player) {
  channel->utf8_text = false;
  RefPtr<PropertySet> owner = NewSet();
  owner->SetString("name", "J\xC3\xBCrgen \xE2\x82\xAC");
  owner->SetString("password", std::string(32, 'p'));
  ASSERT_EQ(rc::kOk, channel->SetOwnerInfo(*owner));
  const auto& record = player->owner_record;
  EXPECT_EQ(0, memcmp(&record[128], "J\xFCrgen \xBF\0", 10));
  EXPECT_EQ(0, record[416 + 31]);
  EXPECT_EQ(0, record[448]);  // the password did not run into the e-mail field

  PropertyHolder read;
  ASSERT_EQ(rc::kOk, channel->GetOwnerInfo(read));
  EXPECT_EQ("J\xC3\xBCrgen \xC2\xBF", read.GetString("name"));
  EXPECT_EQ(std::string(31, 'p'), read.GetString("password"));
}

TEST_F(SardaneChannelTest, OwnerFieldsWithoutNulStayInTheirWidth) {
  auto& record = player->owner_record;
  memset(&record[64], 'H', 64);
  memset(&record[128], 'N', 64);
  memset(&record[448], 'E', 64);
  record[512] = 'X';  // outside every field
  PropertyHolder read;
  ASSERT_EQ(rc::kOk, channel->GetOwnerInfo(read));
  EXPECT_EQ(std::string(64, 'H'), read.GetString("hello"));
  EXPECT_EQ(std::string(64, 'N'), read.GetString("name"));
  EXPECT_EQ(std::string(64, 'E'), read.GetString("email"));
}

TEST_F(SardaneChannelTest, OwnerRecordNeedsTheTextForm) {
  channel->utf8_result = rc::kNotImplemented;
  PropertyHolder read;
  EXPECT_EQ(rc::kNotImplemented, channel->GetOwnerInfo(read));
  RefPtr<PropertySet> owner = NewSet();
  EXPECT_EQ(rc::kNotImplemented, channel->SetOwnerInfo(*owner));
  EXPECT_TRUE(Log().empty());
}

// --- small requests and fixed answers ------------------------------------------------------

TEST_F(SardaneChannelTest, ButtonAndBatteryValues) {
  player->button_count = 7;
  player->battery_value = 0x0E10;
  PropertyHolder values;
  ASSERT_EQ(rc::kOk, channel->GetButtonCounters(values));
  ASSERT_EQ(rc::kOk, channel->GetBatteryInfo(values));
  EXPECT_EQ("7", values.GetString("buttons"));
  EXPECT_EQ("3600", values.GetString("sardane_battery"));
  // 0xFFFFFFFF is the player's "no value", not a value.
  player->button_count = player->battery_value = 0xFFFFFFFF;
  PropertyHolder none;
  EXPECT_EQ(rc::kProtocolError, channel->GetButtonCounters(none));
  EXPECT_EQ(rc::kProtocolError, channel->GetBatteryInfo(none));
  EXPECT_EQ(-1, none.GetSet()->FindColumn("buttons"));
  EXPECT_EQ(-1, none.GetSet()->FindColumn("sardane_battery"));
}

TEST_F(SardaneChannelTest, Request128GivesTheWordsUpToTheFirstZero) {
  std::vector<uint32_t> words = {99};
  SimPutLe32(&player->block128[0], 5);
  SimPutLe32(&player->block128[4], 0xFFFFFFFF);
  SimPutLe32(&player->block128[12], 7);
  ASSERT_EQ(rc::kOk, channel->Request128(&words));
  EXPECT_EQ((std::vector<uint32_t>{5, 0xFFFFFFFF}), words);
  EXPECT_EQ((Lines{"C101", "C128", "R128", "C102"}), Log());
  for (int i = 0; i < 32; ++i) SimPutLe32(&player->block128[4 * i], i + 1);
  ASSERT_EQ(rc::kOk, channel->Request128(&words));
  EXPECT_EQ(32u, words.size());
  EXPECT_EQ(32u, words.back());
  EXPECT_EQ(rc::kInvalidArg, channel->Request128(nullptr));
}

TEST_F(SardaneChannelTest, NumberedRequests) {
  ASSERT_EQ(rc::kOk, channel->Request119(0x1234, 9));
  EXPECT_EQ(0x1234, player->last_value);
  EXPECT_EQ(9, player->last_index);
  player->value140 = 601;
  uint32_t value = 0;
  ASSERT_EQ(rc::kOk, channel->Request140(&value));
  EXPECT_EQ(10u, value);
  ASSERT_EQ(rc::kOk, channel->Request142("hi there", 3));
  EXPECT_EQ("hi there", player->last_string);
  EXPECT_TRUE(Sent("C142(9,3)"));
  EXPECT_EQ(rc::kInvalidArg, channel->Request142("x", 0x10000));
}

TEST_F(SardaneChannelTest, FixedAnswersSendNothing) {
  PropertyHolder holder;
  RefPtr<PropertySet> a = NewSet(), b = NewSet();
  a->SetString("title", "x");
  bool differs = true;
  uint32_t id = 0;
  const struct {
    const char* what;
    Result result;
    Result expected;
  } cases[] = {
      {"ReservedOperation", channel->ReservedOperation(1), rc::kNotImplemented},
      {"Request137", channel->Request137(1, 2), rc::kNotImplemented},
      {"GetHardwareInfo", channel->GetHardwareInfo(holder), rc::kNotImplemented},
      {"Request145", channel->Request145(1), rc::kNotImplemented},
      {"ListStateFiles", channel->ListStateFiles(), rc::kNotImplemented},
      {"ReloadDatabase", channel->ReloadDatabase(nullptr), rc::kNotImplemented},
      {"Request146", channel->Request146(1, 2), rc::kNotImplemented},
      {"Commit", channel->Commit(1), rc::kOk},
      {"HoldStorage", channel->HoldStorage(true), rc::kOk},
      {"Login", channel->Login("secret"), rc::kOk},
      {"MetadataDiffers", channel->MetadataDiffers(*a, *b, &differs), rc::kOk},
      {"GetDeviceID", channel->GetDeviceID(&id), rc::kOk},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, c.result) << c.what;
  EXPECT_FALSE(differs);
  EXPECT_EQ(0x5003u, id);
  EXPECT_TRUE(Log().empty());
}

// --- records -------------------------------------------------------------------------------

TEST_F(SardaneChannelTest, DeleteFileSendsTheFamilysRecord) {
  player->Storage(0).files.push_back({Record(5, 1), "x"});
  player->Storage(0).files.push_back({Record(6, 1), "y"});
  PropertyHolder file;
  file.SetInt("fid", 5);
  ASSERT_EQ(rc::kOk, channel->DeleteFile(0, file));
  ASSERT_EQ(1u, player->Storage(0).files.size());
  EXPECT_EQ(6u, player->Storage(0).files[0].fid());
  EXPECT_EQ(rc::kBadStatusBlock, channel->DeleteFile(0, file));  // "SQELNOFL"
}

TEST_F(SardaneChannelTest, RewriteNeedsFileReplace) {
  player->Storage(0).files.push_back({Record(5, 1), "x"});
  RefPtr<PropertySet> file = NewSet();
  file->SetInt("fid", 5);
  file->SetInt("length", 99);
  EXPECT_EQ(rc::kNotOffered, channel->RewriteFileInfo(0, *file));
  EXPECT_FALSE(Sent("C133"));

  SimPutLe32(&player->info_block[8], 0x10000);
  MakeChannel(0x5003);
  ASSERT_EQ(rc::kOk, channel->RewriteFileInfo(0, *file));
  EXPECT_EQ(99u, SimGetLe32(&player->Storage(0).files[0].record[8]));
}

TEST_F(SardaneChannelTest, ConvertFileInfoIsTheFamilysDecoder) {
  const std::vector<uint8_t> record = Record(77, 5);
  PropertyHolder file;
  ASSERT_EQ(rc::kOk, channel->ConvertFileInfo(file, record.data(), qel::kRecordSize));
  EXPECT_EQ("77", file.GetString("fid"));
}

}  // namespace
