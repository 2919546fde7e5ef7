// The install rules on the shipped files themselves: what scripts/build puts in dist/ is read
// by the installation tool's own version reading, and Haldor.exe is a stripped 32-bit GUI
// program with its version.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "setup/file_replacer.h"
#include "setup/install_engine.h"
#include "setup_fixture.h"

namespace {

std::string Shipped(const std::string& name) {
  return HostPath(std::string(TORVEX_DIST_DIR) + "/" + name);
}

FileVersion ProjectVersion() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(TORVEX_VERSION_DOTS, "%u.%u.%u.%u", &a, &b, &c, &d);
  return FileVersion{static_cast<int32_t>(a << 16 | b), c << 16 | d};
}

struct PeFacts {
  bool ok = false;
  WORD machine = 0;
  WORD subsystem = 0;
  DWORD symbol_count = 0;
};

PeFacts ReadPeFacts(const std::string& path) {
  const std::string bytes = ReadText(path).substr(0, 4096);
  PeFacts facts;
  auto u16 = [&](size_t at) { return static_cast<WORD>(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
  auto u32 = [&](size_t at) { return DWORD(u16(at)) | DWORD(u16(at + 2)) << 16; };
  if (bytes.size() < 0x40) return facts;
  const size_t pe = u32(0x3C);
  if (pe + 24 + 70 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
    return facts;
  facts.machine = u16(pe + 4);
  facts.symbol_count = u32(pe + 16);
  facts.subsystem = u16(pe + 24 + 68);
  facts.ok = true;
  return facts;
}

class DeliverablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FileExists(Shipped("Haldor.exe"))) return;
    if (std::getenv("TORVEX_REQUIRE_DIST")) FAIL() << "dist/ has no Haldor.exe";
    GTEST_SKIP() << "dist/ not installed (scripts/build or scripts/test installs it)";
  }
};

TEST_F(DeliverablesTest, DistHoldsTheFourFilesAndNothingElse) {
  std::set<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(Shipped("*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.insert(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(names, (std::set<std::string>{"Haldor.exe", "MIRRIN.INF", "Mirrin.sys", "Torvex.dll"}));
}

TEST_F(DeliverablesTest, HaldorIsAStripped32BitGuiProgramWithItsVersion) {
  const PeFacts facts = ReadPeFacts(Shipped("Haldor.exe"));
  ASSERT_TRUE(facts.ok);
  EXPECT_EQ(facts.machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(facts.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(facts.symbol_count, 0u);

  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(Shipped("Haldor.exe").c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(Shipped("Haldor.exe").c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixed_size));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

// The rules the install plan applies, on the shipped files: each is read with its version, a
// second install of the same build happens under rule 3 and not under rule 2, and an older
// or newer installed provider is told apart.
TEST_F(DeliverablesTest, InstallRulesReadTheShippedFiles) {
  WindowsLayout layout;
  RecordingLog log;
  NtFileReplacer replacer;
  InstallEngine engine(&replacer, &log, layout.Folders(), nullptr);

  const FileVersion project = ProjectVersion();
  for (const char* name : {"Torvex.dll", "Mirrin.sys", "Haldor.exe"}) {
    SCOPED_TRACE(name);
    FileVersion version;
    ASSERT_EQ(ReadFileVersion(Shipped(name), &version), 0);
    EXPECT_EQ(CompareVersions(version, project), 0);
  }
  FileVersion inf_version;
  ASSERT_EQ(ReadFileVersion(Shipped("MIRRIN.INF"), &inf_version), 0);
  EXPECT_GT(inf_version.high, 2000);

  for (const char* name : {"Torvex.dll", "MIRRIN.INF", "Mirrin.sys"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(engine.CheckInstallRule(Shipped(name), Shipped(name), kRuleNotOlder), 0);
    EXPECT_EQ(engine.CheckInstallRule(Shipped(name), Shipped(name), kRuleNewer), 1);
  }
  CopyHostFile(RECORDER_0_9, layout.System("older.dll"));
  CopyHostFile(RECORDER_2_5, layout.System("newer.dll"));
  EXPECT_EQ(engine.CheckInstallRule(Shipped("Torvex.dll"), layout.System("older.dll"), kRuleNewer), 0);
  EXPECT_EQ(engine.CheckInstallRule(Shipped("Torvex.dll"), layout.System("newer.dll"), kRuleNotOlder), 1);
  WriteText(layout.Inf("old.inf"), InfWithDriverVer("01/01/2001,0.1.0.0"));
  EXPECT_EQ(engine.CheckInstallRule(Shipped("MIRRIN.INF"), layout.Inf("old.inf"), kRuleNewer), 0);
}

}  // namespace
