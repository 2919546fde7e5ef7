#include "platform/or_thread.h"

#include <windows.h>

#include <map>

#include "platform/platform_clock.h"
#include "platform/platform_codes.h"
#include "platform/win32_sync.h"

using namespace win32sync;

namespace {

constexpr uint8_t kDetached = 2;

Handle thread_mutex = nullptr;
std::map<uint32_t, ORThreadImpl*>* thread_table = nullptr;

}  // namespace

bool ThreadTableCreate() {
  if (!thread_mutex) thread_mutex = MutexCreate();
  if (!thread_mutex) return false;
  MutexHold hold(thread_mutex);
  if (!thread_table) thread_table = new std::map<uint32_t, ORThreadImpl*>;
  return true;
}

// A thread may still be ending (erasing itself under the mutex), so the table goes under the
// mutex too. The mutex itself lives until the process ends: an ending thread may be about to
// take it, and a closed handle could by then name another object.
void ThreadTableDestroy() {
  if (!thread_mutex) return;
  MutexHold hold(thread_mutex);
  delete thread_table;
  thread_table = nullptr;
}

ORThreadImpl::ORThreadImpl() : finished_event_(EventCreate()) { EventSet(finished_event_); }

// A thread that has just ended may still be leaving Body, which holds the table's mutex until
// it no longer touches the object.
ORThreadImpl::~ORThreadImpl() {
  MutexHold hold(thread_mutex);
  HandleClose(finished_event_);
}

void ORThreadImpl::Destroy() { delete this; }

Result ORThreadImpl::Start(ThreadEntry entry, void* argument, uint32_t stack_size,
                           uint8_t priority, uint32_t flags, const char* name) {
  if (!entry || !thread_mutex) return prc::kThreadFailed;
  MutexHold hold(thread_mutex);
  if (!thread_table) return prc::kThreadFailed;
  if (thread_id_ != 0) return prc::kThreadAlreadyStarted;
  entry_ = entry;
  argument_ = argument;
  EventReset(finished_event_);
  uint32_t id = RegistryCreateThread(&ORThreadImpl::Body, this, stack_size, priority,
                                     kCreateSuspended, name);
  if (id == 0) {
    entry_ = nullptr;
    argument_ = nullptr;
    EventSet(finished_event_);
    return prc::kThreadFailed;
  }
  thread_id_ = id;
  (*thread_table)[id] = this;
  if (flags & kStartRunning) RegistryResume(id);
  return prc::kOk;
}

Result ORThreadImpl::StartDetached(ThreadEntry entry, void* argument, uint32_t stack_size,
                                   uint8_t priority, uint32_t flags, const char* name) {
  if (!thread_mutex) return prc::kThreadFailed;
  // Marked detached only once its thread exists: an object whose start failed (or that runs
  // a thread already) stays its owner's to release. The thread cannot end before the mark,
  // as it takes this mutex on its way out.
  MutexHold hold(thread_mutex);
  const Result result = Start(entry, argument, stack_size, priority, flags, name);
  if (result == prc::kOk) mode_ = kDetached;
  return result;
}

void ORThreadImpl::Body(void* self_pointer) {
  ORThreadImpl* self = static_cast<ORThreadImpl*>(self_pointer);
  self->entry_(self->argument_);
  MutexHold hold(thread_mutex);
  if (thread_table) thread_table->erase(self->thread_id_);
  self->thread_id_ = 0;
  self->entry_ = nullptr;
  self->argument_ = nullptr;
  EventSet(self->finished_event_);
  if (self->mode_ == kDetached) self->Destroy();
}

Result ORThreadImpl::Kill() {
  bool own = thread_id_ != 0 && thread_id_ == GetCurrentThreadId();
  if (!own && thread_mutex) MutexLock(thread_mutex);
  Result result = thread_id_ == 0 ? prc::kThreadNotStarted : prc::kThreadFailed;
  if (!own && thread_mutex) MutexUnlock(thread_mutex);
  return result;
}

namespace {
Result FromRegistry(int answer) {
  if (answer == 1) return prc::kOk;
  return answer == 2 ? prc::kThreadUnknown : prc::kThreadFailed;
}
}  // namespace

Result ORThreadImpl::Resume() {
  uint32_t id = thread_id_;
  if (id == 0) return prc::kThreadNotStarted;
  return FromRegistry(RegistryResume(id));
}

Result ORThreadImpl::Join() {
  uint32_t id = thread_id_;
  if (id != 0 && id == GetCurrentThreadId()) return prc::kThreadJoinsItself;
  if (State() == kStateStopped) return prc::kThreadNotStarted;
  EventWait(finished_event_, 0);
  return prc::kOk;
}

Result ORThreadImpl::Sleep(uint64_t ns) {
  uint32_t id = thread_id_;
  if (id == 0 || id != GetCurrentThreadId()) return prc::kThreadFailed;
  SleepNanoseconds(ns);
  return prc::kTimeout;
}

Result ORThreadImpl::SetPriority(uint8_t priority) {
  uint32_t id = thread_id_;
  if (id == 0) return prc::kThreadNotStarted;
  return FromRegistry(RegistrySetPriority(id, priority));
}

uint8_t ORThreadImpl::GetPriority() {
  uint32_t id = thread_id_;
  return id == 0 ? 0 : RegistryGetPriority(id);
}

int ORThreadImpl::State() {
  uint32_t id = thread_id_;
  if (id == 0) return kStateStopped;
  return RegistryState(id) == kThreadSuspended ? kStateSuspended : kStateRunning;
}

const char* ORThreadImpl::Name() {
  uint32_t id = thread_id_;
  return id == 0 ? nullptr : RegistryName(id);
}

ORThreadImpl* ORThreadImpl::Current() { return CurrentORThread(); }

ORThreadImpl* CurrentORThread() {
  if (!thread_mutex) return nullptr;
  uint32_t id = RegistryCurrentThread();
  if (id == 0) return nullptr;
  MutexHold hold(thread_mutex);
  if (!thread_table) return nullptr;
  auto found = thread_table->find(id);
  return found == thread_table->end() ? nullptr : found->second;
}
