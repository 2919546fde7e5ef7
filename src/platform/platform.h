// IRPlatform: the root of the platform layer. One per process; it owns the built-in services,
// hands them and loadable modules out by name, makes the thread and sync objects and answers
// a few fixed properties.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform_config.h"
#include "platform/platform_interface.h"

// <windows.h> turns these names into macros; the platform's operations keep their own names.
#undef CreateMutex
#undef CreateEvent
#undef CreateThread

class ORMutexImpl;
class OREventImpl;
class ORMessageQueueImpl;
class ORThreadImpl;

class IRPlatform final : public PlatformInterface {
 public:
  void Destroy() override;
  virtual PlatformInterface* GetInterface(const char* name);
  virtual void ReleaseInterface(PlatformInterface* interface_pointer);
  virtual Result CallInterface(const char* name, void* argument);
  virtual void DestroyObject(PlatformObject* object);
  virtual ORMutexImpl* CreateMutex();
  virtual void DestroyMutex(PlatformObject* object);
  virtual OREventImpl* CreateEvent();
  virtual void DestroyEvent(PlatformObject* object);
  virtual ORMessageQueueImpl* CreateMessageQueue();
  virtual void DestroyMessageQueue(PlatformObject* object);
  virtual ORThreadImpl* CreateThread();
  virtual void DestroyThread(PlatformObject* object);
  virtual ORThreadImpl* CurrentThread();
  virtual Result GetConfig(PlatformConfig* block);
  // Changes nothing: 0x80640002.
  virtual Result SetConfig(const PlatformConfig* block);
  // A breakpoint for an attached debugger; nothing without one.
  virtual void DebugBreak();
  virtual Result GetProperty(const char* key, void* buffer, uint32_t size, uint32_t* length);
  virtual uint32_t GetPropertyU32OrZero(const char* key);
  virtual Result GetPropertyU32(const char* key, uint32_t* value);
  virtual Result GetPropertyString(const char* key, char* buffer, uint32_t size);
  virtual Result MakeSystemPath(const char* name, char* buffer, uint32_t size);

 private:
  friend IRPlatform* CreatePlatform();
  IRPlatform() = default;
  ~IRPlatform() = default;
};

// Creates the platform and starts its services; a second platform fails an assertion. A
// failed start leaves a platform without services.
IRPlatform* CreatePlatform();
void DestroyPlatform();
// 0 when the platform and its file system are there: an existing platform is kept, one whose
// start failed is made again. 1 on failure.
int AcquirePlatformFileSystem();
// The file system that AcquirePlatformFileSystem got, or null.
PlatformInterface* AcquiredFileSystem();
// Destroys the platform; called when the library leaves the process.
int PlatformRelease();
// Called at process exit, when the other threads are already gone: shutdown then waits for
// none of them.
void PlatformNoteProcessExit();

// The platform of this process, or null.
IRPlatform* CurrentPlatform();

// The named mapping that carries the platform's address within the process, as wide as a
// pointer. Publish answers 0, or 2 when the mapping cannot be made; Read null when it cannot
// be opened.
int PublishSharedPointer(void* address);
void* ReadSharedPointer();
void CloseSharedPointer();
extern const char kSharedPointerName[];

// The device library's code for a platform or file-system result.
Result FsResultToDeviceError(Result code);
