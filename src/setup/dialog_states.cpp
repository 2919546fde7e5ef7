#include "setup/dialog_states.h"

namespace setup_dialog {

ButtonLook ButtonFor(State state, bool defer_reboot) {
  switch (state) {
    case kReady: return {kStringOk, true, 0};
    case kInstalling: return {kStringOk, false, 0};
    case kFailed: return {kStringClose, true, kEndedCancel};
    case kComplete: return {kStringClose, true, kEndedOk};
    case kRestartNeeded:
      return {defer_reboot ? kStringClose : kStringReboot, true, kEndedRestart};
  }
  return {kStringOk, false, 0};
}

int AutomaticEnd(State state) {
  if (state == kComplete) return kEndedOk;
  if (state == kRestartNeeded) return kEndedRestart;
  return 0;
}

int CloseResult(State state) { return state == kInstalling ? 0 : kEndedCancel; }

int NextProgress(int position) { return position + (kProgressCeiling - position) / 32; }

}  // namespace setup_dialog
