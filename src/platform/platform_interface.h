// The bases every platform interface and every platform-made object start with. Loadable
// modules are built with the same compiler, so these virtual tables are the module ABI: the
// slot order below must not change.
#pragma once

#include <cstdint>

#include "support/result_codes.h"

// Slots 0 to 2 of every platform interface (IRPlatform, ISysLog, IRTime, IControlBits,
// IRBlockDevice, IRVirtualDisk, IRFileSystem and the interfaces of loaded modules).
class PlatformInterface {
 public:
  virtual Result Reserved(void* first, void* second) { return 0; }
  // The hook that IRPlatform::CallInterface invokes.
  virtual Result Call(void* argument) { return 0; }
  virtual void Destroy() = 0;

 protected:
  ~PlatformInterface() = default;
};

// Slot 3 of a proxy module's interface: how the module it stands for is to be loaded.
class ModuleProxy : public PlatformInterface {
 public:
  static constexpr int32_t kLoad = 0;
  static constexpr int32_t kAbsent = 2;
  virtual int32_t LoadKind() = 0;

 protected:
  ~ModuleProxy() = default;
};

// Slots 0 to 2 of every object that IRPlatform makes (mutexes, events, queues, threads).
class PlatformObject {
 public:
  // Hands the object to the current platform's DestroyObject; without a platform nothing
  // happens.
  virtual void Release();
  virtual void Nothing() {}
  virtual void Destroy() = 0;

 protected:
  ~PlatformObject() = default;
};
