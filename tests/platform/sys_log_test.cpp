#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform_codes.h"
#include "platform/platform_fixture.h"
#include "platform/shell_capture.h"
#include "support/byte_order.h"

namespace {

struct Record {
  uint32_t code;
  std::string text;
};

class SysLogTest : public PlatformFixture {
 protected:
  // The records of the ring handed over now, oldest first.
  std::vector<Record> TakeRecords(RecordCounters* counters = nullptr) {
    RecordSpans spans{};
    RecordCounters ignored{};
    log_->TakeRecords(&spans, counters ? counters : &ignored);
    std::string bytes(reinterpret_cast<const char*>(spans.first), spans.first_length);
    bytes.append(reinterpret_cast<const char*>(spans.second), spans.second_length);
    std::vector<Record> records;
    size_t at = 0;
    while (at + 12 <= bytes.size()) {
      const uint8_t* header = reinterpret_cast<const uint8_t*>(bytes.data() + at);
      uint16_t length = bytes::Be16(header + 10);
      records.push_back({bytes::Be32(header), bytes.substr(at + 12, length)});
      at += (12 + length + 3) & ~size_t{3};
    }
    return records;
  }
  std::string Run(Result (ISysLog::*command)(int, char**), std::vector<const char*> words) {
    std::vector<char*> argv;
    for (const char* word : words) argv.push_back(const_cast<char*>(word));
    (log_->*command)(static_cast<int>(argv.size()), argv.data());
    return shell_.Take();
  }
  std::string Debug(std::vector<const char*> words) {
    std::vector<char*> argv;
    for (const char* word : words) argv.push_back(const_cast<char*>(word));
    bits_->DebugCommand(static_cast<int>(argv.size()), argv.data());
    return shell_.Take();
  }

  ShellCapture shell_;
};

TEST_F(SysLogTest, WithoutControlNamesTheCallersDestinationStands) {
  log_->LogF(nullptr, 0, 0, 2, 0, "to the shell %d", 1);
  log_->LogF(nullptr, 0, 0, 1, 0, "to the file %d", 2);
  log_->LogF("fs", 1, 0, 0, 0, "nowhere");
  EXPECT_EQ("          to the shell 1\n", shell_.Take());
  std::vector<Record> records = TakeRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("to the file 2", records[0].text);
}

TEST_F(SysLogTest, GroupRoutingFollowsTheControlNames) {
  bits_->Assign("fs:c", 1);
  bits_->Assign("fs:f", 0);
  log_->LogF("fs", 1, 0, 0, 0x12, "shell only");
  log_->LogF("fs", 2, 0, 1, 0, "not steered");  // bit 1 is not in fs:c
  EXPECT_EQ("00000012  [fs] shell only\n", shell_.Take());
  std::vector<Record> records = TakeRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("not steered", records[0].text);

  bits_->Assign("fs:f", 1);
  bits_->Assign("fs:s", 0);
  log_->LogF("fs", 1, 0, 2, 0, "file only\n");
  EXPECT_EQ("", shell_.Take());
  EXPECT_EQ(1u, TakeRecords().size());
  bits_->Assign("fs:s", 0x100000000ull);
  log_->LogF("fs", 1, 1, 0, 0, "both, by the high word\n");
  EXPECT_EQ("          [fs] both, by the high word\n", shell_.Take());
  EXPECT_EQ(1u, TakeRecords().size());
}

TEST_F(SysLogTest, ShellLineCarriesTheTimeStampEventAndGroupAsFlagged) {
  time_->SetWallTime(951868800LL * 1000000000 + 7 * 3600 * 1000000000LL + 5000000);
  ISysLog::SetPrintFlags(true, true, true);
  log_->LogF("net", 0, 0, 2, 0xABC, "x=%d", 5);
  ISysLog::SetPrintFlags(false, false, false);
  log_->LogF("net", 0, 0, 2, 0xABC, "bare\n");
  std::string printed = shell_.Take();
  EXPECT_EQ(" 3/01  7:00:00.0", printed.substr(0, 16));
  EXPECT_EQ("00000abc  [net] x=5\nbare\n", printed.substr(printed.find("00000abc")));
}

TEST_F(SysLogTest, RecordsKeepEachConvertedArgumentAsAPieceWhenAsked) {
  log_->LogF(nullptr, 0, 0, 1, 0x640001, "%ld.%ld and %s%%", 3L, 4L, "z");
  log_->LogF(nullptr, 0, 0, 1 | 4, 0x640001, "%d-%d", 1, 2);  // bit 2: one text
  log_->LogF(nullptr, 0, 0, 1 | 8, 0, "%d-%d", 1, 2);         // bit 3: pieces without a code
  std::vector<Record> records = TakeRecords();
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ(0x640001u, records[0].code);
  EXPECT_EQ(std::string("3\0.4\0 and z\0%", 13), records[0].text);
  EXPECT_EQ("1-2", records[1].text);
  EXPECT_EQ(std::string("1\0-2\0", 5), records[2].text);
}

TEST_F(SysLogTest, RingDropsTheOldestRecordsAndRefusesOnesLargerThanItself) {
  EXPECT_EQ(0u, log_->FillLevel());
  std::string text(100, 'r');  // 112 bytes a record
  for (int i = 0; i < 9; ++i) log_->LogF(nullptr, 0, 0, 1, 0, "%s", text.c_str());
  EXPECT_EQ(9u * 112 * 100 / 2048, log_->FillLevel());
  for (int i = 0; i < 20; ++i) log_->LogF(nullptr, 0, 0, 1 | 4, i, "%s", text.c_str());
  EXPECT_EQ(100u, log_->FillLevel());
  RecordCounters counters{};
  std::vector<Record> records = TakeRecords(&counters);
  EXPECT_EQ(18u, records.size()) << "as many as fit in 2048 bytes";
  EXPECT_EQ(29u, counters.appended);
  EXPECT_EQ(11u, counters.dropped);
  EXPECT_EQ(19u, records.back().code);
  EXPECT_EQ(0u, log_->FillLevel()) << "the other ring starts empty";
  std::string huge(2100, 'h');
  log_->LogF(nullptr, 0, 0, 1, 0, "%s", huge.c_str());
  EXPECT_TRUE(TakeRecords().empty());
}

TEST_F(SysLogTest, SetWallTimeLogsTheChangeToTheFileRecords) {
  time_->SetWallTime(1234LL * 1000000000 + 567000000);
  std::vector<Record> records = TakeRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(0x640001u, records[0].code);
  EXPECT_EQ(std::string("0\0.0\0.1234\0.567\0", 16), records[0].text);
}

// Two threads log to groups with opposite routing; every entry must follow its own group.
TEST_F(SysLogTest, ConcurrentEntriesRouteByTheirOwnGroup) {
  bits_->Assign("left:c", 1);
  bits_->Assign("left:f", 0);  // shell only
  bits_->Assign("rightside:c", 1);
  bits_->Assign("rightside:s", 0);  // file only
  auto log_many = [this](const char* group) {
    for (int i = 0; i < 300; ++i) log_->LogF(group, 1, 0, 0, 0, "m");
  };
  std::thread left(log_many, "left");
  std::thread right(log_many, "rightside");
  left.join();
  right.join();
  RecordCounters counters{};
  TakeRecords(&counters);
  EXPECT_EQ(300u, counters.appended);
  std::string printed = shell_.Take();
  EXPECT_EQ(std::string::npos, printed.find("rightside"));
  size_t lines = 0;
  for (char c : printed) lines += c == '\n';
  EXPECT_EQ(300u, lines);
}

TEST_F(SysLogTest, DebugCommandSetsShowsListsAndClearsMasks) {
  EXPECT_EQ("debug x not set\n", Debug({"debug", "x"}));
  struct Case {
    const char* bitmask;
    const char* shown;
  };
  const Case cases[] = {{"10", "0x10\n"},  {"0x10", "0x10\n"},        {"2k", "0x810\n"},
                        {"1G", "0x40000810\n"}, {"g", "0x40000810\n"}};
  for (const Case& c : cases) {
    EXPECT_EQ("", Debug({"debug", "x", c.bitmask}));
    EXPECT_EQ(c.shown, Debug({"debug", "x"})) << c.bitmask;
  }
  EXPECT_EQ("", Debug({"debug", "y", "g"}));
  EXPECT_EQ("0x0\n", Debug({"debug", "y"})) << "created with the mask 0";
  EXPECT_EQ("x              40000810        \ny              0               \n",
            Debug({"debug", "-l"}));
  EXPECT_EQ("", Debug({"debug", "-c", "x"}));
  EXPECT_EQ("debug x not set\n", Debug({"debug", "x"}));
  const std::string usage =
      "usage: debug name [bitmask]\n       debug -c name\n       debug -l\n";
  EXPECT_EQ(usage, Debug({"debug"}));
  EXPECT_EQ(usage, Debug({"debug", "-?"}));
  EXPECT_EQ("-z: unknown option\n" + usage, Debug({"debug", "-z", "x"}));
  EXPECT_EQ(usage, Debug({"debug", "a", "b", "c"}));
  EXPECT_EQ(usage, Debug({"debug", "-c"}));
}

TEST_F(SysLogTest, SyslogWithoutArgumentsShowsTheFlags) {
  EXPECT_EQ("Events     ON\nTime stamp off\nCtrl name  ON\n\"syslog -?\" for help\n",
            Run(&ISysLog::SyslogCommand, {"syslog"}));
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-E", "-k"}));
  EXPECT_EQ("Events     off\nTime stamp ON\nCtrl name  ON\n\"syslog -?\" for help\n",
            Run(&ISysLog::SyslogCommand, {"syslog"}));
  EXPECT_EQ("Inconsistent flags\n", Run(&ISysLog::SyslogCommand, {"syslog", "-e", "-E"}));
  EXPECT_EQ("Inconsistent flags\n", Run(&ISysLog::SyslogCommand, {"syslog", "-d", "-f", "fs"}));
  std::string help = Run(&ISysLog::SyslogCommand, {"syslog", "-?"});
  EXPECT_EQ(0u, help.find("usage: syslog [-f] [-s] [-d] [-o] name [bits]\n"
                          "          -f     = to file\n"));
  EXPECT_NE(std::string::npos, help.find("   or: syslog [-eE] [-gG] [-kK] [-v] [-l] [-D]\n"));
  EXPECT_EQ(help.size() - strlen("          -D     = all names to default\n"),
            help.rfind("          -D     = all names to default\n"));
}

TEST_F(SysLogTest, SyslogRoutesAGroupAndListsIt) {
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-s", "fs", "3"}));
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-f", "fs", "4"}));
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-o", "fs", "8"}));
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-f", "-s", "fs", "10"}));
  EXPECT_EQ(
      "-- fs\n"
      "to file:                         4\n"
      "to shell:                        3\n"
      "to file & shell:                10\n"
      "to none:                         8\n",
      Run(&ISysLog::SyslogCommand, {"syslog", "-l"}));
  log_->LogF("fs", 2, 0, 0, 0, "via shell");
  log_->LogF("fs", 4, 0, 0, 0, "via file");
  log_->LogF("fs", 8, 0, 3, 0, "off");
  log_->LogF("fs", 0x10, 0, 0, 0, "both");
  EXPECT_EQ("          [fs] via shell\n          [fs] both\n", shell_.Take());
  EXPECT_EQ(2u, TakeRecords().size());
  // Back to the defaults: the callers' destinations stand again.
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-d", "fs", "2"}));
  log_->LogF("fs", 2, 0, 1, 0, "default");
  EXPECT_EQ("", shell_.Take());
  EXPECT_EQ(1u, TakeRecords().size());
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-D"}));
  EXPECT_EQ("", Run(&ISysLog::SyslogCommand, {"syslog", "-l"}));
}

TEST_F(SysLogTest, RlogWritesOneEntryFromTheShell) {
  EXPECT_EQ("0000001f  hello world\n",
            Run(&ISysLog::RlogCommand, {"rlog", "-s", "-e", "1f", "hello", "world"}));
  EXPECT_EQ("", Run(&ISysLog::RlogCommand, {"rlog", "fs", "1", "steered", "text"}));
  std::vector<Record> records = TakeRecords();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("steered text", records[0].text);
  bits_->Assign("fs:c", 1);
  bits_->Assign("fs:f", 0);
  EXPECT_EQ("          [fs] routed\n",
            Run(&ISysLog::RlogCommand, {"rlog", "-o", "fs", "1", "routed"}));
  EXPECT_EQ("", Run(&ISysLog::RlogCommand, {"rlog", "-o", "unrouted"}));
  EXPECT_EQ("", shell_.Take());
  EXPECT_TRUE(TakeRecords().empty());
  const std::string usage = "usage: rlog [-fso] [-e event] [ctrl-name ctrl-bits] msg\n";
  EXPECT_EQ(usage, Run(&ISysLog::RlogCommand, {"rlog"}));
  EXPECT_EQ(usage, Run(&ISysLog::RlogCommand, {"rlog", "-o", "-f", "x"}));
}

TEST_F(SysLogTest, FreeFunctionsFindTheLogOfTheCurrentPlatform) {
  SysLogPrintf(nullptr, 0, 0, 2, 0, "first %s", "platform");
  EXPECT_EQ("          first platform\n", shell_.Take());
  DestroyPlatform();
  SysLogPrintf(nullptr, 0, 0, 2, 0, "no platform");
  EXPECT_EQ("", shell_.Take());
  CreatePlatform();
  SysLogPrintf(nullptr, 0, 0, 2, 0, "second platform");
  EXPECT_EQ("          second platform\n", shell_.Take());
  log_ = static_cast<ISysLog*>(CurrentPlatform()->GetInterface("ISysLog"));
  SysLogSimple(7, "simple");
  EXPECT_EQ(1u, TakeRecords().size());
}

}  // namespace
