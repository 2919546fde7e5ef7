// Firmware updates of a simulated hard-disk player through its channel: enciphered GNU tar
// packages (made by GNU tar at build time, `tar -tvf` as the reference) and plain images.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/harddisk/fid_path.h"
#include "devices/harddisk/firmware_update.h"
#include "devices/harddisk/tea_stream.h"
#include "firmware_packages.inc"
#include "sim/harddisk/player_files.h"
#include "support/byte_order.h"
#include "support/memory_stream.h"
#include "tarnu_channel_fixture.h"

namespace {

constexpr uint64_t kImageOffset = 0x400;  // sector 2

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

std::string Enciphered(const unsigned char* bytes, uint32_t size) {
  uint32_t key[4];
  firmware::PackageKey(key);
  MemoryStream out;
  TeaStream encipher(&out, key, false);
  uint32_t written = 0;
  EXPECT_EQ(encipher.Write(bytes, size, &written), rc::kOk);
  EXPECT_EQ(written, size);  // tar archives are whole 512-byte records
  return out.Bytes();
}

class Progress : public ProgressSink {
 public:
  Result Report(uint32_t done, uint32_t total) override {
    reports.push_back({done, total});
    return rc::kOk;
  }
  std::vector<std::pair<uint32_t, uint32_t>> reports;
};

class TarnuFirmwareTest : public TarnuChannelTest {
 protected:
  void SetUp() override {
    TarnuChannelTest::SetUp();
    Allow();
  }
  void Allow() { player->reply_data[5] = Text("capabilities=;format;firmware;\nrecovery=0\n"); }

  std::string SystemFile(const std::string& path, Result* result = nullptr) {
    std::string content;
    channel->Suspend(true);  // the player has one bus
    const Result read = ReadPlayerFile(player, path, &content, 1);
    EXPECT_EQ(channel->Suspend(false), rc::kOk);
    if (result) *result = read;
    return content;
  }

  std::string Image(size_t size) const {
    const std::vector<uint8_t> bytes = player->ImageBytes(kImageOffset, size);
    return std::string(bytes.begin(), bytes.end());
  }

  // A track uploaded but not committed: the music volume is mounted, the database dirty.
  void UploadWithoutCommit(uint32_t fid, const std::string& content) {
    MemoryStream source(content);
    ASSERT_EQ(channel->SendFile(0, *Track(fid, content), &source, nullptr), rc::kOk);
    ASSERT_TRUE(channel->database_dirty());
    ASSERT_NE(channel->music_volume(), nullptr);
  }

  // READ(10) commands of the music volume after the last write into the firmware area.
  int MusicReadsAfterImage() const {
    int reads = 0;
    for (const SimHdPacket& p : player->log) {
      if (p.direction != SimHdPacket::kToPlayer || p.bytes.size() != 31) continue;
      const uint8_t* block = p.bytes.data() + 15;
      const uint32_t first = bytes::Be32(block + 2);
      if (block[0] == 0x2A && first < player_layout::kSystemStart / 512) reads = 0;
      if (block[0] == 0x28 && first >= player_layout::kMusicStart / 512) ++reads;
    }
    return reads;
  }

  void ExpectFinished() {
    ASSERT_FALSE(player->fx2_commands.empty());
    EXPECT_EQ(player->fx2_commands.back(), 3);  // new firmware in place
    EXPECT_FALSE(player->bus_held);
    EXPECT_FALSE(channel->bus_held());
    EXPECT_EQ(channel->music_volume(), nullptr);
  }
};

TEST_F(TarnuFirmwareTest, TarPackageInstallsTheSystemTreeAndThenItsImage) {
  const std::string track(5000, 't');
  UploadWithoutCommit(0x120, track);
  MemoryStream package(Enciphered(kFullPackage, kFullPackageSize));
  Progress progress;
  ASSERT_EQ(channel->UpgradeFirmware(&package, 0, &progress), rc::kOk);
  ExpectFinished();

  // The "system/" tree, and only it, is on the system volume's root.
  int files = 0;
  for (const PackageListing& row : kFullPackageListing) {
    const std::string path = row.path;
    if (path.compare(0, 9, "./system/") != 0 || row.kind != '-') continue;
    ++files;
    Result read = rc::kFail;
    EXPECT_EQ(SystemFile(path.substr(8), &read).size(), row.size) << path;
    EXPECT_EQ(read, rc::kOk) << path;
  }
  EXPECT_EQ(files, 2);
  EXPECT_EQ(SystemFile("/etc/version"), "2.1\n");
  Result missing = rc::kOk;
  SystemFile("/readme.txt", &missing);
  EXPECT_TRUE(rc::Failed(missing));
  SystemFile("/firmware/firmware.lok", &missing);
  EXPECT_TRUE(rc::Failed(missing));

  // The image from sector 2 on, its last chunk padded with zeros.
  const std::string image(reinterpret_cast<const char*>(kPackageImage), kPackageImageSize);
  const std::string area = Image(3 * firmware::kChunkBytes);
  EXPECT_EQ(area.substr(0, image.size()), image);
  EXPECT_EQ(area.substr(image.size()), std::string(area.size() - image.size(), '\0'));
  ASSERT_GE(progress.reports.size(), 2u);
  EXPECT_EQ(progress.reports.back(), std::make_pair(kPackageImageSize, kPackageImageSize));

  // The upload that was still pending was saved before the volumes went away.
  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  EXPECT_EQ(database->RowCount(), 1u);
  EXPECT_EQ(ReadMusicFile(tarnu_fid::FidPath(0x120)), track);
}

// GNU tar made this package from a list of its files: "system/" and its folders have no members
// of their own, and GNU tar extracts them all the same.
TEST_F(TarnuFirmwareTest, PackageMadeFromAFileListInstallsItsSystemFiles) {
  MemoryStream package(Enciphered(kListedPackage, kListedPackageSize));
  ASSERT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kOk);
  ExpectFinished();
  for (const PackageListing& row : kListedPackageListing) {
    const std::string path = row.path;
    if (path.compare(0, 7, "system/") != 0) continue;
    Result read = rc::kFail;
    EXPECT_EQ(SystemFile(path.substr(6), &read).size(), row.size) << path;
    EXPECT_EQ(read, rc::kOk) << path;
  }
  EXPECT_EQ(SystemFile("/etc/version"), "2.1\n");
  const std::string image(reinterpret_cast<const char*>(kPackageImage), kPackageImageSize);
  EXPECT_EQ(Image(image.size()), image);
}

TEST_F(TarnuFirmwareTest, PackageThatIsNoArchiveIsWrittenAsItCame) {
  std::string raw(40000, '\0');
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<char>(i * 3 + 1);
  MemoryStream package(raw);
  ASSERT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kOk);
  ExpectFinished();
  EXPECT_EQ(MusicReadsAfterImage(), 0);
  ASSERT_EQ(package.Seek(0), rc::kOk);
  ASSERT_EQ(channel->UpgradeFirmware(&package, 1, nullptr), rc::kOk);  // with the volume check
  ExpectFinished();
  EXPECT_GT(MusicReadsAfterImage(), 0);
  EXPECT_EQ(Image(raw.size()), raw);  // not deciphered
  EXPECT_EQ(Image(2 * firmware::kChunkBytes).substr(raw.size()),
            std::string(2 * firmware::kChunkBytes - raw.size(), '\0'));
  EXPECT_TRUE(DatabaseOnDisk());
}

TEST_F(TarnuFirmwareTest, PlayerMustOfferFirmwareOrBeInRecovery) {
  player->reply_data[5] = Text("capabilities=;format;\nrecovery=0\n");
  MemoryStream package(std::string(1024, 'x'));
  const uint64_t written = player->sectors_written;
  EXPECT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), tarnu_result::kFirmwareNotAllowed);
  EXPECT_EQ(player->sectors_written, written);
  EXPECT_FALSE(player->bus_held);

  player->reply_data[5] = Text("capabilities=;format;\nrecovery=1\n");
  ASSERT_EQ(package.Seek(0), rc::kOk);
  EXPECT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kOk);
  EXPECT_EQ(Image(1024), std::string(1024, 'x'));
}

TEST_F(TarnuFirmwareTest, OversizedImageIsRefusedBeforeTheBusIsTaken) {
  MemoryStream package(std::string(firmware::kMaxImageSize + 1, 'x'));
  player->fx2_commands.clear();
  EXPECT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kBadIndex);
  EXPECT_EQ(player->fx2_commands, std::vector<uint8_t>{5});  // only the player information
  EXPECT_FALSE(player->bus_held);
  EXPECT_EQ(Image(512), std::string(512, '\0'));
}

TEST_F(TarnuFirmwareTest, ArchiveWithoutImageInstallsTheTreeThenFails) {
  MemoryStream package(Enciphered(kBarePackage, kBarePackageSize));
  player->fx2_commands.clear();
  EXPECT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kNotFound);
  EXPECT_EQ(std::count(player->fx2_commands.begin(), player->fx2_commands.end(), 3), 0);
  channel->Close();
  EXPECT_EQ(SystemFile("/etc/version"), "2.2\n");
  EXPECT_EQ(Image(512), std::string(512, '\0'));
}

// A package cut short inside a member is refused before the system volume or the firmware area
// is written, whichever member the cut falls into.
TEST_F(TarnuFirmwareTest, PackageCutShortIsRefusedBeforeAnythingIsWritten) {
  const std::string full(reinterpret_cast<const char*>(kFullPackage), kFullPackageSize);
  const size_t image_header = full.find("./firmware/firmware.lok");
  const size_t version_header = full.find("./system/etc/version");
  ASSERT_NE(image_header, std::string::npos);
  ASSERT_NE(version_header, std::string::npos);
  // 1,024 bytes of the image's 70,000; or the version file's header without its 4 bytes.
  for (const size_t cut : {image_header + 512 + 1024, version_header + 512}) {
    SCOPED_TRACE(cut);
    const std::string cut_package = full.substr(0, cut);
    MemoryStream package(Enciphered(reinterpret_cast<const uint8_t*>(cut_package.data()),
                                    static_cast<uint32_t>(cut_package.size())));
    const uint64_t written = player->sectors_written;
    player->fx2_commands.clear();
    EXPECT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kShortTransfer);
    EXPECT_EQ(player->sectors_written, written);
    EXPECT_EQ(std::count(player->fx2_commands.begin(), player->fx2_commands.end(), 3), 0);
    EXPECT_FALSE(player->bus_held);
    EXPECT_EQ(Image(512), std::string(512, '\0'));
  }
  // The whole package still goes in afterwards.
  MemoryStream package(Enciphered(kFullPackage, kFullPackageSize));
  ASSERT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kOk);
  EXPECT_EQ(SystemFile("/etc/version"), "2.1\n");
}

// A music volume laid out for a smaller disk is repaired by the update's layout check: that must
// not happen under a mounted volume with unsaved changes.
TEST_F(TarnuFirmwareTest, MusicVolumeIsClosedBeforeTheLayoutIsRepaired) {
  auto smaller = player;
  channel.reset();
  player = std::make_shared<SimHardDiskPlayer>(MusicDisk(56) / 512);
  for (uint64_t block = 0; block < smaller->block_count(); ++block) {
    uint8_t sector[512];
    smaller->ReadImage(block, sector);
    if (std::any_of(sector, sector + 512, [](uint8_t b) { return b != 0; }))
      player->WriteImage(block, sector);
  }
  Allow();
  MakeChannel();
  const std::string track(70000, 'm');
  UploadWithoutCommit(0x150, track);

  MemoryStream package(Enciphered(kFullPackage, kFullPackageSize));
  ASSERT_EQ(channel->UpgradeFirmware(&package, 0, nullptr), rc::kOk);
  ExpectFinished();
  auto database = DatabaseOnDisk();
  ASSERT_TRUE(database);
  EXPECT_EQ(database->RowCount(), 1u);
  EXPECT_EQ(ReadMusicFile(tarnu_fid::FidPath(0x150)), track);
  EXPECT_EQ(SystemFile("/etc/version"), "2.1\n");
}

}  // namespace
