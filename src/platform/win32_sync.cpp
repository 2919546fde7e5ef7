#include "platform/win32_sync.h"

#include <windows.h>

namespace win32sync {

namespace {
int WaitResult(DWORD status) {
  if (status == WAIT_OBJECT_0 || status == WAIT_ABANDONED) return kDone;
  if (status == WAIT_TIMEOUT) return kTimedOut;
  return kFailed;
}
}  // namespace

uint32_t WaitMilliseconds(uint64_t timeout_ns) {
  if (timeout_ns == 0) return INFINITE;
  uint64_t ms = timeout_ns / 1000000;
  // A finite wait never becomes the unlimited one.
  return ms >= INFINITE ? INFINITE - 1 : static_cast<uint32_t>(ms);
}

Handle MutexCreate() { return CreateMutexA(nullptr, FALSE, nullptr); }

int MutexLock(Handle mutex) {
  if (!mutex) return kNullHandle;
  return WaitResult(WaitForSingleObject(mutex, INFINITE));
}

int MutexTryLock(Handle mutex) {
  if (!mutex) return kNullHandle;
  return WaitResult(WaitForSingleObject(mutex, 0));
}

int MutexUnlock(Handle mutex) {
  if (!mutex) return kNullHandle;
  return ReleaseMutex(mutex) ? kDone : kFailed;
}

Handle EventCreate() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

int EventSet(Handle event) {
  if (!event) return kNullHandle;
  return SetEvent(event) ? kDone : kFailed;
}

int EventReset(Handle event) {
  if (!event) return kNullHandle;
  return ResetEvent(event) ? kDone : kFailed;
}

int EventWait(Handle event, uint64_t timeout_ns) {
  if (!event) return kNullHandle;
  return WaitResult(WaitForSingleObject(event, WaitMilliseconds(timeout_ns)));
}

int HandleClose(Handle handle) {
  if (!handle) return kNullHandle;
  return CloseHandle(handle) ? kDone : kFailed;
}

LocalMutex::LocalMutex() : section_(new CRITICAL_SECTION) {
  InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(section_));
}

LocalMutex::~LocalMutex() {
  DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(section_));
  delete static_cast<CRITICAL_SECTION*>(section_);
}

void LocalMutex::Lock() { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(section_)); }

void LocalMutex::Unlock() { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(section_)); }

}  // namespace win32sync

void MappedFile::Close() {
  if (view) {
    UnmapViewOfFile(view);
    view = nullptr;
    length = 0;
  }
  if (mapping) {
    CloseHandle(mapping);
    mapping = nullptr;
  }
  if (file && file != INVALID_HANDLE_VALUE) CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
}
