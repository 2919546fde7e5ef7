#include "setup/install_thread.h"

#include <objbase.h>

#include <new>

#include "setup/file_replacer.h"
#include "setup/install_engine.h"
#include "setup/install_plan.h"

namespace {

constexpr Result kOutOfMemory = static_cast<Result>(0xC007000E);
constexpr Result kUnknownException = static_cast<Result>(0xC0040009);

}  // namespace

InstallThread::InstallThread(const SetupEnvironment& environment)
    : WorkerThread("InstallThread"), environment_(environment) {}

Result InstallThread::Start(HWND window, UINT message, bool replace_same_version) {
  window_ = window;
  message_ = message;
  replace_same_version_ = replace_same_version;
  return WorkerThread::Start();
}

std::string InstallThread::LastLogLine() const {
  ScopedEnter<RegisteredLock> hold(last_line_lock_);
  return last_line_;
}

void InstallThread::Line(const std::string& line) {
  {
    ScopedEnter<RegisteredLock> hold(last_line_lock_);
    last_line_ = line;
  }
  if (window_) PostMessageA(window_, message_, 1, 0);
}

Result InstallThread::Install() {
  Line("AdminCheck");
  if (environment_.nt_family) {
    const Result code = CheckAdministrator(environment_.admin_api);
    if (code < 0) return code;
  }
  NtFileReplacer nt_replacer;
  Win9xFileReplacer win9x_replacer(environment_.folders.windows);
  FileReplacer& replacer =
      environment_.nt_family ? static_cast<FileReplacer&>(nt_replacer) : win9x_replacer;
  InstallEngine engine(&replacer, this, environment_.folders, &environment_.driver_api);
  engine.SetRegistrationPause(environment_.registration_pause_ms);
  InstallPlanOptions options;
  options.parent = window_;
  options.nt_family = environment_.nt_family;
  options.replace_same_version = replace_same_version_;
  const Result code = InstallPlan(engine, options).Run();
  restart_needed_ = engine.RebootNeeded() || replacer.Deferred();
  manual_stage_ = !environment_.nt_family;
  return code;
}

Result InstallThread::Work() {
  const HRESULT com = CoInitialize(nullptr);
  Result code;
  // Whatever happens, the dialog must hear that the install has ended.
  try {
    code = Install();
  } catch (const std::bad_alloc&) {
    code = kOutOfMemory;
  } catch (...) {
    code = kUnknownException;
  }
  if (SUCCEEDED(com)) CoUninitialize();
  if (window_) PostMessageA(window_, message_, 0, 0);
  return code;
}
