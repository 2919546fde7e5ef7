// The mutex object that IRPlatform::CreateMutex makes: one Win32 mutex, so the owner may lock
// it again.
#pragma once

#include "platform/platform_interface.h"

class ORMutexImpl final : public PlatformObject {
 public:
  ORMutexImpl();
  void Destroy() override;
  virtual Result Lock();
  virtual Result Unlock();
  // 0 when acquired at once, 0x80000001 when another thread holds it.
  virtual Result TryLock();

 protected:
  ~ORMutexImpl();

 private:
  void* mutex_;
};
