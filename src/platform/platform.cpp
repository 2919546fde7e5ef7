#include "platform/platform.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "platform/control_bits.h"
#include "platform/ir_block_device.h"
#include "platform/ir_time.h"
#include "platform/module_table.h"
#include "platform/or_event.h"
#include "platform/or_message_queue.h"
#include "platform/or_mutex.h"
#include "platform/or_thread.h"
#include "platform/platform_clock.h"
#include "platform/platform_codes.h"
#include "platform/platform_file_system.h"
#include "platform/shell_output.h"
#include "platform/sys_log.h"
#include "platform/thread_registry.h"
#include "platform/virtual_disk.h"
#include "platform/win32_sync.h"
#include "support/assertions.h"

#undef CreateMutex
#undef CreateEvent
#undef CreateThread

using namespace win32sync;

namespace {

IRPlatform* the_platform = nullptr;
Handle config_mutex = nullptr;
PlatformConfig the_config;
bool process_exiting = false;

// The built-in services. "IRDebug" has no service and always answers null.
IRTime* time_service = nullptr;
IRBlockDevice* block_devices = nullptr;
IControlBits* control_bits = nullptr;
PlatformInterface* file_system = nullptr;
IRVirtualDisk* virtual_disk = nullptr;
ISysLog* sys_log = nullptr;

PlatformInterface* acquired_file_system = nullptr;
const FileSystemProvider* file_system_provider = nullptr;

template <typename T>
void DestroyService(T*& service) {
  if (service) service->Destroy();
  service = nullptr;
}

bool PlatformInit(PlatformConfig* config) {
  config_mutex = MutexCreate();
  if (!config_mutex || !ModuleTableCreate()) return false;
  if (!ThreadTableCreate()) return false;
  time_service = IRTime::Create();
  if (!time_service || !time_service->Start(SystemTickSource())) return false;
  block_devices = IRBlockDevice::Create();
  control_bits = IControlBits::Create();
  if (!control_bits->Start(the_platform)) return false;
  const FileSystemProvider* provider = file_system_provider;
  if (provider) {
    file_system = provider->create_and_start(the_platform);
    if (!file_system) return false;
  }
  virtual_disk = IRVirtualDisk::Create(block_devices);
  sys_log = ISysLog::Create();
  if (!sys_log) return false;
  virtual_disk->Rescan();
  if (file_system) {
    provider->mount_all(file_system);
    provider->finish_start(file_system);
    // The configured user directory, or the one the players keep.
    if (!provider->directory_opens(file_system, config->user_directory) &&
        provider->directory_opens(file_system, "/name/user")) {
      strcpy(config->user_directory, "/name/user");
      ShellPrint("new userDir: %s\n", config->user_directory);
    }
  }
  {
    MutexHold hold(config_mutex);
    the_config = *config;
    TerminateConfigDirectories(&the_config);
  }
  sys_log->SetEnvironment(the_platform, file_system, time_service, control_bits);
  return true;
}

void PlatformShutdown() {
  if (file_system && file_system_provider) file_system_provider->unmount_all(file_system);
  ModuleTableUnloadAll();
  // No tick may run on the time service once it is gone: the ticker stops first.
  ClockStop(!process_exiting);
  DestroyService(virtual_disk);
  DestroyService(file_system);
  DestroyService(sys_log);
  DestroyService(control_bits);
  DestroyService(time_service);
  DestroyService(block_devices);
  ThreadTableDestroy();
  ModuleTableDestroy();
  if (config_mutex) HandleClose(config_mutex);
  config_mutex = nullptr;
}

bool IsBuiltIn(PlatformInterface* pointer) {
  return pointer == the_platform || pointer == file_system || pointer == sys_log ||
         pointer == time_service || pointer == control_bits || pointer == block_devices ||
         pointer == virtual_disk;
}

}  // namespace

void SetFileSystemProvider(const FileSystemProvider* provider) {
  file_system_provider = provider;
}
const FileSystemProvider* GetFileSystemProvider() { return file_system_provider; }

IRPlatform* CurrentPlatform() { return the_platform; }

IRPlatform* CreatePlatform() {
  TORVEX_ASSERT(the_platform == nullptr);
  PlatformConfig config;
  the_platform = new IRPlatform;
  // The cache is filled from the address itself; the mapping only tells others.
  PublishSharedPointer(the_platform);
  FillDefaultConfig(&config);
  RegistryStart();
  ClockStart();
  if (!PlatformInit(&config)) PlatformShutdown();
  return the_platform;
}

void DestroyPlatform() {
  if (!the_platform) return;
  PlatformShutdown();
  DestroyAllBlockDevices();
  RegistryDestroy(!process_exiting);
  the_platform->Destroy();
  the_platform = nullptr;
  acquired_file_system = nullptr;
  CloseSharedPointer();
}

int AcquirePlatformFileSystem() {
  // A platform whose start failed has no file system: only that one is made again.
  if (the_platform && !file_system) DestroyPlatform();
  if (!the_platform) CreatePlatform();
  acquired_file_system = the_platform->GetInterface("IRFileSystem");
  return acquired_file_system ? 0 : 1;
}

PlatformInterface* AcquiredFileSystem() { return acquired_file_system; }

int PlatformRelease() {
  DestroyPlatform();
  return 0;
}

void PlatformNoteProcessExit() { process_exiting = true; }

void PlatformObject::Release() {
  if (IRPlatform* platform = CurrentPlatform()) platform->DestroyObject(this);
}

// ---- IRPlatform -----------------------------------------------------------------------------

void IRPlatform::Destroy() { delete this; }

PlatformInterface* IRPlatform::GetInterface(const char* name) {
  if (!name) return nullptr;
  static const char* const kBuiltIn[] = {"IRFileSystem", "ISysLog",       "IRTime",
                                         "IControlBits", "IRDebug",       "IRBlockDevice",
                                         "IRVirtualDisk", "IRPlatform"};
  PlatformInterface* const services[] = {file_system,   sys_log,      time_service,
                                         control_bits,  nullptr,      block_devices,
                                         virtual_disk,  this};
  for (size_t i = 0; i < sizeof kBuiltIn / sizeof kBuiltIn[0]; ++i)
    if (strcmp(name, kBuiltIn[i]) == 0) return services[i];
  return ModuleTableGet(this, name);
}

void IRPlatform::ReleaseInterface(PlatformInterface* interface_pointer) {
  if (!interface_pointer || IsBuiltIn(interface_pointer)) return;
  ModuleTableRelease(interface_pointer);
}

Result IRPlatform::CallInterface(const char* name, void* argument) {
  PlatformInterface* found = GetInterface(name);
  return found ? found->Call(argument) : 0;
}

void IRPlatform::DestroyObject(PlatformObject* object) {
  if (object) object->Destroy();
}
void IRPlatform::DestroyMutex(PlatformObject* object) { DestroyObject(object); }
void IRPlatform::DestroyEvent(PlatformObject* object) { DestroyObject(object); }
void IRPlatform::DestroyMessageQueue(PlatformObject* object) { DestroyObject(object); }
void IRPlatform::DestroyThread(PlatformObject* object) { DestroyObject(object); }

ORMutexImpl* IRPlatform::CreateMutex() { return new (std::nothrow) ORMutexImpl; }
OREventImpl* IRPlatform::CreateEvent() { return new (std::nothrow) OREventImpl; }
ORMessageQueueImpl* IRPlatform::CreateMessageQueue() {
  return new (std::nothrow) ORMessageQueueImpl;
}
ORThreadImpl* IRPlatform::CreateThread() { return new (std::nothrow) ORThreadImpl; }

ORThreadImpl* IRPlatform::CurrentThread() { return CurrentORThread(); }

Result IRPlatform::GetConfig(PlatformConfig* block) {
  MutexHold hold(config_mutex);
  *block = the_config;
  return prc::kOk;
}

Result IRPlatform::SetConfig(const PlatformConfig* block) {
  MutexHold hold(config_mutex);
  return prc::kSetConfigRefused;
}

void IRPlatform::DebugBreak() {
  if (IsDebuggerPresent()) ::DebugBreak();
}

Result IRPlatform::GetProperty(const char* key, void* buffer, uint32_t size, uint32_t* length) {
  static const uint8_t kZero[4] = {0, 0, 0, 0};
  static const uint8_t kOne[4] = {1, 0, 0, 0};
  const void* value = nullptr;
  uint32_t value_length = 0;
  if (!key) return prc::kUnknownProperty;
  if (strcmp(key, "PlatformType") == 0) {
    value = kZero;
    value_length = 4;
  } else if (strcmp(key, "PlatformName") == 0) {
    value = "Windows";
    value_length = 8;
  } else if (strcmp(key, "PlatformRev") == 0) {
    value = kOne;
    value_length = 4;
  }
  if (!value || !buffer || size < value_length) return prc::kUnknownProperty;
  memcpy(buffer, value, value_length);
  if (length) *length = value_length;
  return prc::kOk;
}

uint32_t IRPlatform::GetPropertyU32OrZero(const char* key) {
  uint32_t value = 0;
  return GetPropertyU32(key, &value) == prc::kOk ? value : 0;
}

Result IRPlatform::GetPropertyU32(const char* key, uint32_t* value) {
  uint8_t bytes[4];
  uint32_t length = 0;
  Result result = GetProperty(key, bytes, sizeof bytes, &length);
  if (result != prc::kOk) return result;
  if (length != 4) return prc::kBadPropertyForm;
  memcpy(value, bytes, 4);
  return prc::kOk;
}

Result IRPlatform::GetPropertyString(const char* key, char* buffer, uint32_t size) {
  uint32_t length = 0;
  Result result = GetProperty(key, buffer, size, &length);
  if (result != prc::kOk) return result;
  if (length == 0 || buffer[length - 1] != '\0' || strlen(buffer) != length - 1)
    return prc::kBadPropertyForm;
  return prc::kOk;
}

Result IRPlatform::MakeSystemPath(const char* name, char* buffer, uint32_t size) {
  static const char kSystem[] = "/name/system/sys1/";
  if (!name || !buffer || size < strlen(name) + 19) return prc::kPathTooLong;
  strcpy(buffer, kSystem);
  strcat(buffer, name);
  return prc::kOk;
}
