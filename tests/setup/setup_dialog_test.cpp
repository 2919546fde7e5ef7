// The setup dialog in a real window, driven from a second thread the way a person drives it:
// its button, its texts and flags in each state, the close box while installing, and
// screenshots kept in the build folder.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "fake_driver_setup_api.h"
#include "setup/driver_setup_dialog.h"
#include "setup/haldor_resource.h"
#include "setup_fixture.h"
#include "window_probe.h"

namespace {

constexpr DWORD kPatience = 60000;

std::string Artifact(const std::string& name) {
  return HostPath(std::string(SETUP_ARTIFACT_DIR) + "/" + name);
}

BOOL WINAPI NotAMember(HANDLE, PSID, PBOOL member) {
  *member = FALSE;
  return TRUE;
}

class SetupDialogTest : public ::testing::Test {
 protected:
  SetupDialogTest() : fake(layout.Inf()) {
    layout.ShipDriverAndProvider(RECORDER_2_5);
    SetDesktopApplicationPath("");
    environment.folders = layout.Folders();
    environment.nt_family = true;
    environment.driver_api = fake.Api();
    LoadAdminCheckApi(&environment.admin_api);
    environment.registration_pause_ms = 0;
  }

  // Runs the dialog on this thread while `person` looks at it and presses its buttons on
  // another; returns how the dialog ended.
  int RunWith(const SetupOptions& options, const std::function<void(HWND)>& person,
              const std::string& caption = "Driver setup") {
    const DWORD dialog_thread = GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::atomic<bool> run_ended{false};
    std::thread watcher([&] {
      // An automatic run may end before the watcher has seen its dialog.
      HWND dialog = nullptr;
      WaitUntil(
          [&] {
            dialog = WaitForDialog(dialog_thread, caption, 0);
            return dialog != nullptr || run_ended;
          },
          kPatience);
      if (dialog && !run_ended) person(dialog);
      done = true;
    });
    DriverSetupDialog dialog(options, environment, RegisterInstallMessage());
    const int result = dialog.Run(nullptr);
    run_ended = true;
    watcher.join();
    EXPECT_TRUE(done);
    return result;
  }

  static void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  }
  static bool ButtonReads(HWND dialog, const std::string& text) {
    return WaitUntil([&] { return ItemText(dialog, IDC_ACTION) == text; }, kPatience);
  }

  WindowsLayout layout;
  FakeDriverSetup fake;
  SetupEnvironment environment;
};

TEST_F(SetupDialogTest, PersonStartsTheInstallAndClosesWhenComplete) {
  const int result = RunWith(SetupOptions(), [&](HWND dialog) {
    EXPECT_EQ(ItemText(dialog, IDC_ACTION), "OK");
    EXPECT_TRUE(ItemEnabled(dialog, IDC_ACTION));
    EXPECT_FALSE(ItemVisible(dialog, IDC_PROGRESS));
    EXPECT_FALSE(ItemVisible(dialog, IDC_UNSIGNED_NOTE));
    EXPECT_FALSE(ItemVisible(dialog, IDC_MANUAL_STAGE_NOTE));
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "");
    EXPECT_GT(SaveScreenshot(dialog, Artifact("setup_dialog_ready.bmp")), 4);

    Press(dialog, IDC_ACTION);
    ASSERT_TRUE(ButtonReads(dialog, "Close"));
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Installation complete.");
    EXPECT_TRUE(ItemEnabled(dialog, IDC_ACTION));
    EXPECT_TRUE(ItemVisible(dialog, IDC_PROGRESS));
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0), 10000);
    EXPECT_GT(SaveScreenshot(dialog, Artifact("setup_dialog_complete.bmp")), 4);
    Press(dialog, IDC_ACTION);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Lines(ReadText(layout.System("TORVEX.DLL.calls"))),
            std::vector<std::string>{"register"});
}

TEST_F(SetupDialogTest, CloseBoxWhileInstallingIsRefusedAndTheInstallGoesOn) {
  HANDLE update_entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE may_go_on = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  fake.on_update = [&] {
    SetEvent(update_entered);
    WaitForSingleObject(may_go_on, kPatience);
  };
  const DWORD dialog_thread = GetCurrentThreadId();
  const int result = RunWith(SetupOptions(), [&](HWND dialog) {
    Press(dialog, IDC_ACTION);
    ASSERT_EQ(WaitForSingleObject(update_entered, kPatience), WAIT_OBJECT_0);
    EXPECT_EQ(ItemText(dialog, IDC_STATUS), "Installation in progress...");
    EXPECT_FALSE(ItemEnabled(dialog, IDC_ACTION));

    Press(dialog, IDCANCEL);
    HWND box = WaitForDialog(dialog_thread, "", kPatience, dialog);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box),
              "You cannot close this windows whilst the installation is in progress. Please "
              "wait for the installation to complete.");
    SaveScreenshot(box, Artifact("setup_dialog_cannot_close.bmp"));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, kPatience));
    EXPECT_TRUE(IsWindow(dialog));

    SetEvent(may_go_on);
    ASSERT_TRUE(ButtonReads(dialog, "Close"));
    Press(dialog, IDC_ACTION);
  });
  SetEvent(may_go_on);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(fake.update_calls.size(), 21u);
  CloseHandle(update_entered);
  CloseHandle(may_go_on);
}

TEST_F(SetupDialogTest, NonAdministratorSeesWhyAndWhere) {
  environment.admin_api.check_membership = &NotAMember;
  const int result = RunWith(SetupOptions(), [&](HWND dialog) {
    Press(dialog, IDC_ACTION);
    ASSERT_TRUE(ButtonReads(dialog, "Close"));
    EXPECT_EQ(ItemText(dialog, IDC_STATUS),
              "Installation failed: You do not have administrator rights. You need to be "
              "logged on as a user with administrator privileges in order to continue.\n"
              "Context: AdminCheck");
    SaveScreenshot(dialog, Artifact("setup_dialog_failed.bmp"));
    Press(dialog, IDC_ACTION);
  });
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(fake.update_calls.empty());
  EXPECT_FALSE(FileExists(layout.System("TORVEX.DLL")));
}

// With auto the dialog starts by itself and ends by itself: 1 when complete, 1004 when
// Windows must restart.
TEST_F(SetupDialogTest, AutomaticRunsEndByThemselves) {
  SetupOptions options;
  options.automatic = true;
  EXPECT_EQ(RunWith(options, [](HWND) {}), 1);

  fake.answers["USB\\Vid_0e21&Pid_5001"].reboot = true;
  options.defer_reboot = true;
  EXPECT_EQ(RunWith(options, [](HWND) {}), 1004);
}

// Windows 98 and ME install the driver in a manual stage: the dialog writes its steps, with
// the real folder of the driver files, to a file in that folder, has Notepad show it, and
// only then points at Notepad with its note.
TEST_F(SetupDialogTest, OnWindows98TheManualStageStepsOpenInNotepad) {
  environment.nt_family = false;
  const std::string folder = layout.Windows("QelDrivers");
  const struct {
    const char* what;
    LANGID language;
    const char* wizard;  // how the steps name the hardware wizard
    const char* close;
  } languages[] = {
      {"English", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), "Add New Hardware Wizard",
       "Close"},
      {"German", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), "Hardware-Assistent",
       "Schlie\xdf" "en"},
      {"Spanish", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN),
       "Asistente para agregar nuevo hardware", "Cerrar"},
  };
  for (const auto& language : languages) {
    SCOPED_TRACE(language.what);
    environment.language = language.language;
    std::vector<std::string> shown;
    environment.show_text_file = [&](const std::string& path) {
      shown.push_back(path);
      return true;
    };
    const int result = RunWith(SetupOptions(), [&](HWND dialog) {
      Press(dialog, IDC_ACTION);
      ASSERT_TRUE(ButtonReads(dialog, language.close));
      EXPECT_TRUE(ItemVisible(dialog, IDC_MANUAL_STAGE_NOTE));
      Press(dialog, IDC_ACTION);
    }, "");
    EXPECT_EQ(result, 1);
    ASSERT_EQ(shown, std::vector<std::string>{folder + "\\INSTALL.TXT"});
    const std::string steps = ReadText(shown[0]);
    EXPECT_NE(steps.find("    " + folder + "\r\n"), std::string::npos) << steps;
    EXPECT_NE(steps.find(language.wizard), std::string::npos) << steps;
    EXPECT_EQ(steps.find('\n'), steps.find("\r\n") + 1) << "Notepad of Windows 9x wants CR LF";
    EXPECT_TRUE(FileExists(folder + "\\MIRRIN.INF"));
    DeleteFileA(shown[0].c_str());
  }
}

// When Notepad does not start, the note would point at nothing: the steps show in a message
// box instead, and the note stays hidden.
TEST_F(SetupDialogTest, OnWindows98WithoutNotepadTheStepsShowInTheDialog) {
  environment.nt_family = false;
  environment.show_text_file = [](const std::string&) { return false; };
  const DWORD dialog_thread = GetCurrentThreadId();
  const int result = RunWith(SetupOptions(), [&](HWND dialog) {
    Press(dialog, IDC_ACTION);
    HWND box = WaitForDialog(dialog_thread, "", 10000, dialog);
    EXPECT_NE(box, nullptr) << "the steps are not shown";
    if (box) {
      EXPECT_NE(MessageBoxText(box).find(layout.Windows("QelDrivers")), std::string::npos);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    ASSERT_TRUE(ButtonReads(dialog, "Close"));
    EXPECT_FALSE(ItemVisible(dialog, IDC_MANUAL_STAGE_NOTE));
    Press(dialog, IDC_ACTION);
  });
  EXPECT_EQ(result, 1);
}

// Where the dialog item `id` lies in the dialog's client area.
RECT ItemBox(HWND dialog, int id) {
  RECT box;
  GetWindowRect(GetDlgItem(dialog, id), &box);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
  return box;
}

// The room the status text needs at the width of its box, as a static control that breaks
// over-long words draws it.
SIZE NeededForStatus(HWND dialog) {
  HWND status = GetDlgItem(dialog, IDC_STATUS);
  const std::string text = ItemText(dialog, IDC_STATUS);
  const RECT box = ItemBox(dialog, IDC_STATUS);
  HDC dc = GetDC(status);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(status, WM_GETFONT, 0, 0)));
  RECT area = {0, 0, box.right - box.left, 0};
  DrawTextA(dc, text.c_str(), -1, &area,
            DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(status, dc);
  return {area.right - area.left, area.bottom - area.top};
}

// The longest failure the dialog shows: the first step fails in a Windows folder as deep as
// Windows allows, so that the context names two full paths of nearly MAX_PATH characters. In
// each language the whole text must show above the button, inside the dialog and the screen.
TEST_F(SetupDialogTest, AFailureWithTwoFullPathsShowsWholeInEveryLanguage) {
  std::string windows = layout.Root();
  const std::string level = "\\Windows folder of a deeply nested installation";
  const std::string removed_tail = "\\INF\\MSQEL.INF.removed";
  while (windows.size() + level.size() + removed_tail.size() < MAX_PATH - 1) {
    windows += level;
    ASSERT_TRUE(CreateDirectoryA(windows.c_str(), nullptr)) << windows;
  }
  const std::string inf = windows + "\\INF";
  ASSERT_TRUE(CreateDirectoryA(inf.c_str(), nullptr));
  const std::string path = inf + "\\MSQEL.INF";
  const std::string removed = path + ".removed";
  ASSERT_GT(removed.size(), MAX_PATH - 40u);
  WriteText(path, "superseded");
  // A folder in the removed file's place makes the move aside fail.
  ASSERT_TRUE(CreateDirectoryA(removed.c_str(), nullptr));
  WriteText(removed + "\\kept", "in the way");
  environment.folders.windows = windows;

  struct Case {
    LANGID language;
    const char* caption;
    const char* screenshot;  // null: none kept
  } const cases[] = {
      {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), "Driver setup", "setup_dialog_long_failure_en.bmp"},
      {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), "Treiberinstallation", "setup_dialog_long_failure_de.bmp"},
      {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), "Installation des pilotes", "setup_dialog_long_failure_fr.bmp"},
      {MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN), "Installazione driver", nullptr},
      {MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), "", nullptr},
      {MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN), "Instala\xe7\xe3o do driver", nullptr},
      {MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN), "Instalaci\xf3n del controlador", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    environment.language = c.language;
    const int result = RunWith(SetupOptions(), [&](HWND dialog) {
      Press(dialog, IDC_ACTION);
      ASSERT_TRUE(WaitUntil(
          [&] { return ItemText(dialog, IDC_STATUS).find(removed) != std::string::npos; },
          kPatience));
      const std::string status = ItemText(dialog, IDC_STATUS);
      EXPECT_NE(status.find(path + ", " + removed), std::string::npos) << status;

      const SIZE needed = NeededForStatus(dialog);
      const RECT box = ItemBox(dialog, IDC_STATUS);
      EXPECT_LE(needed.cx, box.right - box.left);
      EXPECT_LE(needed.cy, box.bottom - box.top);
      const RECT button = ItemBox(dialog, IDC_ACTION);
      EXPECT_LE(box.bottom, button.top);
      RECT client, frame, work;
      GetClientRect(dialog, &client);
      EXPECT_LE(button.bottom, client.bottom);
      GetWindowRect(dialog, &frame);
      SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
      EXPECT_GE(frame.top, work.top);
      EXPECT_LE(frame.bottom, work.bottom);
      if (c.screenshot) {
        EXPECT_GT(SaveScreenshot(dialog, Artifact(c.screenshot)), 4);
      }
      Press(dialog, IDC_ACTION);
    }, c.caption);
    EXPECT_EQ(result, 2);
  }
  EXPECT_TRUE(FileExists(path));
}

}  // namespace
