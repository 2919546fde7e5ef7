// The channel-free steps of a firmware update: the package key, the player's permission, and
// the image written into the firmware area of a simulated player's disk.
#include "devices/harddisk/firmware_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devices/harddisk/tea_stream.h"
#include "media/property_holder.h"
#include "sim_fixture.h"

namespace {

// Room for the whole firmware area and the first sectors of the system volume.
constexpr uint64_t kBlocks = 0x8000 + 256;

class RecordingProgress : public ProgressSink {
 public:
  Result Report(uint32_t done, uint32_t total) override {
    reports.push_back({done, total});
    return rc::kOk;
  }
  std::vector<std::pair<uint32_t, uint32_t>> reports;
};

// A stream that claims one size and holds more, or fails after some bytes.
class UnrulyStream : public Stream {
 public:
  explicit UnrulyStream(uint32_t fail_after) : fail_after_(fail_after) {}
  Result Read(void* buffer, uint32_t length, uint32_t* count) override {
    if (given_ >= fail_after_) return rc::kTimeout;
    const uint32_t n = std::min(length, fail_after_ - given_);
    std::memset(buffer, 0x5A, n);
    given_ += n;
    *count = n;
    return rc::kOk;
  }
  Result Write(const void*, uint32_t, uint32_t*) override { return rc::kFail; }

 private:
  uint32_t fail_after_;
  uint32_t given_ = 0;
};

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + i / 509);
  return bytes;
}

class FirmwareImageTest : public HardDiskSimTest {
 protected:
  void SetUp() override {
    HardDiskSimTest::SetUp();
    player = std::make_shared<SimHardDiskPlayer>(kBlocks);
    usb = std::make_unique<SimHardDiskUsb>(player);
    ASSERT_EQ(usb->Open(), rc::kOk);
    ASSERT_EQ(PlayerDisk::Create(usb.get(), &disk, &clock), rc::kOk);
    ASSERT_EQ(disk->Identify(), rc::kOk);
    ASSERT_EQ(disk->AcquireBus(), rc::kOk);
    // What lies behind the area must survive every write.
    player->WriteImage(0x8002, std::vector<uint8_t>(512, 0xEE).data());
    player->WriteImage(1, std::vector<uint8_t>(512, 0xDD).data());
  }

  // The WRITE(10) commands as (first block, count).
  std::vector<std::pair<uint32_t, uint32_t>> Writes() const {
    std::vector<std::pair<uint32_t, uint32_t>> writes;
    for (const SimHdPacket& p : player->log) {
      if (p.direction != SimHdPacket::kToPlayer || p.bytes.size() != 31 || p.bytes[15] != 0x2A)
        continue;
      const uint8_t* b = p.bytes.data() + 15;
      writes.push_back({uint32_t{b[2]} << 24 | b[3] << 16 | b[4] << 8 | b[5],
                        uint32_t{b[7]} << 8 | b[8]});
    }
    return writes;
  }

  void ExpectUntouchedAround() const {
    EXPECT_EQ(player->ImageBytes(0x8002 * 512, 512), std::vector<uint8_t>(512, 0xEE));
    EXPECT_EQ(player->ImageBytes(512, 512), std::vector<uint8_t>(512, 0xDD));
  }
};

TEST_F(FirmwareImageTest, ImageGoesFromSector2InZeroPadded32KiBChunks) {
  const std::string image = Pattern(70000);
  MemoryStream stream(image);
  RecordingProgress progress;
  player->log.clear();
  ASSERT_EQ(firmware::WriteImageSectors(disk.get(), &stream, 70000, &progress), rc::kOk);
  // Each chunk is one 64-sector write (the command's own limit), sectors 2, 66, 130.
  std::vector<std::pair<uint32_t, uint32_t>> chunks;
  for (const auto& w : Writes()) chunks.push_back(w);
  EXPECT_EQ(chunks, (std::vector<std::pair<uint32_t, uint32_t>>{{2, 64}, {66, 64}, {130, 64}}));
  const std::vector<uint8_t> written = player->ImageBytes(0x400, 3 * 32768);
  EXPECT_EQ(std::string(written.begin(), written.begin() + image.size()), image);
  EXPECT_TRUE(std::all_of(written.begin() + 70000, written.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(progress.reports, (std::vector<std::pair<uint32_t, uint32_t>>{
                                  {0, 70000}, {32768, 70000}, {65536, 70000}, {70000, 70000}}));
  ExpectUntouchedAround();
}

TEST_F(FirmwareImageTest, LargestImageFillsTheAreaExactly) {
  const std::string image = Pattern(firmware::kMaxImageSize);
  MemoryStream stream(image);
  MemoryStream too_big(image + "x");
  uint32_t size = 0;
  EXPECT_EQ(firmware::ImageSize(&too_big, &size), rc::kBadIndex);
  ASSERT_EQ(firmware::ImageSize(&stream, &size), rc::kOk);
  ASSERT_EQ(size, 0xFFFE00u);
  player->log.clear();
  ASSERT_EQ(firmware::WriteImageSectors(disk.get(), &stream, size, nullptr), rc::kOk);
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 512u);
  EXPECT_EQ(writes.back(), (std::pair<uint32_t, uint32_t>{2 + 511 * 64, 64}));
  const std::vector<uint8_t> written = player->ImageBytes(0x400, 0x1000000);
  EXPECT_EQ(std::string(written.begin(), written.begin() + image.size()), image);
  EXPECT_TRUE(std::all_of(written.end() - 512, written.end(), [](uint8_t b) { return b == 0; }));
  ExpectUntouchedAround();
}

TEST_F(FirmwareImageTest, EmptyImageWritesNothingAndReportsTwice) {
  MemoryStream stream;
  RecordingProgress progress;
  player->log.clear();
  ASSERT_EQ(firmware::WriteImageSectors(disk.get(), &stream, 0, &progress), rc::kOk);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(progress.reports, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0}, {0, 0}}));
}

TEST_F(FirmwareImageTest, NeverWritesBeyondTheSizeItWasGiven) {
  // A stream holding more than its size said (or than the area holds) stops at the size.
  UnrulyStream endless(UINT32_MAX);
  player->log.clear();
  ASSERT_EQ(firmware::WriteImageSectors(disk.get(), &endless, 40000, nullptr), rc::kOk);
  EXPECT_EQ(Writes().size(), 2u);
  EXPECT_EQ(player->ImageBytes(0x400 + 40000, 1), std::vector<uint8_t>{0});
  EXPECT_EQ(firmware::WriteImageSectors(disk.get(), &endless, firmware::kMaxImageSize + 1,
                                        nullptr),
            rc::kBadIndex);
  ExpectUntouchedAround();
}

TEST_F(FirmwareImageTest, ReadAndWriteFailuresEndTheLoop) {
  UnrulyStream failing(40000);
  player->log.clear();
  EXPECT_EQ(firmware::WriteImageSectors(disk.get(), &failing, 100000, nullptr), rc::kTimeout);
  EXPECT_EQ(Writes().size(), 1u);  // the first chunk stays written

  MemoryStream stream(Pattern(100000));
  player->fail_all_writes = true;
  player->log.clear();
  EXPECT_EQ(firmware::WriteImageSectors(disk.get(), &stream, 100000, nullptr), rc::kFail);
  EXPECT_EQ(Writes().size(), 1u);
  player->fail_all_writes = false;
}

TEST(FirmwarePermissionTest, CapabilityOrRecoveryMode) {
  struct Case {
    const char* capabilities;
    const char* recovery;  // null: absent
    Result expected;
  } cases[] = {
      {";format;firmware;", "0", rc::kOk},
      {"firmware", nullptr, rc::kOk},
      {"format;firmware", "0", rc::kOk},
      {";format;", "0", rc::kFirmwareRefused},
      {";firmwares;", nullptr, rc::kFirmwareRefused},
      {"", "1", rc::kOk},
      {";format;", "2", rc::kOk},
  };
  for (const Case& c : cases) {
    PropertyHolder info;
    info.SetString("capabilities", c.capabilities);
    if (c.recovery) info.SetString("recovery", c.recovery);
    EXPECT_EQ(firmware::FirmwareAccepted(*info.GetSet()), c.expected) << c.capabilities;
  }
}

TEST(FirmwarePackageKeyTest, DeciphersWhatTheKeyEnciphered) {
  uint32_t key[4];
  firmware::PackageKey(key);
  EXPECT_FALSE(key[0] == 0 && key[1] == 0 && key[2] == 0 && key[3] == 0);
  const std::string plain = Pattern(100003);  // not whole blocks: the tail passes as it is
  MemoryStream cipher;
  TeaStream encipher(&cipher, key, false);
  uint32_t written = 0;
  ASSERT_EQ(encipher.Write(plain.data(), 100000, &written), rc::kOk);
  cipher.Write(plain.data() + 100000, 3, &written);
  ASSERT_EQ(cipher.Seek(0), rc::kOk);
  MemoryStream out;
  ASSERT_EQ(firmware::DecipherPackage(&cipher, &out), rc::kOk);
  EXPECT_EQ(out.Bytes(), plain);
}

}  // namespace
