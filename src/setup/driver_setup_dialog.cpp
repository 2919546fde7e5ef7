#include "setup/driver_setup_dialog.h"

#include <commctrl.h>

#include "setup/dialog_language.h"
#include "setup/error_text.h"
#include "setup/haldor_resource.h"
#include "setup/install_plan.h"
#include "setup/install_thread.h"
#include "setup/manual_stage.h"

using namespace setup_dialog;

namespace {

// "%1" and "%2" of a string-table text replaced by the two arguments.
std::string FillIn(std::string text, const std::string& first, const std::string& second) {
  for (const auto& [marker, value] : {std::pair<std::string, std::string>("%1", first),
                                      std::pair<std::string, std::string>("%2", second)}) {
    const size_t at = text.find(marker);
    if (at != std::string::npos) text.replace(at, marker.size(), value);
  }
  return text;
}

// The height the status text takes at `width`, drawn the way the static control draws it
// (words broken at the edge when longer than a line, "&" shown as it is).
int StatusTextHeight(HWND status, int width) {
  const int length = GetWindowTextLengthA(status);
  std::string text(length + 1, '\0');
  GetWindowTextA(status, &text[0], length + 1);
  HDC dc = GetDC(status);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(status, WM_GETFONT, 0, 0)));
  RECT area = {0, 0, width, 0};
  DrawTextA(dc, text.c_str(), length, &area,
            DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(status, dc);
  return area.bottom - area.top;
}

}  // namespace

UINT RegisterInstallMessage() { return RegisterWindowMessageA("Orm:TheInstallMessage"); }

DriverSetupDialog::DriverSetupDialog(const SetupOptions& options,
                                     const SetupEnvironment& environment, UINT install_message)
    : options_(options), environment_(environment), install_message_(install_message) {}

DriverSetupDialog::~DriverSetupDialog() {
  if (thread_) {
    thread_->Wait(INFINITE);
    thread_->Destroy();
  }
}

int DriverSetupDialog::Run(HWND parent) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  return static_cast<int>(DialogBoxIn(GetModuleHandleA(nullptr), environment_.language,
                                      IDD_DRIVER_SETUP, parent, &DriverSetupDialog::Procedure,
                                      reinterpret_cast<LPARAM>(this)));
}

INT_PTR CALLBACK DriverSetupDialog::Procedure(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
  DriverSetupDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DriverSetupDialog*>(lparam);
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    self->window_ = window;
  } else {
    self = reinterpret_cast<DriverSetupDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  }
  return self ? self->Handle(message, wparam, lparam) : FALSE;
}

INT_PTR DriverSetupDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == install_message_ && install_message_ != 0) {
    if (wparam == 1)
      Progress();
    else
      Complete();
    return TRUE;
  }
  switch (message) {
    case WM_INITDIALOG:
      Open();
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_ACTION || LOWORD(wparam) == IDOK) {
        PressButton();
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        Close();
        return TRUE;
      }
      break;
  }
  return FALSE;
}

std::string DriverSetupDialog::String(int id) const {
  return LoadStringIn(GetModuleHandleA(nullptr), environment_.language, id);
}

void DriverSetupDialog::SetStatus(const std::string& text) {
  SetDlgItemTextA(window_, IDC_STATUS, text.c_str());
}

void DriverSetupDialog::Open() {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_HALDOR));
  SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, kProgressEnd);
  Enter(kReady);
  ShowWindow(GetDlgItem(window_, IDC_UNSIGNED_NOTE), SW_HIDE);
  if (options_.automatic) StartInstall();
}

void DriverSetupDialog::ShowFailure(Result code, const std::string& context) {
  // The context names up to two full paths: the box grows until the whole text shows.
  SetStatus(FillIn(String(kStringFailed), ErrorText(code, environment_.language), context));
  FitStatusToText();
}

void DriverSetupDialog::FitStatusToText() {
  HWND status = GetDlgItem(window_, IDC_STATUS);
  RECT box;
  GetWindowRect(status, &box);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&box), 2);
  const int width = box.right - box.left;
  const int grow = StatusTextHeight(status, width) - (box.bottom - box.top);
  if (grow <= 0) return;
  SetWindowPos(status, nullptr, 0, 0, width, box.bottom - box.top + grow,
               SWP_NOMOVE | SWP_NOZORDER);
  HWND button = GetDlgItem(window_, IDC_ACTION);
  RECT button_box;
  GetWindowRect(button, &button_box);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&button_box), 2);
  SetWindowPos(button, nullptr, button_box.left, button_box.top + grow, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  // The dialog grows downwards, and moves up when that would take it off the screen.
  RECT frame, work;
  GetWindowRect(window_, &frame);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int height = frame.bottom - frame.top + grow;
  int top = frame.top;
  if (top + height > work.bottom) top = work.bottom - height;
  if (top < work.top) top = work.top;
  SetWindowPos(window_, nullptr, frame.left, top, frame.right - frame.left, height, SWP_NOZORDER);
  InvalidateRect(window_, nullptr, TRUE);
}

void DriverSetupDialog::StartInstall() {
  thread_ = new InstallThread(environment_);
  const Result code = thread_->Start(window_, install_message_, options_.replace_same_version);
  if (code < 0) {
    ShowFailure(code, thread_->LastLogLine());
    Enter(kFailed);
    return;
  }
  SetStatus(String(kStringInProgress));
  Enter(kInstalling);
}

void DriverSetupDialog::Progress() {
  HWND bar = GetDlgItem(window_, IDC_PROGRESS);
  const int position = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
  SendMessageA(bar, PBM_SETPOS, NextProgress(position), 0);
  ShowWindow(bar, SW_SHOW);
}

void DriverSetupDialog::Complete() {
  HWND bar = GetDlgItem(window_, IDC_PROGRESS);
  SendMessageA(bar, PBM_SETPOS, kProgressEnd, 0);
  ShowWindow(bar, SW_SHOW);
  if (!thread_) return;
  const Result code = thread_->Wait(INFINITE);
  if (code < 0) {
    ShowFailure(code, thread_->LastLogLine());
    Enter(kFailed);
    return;
  }
  if (thread_->ManualStage()) ShowManualStage();
  if (thread_->RestartNeeded()) {
    SetStatus(String(kStringRestartNeeded));
    Enter(kRestartNeeded);
  } else {
    SetStatus(String(kStringComplete));
    Enter(kComplete);
  }
}

void DriverSetupDialog::ShowManualStage() {
  const std::string folder = DriverPackageFolder(environment_.folders, false, std::string());
  if (ShowManualStageSteps(environment_.language, folder, environment_.show_text_file)) {
    ShowWindow(GetDlgItem(window_, IDC_MANUAL_STAGE_NOTE), SW_SHOW);
    return;
  }
  // The note would point at nothing: the person gets the steps here instead.
  char caption[64] = {};
  GetWindowTextA(window_, caption, sizeof(caption));
  MessageBoxA(window_, ManualStageSteps(environment_.language, folder).c_str(), caption,
              MB_OK | MB_ICONINFORMATION);
}

void DriverSetupDialog::Enter(setup_dialog::State state) {
  state_ = state;
  const ButtonLook look = ButtonFor(state, options_.defer_reboot);
  HWND button = GetDlgItem(window_, IDC_ACTION);
  SetWindowTextA(button, String(look.text).c_str());
  EnableWindow(button, look.enabled);
  if (options_.automatic) {
    const int end = AutomaticEnd(state);
    if (end) EndDialog(window_, end);
  }
}

void DriverSetupDialog::PressButton() {
  const ButtonLook look = ButtonFor(state_, options_.defer_reboot);
  if (!look.enabled) return;
  if (state_ == kReady) {
    StartInstall();
  } else if (look.end_code) {
    EndDialog(window_, look.end_code);
  }
}

void DriverSetupDialog::Close() {
  const int result = CloseResult(state_);
  if (result == 0) {
    MessageBoxA(window_, String(kStringCannotClose).c_str(), nullptr, MB_OK | MB_ICONWARNING);
    return;
  }
  EndDialog(window_, result);
}
