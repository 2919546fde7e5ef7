// Whole runs of the program: the test build of Haldor (the real app with the folders of a
// temporary Windows layout) started as its own process with "/auto /deferreboot", over Wine's
// own SetupAPI, NEWDEV and registry; what it left is read back with "reg query".
#include <gtest/gtest.h>
#include <windows.h>

#include "setup_fixture.h"
#include "window_probe.h"

namespace {

constexpr DWORD kPatience = 180000;

struct ProcessResult {
  DWORD exit_code = 0xFFFFFFFF;
  std::string output;
};

// Runs a command line in `folder`; with `on_started` called while it runs.
ProcessResult RunProcess(const std::string& command, const std::string& output_file,
                         const std::function<void(const PROCESS_INFORMATION&)>& on_started = {}) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE output = CreateFileA(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  std::string line = command;
  ProcessResult result;
  if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    if (on_started) on_started(process);
    if (WaitForSingleObject(process.hProcess, kPatience) == WAIT_TIMEOUT)
      TerminateProcess(process.hProcess, 0xDEAD);
    GetExitCodeProcess(process.hProcess, &result.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(output);
  result.output = ReadText(output_file);
  return result;
}

struct WindowOfProcess {
  DWORD process_id;
  HWND found = nullptr;
};

BOOL CALLBACK MatchProcessDialog(HWND window, LPARAM parameter) {
  WindowOfProcess* search = reinterpret_cast<WindowOfProcess*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof(class_name));
  if (owner != search->process_id || std::string(class_name) != "#32770" ||
      !IsWindowVisible(window))
    return TRUE;
  search->found = window;
  return FALSE;
}

class SetupRunTest : public ::testing::Test {
 protected:
  SetupRunTest() {
    layout.ShipDriverAndProvider(RECORDER_0_9);
    // The INF names its catalogue, and Wine's INF copy refuses an INF whose catalogue is
    // missing; no signed one can be made here, so a stand-in takes its place.
    WriteText(layout.Program("MIRRIN.CAT"), "stand-in catalogue");
    CopyHostFile(HALDOR_HARNESS, layout.Program("Haldor.exe"));
    CreateDirectoryA((layout.Root() + "\\Tessaly").c_str(), nullptr);
    SetDesktopApplicationPath(layout.Root() + "\\Tessaly\\Tessaly.exe");
    SetEnvironmentVariableA("HALDOR_WINDOWS_DIR", layout.Folders().windows.c_str());
    SetEnvironmentVariableA("HALDOR_SYSTEM_DIR", layout.Folders().system.c_str());
    Reg("delete HKLM\\SOFTWARE\\Qel\\Installer /v Reboot1 /f");
  }
  ~SetupRunTest() override {
    // Nothing may stay registered at a path of the layout that is about to go.
    if (FileExists(layout.System("TORVEX.DLL"))) {
      HMODULE installed = LoadLibraryA(layout.System("TORVEX.DLL").c_str());
      if (installed) {
        auto unregister = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
            reinterpret_cast<void*>(GetProcAddress(installed, "DllUnregisterServer")));
        if (unregister) unregister();
        FreeLibrary(installed);
      }
    }
    Reg("delete \"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\" "
        "/v PendingFileRenameOperations /f");
    SetDesktopApplicationPath("");
    SetEnvironmentVariableA("HALDOR_WINDOWS_DIR", nullptr);
    SetEnvironmentVariableA("HALDOR_SYSTEM_DIR", nullptr);
  }

  ProcessResult Haldor(const std::string& options,
                       const std::function<void(const PROCESS_INFORMATION&)>& on_started = {}) {
    return RunProcess("\"" + layout.Program("Haldor.exe") + "\" " + options,
                      layout.Root() + "\\haldor.out", on_started);
  }
  ProcessResult Reg(const std::string& arguments) {
    return RunProcess("reg.exe " + arguments, layout.Root() + "\\reg.out");
  }
  std::string Query(const std::string& key, const std::string& value) {
    const ProcessResult result = Reg("query \"" + key + "\" /v \"" + value + "\"");
    return result.exit_code == 0 ? result.output : "<missing> " + result.output;
  }

  WindowsLayout layout;
};

TEST_F(SetupRunTest, AutomaticRunsInstallRegisterAndDeferTheRestart) {
  // A test provider first: its registration call is recorded.
  ProcessResult run = Haldor("/auto /deferreboot");
  ASSERT_EQ(run.exit_code, 1u) << run.output;
  EXPECT_EQ(Lines(ReadText(layout.System("TORVEX.DLL.calls"))),
            std::vector<std::string>{"register"});
  EXPECT_TRUE(FileExists(layout.Root() + "\\Drivers\\MIRRIN.INF"));
  EXPECT_TRUE(FileExists(layout.Root() + "\\Drivers\\MIRRIN.SYS"));
  EXPECT_TRUE(FileExists(layout.Root() + "\\Drivers\\MIRRIN.CAT"));

  // Then the real service provider over it.
  CopyHostFile(TORVEX_DLL, layout.Program("TORVEX.DLL"));
  run = Haldor("-AUTO -DeferReboot");
  ASSERT_EQ(run.exit_code, 1u) << run.output;
  EXPECT_NE(Query("HKLM\\Software\\Microsoft\\Windows Media Device Manager\\Plugins\\SP\\Torvex",
                  "ProgID")
                .find("MDTorvexServiceProvider.MDTorvexServiceProvider"),
            std::string::npos);
  const std::string handlers =
      "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers\\";
  EXPECT_NE(Query(handlers + "Handlers\\TessalyHandler", "Action").find("Transfer and manage music"),
            std::string::npos);
  EXPECT_NE(Query(handlers + "Handlers\\TessalyHandler", "InitCmdLine")
                .find("\"" + layout.Root() + "\\Tessaly\\Tessaly.exe\""),
            std::string::npos);
  for (const char* event : {"QelSornArrival", "QelDulseArrival", "QelArvelArrival"}) {
    EXPECT_NE(Query(handlers + "EventHandlers\\" + event, "TessalyHandler").find("REG_SZ"),
              std::string::npos)
        << event;
  }
  EXPECT_NE(Query("HKLM\\SOFTWARE\\Qel\\Installer", "Reboot1").find("<missing>"),
            std::string::npos);

  // The provider in use: its copy waits for the restart, which is owed, not made.
  HANDLE running = CreateFileA(layout.System("TORVEX.DLL").c_str(), GENERIC_READ,
                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(running, INVALID_HANDLE_VALUE);
  run = Haldor("/auto /deferreboot");
  CloseHandle(running);
  EXPECT_EQ(run.exit_code, 1004u) << run.output;
  EXPECT_TRUE(FileExists(layout.System("TORVEX.DLL.replacement")));
  EXPECT_NE(Query("HKLM\\SOFTWARE\\Qel\\Installer", "Reboot1").find("0x1"), std::string::npos);
}

// Wine told to be Windows 98 for the program: the driver files stay in the folder for the
// manual stage, whose steps the program leaves there and opens in Notepad.
TEST_F(SetupRunTest, OnWindows98TheRunLeavesTheManualStageStepsInNotepad) {
  const std::string app_defaults = "HKCU\\Software\\Wine\\AppDefaults\\Haldor.exe";
  ASSERT_EQ(Reg("add " + app_defaults + " /v Version /d win98 /f").exit_code, 0u);
  const std::string shown = layout.Root() + "\\shown.txt";
  SetEnvironmentVariableA("HALDOR_SHOWN_FILES", shown.c_str());
  const ProcessResult run = Haldor("/auto /deferreboot");
  SetEnvironmentVariableA("HALDOR_SHOWN_FILES", nullptr);
  Reg("delete " + app_defaults + " /f");
  ASSERT_EQ(run.exit_code, 1u) << run.output;
  const std::string folder = layout.Windows("QelDrivers");
  EXPECT_TRUE(FileExists(folder + "\\MIRRIN.INF"));
  EXPECT_FALSE(FileExists(layout.Root() + "\\Drivers\\MIRRIN.INF")) << "installed as on NT";
  EXPECT_EQ(Lines(ReadText(shown)), std::vector<std::string>{folder + "\\INSTALL.TXT"});
  EXPECT_NE(ReadText(folder + "\\INSTALL.TXT").find(folder), std::string::npos);
}

TEST_F(SetupRunTest, UnknownOptionEndsWithTheMessageBoxAndInstallsNothing) {
  std::string message;
  const ProcessResult run = Haldor("/auto /bogus", [&](const PROCESS_INFORMATION& process) {
    WindowOfProcess search{process.dwProcessId};
    WaitUntil(
        [&] {
          EnumWindows(&MatchProcessDialog, reinterpret_cast<LPARAM>(&search));
          return search.found != nullptr;
        },
        kPatience);
    if (!search.found) return;
    message = MessageBoxText(search.found);
    PostMessageA(search.found, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(message, "Unknown command line option");
  EXPECT_EQ(run.exit_code, 2u);
  EXPECT_FALSE(FileExists(layout.System("TORVEX.DLL")));
}

}  // namespace
