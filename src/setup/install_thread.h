// InstallThread: runs the install plan on its own thread and reports each logged operation
// (word parameter 1) and its completion (0) to the dialog by posting a registered message.
#pragma once

#include <windows.h>

#include <string>

#include "platform/worker_thread.h"
#include "setup/install_log.h"
#include "setup/setup_environment.h"
#include "support/registered_lock.h"

class InstallThread : public WorkerThread, private InstallLog {
 public:
  explicit InstallThread(const SetupEnvironment& environment);

  // Starts the work for `window`, which receives `message`.
  Result Start(HWND window, UINT message, bool replace_same_version);

  // Valid once the thread has ended.
  bool RestartNeeded() const { return restart_needed_; }
  bool ManualStage() const { return manual_stage_; }
  std::string LastLogLine() const;

  // The work itself, on the calling thread: the administrator check and the install plan.
  Result Install();

 protected:
  ~InstallThread() override = default;

 private:
  Result Work() override;
  void Line(const std::string& line) override;

  SetupEnvironment environment_;
  HWND window_ = nullptr;
  UINT message_ = 0;
  bool replace_same_version_ = true;
  bool restart_needed_ = false;
  bool manual_stage_ = false;
  mutable RegisteredLock last_line_lock_{"InstallThread"};
  std::string last_line_;
};
