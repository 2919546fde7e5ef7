// ORThreadImpl: the thread object that IRPlatform::CreateThread makes. One object runs one
// thread at a time and can be started again after its thread ended.
#pragma once

#include <cstdint>

#include "platform/platform_interface.h"
#include "platform/thread_registry.h"

class ORThreadImpl final : public PlatformObject {
 public:
  static constexpr uint32_t kStartRunning = 1;  // bit 0 of Start's flags
  static constexpr int kStateStopped = 4;
  static constexpr int kStateSuspended = 1;
  static constexpr int kStateRunning = 5;

  ORThreadImpl();
  void Destroy() override;
  // Without kStartRunning in flags the thread waits suspended until Resume.
  virtual Result Start(ThreadEntry entry, void* argument, uint32_t stack_size, uint8_t priority,
                       uint32_t flags, const char* name);
  // As Start; the object deletes itself when its thread ends.
  virtual Result StartDetached(ThreadEntry entry, void* argument, uint32_t stack_size,
                               uint8_t priority, uint32_t flags, const char* name);
  // Never stops the thread: 0x80E60001 while one runs.
  virtual Result Kill();
  virtual Result Resume();
  virtual Result Join();
  // Called on the object's own thread: sleeps and answers 0x80000001, the time-out code.
  virtual Result Sleep(uint64_t ns);
  virtual Result SetPriority(uint8_t priority);
  virtual uint8_t GetPriority();
  virtual int State();
  virtual const char* Name();
  // The ORThreadImpl of the calling thread, or null.
  virtual ORThreadImpl* Current();

 protected:
  ~ORThreadImpl();

 private:
  static void Body(void* self);

  uint8_t mode_ = 0;
  uint32_t thread_id_ = 0;
  ThreadEntry entry_ = nullptr;
  void* argument_ = nullptr;
  void* finished_event_;
};

// The table of running ORThreadImpl threads and its mutex; made and destroyed with the
// platform. Without it no ORThreadImpl starts.
bool ThreadTableCreate();
// The ORThreadImpl of the calling thread, or null.
ORThreadImpl* CurrentORThread();
void ThreadTableDestroy();
