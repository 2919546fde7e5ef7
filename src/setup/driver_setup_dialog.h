// DriverSetupDialog: the one window of the installation tool. Its button starts the install,
// which runs on an InstallThread; the dialog shows progress and the result, and ends with 1
// (complete), 2 (failed or closed) or 1004 (a restart is needed).
#pragma once

#include <windows.h>

#include <string>

#include "setup/dialog_states.h"
#include "setup/setup_environment.h"
#include "setup/setup_options.h"

class InstallThread;

class DriverSetupDialog {
 public:
  DriverSetupDialog(const SetupOptions& options, const SetupEnvironment& environment,
                    UINT install_message);
  ~DriverSetupDialog();
  DriverSetupDialog(const DriverSetupDialog&) = delete;
  DriverSetupDialog& operator=(const DriverSetupDialog&) = delete;

  // Shows the dialog modally and returns how it ended.
  int Run(HWND parent);

  setup_dialog::State State() const { return state_; }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void Open();
  void StartInstall();
  void Progress();
  void Complete();
  // Windows 9x: the steps of the manual stage in Notepad, and the note that points at them.
  void ShowManualStage();
  void Enter(setup_dialog::State state);
  void PressButton();
  void Close();
  void ShowFailure(Result code, const std::string& context);
  void SetStatus(const std::string& text);
  void FitStatusToText();
  std::string String(int id) const;

  SetupOptions options_;
  SetupEnvironment environment_;
  UINT install_message_;
  HWND window_ = nullptr;
  InstallThread* thread_ = nullptr;
  setup_dialog::State state_ = setup_dialog::kReady;
};

// The registered message the install thread reports with.
UINT RegisterInstallMessage();
