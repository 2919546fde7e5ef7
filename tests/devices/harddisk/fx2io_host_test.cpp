#include <cstring>
#include <vector>

#include "sim_fixture.h"

namespace {

using Fx2Test = HardDiskSimTest;

std::vector<uint8_t> Packet(uint8_t kind, uint8_t code, uint16_t sequence,
                            const uint8_t* arguments = nullptr) {
  std::vector<uint8_t> p = {'Q', 'E', 'L', 'P', kind, code, static_cast<uint8_t>(sequence),
                            static_cast<uint8_t>(sequence >> 8)};
  p.resize(40, 0);
  if (arguments) std::memcpy(p.data() + 8, arguments, 32);
  return p;
}

std::vector<std::vector<uint8_t>> Sent(const SimHardDiskPlayer& player) {
  std::vector<std::vector<uint8_t>> sent;
  for (const SimHdPacket& p : player.log)
    if (p.direction == SimHdPacket::kToPlayer) sent.push_back(p.bytes);
  return sent;
}

TEST_F(Fx2Test, CommandAndFirstPollCarryOneSequenceNumberThenItAdvances) {
  player->result_words[7] = 0x11223344;
  ASSERT_EQ(disk->SendCommand7(0xA1A2A3A4, 0xB1B2B3B4), 0x11223344);
  const uint8_t args[32] = {0xA4, 0xA3, 0xA2, 0xA1, 0xA4, 0xA3, 0xA2, 0xA1,
                            0xB4, 0xB3, 0xB2, 0xB1};
  const auto sent = Sent(*player);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], Packet(0x00, 7, 0x1234, args));
  EXPECT_EQ(sent[1], Packet(0x80, 0, 0x1234));
  EXPECT_EQ(clock.sleeps, 0);  // answered at the first poll
  EXPECT_EQ(Fx2IoHost::SequenceNumber(), 0x1235);
}

TEST_F(Fx2Test, SequenceNumberWrapsAndAdvancesAfterFailures) {
  Fx2IoHost::SetSequenceNumberForTest(0xFFFF);
  player->command_ack_byte = 0x33;
  EXPECT_EQ(disk->SendCommand4(), rc::kFail);  // not acknowledged
  EXPECT_EQ(Fx2IoHost::SequenceNumber(), 0);
  player->command_ack_byte = 0xF0;
  ASSERT_EQ(disk->SendCommand4(), rc::kOk);
  EXPECT_EQ(Sent(*player).back(), Packet(0x80, 0, 0));
}

TEST_F(Fx2Test, PollsEvery200MsUntilTheAnswer) {
  player->naks_before_answer = 3;
  ASSERT_EQ(disk->SendCommand4(), rc::kOk);
  EXPECT_EQ(clock.sleeps, 3);
  EXPECT_EQ(Sent(*player).size(), 5u);  // command, three polls answered "not ready", one more
}

TEST_F(Fx2Test, PlayerThatNeverAnswersTimesOut) {
  struct Case {
    uint32_t timeout_ms;
    int polls;
  } cases[] = {{10000, 51}, {0, 1}, {1500, 8}};
  for (const Case& c : cases) {
    auto silent = std::make_shared<SimHardDiskPlayer>(100);
    silent->never_answer = true;
    SimHardDiskUsb silent_usb(silent);
    ASSERT_EQ(silent_usb.Open(), rc::kOk);
    clock.sleeps = 0;
    std::unique_ptr<Fx2IoHost> host;
    ASSERT_EQ(Fx2IoHost::Create(&silent_usb, &host, &clock), rc::kOk);
    Fx2Command command;
    command.code = 9;
    Fx2Reply reply;
    EXPECT_EQ(host->Exchange(command, &reply, c.timeout_ms), rc::kTimeout) << c.timeout_ms;
    EXPECT_EQ(static_cast<int>(Sent(*silent).size()) - 1, c.polls) << c.timeout_ms;
    EXPECT_EQ(clock.sleeps, c.polls);
  }
}

TEST_F(Fx2Test, OddAnswerEndsTheWaitWithoutFurtherPolls) {
  player->poll_answer_byte = 0x55;
  EXPECT_EQ(disk->SendCommand4(), rc::kFail);
  EXPECT_EQ(Sent(*player).size(), 2u);
}

TEST_F(Fx2Test, NegativeResultWordIsTheCallersFailure) {
  player->result_words[3] = 0x80070005;
  EXPECT_EQ(disk->SendCommand3(), static_cast<Result>(0x80070005));
}

TEST_F(Fx2Test, ReplyTextsAreTerminatedEvenWhenThePlayerFillsAll505Bytes) {
  player->reply_data[5] = std::vector<uint8_t>(505, 'x');
  std::unique_ptr<Fx2IoHost> host;
  ASSERT_EQ(Fx2IoHost::Create(usb.get(), &host, &clock), rc::kOk);
  Fx2Command command;
  command.code = 5;
  Fx2Reply reply;
  std::memset(reply.data, 'y', sizeof reply.data);
  ASSERT_EQ(host->Exchange(command, &reply, 1000), rc::kOk);
  EXPECT_EQ(std::strlen(reply.data), 505u);

  std::string text = "unchanged";
  ASSERT_EQ(disk->ReadPlayerInfo(&text), rc::kOk);
  EXPECT_EQ(text, std::string(505, 'x'));
}

TEST_F(Fx2Test, TextCommandsLeaveTheTextOnFailure) {
  player->result_words[13] = 0x80004005;
  std::string text = "unchanged";
  EXPECT_EQ(disk->ReadBlock13(&text), rc::kFail);
  EXPECT_EQ(text, "unchanged");
}

TEST_F(Fx2Test, ArgumentLayouts) {
  ASSERT_EQ(disk->SendCommand10(1, 0x02000000, 3), rc::kOk);
  ASSERT_EQ(disk->SendCommand11(0xBEEF, 0x7A), rc::kOk);
  // "héllo wörld, a text longer than thirty bytes" cut before a split character.
  ASSERT_EQ(disk->SendCommand9(0x42, "abcdefghijklmnopqrstuvwxyz12\xC3\xA9\xC3\xA9"), rc::kOk);
  const auto sent = Sent(*player);
  ASSERT_EQ(sent.size(), 6u);
  const uint8_t args10[32] = {1, 0, 0, 0, 0, 0, 0, 2, 3};
  EXPECT_EQ(sent[0], Packet(0x00, 10, 0x1234, args10));
  const uint8_t args11[32] = {0, 0, 0, 0, 0xEF, 0xBE, 0, 0, 0x7A};
  EXPECT_EQ(sent[2], Packet(0x00, 11, 0x1235, args11));
  uint8_t args9[32] = {0x42};
  std::memcpy(args9 + 1, "abcdefghijklmnopqrstuvwxyz12\xC3\xA9", 30);
  EXPECT_EQ(sent[4], Packet(0x00, 9, 0x1236, args9));
}

TEST_F(Fx2Test, ButtonCounters) {
  player->reply_data[6] = {1, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0, 0};
  uint32_t buttons = 0, cw = 0, acw = 0;
  ASSERT_EQ(disk->ReadButtonCounters(&buttons, &cw, &acw), rc::kOk);
  EXPECT_EQ(buttons, 1u);
  EXPECT_EQ(cw, 2u);
  EXPECT_EQ(acw, 0xFFFFu);
}

}  // namespace
