// The whole install plan in a temporary Windows folder layout, over a scripted driver update;
// the registry steps write to the test prefix's registry.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine_fixture.h"
#include "setup/install_plan.h"
#include "setup/registry_key.h"
#include "setup/setup_codes.h"
#include "setup_fixture.h"

namespace {

const char kHandlers[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers\\Handlers";
const char kEventHandlers[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers\\EventHandlers";
const char kOlderProvider[] = "CLSID\\{14B5891F-E42B-4CD4-ACF7-C2C56CCC4650}";

std::string HklmText(const std::string& key, const std::string& name) {
  try {
    return RegistryKey(HKEY_LOCAL_MACHINE, key, RegistryKey::Open::kExisting).Text(name, "<none>");
  } catch (const CRegistryException&) {
    return "<no key>";
  }
}

void ForgetAutoPlayKeys() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kHandlers) + "\\TessalyHandler").c_str());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kHandlers) + "\\MSWMDMHandler").c_str());
  for (const char* event : kArrivalEvents)
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kEventHandlers) + "\\" + event).c_str());
}

// The labels of the log lines, in order.
std::vector<std::string> Labels(const std::vector<std::string>& lines) {
  std::vector<std::string> labels;
  for (const std::string& line : lines) labels.push_back(line.substr(0, line.find(':')));
  return labels;
}

class InstallPlanTest : public EngineFixture {
 protected:
  InstallPlanTest() {
    ForgetAutoPlayKeys();
    SetDesktopApplicationPath("");
    layout.ShipDriverAndProvider(RECORDER_2_5);
  }
  ~InstallPlanTest() override {
    ForgetAutoPlayKeys();
    SetDesktopApplicationPath("");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kOlderProvider);
  }

  Result Run(bool replace_same_version = true, bool nt_family = true) {
    InstallPlanOptions options;
    options.nt_family = nt_family;
    options.replace_same_version = replace_same_version;
    return InstallPlan(engine, options).Run();
  }
};

TEST_F(InstallPlanTest, FreshInstallRunsEveryStepInOrder) {
  WriteText(layout.Inf("MSQEL.INF"), "superseded");
  WriteText(layout.Inf("MSTAVIK.PNF"), "superseded");

  EXPECT_EQ(Run(), 0);

  EXPECT_FALSE(FileExists(layout.Inf("MSQEL.INF")));
  EXPECT_TRUE(FileExists(layout.Inf("MSTAVIK.PNF.removed")));
  const std::string drivers = layout.Windows("QelDrivers");
  EXPECT_TRUE(FileExists(drivers + "\\MIRRIN.INF"));
  EXPECT_TRUE(FileExists(drivers + "\\MIRRIN.SYS"));
  EXPECT_EQ(fake.update_calls.size(), 21u);
  EXPECT_EQ(fake.copied_infs, std::vector<std::string>{drivers + "\\MIRRIN.INF"});
  EXPECT_EQ(Lines(ReadText(layout.System("TORVEX.DLL.calls"))),
            std::vector<std::string>{"register"});

  std::vector<std::string> expected = {6, "RemoveFile"};
  for (const char* label : {"InstallFile", "CheckInstallRule", "InstallFile", "CheckInstallRule",
                            "InstallDriver"})
    expected.push_back(label);
  expected.insert(expected.end(), 21, "UpdateDriver");
  for (const char* label : {"UnregisterFile", "RemoveFile", "InstallFile", "CheckInstallRule",
                            "RegisterFile"})
    expected.push_back(label);
  EXPECT_EQ(Labels(log.lines), expected);
  // Without the desktop application no AutoPlay handler is registered.
  EXPECT_EQ(HklmText(std::string(kHandlers) + "\\TessalyHandler", "Action"), "<no key>");
}

TEST_F(InstallPlanTest, SecondRunReinstallsFilesThatAreNotOlder) {
  ASSERT_EQ(Run(), 0);
  fake.update_calls.clear();
  log.lines.clear();

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(fake.update_calls.size(), 21u);
  EXPECT_EQ(Lines(ReadText(layout.System("TORVEX.DLL.calls"))),
            (std::vector<std::string>{"register", "register"}));

  // An older provider in the program folder is not copied, so not registered again.
  CopyHostFile(RECORDER_0_9, layout.Program("TORVEX.DLL"));
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Lines(ReadText(layout.System("TORVEX.DLL.calls"))).size(), 2u);
}

TEST_F(InstallPlanTest, SkippingInstalledFilesLeavesTheDriverAlone) {
  ASSERT_EQ(Run(), 0);
  fake.update_calls.clear();
  log.lines.clear();

  EXPECT_EQ(Run(false), 0);
  EXPECT_TRUE(fake.update_calls.empty());
  const std::vector<std::string> labels = Labels(log.lines);
  EXPECT_EQ(std::count(labels.begin(), labels.end(), "InstallDriver"), 0);
  EXPECT_EQ(std::count(labels.begin(), labels.end(), "InstallFile"), 2);  // INF and provider
  EXPECT_EQ(Lines(ReadText(layout.System("TORVEX.DLL.calls"))).size(), 2u);
}

TEST_F(InstallPlanTest, Windows9xLeavesTheDriverFilesForTheManualStage) {
  SetDesktopApplicationPath(layout.Root() + "\\Tessaly\\Tessaly.exe");
  CreateDirectoryA((layout.Root() + "\\Tessaly").c_str(), nullptr);
  EXPECT_EQ(Run(true, false), 0);
  EXPECT_TRUE(fake.update_calls.empty());
  EXPECT_TRUE(FileExists(layout.Windows("QelDrivers\\MIRRIN.SYS")));
}

TEST_F(InstallPlanTest, DesktopApplicationGetsTheAutoPlayHandlerAndTheDriverFolder) {
  const std::string application = layout.Root() + "\\Qel\\Tessaly\\Tessaly.exe";
  CreateDirectoryA((layout.Root() + "\\Qel").c_str(), nullptr);
  CreateDirectoryA((layout.Root() + "\\Qel\\Tessaly").c_str(), nullptr);
  SetDesktopApplicationPath(application);
  RegistryKey(HKEY_LOCAL_MACHINE, kHandlers, RegistryKey::Open::kCreate)
      .SubKey("MSWMDMHandler", RegistryKey::Open::kCreate);

  EXPECT_EQ(Run(), 0);

  EXPECT_TRUE(FileExists(layout.Root() + "\\Qel\\Drivers\\MIRRIN.INF"));
  const std::string handler = std::string(kHandlers) + "\\TessalyHandler";
  EXPECT_EQ(HklmText(handler, "Action"), "Transfer and manage music");
  EXPECT_EQ(HklmText(handler, "CLSIDforCancel"), "{91778246-9BE4-4713-A651-E833B853CC30}");
  EXPECT_EQ(HklmText(handler, "DefaultIcon"), application + ",0");
  EXPECT_EQ(HklmText(handler, "InitCmdLine"), "\"" + application + "\"");
  EXPECT_EQ(HklmText(handler, "ProgId"), "Shell.HWEventHandlerShellExecute");
  EXPECT_EQ(HklmText(handler, "Provider"), "Tessaly");
  for (const char* event : kArrivalEvents) {
    SCOPED_TRACE(event);
    EXPECT_EQ(HklmText(std::string(kEventHandlers) + "\\" + event, "TessalyHandler"), "");
    EXPECT_EQ(HklmText(std::string(kEventHandlers) + "\\" + event, "MSWMDMHandler"), "");
  }
}

TEST(DriverPackageFolderTest, FolderBesideTheDesktopApplication) {
  WindowsLayout layout;
  const std::string root = layout.Root();
  CreateDirectoryA((root + "\\Apps").c_str(), nullptr);
  CreateDirectoryA((root + "\\Apps\\Tessaly").c_str(), nullptr);
  const std::string fallback = layout.Windows("QelDrivers");
  const struct {
    std::string application;
    bool nt_family;
    std::string folder;
  } cases[] = {
      {root + "\\Apps\\Tessaly\\Tessaly.exe", true, root + "\\Apps\\Drivers"},
      {root + "\\Apps\\TESSALY\\run.exe", true, root + "\\Apps\\Drivers"},
      {root + "\\Apps\\Tessaly.exe", true, root + "\\Apps\\Drivers"},
      {root + "\\Apps\\Tessaly\\Tessaly.exe", false, fallback},
      {root + "\\Missing\\Tessaly.exe", true, fallback},
      {"Tessaly.exe", true, fallback},
      {"", true, fallback},
      {"\\x.exe", true, fallback},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DriverPackageFolder(layout.Folders(), c.nt_family, c.application), c.folder)
        << c.application;
  }
}

TEST_F(InstallPlanTest, OlderServiceProvidersAreUnregisteredAndRemoved) {
  const std::string older = layout.Root() + "\\OLDSP.DLL";
  CopyHostFile(RECORDER_0_9, older);
  CopyHostFile(RECORDER_0_9, layout.System("MDWMDMSP.DLL"));
  RegistryKey(HKEY_CLASSES_ROOT, std::string(kOlderProvider) + "\\InProcServer32",
              RegistryKey::Open::kCreate)
      .SetText("", older);

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(Lines(ReadText(older + ".calls")), std::vector<std::string>{"unregister"});
  EXPECT_FALSE(FileExists(older));
  EXPECT_TRUE(FileExists(older + ".removed"));
  EXPECT_EQ(Lines(ReadText(layout.System("MDWMDMSP.DLL.calls"))),
            std::vector<std::string>{"unregister"});
  EXPECT_TRUE(FileExists(layout.System("MDWMDMSP.DLL.removed")));
}

// Class registrations usually name their server with variables ("%SystemRoot%\...").
TEST_F(InstallPlanTest, OlderProviderRegisteredWithAVariableIsFound) {
  CopyHostFile(RECORDER_0_9, layout.Root() + "\\OLDSP.DLL");
  SetEnvironmentVariableA("HALDOR_TEST_ROOT", layout.Root().c_str());
  const std::string server = std::string(kOlderProvider) + "\\InProcServer32";
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, server.c_str(), &key), ERROR_SUCCESS);
  const char value[] = "%HALDOR_TEST_ROOT%\\OLDSP.DLL";
  RegSetValueExA(key, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value),
                 sizeof(value));
  RegCloseKey(key);

  EXPECT_EQ(Run(), 0);
  SetEnvironmentVariableA("HALDOR_TEST_ROOT", nullptr);
  EXPECT_EQ(Lines(ReadText(layout.Root() + "\\OLDSP.DLL.calls")),
            std::vector<std::string>{"unregister"});
  EXPECT_TRUE(FileExists(layout.Root() + "\\OLDSP.DLL.removed"));
}

TEST_F(InstallPlanTest, ProviderInUseIsReplacedAtTheNextRestart) {
  CopyHostFile(RECORDER_0_9, layout.System("TORVEX.DLL"));
  // Held the way a process that runs the DLL holds it: others may read, nobody may replace.
  HANDLE running = CreateFileA(layout.System("TORVEX.DLL").c_str(), GENERIC_READ,
                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(running, INVALID_HANDLE_VALUE);

  EXPECT_EQ(Run(), 0);
  CloseHandle(running);

  EXPECT_TRUE(replacer.Deferred());
  EXPECT_TRUE(FileExists(layout.System("TORVEX.DLL.replacement")));
  FileVersion installed;
  ASSERT_EQ(ReadFileVersion(layout.System("TORVEX.DLL"), &installed), 0);
  EXPECT_EQ(installed.high, 9);  // 0.9 until Windows restarts
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                  &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
  }
}

TEST_F(InstallPlanTest, SupersededFileThatCannotMoveEndsThePlan) {
  WriteText(layout.Inf("MSQEL8.INF"), "superseded");
  CreateDirectoryA(layout.Inf("MSQEL8.INF.removed").c_str(), nullptr);
  EXPECT_LT(Run(), 0);
  EXPECT_TRUE(fake.update_calls.empty());
  EXPECT_FALSE(FileExists(layout.System("TORVEX.DLL")));
  EXPECT_EQ(log.lines.back().substr(0, 12), "RemoveFile: ");
}

}  // namespace
