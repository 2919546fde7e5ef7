// Versions of the files the installation compares, and the install rules over them: INF
// "DriverVer" dates, catalogues, version resources of DLLs built with known versions.
#include <gtest/gtest.h>

#include "setup/file_version.h"
#include "setup/install_engine.h"
#include "setup/setup_codes.h"
#include "setup_fixture.h"

namespace {

struct DriverVerCase {
  const char* text;
  bool parsed;
  int32_t high;
  uint32_t low;
};

TEST(FileVersionTest, DriverVerIsMonthDayYearBeforeTheComma) {
  const DriverVerCase cases[] = {
      {"06/21/2004,5.1.2600.0", true, 2004, (6u << 16) | 21},
      {"6/21/2004", true, 2004, (6u << 16) | 21},
      {"12/10/2026,1.0.0.0", true, 2026, (12u << 16) | 10},
      {"01/02/2003/7", true, 2003, (1u << 16) | 2},
      {"06/21,2004", false, 0, 0},
      {"2004", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const DriverVerCase& c : cases) {
    SCOPED_TRACE(c.text);
    FileVersion version;
    EXPECT_EQ(ParseDriverVer(c.text, &version), c.parsed);
    if (!c.parsed) continue;
    EXPECT_EQ(version.high, c.high);
    EXPECT_EQ(version.low, c.low);
  }
}

TEST(FileVersionTest, HighWordComparesSignedAndLowWordUnsigned) {
  const struct {
    FileVersion a, b;
    int order;
  } cases[] = {
      {{1, 0}, {1, 0}, 0},
      {{2, 0}, {1, 0xFFFFFFFF}, 1},
      {{1, 0x80000000u}, {1, 1}, 1},  // the low word is unsigned
      {{-1, 0}, {0, 0}, -1},          // the high word is signed
      {{0, 1}, {0, 0}, 1},
  };
  for (const auto& c : cases) {
    const int order = CompareVersions(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order) << c.a.high << "." << c.a.low;
  }
}

class FileVersionFiles : public ::testing::Test {
 protected:
  WindowsLayout layout;
};

TEST_F(FileVersionFiles, ReadsEachKindOfFile) {
  WriteText(layout.Program("new.inf"), InfWithDriverVer("06/21/2004,5.1.2600.0"));
  WriteText(layout.Program("nodate.INF"), "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
  WriteText(layout.Program("driver.cat"), "not a version");
  WriteText(layout.Program("plain.dll"), "no resource here");
  CopyHostFile(RECORDER_2_5, layout.Program("recorder.dll"));
  const struct {
    const char* name;
    Result result;
    int32_t high;
    uint32_t low;
  } cases[] = {
      {"new.inf", 0, 2004, (6u << 16) | 21},
      {"nodate.INF", 1, 0, 0},
      {"missing.inf", 1, 0, 0},
      {"driver.cat", 0, 0, 0},
      {"missing.CAT", 0, 0, 0},
      {"plain.dll", 1, 0, 0},
      {"missing.dll", 1, 0, 0},
      {"recorder.dll", 0, 2 << 16 | 5, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileVersion version{99, 99};
    EXPECT_EQ(ReadFileVersion(layout.Program(c.name), &version), c.result);
    EXPECT_EQ(version.high, c.high);
    EXPECT_EQ(version.low, c.low);
  }
}

// The install rules over a source and a destination of known versions.
TEST_F(FileVersionFiles, InstallRulesCompareSourceWithDestination) {
  RecordingLog log;
  NtFileReplacer replacer;
  InstallEngine engine(&replacer, &log, layout.Folders(), nullptr);
  CopyHostFile(RECORDER_0_9, layout.Program("old.dll"));
  CopyHostFile(RECORDER_2_5, layout.Program("new.dll"));
  CopyHostFile(RECORDER_2_5, layout.Program("same.dll"));
  CopyHostFile(RECORDER_NEGATIVE, layout.Program("negative.dll"));
  WriteText(layout.Program("plain.dll"), "no resource");
  WriteText(layout.Program("old.inf"), InfWithDriverVer("12/31/2003"));
  WriteText(layout.Program("new.inf"), InfWithDriverVer("01/01/2004"));
  WriteText(layout.Program("same.inf"), InfWithDriverVer("1/1/2004,2.0"));
  WriteText(layout.Program("a.cat"), "");

  const struct {
    const char* source;
    const char* destination;
    int rule;
    Result expected;
  } cases[] = {
      {"new.dll", "old.dll", kRuleNewer, 0},
      {"new.dll", "same.dll", kRuleNewer, 1},
      {"new.dll", "same.dll", kRuleNotOlder, 0},
      {"old.dll", "new.dll", kRuleNotOlder, 1},
      {"old.dll", "new.dll", kRuleAlways, 0},
      {"new.dll", "old.dll", kRuleNever, 1},
      {"old.dll", "missing.dll", kRuleNewer, 0},
      {"old.dll", "plain.dll", kRuleNewer, 0},
      {"old.dll", "negative.dll", kRuleNewer, 0},  // 32768.x reads as a negative high word
      {"new.inf", "old.inf", kRuleNewer, 0},
      {"new.inf", "same.inf", kRuleNewer, 1},
      {"new.inf", "same.inf", kRuleNotOlder, 0},
      {"a.cat", "missing.cat", kRuleAlways, 0},
      {"a.cat", "a.cat", kRuleNewer, 1},
      {"missing.dll", "old.dll", kRuleAlways, setup_rc::kSourceMissing},
      {"plain.dll", "old.dll", kRuleAlways, setup_rc::kSourceMissing},
      {"new.dll", "old.dll", 4, setup_rc::kUnknownRule},
      {"new.dll", "old.dll", -1, setup_rc::kUnknownRule},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " over " + c.destination + " rule " +
                 std::to_string(c.rule));
    EXPECT_EQ(engine.CheckInstallRule(layout.Program(c.source), layout.Program(c.destination),
                                      c.rule),
              c.expected);
  }
  EXPECT_EQ(log.lines.front(),
            "CheckInstallRule: " + layout.Program("new.dll") + ", " + layout.Program("old.dll"));
}

}  // namespace
