#include "platform/worker_thread.h"

#include <process.h>
#include <windows.h>

#include "platform/win32_sync.h"

namespace {
// The slot is allocated once, when the library starts.
const DWORD current_thread_slot = TlsAlloc();
}  // namespace

WorkerThread* CurrentWorkerThread() {
  return static_cast<WorkerThread*>(TlsGetValue(current_thread_slot));
}

WorkerThread::WorkerThread(const char* /*name*/) : start_event_(win32sync::EventCreate()) {}

WorkerThread::~WorkerThread() {
  if (thread_) CloseHandle(thread_);
  if (start_event_) CloseHandle(start_event_);
}

void WorkerThread::Destroy() { delete this; }

void WorkerThread::Terminate() {
  if (thread_) TerminateThread(thread_, static_cast<DWORD>(-1));
}

Result WorkerThread::Start() {
  if (!start_event_) return rc::kFail;
  unsigned id = 0;
  uintptr_t thread = _beginthreadex(nullptr, 0, &WorkerThread::Body, this, CREATE_SUSPENDED, &id);
  if (thread == 0) return rc::kFail;
  thread_ = reinterpret_cast<HANDLE>(thread);
  thread_id_ = id;
  ResumeThread(thread_);
  WaitForSingleObject(start_event_, INFINITE);
  CloseHandle(start_event_);
  start_event_ = nullptr;
  return startup_code_;
}

Result WorkerThread::Wait(uint32_t milliseconds) {
  constexpr Result kWaitTimedOut = static_cast<Result>(0x80040802);
  constexpr Result kNoExitCode = static_cast<Result>(0x80040803);
  if (!thread_) return kNoExitCode;
  if (WaitForSingleObject(thread_, milliseconds) == WAIT_TIMEOUT) return kWaitTimedOut;
  DWORD exit_code = 0;
  if (!GetExitCodeThread(thread_, &exit_code)) return kNoExitCode;
  return static_cast<Result>(exit_code);
}

unsigned __stdcall WorkerThread::Body(void* self_pointer) {
  WorkerThread* self = static_cast<WorkerThread*>(self_pointer);
  TlsSetValue(current_thread_slot, self);
  Result code = self->StartUp();
  self->startup_code_ = code;
  SetEvent(self->start_event_);
  if (code >= 0) {
    code = self->Run();
    // The finish step may end the object's life: nothing of it is touched afterwards.
    self->Finish();
  }
  TlsSetValue(current_thread_slot, nullptr);
  return static_cast<unsigned>(code);
}
