// The setup dialog's states: what its one button reads and does in each, and how the progress
// bar moves. Kept apart from the window so that it can be checked case by case.
#pragma once

namespace setup_dialog {

enum State { kReady = 0, kInstalling = 1, kFailed = 2, kComplete = 3, kRestartNeeded = 5 };

// Dialog results.
constexpr int kEndedOk = 1;
constexpr int kEndedCancel = 2;
constexpr int kEndedRestart = 1004;

// String table ids.
enum StringId {
  kStringOk = 1,
  kStringClose = 2,
  kStringReboot = 3,
  kStringCannotClose = 4,
  kStringFailed = 5,
  kStringRestartNeeded = 6,
  kStringComplete = 7,
  kStringInProgress = 8,
};

constexpr int kProgressEnd = 10000;
constexpr int kProgressCeiling = 9688;

struct ButtonLook {
  int text;      // string id
  bool enabled;
  int end_code;  // what pressing it ends the dialog with; 0: starts the install or nothing
};

ButtonLook ButtonFor(State state, bool defer_reboot);

// The code the dialog ends with on entering `state` by itself (auto), or 0 when it stays.
int AutomaticEnd(State state);

// 0 when closing is refused (while installing), else the dialog's result.
int CloseResult(State state);

// One logged operation moves the bar a 32nd of the way left to the ceiling.
int NextProgress(int position);

}  // namespace setup_dialog
