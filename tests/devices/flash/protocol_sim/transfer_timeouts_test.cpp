// Every bulk transfer goes out with the time-out its step allows the player: 5 s for ordinary
// commands, data and status blocks, 10 s for the status that answers request 137 (and the data
// of a tail, checked with the tail), 60 s for each format progress report.
#include "devices/flash/protocol_sim/session_fixture.h"

namespace {

constexpr uint32_t kOrdinary = 5000, kTail = 10000, kProgress = 60000;

struct Timed {
  std::string line;
  uint32_t timeout_ms;
  bool operator==(const Timed& other) const {
    return line == other.line && timeout_ms == other.timeout_ms;
  }
};

std::ostream& operator<<(std::ostream& out, const Timed& t) {
  return out << t.line << "@" << t.timeout_ms;
}

// The bulk transfers of the log with their time-outs.
std::vector<Timed> Transfers(const SimFlashPlayer& player) {
  std::vector<Timed> timed;
  for (const SimLogEntry& entry : player.log) {
    if (entry.kind == SimLogEntry::kRead || entry.kind == SimLogEntry::kWrite)
      timed.push_back({entry.ToString(), entry.timeout_ms});
  }
  return timed;
}

TEST_F(SessionTest, AnUploadWaitsTheOrdinaryTimeEverywhere) {
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Lock());
    ASSERT_EQ(rc::kOk, Upload(session, Pattern(qel::kChunkSize + 10)));
  }
  const std::vector<Timed> transfers = Transfers(*player);
  ASSERT_FALSE(transfers.empty());
  for (const Timed& t : transfers) EXPECT_EQ(kOrdinary, t.timeout_ms) << t.line;
}

TEST_F(SessionTest, Request137sStatusWaitsLonger) {
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.Request137(1, 2));
  }
  EXPECT_EQ((std::vector<Timed>{{"R:SQELDONE", kTail}}), Transfers(*player));
}

TEST_F(SessionTest, FormatProgressWaitsTheLongTime) {
  player->format_progress = {"PR07", "PR50", "FMTD"};
  {
    ProtocolSession session(&hw, &clock);
    ASSERT_EQ(rc::kOk, session.FormatWithProgress(0, nullptr));
  }
  EXPECT_EQ((std::vector<Timed>{
                {"R:SQELPR07", kProgress}, {"R:SQELPR50", kProgress}, {"R:SQELFMTD", kProgress}}),
            Transfers(*player));
}

}  // namespace
