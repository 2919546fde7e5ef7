#include "platform/thread_registry.h"

#include <process.h>
#include <windows.h>

#include <map>
#include <vector>

#include "support/registered_lock.h"

namespace {

struct ThreadRecord {
  uint32_t id = 0;
  HANDLE handle = nullptr;
  ThreadEntry entry = nullptr;
  void* argument = nullptr;
  const char* name = nullptr;
  bool suspended = true;
};

struct Registry {
  RegisteredLock lock{"ThreadRegistry"};
  std::map<uint32_t, ThreadRecord*> threads;
};

Registry* registry = nullptr;

ThreadRecord* Find(uint32_t id) {
  auto found = registry->threads.find(id);
  return found == registry->threads.end() ? nullptr : found->second;
}

unsigned __stdcall RegisteredBody(void* argument) {
  ThreadRecord* record = static_cast<ThreadRecord*>(argument);
  record->entry(record->argument);
  {
    ScopedEnter<RegisteredLock> hold(registry->lock);
    registry->threads.erase(record->id);
  }
  CloseHandle(record->handle);
  delete record;
  return 0;
}

}  // namespace

int PriorityToWin32(uint8_t priority) {
  if (priority < 64) return THREAD_PRIORITY_ABOVE_NORMAL;
  if (priority < 128) return THREAD_PRIORITY_NORMAL;
  if (priority < 192) return THREAD_PRIORITY_BELOW_NORMAL;
  return THREAD_PRIORITY_LOWEST;
}

uint8_t PriorityFromWin32(int win32_priority) {
  switch (win32_priority) {
    case THREAD_PRIORITY_ABOVE_NORMAL: return 32;
    case THREAD_PRIORITY_NORMAL: return 96;
    case THREAD_PRIORITY_BELOW_NORMAL: return 160;
    case THREAD_PRIORITY_LOWEST: return 224;
    default: return 0;
  }
}

bool RegistryStart() {
  if (!registry) registry = new Registry;
  return registry != nullptr;
}

void RegistryDestroy(bool wait_for_threads) {
  if (!registry) return;
  if (wait_for_threads) {
    // Threads that end on their own within 1000 ms are let go; the wait ends as soon as none
    // is left.
    DWORD deadline = GetTickCount() + 1000;
    for (;;) {
      {
        ScopedEnter<RegisteredLock> hold(registry->lock);
        if (registry->threads.empty()) break;
      }
      if (static_cast<int32_t>(deadline - GetTickCount()) <= 0) break;
      Sleep(10);
    }
  }
  {
    ScopedEnter<RegisteredLock> hold(registry->lock);
    for (auto& entry : registry->threads) {
      ThreadRecord* record = entry.second;
      if (wait_for_threads) {
        SuspendThread(record->handle);
        TerminateThread(record->handle, 0);
      }
      CloseHandle(record->handle);
      delete record;
    }
    registry->threads.clear();
  }
  delete registry;
  registry = nullptr;
}

uint32_t RegistryCreateThread(ThreadEntry entry, void* argument, uint32_t stack_size,
                              uint8_t priority, uint32_t flags, const char* name) {
  if (!registry || !entry) return 0;
  ThreadRecord* record = new ThreadRecord;
  record->entry = entry;
  record->argument = argument;
  record->name = name;
  unsigned id = 0;
  uintptr_t thread =
      _beginthreadex(nullptr, stack_size, &RegisteredBody, record, CREATE_SUSPENDED, &id);
  if (thread == 0) {
    delete record;
    return 0;
  }
  record->handle = reinterpret_cast<HANDLE>(thread);
  record->id = id;
  SetThreadPriority(record->handle, PriorityToWin32(priority));
  {
    ScopedEnter<RegisteredLock> hold(registry->lock);
    registry->threads[id] = record;
  }
  if (!(flags & kCreateSuspended)) RegistryResume(id);
  return id;
}

int RegistryResume(uint32_t id) {
  if (!registry) return 0;
  if (id == 0) return 2;
  ScopedEnter<RegisteredLock> hold(registry->lock);
  ThreadRecord* record = Find(id);
  if (!record) return 2;
  if (!record->suspended) return 0;
  if (ResumeThread(record->handle) != 1) return 0;
  record->suspended = false;
  return 1;
}

int RegistrySetPriority(uint32_t id, uint8_t priority) {
  if (!registry || priority == 0) return 0;
  if (id == 0) return 2;
  ScopedEnter<RegisteredLock> hold(registry->lock);
  ThreadRecord* record = Find(id);
  if (!record) return 2;
  return SetThreadPriority(record->handle, PriorityToWin32(priority)) ? 1 : 0;
}

uint8_t RegistryGetPriority(uint32_t id) {
  if (!registry || id == 0) return 0;
  ScopedEnter<RegisteredLock> hold(registry->lock);
  ThreadRecord* record = Find(id);
  if (!record) return 0;
  int priority = GetThreadPriority(record->handle);
  return priority == THREAD_PRIORITY_ERROR_RETURN ? 0 : PriorityFromWin32(priority);
}

uint32_t RegistryCurrentThread() {
  if (!registry) return 0;
  uint32_t id = GetCurrentThreadId();
  ScopedEnter<RegisteredLock> hold(registry->lock);
  return Find(id) ? id : 0;
}

int RegistryState(uint32_t id) {
  if (!registry || id == 0) return kThreadOther;
  ScopedEnter<RegisteredLock> hold(registry->lock);
  ThreadRecord* record = Find(id);
  return record && record->suspended ? kThreadSuspended : kThreadOther;
}

const char* RegistryName(uint32_t id) {
  if (registry && id != 0) {
    ScopedEnter<RegisteredLock> hold(registry->lock);
    ThreadRecord* record = Find(id);
    if (record && record->name) return record->name;
  }
  return "[unknown]";
}

uint32_t RegistryCount() {
  if (!registry) return 0;
  ScopedEnter<RegisteredLock> hold(registry->lock);
  return static_cast<uint32_t>(registry->threads.size());
}
