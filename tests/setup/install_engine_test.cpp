// The install engine's operations: removal, registration, rule-checked installation and the
// driver update over a scripted SetupAPI.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine_fixture.h"
#include "setup/install_engine.h"
#include "setup/install_plan.h"
#include "setup/setup_codes.h"
#include "setup_fixture.h"

namespace {

using InstallEngineTest = EngineFixture;

TEST_F(InstallEngineTest, RemoveFileLogsBothNamesAndFindsNothingToDoForAMissingFile) {
  WriteText(layout.Inf("MSQEL.INF"), "old");
  EXPECT_EQ(engine.RemoveFile(InstallLocation::kWindowsInf, "MSQEL.INF"), 0);
  EXPECT_EQ(engine.RemoveFile(InstallLocation::kWindowsInf, "MSQEL8.INF"), 1);
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0], "RemoveFile: " + layout.Inf("MSQEL.INF") + ", " +
                              layout.Inf("MSQEL.INF") + ".removed");
  EXPECT_TRUE(FileExists(layout.Inf("MSQEL.INF.removed")));
}

TEST_F(InstallEngineTest, RegistrationCallsTheEntryOfTheDll) {
  CopyHostFile(RECORDER_2_5, layout.System("RECORDER.DLL"));
  EXPECT_EQ(engine.RegisterFile(InstallLocation::kSystem, "RECORDER.DLL"), 0);
  EXPECT_EQ(engine.UnregisterFile(InstallLocation::kSystem, "RECORDER.DLL"), 0);
  EXPECT_EQ(Lines(ReadText(layout.System("RECORDER.DLL.calls"))),
            (std::vector<std::string>{"register", "unregister"}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "RegisterFile: " + layout.System("RECORDER.DLL"),
                           "UnregisterFile: " + layout.System("RECORDER.DLL")}));

  // Files that do not load as a DLL of this process.
  CopyHostFile(MIRRIN_SYS, layout.System("DRIVER.DLL"));
  EXPECT_LT(engine.RegisterFile(InstallLocation::kSystem, "DRIVER.DLL"), 0);
  EXPECT_EQ(engine.RegisterFile(InstallLocation::kSystem, "MISSING.DLL"),
            rc::FromWin32(ERROR_MOD_NOT_FOUND));
}

TEST_F(InstallEngineTest, InstallFileTakesTheSourceFromTheProgramFolder) {
  CopyHostFile(RECORDER_2_5, layout.Program("TORVEX.DLL"));
  CopyHostFile(RECORDER_0_9, layout.System("TORVEX.DLL"));
  EXPECT_EQ(engine.InstallFile("TORVEX.DLL", InstallLocation::kSystem, "TORVEX.DLL", kRuleNewer), 0);
  EXPECT_EQ(engine.InstallFile("TORVEX.DLL", InstallLocation::kSystem, "TORVEX.DLL", kRuleNewer), 1);
  EXPECT_EQ(engine.InstallFile("GONE.DLL", InstallLocation::kSystem, "GONE.DLL", kRuleAlways),
            setup_rc::kSourceMissing);
  EXPECT_EQ(log.lines[0], "InstallFile: " + layout.Program("TORVEX.DLL") + ", " +
                              layout.System("TORVEX.DLL"));
  EXPECT_EQ(log.lines[1], "CheckInstallRule: " + layout.Program("TORVEX.DLL") + ", " +
                              layout.System("TORVEX.DLL"));
}

TEST_F(InstallEngineTest, HardwareIdsAreTheTableInOrder) {
  const std::vector<std::string> ids = HardwareIdTexts(kPlayerHardwareIds);
  ASSERT_EQ(ids.size(), 21u);
  EXPECT_EQ(ids.front(), "USB\\Vid_0e21&Pid_5001");
  EXPECT_EQ(ids[9], "USB\\Vid_0e21&Pid_5202");
  EXPECT_EQ(ids.back(), "USB\\Vid_0e21&Pid_501f");
}

// What each answer of the update for one id makes of the whole driver installation.
TEST(DriverUpdateTest, AnswersOfTheUpdateDecideTheResult) {
  const std::string third = "USB\\Vid_0e21&Pid_5008";
  const struct {
    const char* what;
    FakeUpdateAnswer answer;
    bool copy_fails;
    Result expected;
    size_t calls;
    bool reboot;
  } cases[] = {
      {"all installed", {true, 0, false}, false, 0, 21, false},
      {"reboot asked", {true, 0, true}, false, 0, 21, true},
      {"failure without a code", {false, 0, false}, false, 1, 21, false},
      {"no device", {false, ERROR_NO_MORE_ITEMS, false}, false, 1, 21, false},
      {"no device instance", {false, 0xE000020B, false}, false, 1, 21, false},
      {"access denied stops", {false, ERROR_ACCESS_DENIED, true}, false,
       rc::FromWin32(ERROR_ACCESS_DENIED), 3, true},
      {"INF copy fails", {true, 0, false}, true, rc::FromWin32(ERROR_ACCESS_DENIED), 21, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WindowsLayout layout;
    FakeDriverSetup fake(layout.Inf());
    fake.answers[third] = c.answer;
    fake.copy_fails = c.copy_fails;
    const DriverSetupApi api = fake.Api();
    RecordingLog log;
    NtFileReplacer replacer;
    InstallEngine engine(&replacer, &log, layout.Folders(), &api);
    CopyHostFile(MIRRIN_INF, layout.Program("MIRRIN.INF"));
    EXPECT_EQ(engine.InstallDriver(nullptr, layout.Program("MIRRIN.INF"), kPlayerHardwareIds),
              c.expected);
    EXPECT_EQ(fake.update_calls.size(), c.calls);
    EXPECT_EQ(engine.RebootNeeded(), c.reboot);
    EXPECT_EQ(log.lines.front(), "InstallDriver: " + layout.Program("MIRRIN.INF"));
    EXPECT_EQ(log.lines.at(1), "UpdateDriver: USB\\Vid_0e21&Pid_5001");
  }
}

TEST(DriverUpdateTest, MissingEntryPointsMeanNotImplemented) {
  WindowsLayout layout;
  DriverSetupApi api;  // nothing bound
  RecordingLog log;
  NtFileReplacer replacer;
  InstallEngine engine(&replacer, &log, layout.Folders(), &api);
  EXPECT_EQ(engine.InstallDriver(nullptr, "X.INF", kPlayerHardwareIds), rc::kNotImplemented);
  InstallEngine without(&replacer, &log, layout.Folders(), nullptr);
  EXPECT_EQ(without.InstallDriver(nullptr, "X.INF", kPlayerHardwareIds), rc::kNotImplemented);
}

// Absent players are marked for reinstallation, and the older INFs they were installed from
// go with their PNF files; newer ones, present devices and other hardware stay untouched.
TEST_F(InstallEngineTest, AbsentDevicesAreReinstalledAndTheirOlderInfsRemoved) {
  WriteText(layout.Program("MIRRIN.INF"), InfWithDriverVer("06/21/2004,1.0"));
  WriteText(layout.Inf("oem1.inf"), InfWithDriverVer("01/01/2003"));
  WriteText(layout.Inf("oem1.pnf"), "precompiled");
  WriteText(layout.Inf("oem2.inf"), InfWithDriverVer("01/01/2005"));
  WriteText(layout.Inf("oem3.inf"), InfWithDriverVer("01/01/2001"));
  WriteText(layout.Inf("oem4.inf"), InfWithDriverVer("01/01/2001"));
  fake.devices = {
      {{"USB\\VID_0E21&PID_5001&REV_0100", "USB\\VID_0E21&PID_5001"}, false, 0x400, "oem1.inf"},
      {{"USB\\Vid_0e21&Pid_5002"}, false, 0, "OEM2.INF"},
      {{"USB\\VID_0E21&PID_5003"}, true, 0, "oem3.inf"},
      {{"USB\\VID_1234&PID_5001"}, false, 0, "oem4.inf"},
      {{"USB\\VID_0E21&PID_5005"}, false, 0, ""},
  };
  EXPECT_EQ(engine.InstallDriver(nullptr, layout.Program("MIRRIN.INF"), kPlayerHardwareIds), 0);

  EXPECT_EQ(fake.devices[0].config_flags, 0x420u);
  EXPECT_EQ(fake.devices[1].config_flags, 0x20u);
  EXPECT_EQ(fake.devices[2].config_flags, 0u);
  EXPECT_EQ(fake.devices[3].config_flags, 0u);
  EXPECT_EQ(fake.devices[4].config_flags, 0x20u);
  EXPECT_FALSE(FileExists(layout.Inf("oem1.inf")));
  EXPECT_FALSE(FileExists(layout.Inf("oem1.pnf")));
  EXPECT_TRUE(FileExists(layout.Inf("oem1.inf.removed")));
  EXPECT_TRUE(FileExists(layout.Inf("oem2.inf")));
  EXPECT_TRUE(FileExists(layout.Inf("oem3.inf")));
  EXPECT_TRUE(FileExists(layout.Inf("oem4.inf")));
  EXPECT_TRUE(FileExists(layout.Inf("oem7.inf")));  // the copy itself stays
  EXPECT_EQ(fake.copied_infs, std::vector<std::string>{layout.Program("MIRRIN.INF")});
}

// Only INFs that a driver package added ("oem" and a number) are renamed, with their PNF
// files; an INF that Windows ships stays, however old its DriverVer, and so do names that only
// look like a package's.
TEST_F(InstallEngineTest, OnlyDriverPackageInfsAreRemoved) {
  WriteText(layout.Program("MIRRIN.INF"), InfWithDriverVer("06/21/2004,1.0"));
  struct Case {
    const char* name;
    bool removed;
  } const cases[] = {
      {"usb.inf", false}, {"OEM12.INF", true}, {"oem.inf", false},
      {"oem5x.inf", false}, {"myoem3.inf", false}, {"oem3.inf.bak", false},
  };
  fake.devices.clear();
  const UsbHardwareId* player = kPlayerHardwareIds;
  for (const Case& c : cases) {
    WriteText(layout.Inf(c.name), InfWithDriverVer("07/01/2001,5.1.2600.0"));
    std::string pnf = c.name;
    pnf[pnf.size() - 3] = 'P';
    WriteText(layout.Inf(pnf), "precompiled");
    char id[32];
    std::snprintf(id, sizeof(id), "USB\\VID_%04X&PID_%04X", player->vendor, player->product);
    ++player;
    fake.devices.push_back({{id}, false, 0, c.name});
  }
  // Each device carries one of the players' ids and is absent, so each is collected.
  EXPECT_EQ(engine.InstallDriver(nullptr, layout.Program("MIRRIN.INF"), kPlayerHardwareIds), 0);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string pnf = c.name;
    pnf[pnf.size() - 3] = 'P';
    EXPECT_EQ(FileExists(layout.Inf(c.name)), !c.removed);
    EXPECT_EQ(FileExists(layout.Inf(c.name) + ".removed"), c.removed);
    EXPECT_EQ(FileExists(layout.Inf(pnf)), !c.removed);
  }
}

}  // namespace
