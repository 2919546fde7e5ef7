// RegisteredLock: a Win32 critical section that links itself into one process-wide list of
// locks, so that a debugger can find every lock and the thread that made it. LockedObject is
// the base of classes that guard themselves with one such lock.
#pragma once

#include <atomic>
#include <cstdint>

class RegisteredLock {
 public:
  static constexpr uint32_t kMagic = 0x0BADF00D;

  // The name argument is not kept: every lock is named after the id of the thread that made
  // it ("%d"), which is what the list is searched by.
  explicit RegisteredLock(const char* name);
  ~RegisteredLock();
  RegisteredLock(const RegisteredLock&) = delete;
  RegisteredLock& operator=(const RegisteredLock&) = delete;

  void Enter();
  void Leave();
  // The same under the names the standard lock holders (std::unique_lock) call.
  void lock() { Enter(); }
  void unlock() { Leave(); }

  const char* Name() const { return name_; }
  uint32_t Magic() const { return magic_; }

  // The listed locks, counted and walked under the list's own guard. The visitor must not
  // create or destroy a lock.
  static uint32_t ListedCount();
  static void ForEachListed(void (*visit)(const RegisteredLock& lock, void* context),
                            void* context);

 private:
  struct List;
  static List* TheList();

  RegisteredLock* next_ = nullptr;
  RegisteredLock* prev_ = nullptr;
  uint32_t magic_ = kMagic;
  char name_[64];
  // A CRITICAL_SECTION, kept opaque so that this header needs no <windows.h>.
  alignas(void*) unsigned char section_[sizeof(void*) == 8 ? 40 : 24];
  bool listed_ = false;
};

// Base of objects that guard themselves with their own lock.
class LockedObject {
 public:
  void Enter();
  void Leave();
  // True while no thread is inside Enter/Leave; a debugging aid, read without the lock.
  bool NotHeld() const { return not_held_; }

 protected:
  explicit LockedObject(const char* name) : lock_(name) {}
  virtual ~LockedObject() = default;

 private:
  RegisteredLock lock_;
  std::atomic<bool> not_held_{true};
};

// Holds anything with Enter/Leave for one scope.
template <typename Lockable>
class ScopedEnter {
 public:
  explicit ScopedEnter(Lockable& lock) : lock_(lock) { lock_.Enter(); }
  ~ScopedEnter() { lock_.Leave(); }
  ScopedEnter(const ScopedEnter&) = delete;
  ScopedEnter& operator=(const ScopedEnter&) = delete;

 private:
  Lockable& lock_;
};
