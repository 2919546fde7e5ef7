// Thin wrappers over Win32 mutexes and events used throughout the platform layer.
// Results: 1 success, 2 null handle, 3 time-out, 0 other failure.
#pragma once

#include <cstdint>

namespace win32sync {

constexpr int kFailed = 0;
constexpr int kDone = 1;
constexpr int kNullHandle = 2;
constexpr int kTimedOut = 3;

typedef void* Handle;

Handle MutexCreate();
int MutexLock(Handle mutex);
int MutexTryLock(Handle mutex);
int MutexUnlock(Handle mutex);

// Manual reset, not signalled, unnamed.
Handle EventCreate();
int EventSet(Handle event);
int EventReset(Handle event);
// A zero time-out waits without limit; otherwise the wait lasts ns / 1000000 milliseconds.
int EventWait(Handle event, uint64_t timeout_ns);
int HandleClose(Handle handle);

// Milliseconds of a nanosecond time-out as the waits take it (0 = without limit).
uint32_t WaitMilliseconds(uint64_t timeout_ns);

// Holds a Win32 mutex for one scope (the owner may enter again).
class MutexHold {
 public:
  explicit MutexHold(Handle mutex) : mutex_(mutex) { MutexLock(mutex_); }
  ~MutexHold() { MutexUnlock(mutex_); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  Handle mutex_;
};

// A lock for the threads of this process only (a critical section): taking it when it is free
// needs no call into the system, where a Win32 mutex costs one every time. The owner may enter
// again.
class LocalMutex {
 public:
  LocalMutex();
  ~LocalMutex();
  LocalMutex(const LocalMutex&) = delete;
  LocalMutex& operator=(const LocalMutex&) = delete;
  void Lock();
  void Unlock();

 private:
  void* section_;  // CRITICAL_SECTION
};

class LocalMutexHold {
 public:
  explicit LocalMutexHold(LocalMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~LocalMutexHold() { mutex_.Unlock(); }
  LocalMutexHold(const LocalMutexHold&) = delete;
  LocalMutexHold& operator=(const LocalMutexHold&) = delete;

 private:
  LocalMutex& mutex_;
};

}  // namespace win32sync

// A file mapped into memory; Close unmaps and closes whatever is open.
struct MappedFile {
  void* file = nullptr;  // INVALID_HANDLE_VALUE when none
  void* mapping = nullptr;
  void* view = nullptr;
  uint64_t length = 0;
  void Close();
};
