#include "support/registered_lock.h"

#include <windows.h>

#include <cstdio>
#include <new>

// Locks are made and destroyed on many threads, so the list carries its own guard. It is made
// on first use (thread-safe local static) and never destroyed, so locks inside static objects
// may still unlink themselves at process exit.
struct RegisteredLock::List {
  List() { InitializeCriticalSection(&guard); }
  CRITICAL_SECTION guard;
  RegisteredLock* head = nullptr;
  RegisteredLock* tail = nullptr;
  uint32_t count = 0;
};

RegisteredLock::List* RegisteredLock::TheList() {
  static List* const list = new (std::nothrow) List;
  return list;
}

RegisteredLock::RegisteredLock(const char* /*name*/) {
  static_assert(sizeof(section_) == sizeof(CRITICAL_SECTION), "section storage size");
  static_assert(alignof(CRITICAL_SECTION) <= alignof(void*), "section storage alignment");
  std::snprintf(name_, sizeof(name_), "%d", static_cast<int>(GetCurrentThreadId()));
  InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
  // Without a list the lock still works; it is just not listed.
  if (List* list = TheList()) {
    EnterCriticalSection(&list->guard);
    prev_ = list->tail;
    if (list->tail)
      list->tail->next_ = this;
    else
      list->head = this;
    list->tail = this;
    ++list->count;
    listed_ = true;
    LeaveCriticalSection(&list->guard);
  }
}

RegisteredLock::~RegisteredLock() {
  DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
  if (listed_) {
    List* list = TheList();
    EnterCriticalSection(&list->guard);
    (prev_ ? prev_->next_ : list->head) = next_;
    (next_ ? next_->prev_ : list->tail) = prev_;
    --list->count;
    LeaveCriticalSection(&list->guard);
  }
  magic_ = 0;  // a stale pointer to a dead lock no longer looks like one
}

void RegisteredLock::Enter() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_)); }

void RegisteredLock::Leave() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_)); }

uint32_t RegisteredLock::ListedCount() {
  List* list = TheList();
  if (!list) return 0;
  EnterCriticalSection(&list->guard);
  const uint32_t count = list->count;
  LeaveCriticalSection(&list->guard);
  return count;
}

void RegisteredLock::ForEachListed(void (*visit)(const RegisteredLock&, void*), void* context) {
  List* list = TheList();
  if (!list) return;
  EnterCriticalSection(&list->guard);
  for (const RegisteredLock* lock = list->head; lock; lock = lock->next_) visit(*lock, context);
  LeaveCriticalSection(&list->guard);
}

void LockedObject::Enter() {
  lock_.Enter();
  not_held_ = false;
}

void LockedObject::Leave() {
  not_held_ = true;
  lock_.Leave();
}
