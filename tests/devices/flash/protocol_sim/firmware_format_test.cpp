#include "devices/flash/protocol_sim/session_fixture.h"
#include "support/debug_trace.h"
#include "support/memory_stream.h"

namespace {

using Reports = std::vector<std::pair<uint32_t, uint32_t>>;

// --- format ----------------------------------------------------------------------------------

TEST_F(SessionTest, FormatFollowsTheProgressTo100) {
  player->Storage(0).files.push_back({Record(1, 1), "x"});
  player->format_progress = {"PR07", "PR50", "PR50", "FMTD"};
  RecordingProgress progress;
  {
    ProtocolSession session(&hw, &clock);
    EXPECT_EQ(rc::kOk, session.FormatWithProgress(0, &progress));
  }
  EXPECT_EQ((Reports{{7, 100}, {50, 100}, {50, 100}, {100, 100}}), progress.reports);
  EXPECT_EQ((Lines{"C96", "C101", "C106", "R:SQELPR07", "R:SQELPR50", "R:SQELPR50",
                   "R:SQELFMTD", "C102"}),
            Log());
  EXPECT_TRUE(player->Storage(0).files.empty());
  EXPECT_FALSE(player->Busy());
}

struct ProgressCase {
  const char* word;
  Result expected;
  uint32_t percent;
};

TEST_F(SessionTest, FormatProgressReadsPercentOrDone) {
  const ProgressCase cases[] = {
      {"PR07", rc::kOk, 7},   {"PR99", rc::kOk, 99},           {"FMTD", rc::kOk, 100},
      {"PR7", rc::kBadStatusBlock, 0}, {"PRx7", rc::kBadStatusBlock, 0},
      {"EROR", rc::kBadStatusBlock, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    // A player of its own each time: the last one may still be formatting.
    auto formatting = std::make_shared<SimFlashPlayer>();
    SimUsbHardware transport(formatting, 0x5003);
    ASSERT_EQ(rc::kOk, transport.Open());
    formatting->format_progress = {c.word};
    ProtocolSession session(&transport, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, session.Format(0));
    uint32_t percent = 0;
    EXPECT_EQ(c.expected, session.FormatProgress(&percent));
    EXPECT_EQ(c.percent, percent);
  }
}

// A format whose percentage stands still for the long time-out (60 s) is given up; one
// that repeats a percentage for less, however often, goes on to its end.
TEST_F(SessionTest, AFormatThatNeverAdvancesEndsWithATimeOut) {
  player->clock = &clock;
  player->ms_per_message = 1000;
  player->format_progress = {"PR03"};
  player->format_stalls = true;  // "PR05" for ever
  ProtocolSession session(&hw, &clock);
  EXPECT_EQ(rc::kTimeout, session.FormatWithProgress(0, nullptr));
  // One rise to 5, then a report a second until 60 s have passed without a rise.
  EXPECT_EQ(1 + 61, Count("R:SQELPR05"));
}

TEST_F(SessionTest, ASlowFormatRepeatingItsPercentageIsNotGivenUp) {
  const struct {
    uint32_t ms_per_report;
    int repeats;
  } cases[] = {{100, 590}, {10, 5000}, {59000, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ms_per_report);
    auto slow = std::make_shared<SimFlashPlayer>();
    SimUsbHardware transport(slow, 0x5003);
    ASSERT_EQ(rc::kOk, transport.Open());
    slow->clock = &clock;
    slow->ms_per_message = c.ms_per_report;
    slow->format_progress.assign(static_cast<size_t>(c.repeats) + 1, "PR40");
    slow->format_progress.push_back("FMTD");
    RecordingProgress progress;
    ProtocolSession session(&transport, &clock);
    EXPECT_EQ(rc::kOk, session.FormatWithProgress(0, &progress));
    ASSERT_FALSE(progress.reports.empty());
    EXPECT_EQ(100u, progress.reports.back().first);
  }
}

TEST_F(SessionTest, AFormatOfAMissingStorageFails) {
  ProtocolSession session(&hw, &clock);
  EXPECT_EQ(rc::kProtocolError, session.FormatWithProgress(4, nullptr));
  EXPECT_EQ(0, Count("R:SQELFMTD"));
}

// --- firmware --------------------------------------------------------------------------------

class FirmwareTest : public SessionTest {
 protected:
  Result Upgrade(const std::string& image) {
    MemoryStream stream(image);
    ProtocolSession session(&hw, &clock);
    return session.UpgradeFirmware(&stream, &progress);
  }
  RecordingProgress progress;
};

TEST_F(FirmwareTest, AnImageGoesInPaddedChunksWithItsStates) {
  player->firmware_start_progress = {10, 60};
  player->firmware_size_progress = {90};
  player->firmware_states = {1, 2};
  const std::string image = Pattern(8193);
  EXPECT_EQ(1, Upgrade(image));
  EXPECT_EQ(image, player->firmware_image);
  EXPECT_EQ(8193u, player->firmware_size);
  EXPECT_EQ((Lines{"C101", "C96", "C107(1,0)", "R:P10", "R:P60", "R:%", "W64", "R:P90", "R:$0",
                   "W8192", "R:$1", "W8192", "R:$2", "C102"}),
            Log());
  // The last position is reported once more when the image turns out to have ended.
  EXPECT_EQ((Reports{{10, 100}, {60, 100}, {90, 100}, {0, 8193}, {8192, 8193}, {8193, 8193},
                     {8193, 8193}}),
            progress.reports);
  EXPECT_EQ(0, player->lock_depth);
  // The 4 ms pauses before the size and each chunk; no other wait.
  EXPECT_EQ(12u, clock.TotalSlept());
}

struct StartCase {
  const char* what;
  std::vector<uint32_t> words;
  Result expected;
  int tries;
  uint64_t slept_before_image;
};

TEST_F(FirmwareTest, TheStartIsAskedUpToFiveTimes) {
  const StartCase cases[] = {
      {"go on at once", {0x80000101}, 1, 1, 0},
      {"go on on the third try", {0, 5, 0x80000101}, 1, 3, 600},
      {"never a negative word", {0}, 1, 5, 1200},
      {"refused", {0, 0x80000001}, rc::kFirmwareRejected, 2, 300},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto fresh = std::make_shared<SimFlashPlayer>();
    SimUsbHardware transport(fresh, 0x5003);
    transport.Open();
    fresh->firmware_start_words = c.words;
    FakeClock fake;
    MemoryStream stream(Pattern(100));
    {
      ProtocolSession session(&transport, &fake);
      EXPECT_EQ(c.expected, session.UpgradeFirmware(&stream, nullptr));
    }
    int tries = 0;
    for (const auto& line : fresh->LogLines()) tries += line == "C107(1,0)";
    EXPECT_EQ(c.tries, tries);
    const uint64_t pauses = rc::Succeeded(c.expected) ? 8 : 0;
    EXPECT_EQ(c.slept_before_image + pauses, fake.TotalSlept());
    EXPECT_EQ(0, fresh->lock_depth);
  }
}

TEST_F(FirmwareTest, StateZeroSendsTheImageAgainFromItsStart) {
  player->firmware_states = {1, 0, 1, 1};
  const std::string image = Pattern(2 * qel::kFirmwareChunkSize);
  EXPECT_EQ(1, Upgrade(image));
  EXPECT_EQ(image, player->firmware_image);
  EXPECT_EQ(1, player->firmware_restarts);
  EXPECT_EQ(4, Count("W8192"));
}

TEST_F(FirmwareTest, APlayerThatAlwaysRestartsIsGivenUp) {
  player->firmware_states.assign(50, 0);
  EXPECT_EQ(rc::kTimeout, Upgrade(Pattern(2 * qel::kFirmwareChunkSize)));
  EXPECT_EQ(1 + qel::kMaxFirmwareRestarts, Count("W8192"));
  EXPECT_EQ(0, player->lock_depth);
}

TEST_F(FirmwareTest, ChunkStatusTimeOutsAreReadAgainTenTimesInAll) {
  player->firmware_status_timeouts = 9;
  EXPECT_EQ(1, Upgrade(Pattern(10)));
  EXPECT_EQ(9, Count("R!c004000b"));
  player->firmware_status_timeouts = 10;
  player->ClearLog();
  EXPECT_EQ(rc::kTimeout, Upgrade(Pattern(10)));
  EXPECT_EQ(10, Count("R!c004000b"));
}

class CapturingTrace : public TraceSink {
 public:
  CapturingTrace() { DebugTrace::SetSink(this); }
  ~CapturingTrace() override { DebugTrace::SetSink(nullptr); }
  void Write(const char* text) override { lines += text; }
  std::string lines;
};

TEST_F(FirmwareTest, AnUnknownStateIsAnError) {
  player->firmware_states = {0xF9};
  CapturingTrace trace;
  EXPECT_EQ(rc::kBadStatusBlock, Upgrade(Pattern(10)));
  EXPECT_NE(std::string::npos, trace.lines.find("Got error -7 when continuing firmware upgrade.\n"));
}

TEST_F(FirmwareTest, AStartThatOnlyReportsProgressIsGivenUp) {
  player->clock = &clock;
  player->ms_per_message = 1000;
  player->firmware_start_progress.assign(500, 42);
  EXPECT_EQ(rc::kTimeout, Upgrade(Pattern(10)));
  // The first report is a rise; then one a second until 60 s have passed without one.
  EXPECT_EQ(1 + 61, Count("R:P42"));
}

TEST_F(FirmwareTest, ASlowStartRepeatingItsPercentageGoesOn) {
  player->clock = &clock;
  player->ms_per_message = 100;
  player->firmware_start_progress.assign(500, 42);  // 50 s of the same percentage
  // 1: the upgrade went through and the player restarts (its last state).
  EXPECT_EQ(1, Upgrade(Pattern(10)));
  EXPECT_EQ(Pattern(10), player->firmware_image);
}

// An image stream that delivers more than its size announced to the player.
class GrowingStream : public MemoryStream {
 public:
  using MemoryStream::MemoryStream;
  Result GetSize(uint32_t* size) override {
    *size = 100;
    return rc::kOk;
  }
};

TEST_F(FirmwareTest, AnImageLongerThanAnnouncedIsRefused) {
  GrowingStream stream(Pattern(3 * qel::kFirmwareChunkSize));
  ProtocolSession session(&hw, &clock);
  EXPECT_EQ(rc::kSizeMismatch, session.UpgradeFirmware(&stream, nullptr));
  EXPECT_EQ(0, Count("W8192"));
}

// --- recovery mode ---------------------------------------------------------------------------

TEST_F(FirmwareTest, APlayerInRecoveryTakesOnlyTheFirmware) {
  player->recovery = true;
  ProtocolSession session(&hw, &clock);
  uint32_t word = 0;
  ASSERT_EQ(rc::kOk, session.GetStatusWord(&word));
  EXPECT_EQ(0x700u, word & 0xF00);
  uint8_t info[qel::kDeviceInfoSize];
  EXPECT_EQ(rc::kUnknownRequest, session.ReadDeviceInfoBlock(info));
  uint8_t block[qel::kStorageBlockSize];
  EXPECT_EQ(rc::kUnknownRequest, session.ReadStorageBlock(0, block));

  const std::string image = Pattern(20000);
  MemoryStream stream(image);
  EXPECT_EQ(1, session.UpgradeFirmware(&stream, nullptr));
  EXPECT_EQ(image, player->firmware_image);
  EXPECT_FALSE(player->recovery);
  ASSERT_EQ(rc::kOk, session.GetStatusWord(&word));
  EXPECT_EQ(0u, word & 0xF00);
}

}  // namespace
