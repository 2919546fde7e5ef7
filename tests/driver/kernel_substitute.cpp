// The kernel substitute: the I/O manager's request handling, dispatcher objects, spin locks
// with a tracked IRQL, pool, MDLs, work items, the power manager's calls, device interfaces,
// registry values and the USB driver library's configuration helpers, each as the kernel
// documents it and each checking what the kernel would refuse.
#include "driver/kernel_substitute.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <mutex>
#include <set>
#include <thread>

extern "C" void KsubRaiseAccessViolation();

namespace {

constexpr uintptr_t kPageSize = 0x1000;
// An endless wait that lasts this long is a deadlock: the run stops with a message.
constexpr auto kDeadlockLimit = std::chrono::seconds(30);

std::recursive_mutex g_lock;  // the substitute's own tables
std::mutex g_dispatch_lock;   // dispatcher objects
std::condition_variable g_signalled;
thread_local KIRQL t_irql = PASSIVE_LEVEL;
thread_local int t_lock_token;

std::vector<std::string> g_violations;

struct PoolBlock {
  size_t size;
  ULONG tag;
};
std::map<void*, PoolBlock> g_pool;
int g_fail_countdown = 0;
bool g_failure_fired = false;
thread_local bool t_harness_allocates = false;

// True when this allocation is the one chosen to fail. The harness's own never are.
bool AllocationFails() {
  if (t_harness_allocates || g_fail_countdown <= 0 || --g_fail_countdown != 0) return false;
  g_failure_fired = true;
  return true;
}

double g_time_scale = 0.01;
std::vector<int64_t> g_timeouts;

std::set<PIRP> g_irps;
std::map<PIRP, std::function<void(PIRP)>> g_owners;
std::set<PIRP> g_32bit_callers;
std::set<PMDL> g_mdls;
struct DeviceRecord {
  PDEVICE_OBJECT attached_to = nullptr;
  bool deleted = false;
  int references = 0;  // taken by the driver; the object outlives its deletion while any is held
};
std::map<PDEVICE_OBJECT, DeviceRecord> g_devices;

struct RegistryValue {
  ULONG type;
  std::vector<uint8_t> data;
};
struct PdoRecord {
  std::wstring instance;
  std::map<std::wstring, RegistryValue> values;  // names in upper case
};
std::map<PDEVICE_OBJECT, PdoRecord> g_pdos;
std::map<std::wstring, NTSTATUS> g_failing_queries;
std::set<PDEVICE_OBJECT*> g_keys;  // a key handle points at its device

std::vector<ksub::DeviceInterface> g_interfaces;
UCHAR g_wdm_major = 1, g_wdm_minor = 0x20;
POWER_STATE g_last_power[2];

std::vector<std::thread> g_work_threads;
int g_queued_work = 0;  // executive work items queued and not yet run to their end

KSPIN_LOCK g_cancel_lock;

[[noreturn]] void Fatal(const std::string& what) {
  std::fprintf(stderr, "kernel substitute: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void CheckIrqlAtMost(KIRQL most, const char* call) {
  if (t_irql > most) {
    ksub::Violation(std::string(call) + " at IRQL " + std::to_string(t_irql));
  }
}

std::wstring Upper(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::wstring FromUnicode(PCUNICODE_STRING string) {
  if (!string || !string->Buffer) return {};
  return std::wstring(string->Buffer, string->Length / sizeof(WCHAR));
}

PIO_STACK_LOCATION StackBase(PIRP irp) { return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1); }

// Deleted, with no reference left that keeps it.
bool DeviceGone(PDEVICE_OBJECT device) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto it = g_devices.find(device);
  return it != g_devices.end() && it->second.deleted && it->second.references == 0;
}

NTSTATUS CallDriver(PDEVICE_OBJECT device, PIRP irp) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "IoCallDriver");
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_irps.count(irp)) ksub::Violation("IoCallDriver with a request that is not live");
    auto it = g_devices.find(device);
    if (it == g_devices.end() || it->second.deleted) {
      ksub::Violation("IoCallDriver to a deleted device");
    }
  }
  if (irp->CurrentLocation <= 1) Fatal("IoCallDriver with no stack location left");
  IoSetNextIrpStackLocation(irp);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  stack->DeviceObject = device;
  return device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
}

}  // namespace

// ---------------------------------------------------------------- the harness's side

namespace ksub {

void Reset() {
  DrainWorkItems();
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_violations.clear();
  for (auto& block : g_pool) std::free(block.first);
  g_pool.clear();
  g_fail_countdown = 0;
  g_failure_fired = false;
  g_time_scale = 0.01;
  g_timeouts.clear();
  g_irps.clear();
  g_owners.clear();
  g_32bit_callers.clear();
  g_mdls.clear();
  g_devices.clear();
  g_pdos.clear();
  g_failing_queries.clear();
  g_keys.clear();
  g_interfaces.clear();
  g_wdm_major = 1;
  g_wdm_minor = 0x20;
  g_queued_work = 0;
  g_cancel_lock = 0;
}

std::vector<std::string> Violations() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_violations;
}

void Violation(const std::string& what) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_violations.push_back(what);
}

size_t LivePoolBlocks(ULONG tag) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return std::count_if(g_pool.begin(), g_pool.end(),
                       [tag](const auto& block) { return tag == 0 || block.second.tag == tag; });
}

void FailAllocation(int countdown) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_fail_countdown = countdown;
  g_failure_fired = false;
}

bool AllocationFailureFired() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_failure_fired;
}

HarnessAllocation::HarnessAllocation() : outer_(t_harness_allocates) {
  t_harness_allocates = true;
}
HarnessAllocation::~HarnessAllocation() { t_harness_allocates = outer_; }

KIRQL RaiseIrql(KIRQL irql) {
  const KIRQL old = t_irql;
  if (irql < old) Violation("KeRaiseIrql to a lower IRQL");
  t_irql = irql;
  return old;
}

void LowerIrql(KIRQL irql) { t_irql = irql; }

void SetTimeScale(double scale) { g_time_scale = scale; }

std::vector<int64_t> RequestedTimeoutsMs() {
  std::lock_guard<std::mutex> guard(g_dispatch_lock);
  return g_timeouts;
}

void DrainWorkItems() {
  for (;;) {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::recursive_mutex> guard(g_lock);
      threads.swap(g_work_threads);
    }
    if (threads.empty()) return;
    for (auto& thread : threads) thread.join();
  }
}

std::vector<DeviceInterface> Interfaces() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_interfaces;
}

bool InterfaceEnabled(const GUID& guid) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  for (const auto& entry : g_interfaces) {
    if (memcmp(&entry.guid, &guid, sizeof(GUID)) == 0 && entry.enabled) return true;
  }
  return false;
}

void RegisterPdo(PDEVICE_OBJECT pdo, const std::wstring& instance) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_pdos[pdo].instance = instance;
}

void SetRegistryValue(PDEVICE_OBJECT pdo, const std::wstring& name, ULONG type,
                      const std::vector<uint8_t>& data) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_pdos[pdo].values[Upper(name)] = RegistryValue{type, data};
}

void SetRegistryString(PDEVICE_OBJECT pdo, const std::wstring& name, const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
  SetRegistryValue(pdo, name, REG_SZ,
                   std::vector<uint8_t>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t)));
}

void RemoveRegistryValue(PDEVICE_OBJECT pdo, const std::wstring& name) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_pdos[pdo].values.erase(Upper(name));
}

void FailRegistryQuery(const std::wstring& name, NTSTATUS status) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_failing_queries[Upper(name)] = status;
}

size_t OpenRegistryKeys() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_keys.size();
}

void SetWdmVersion(UCHAR major, UCHAR minor) {
  g_wdm_major = major;
  g_wdm_minor = minor;
}

void SetCallerIs32Bit(PIRP irp, bool is_32bit) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (is_32bit) {
    g_32bit_callers.insert(irp);
  } else {
    g_32bit_callers.erase(irp);
  }
}

void SetRequestOwner(PIRP irp, std::function<void(PIRP)> finish) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_owners[irp] = std::move(finish);
}

size_t LiveIrps() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_irps.size();
}

size_t LiveMdls() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_mdls.size();
}

size_t LiveWorkItems() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return static_cast<size_t>(g_queued_work);
}

size_t LiveDevices() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return std::count_if(g_devices.begin(), g_devices.end(),
                       [](const auto& device) { return !device.second.deleted; });
}

size_t HeldDeviceReferences() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  size_t held = 0;
  for (const auto& device : g_devices) held += device.second.references;
  return held;
}

PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device) {
  while (device->AttachedDevice) device = device->AttachedDevice;
  return device;
}

POWER_STATE LastPowerState(POWER_STATE_TYPE type) { return g_last_power[type]; }

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  swprintf(text, 40, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
           static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
           guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
           guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace ksub

// ---------------------------------------------------------------- the kernel's side

extern "C" {

// ---- dispatcher objects, spin locks

void NTAPI KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  event->Header.Type = static_cast<UCHAR>(type);
  event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
  event->Header.SignalState = state ? 1 : 0;
  InitializeListHead(&event->Header.WaitListHead);
}

LONG NTAPI KeSetEvent(PKEVENT event, LONG increment, BOOLEAN wait) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
  std::lock_guard<std::mutex> guard(g_dispatch_lock);
  const LONG previous = event->Header.SignalState;
  event->Header.SignalState = 1;
  g_signalled.notify_all();
  return previous;
}

void NTAPI KeClearEvent(PKEVENT event) {
  std::lock_guard<std::mutex> guard(g_dispatch_lock);
  event->Header.SignalState = 0;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                                     BOOLEAN alertable, PLARGE_INTEGER timeout) {
  if (!timeout || timeout->QuadPart != 0) {
    CheckIrqlAtMost(APC_LEVEL, "KeWaitForSingleObject with a wait");
  }
  PKEVENT event = static_cast<PKEVENT>(object);
  std::unique_lock<std::mutex> guard(g_dispatch_lock);
  auto signalled = [event] { return event->Header.SignalState != 0; };
  bool satisfied;
  if (timeout) {
    if (timeout->QuadPart > 0) ksub::Violation("KeWaitForSingleObject with an absolute time");
    const int64_t ms = -timeout->QuadPart / 10000;
    g_timeouts.push_back(ms);
    const auto real = std::chrono::microseconds(static_cast<int64_t>(ms * 1000 * g_time_scale));
    satisfied = g_signalled.wait_for(guard, real, signalled);
  } else {
    satisfied = g_signalled.wait_for(guard, kDeadlockLimit, signalled);
    if (!satisfied) Fatal("an endless wait did not end: deadlock");
  }
  if (!satisfied) return STATUS_TIMEOUT;
  if (event->Header.Type == SynchronizationEvent) event->Header.SignalState = 0;
  return STATUS_SUCCESS;
}

void NTAPI KeInitializeSpinLock(PKSPIN_LOCK lock) { *lock = 0; }

void NTAPI KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL old_irql) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "KeAcquireSpinLock");
  const auto me = reinterpret_cast<uintptr_t>(&t_lock_token);
  for (;;) {
    uintptr_t expected = 0;
    if (__atomic_compare_exchange_n(lock, &expected, me, false, __ATOMIC_ACQUIRE,
                                    __ATOMIC_RELAXED)) {
      break;
    }
    if (expected == me) Fatal("a spin lock acquired again by the thread that holds it");
    // Freed pool and deleted device extensions are filled with 0xDD.
    if (expected == static_cast<uintptr_t>(0xDDDDDDDDDDDDDDDDull)) {
      Fatal("a spin lock in freed memory acquired");
    }
    std::this_thread::yield();
  }
  *old_irql = t_irql;
  t_irql = DISPATCH_LEVEL;
}

void NTAPI KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL new_irql) {
  if (*lock != reinterpret_cast<uintptr_t>(&t_lock_token)) {
    ksub::Violation("KeReleaseSpinLock of a lock this thread does not hold");
  }
  if (t_irql != DISPATCH_LEVEL) ksub::Violation("KeReleaseSpinLock below DISPATCH_LEVEL");
  __atomic_store_n(lock, 0, __ATOMIC_RELEASE);
  t_irql = new_irql;
}

KIRQL NTAPI KeGetCurrentIrql(void) { return t_irql; }

void NTAPI IoAcquireCancelSpinLock(PKIRQL irql) { KeAcquireSpinLock(&g_cancel_lock, irql); }
void NTAPI IoReleaseCancelSpinLock(KIRQL irql) { KeReleaseSpinLock(&g_cancel_lock, irql); }

// ---- pool

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T size, ULONG tag) {
  CheckIrqlAtMost(type == PagedPool ? APC_LEVEL : DISPATCH_LEVEL, "ExAllocatePoolWithTag");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (AllocationFails()) return nullptr;
  void* block = std::malloc(size ? size : 1);
  memset(block, 0xCD, size);  // pool is not zeroed
  g_pool[block] = PoolBlock{size, tag};
  return block;
}

void NTAPI ExFreePool(PVOID block) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "ExFreePool");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto it = g_pool.find(block);
  if (it == g_pool.end()) {
    ksub::Violation("ExFreePool of a block that is not in the pool");
    return;
  }
  memset(block, 0xDD, it->second.size);
  std::free(block);
  g_pool.erase(it);
}

// ---- MDLs

static ULONG PagesSpanned(uintptr_t address, ULONG length) {
  if (length == 0) return 0;
  return static_cast<ULONG>(((address & (kPageSize - 1)) + length + kPageSize - 1) / kPageSize);
}

PMDL NTAPI IoAllocateMdl(PVOID address, ULONG length, BOOLEAN secondary, BOOLEAN charge_quota,
                         PIRP irp) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "IoAllocateMdl");
  if (irp) ksub::Violation("IoAllocateMdl that links to a request: not supported here");
  const auto va = reinterpret_cast<uintptr_t>(address);
  const size_t size = sizeof(MDL) + PagesSpanned(va, length) * sizeof(ULONG_PTR);
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (AllocationFails()) return nullptr;
  PMDL mdl = static_cast<PMDL>(std::calloc(1, size));
  mdl->Size = static_cast<CSHORT>(size);
  mdl->StartVa = reinterpret_cast<PVOID>(va & ~(kPageSize - 1));
  mdl->ByteOffset = static_cast<ULONG>(va & (kPageSize - 1));
  mdl->ByteCount = length;
  g_mdls.insert(mdl);
  return mdl;
}

void NTAPI IoFreeMdl(PMDL mdl) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!g_mdls.erase(mdl)) {
    ksub::Violation("IoFreeMdl of an MDL that is not live");
    return;
  }
  if ((mdl->MdlFlags & MDL_PAGES_LOCKED) && !(mdl->MdlFlags & MDL_PARTIAL)) {
    ksub::Violation("IoFreeMdl of an MDL whose pages are still locked");
  }
  std::free(mdl);
}

void NTAPI IoBuildPartialMdl(PMDL source, PMDL target, PVOID address, ULONG length) {
  const auto base = reinterpret_cast<uintptr_t>(MmGetMdlVirtualAddress(source));
  const auto va = reinterpret_cast<uintptr_t>(address);
  if (length == 0) length = static_cast<ULONG>(base + source->ByteCount - va);
  if (va < base || va + length > base + source->ByteCount) {
    ksub::Violation("IoBuildPartialMdl outside its source MDL");
  }
  if (!(source->MdlFlags & MDL_PAGES_LOCKED)) {
    ksub::Violation("IoBuildPartialMdl of an MDL whose pages are not locked");
  }
  const size_t capacity = (target->Size - sizeof(MDL)) / sizeof(ULONG_PTR);
  if (PagesSpanned(va, length) > capacity) {
    ksub::Violation("IoBuildPartialMdl into an MDL too small for the range");
  }
  target->StartVa = reinterpret_cast<PVOID>(va & ~(kPageSize - 1));
  target->ByteOffset = static_cast<ULONG>(va & (kPageSize - 1));
  target->ByteCount = length;
  target->MdlFlags = MDL_PARTIAL | (source->MdlFlags & MDL_PAGES_LOCKED);
  target->MappedSystemVa = address;
}

void MmSubstitutePrepareMdlForReuse(PMDL mdl) {
  if (mdl->MdlFlags & MDL_PARTIAL_HAS_BEEN_MAPPED) {
    ksub::Violation("a mapped partial MDL reused without unmapping");
  }
}

void NTAPI MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE mode, LOCK_OPERATION operation) {
  CheckIrqlAtMost(APC_LEVEL, "MmProbeAndLockPages");
  if (mdl->MdlFlags & MDL_PAGES_LOCKED) ksub::Violation("MmProbeAndLockPages of a locked MDL");
  // The first 64 KiB of a process are never mapped: probing them faults.
  if (reinterpret_cast<uintptr_t>(MmGetMdlVirtualAddress(mdl)) < 0x10000) {
    KsubRaiseAccessViolation();
  }
  mdl->MdlFlags |= MDL_PAGES_LOCKED;
}

void NTAPI MmUnlockPages(PMDL mdl) {
  if (!(mdl->MdlFlags & MDL_PAGES_LOCKED)) ksub::Violation("MmUnlockPages of an unlocked MDL");
  mdl->MdlFlags &= ~MDL_PAGES_LOCKED;
}

// ---- device objects

static void PoisonDevice(PDEVICE_OBJECT device) {
  if (device->DeviceExtension) {
    memset(device->DeviceExtension, 0xDD, device->Size - sizeof(DEVICE_OBJECT));
  }
}

void NTAPI ObReferenceObject(PVOID object) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto it = g_devices.find(static_cast<PDEVICE_OBJECT>(object));
  if (it == g_devices.end() || (it->second.deleted && it->second.references == 0)) {
    ksub::Violation("ObReferenceObject of a device object that is gone");
    return;
  }
  ++it->second.references;
}

void NTAPI ObDereferenceObject(PVOID object) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto it = g_devices.find(static_cast<PDEVICE_OBJECT>(object));
  if (it == g_devices.end() || it->second.references == 0) {
    ksub::Violation("ObDereferenceObject without a reference");
    return;
  }
  if (--it->second.references == 0 && it->second.deleted) PoisonDevice(it->first);
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extension_size,
                              PUNICODE_STRING name, ULONG type, ULONG characteristics,
                              BOOLEAN exclusive, PDEVICE_OBJECT* device) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "IoCreateDevice");
  const size_t object_size = (sizeof(DEVICE_OBJECT) + 15) & ~size_t{15};
  auto* object = static_cast<PDEVICE_OBJECT>(std::calloc(1, object_size + extension_size));
  object->Type = 3;
  object->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + extension_size);
  object->ReferenceCount = 1;
  object->DriverObject = driver;
  object->DeviceExtension = extension_size ? reinterpret_cast<PUCHAR>(object) + object_size
                                           : nullptr;
  memset(object->DeviceExtension, 0xCD, extension_size);
  object->DeviceType = type;
  object->Characteristics = characteristics;
  object->Flags = DO_DEVICE_INITIALIZING;
  object->StackSize = 1;
  object->NextDevice = driver->DeviceObject;
  driver->DeviceObject = object;
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_devices[object] = DeviceRecord{};
  *device = object;
  return STATUS_SUCCESS;
}

void NTAPI IoDeleteDevice(PDEVICE_OBJECT device) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "IoDeleteDevice");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto it = g_devices.find(device);
  if (it == g_devices.end() || it->second.deleted) {
    ksub::Violation("IoDeleteDevice of a device that does not exist");
    return;
  }
  if (it->second.attached_to) ksub::Violation("IoDeleteDevice of a device still attached");
  PDEVICE_OBJECT* link = &device->DriverObject->DeviceObject;
  while (*link && *link != device) link = &(*link)->NextDevice;
  if (*link) *link = device->NextDevice;
  it->second.deleted = true;
  // The memory stays until Reset: later use reads poison instead of another object. A
  // reference the driver holds keeps the object whole until it is dropped.
  if (it->second.references == 0) PoisonDevice(device);
}

PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "IoAttachDeviceToDeviceStack");
  PDEVICE_OBJECT top = ksub::TopOfStack(target);
  top->AttachedDevice = source;
  source->StackSize = static_cast<CCHAR>(top->StackSize + 1);
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_devices[source].attached_to = top;
  return top;
}

void NTAPI IoDetachDevice(PDEVICE_OBJECT target) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "IoDetachDevice");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!target->AttachedDevice) {
    ksub::Violation("IoDetachDevice of a device with nothing attached");
    return;
  }
  g_devices[target->AttachedDevice].attached_to = nullptr;
  target->AttachedDevice = nullptr;
}

// ---- requests

PIRP NTAPI IoAllocateIrp(CCHAR stack_size, BOOLEAN charge_quota) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "IoAllocateIrp");
  const size_t size = sizeof(IRP) + stack_size * sizeof(IO_STACK_LOCATION);
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (AllocationFails()) return nullptr;
  PIRP irp = static_cast<PIRP>(std::calloc(1, size));
  irp->Type = 6;
  irp->Size = static_cast<USHORT>(size);
  irp->StackCount = stack_size;
  irp->CurrentLocation = static_cast<CHAR>(stack_size + 1);
  irp->Tail.Overlay.CurrentStackLocation = StackBase(irp) + stack_size;
  InitializeListHead(&irp->ThreadListEntry);
  g_irps.insert(irp);
  return irp;
}

void NTAPI IoFreeIrp(PIRP irp) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!g_irps.erase(irp)) {
    ksub::Violation("IoFreeIrp of a request that is not live");
    return;
  }
  if (irp->CancelRoutine) ksub::Violation("IoFreeIrp of a request with a cancel routine");
  g_owners.erase(irp);
  g_32bit_callers.erase(irp);
  memset(irp, 0xDD, irp->Size);
  std::free(irp);
}

NTSTATUS NTAPI IoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  if (IoGetNextIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER) {
    ksub::Violation("a power request sent with IoCallDriver instead of PoCallDriver");
  }
  return CallDriver(device, irp);
}

void NTAPI IoCompleteRequest(PIRP irp, CCHAR boost) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "IoCompleteRequest");
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_irps.count(irp)) {
      ksub::Violation("IoCompleteRequest of a request that is not live");
      return;
    }
  }
  if (irp->IoStatus.Status == STATUS_PENDING) {
    ksub::Violation("IoCompleteRequest with STATUS_PENDING");
  }
  if (irp->CancelRoutine) ksub::Violation("IoCompleteRequest with a cancel routine still set");
  if (irp->CurrentLocation > irp->StackCount + 1) {
    ksub::Violation("IoCompleteRequest of a request completed already");
    return;
  }
  while (irp->CurrentLocation <= irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    const PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
    PVOID context = stack->Context;
    const UCHAR control = stack->Control;
    const UCHAR major = stack->MajorFunction;
    memset(stack, 0, sizeof(*stack));
    stack->MajorFunction = major;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = irp->IoStatus.Status;
    const bool invoke = routine && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                    (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                    (irp->Cancel && (control & SL_INVOKE_ON_CANCEL)));
    if (invoke) {
      PDEVICE_OBJECT device = irp->CurrentLocation <= irp->StackCount
                                  ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                  : nullptr;
      if (device && DeviceGone(device)) {
        ksub::Violation("a completion routine runs for a deleted device object");
      }
      if (routine(device, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
      IoMarkIrpPending(irp);
    }
  }
  std::function<void(PIRP)> finish;
  {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    auto it = g_owners.find(irp);
    if (it != g_owners.end()) {
      finish = std::move(it->second);
      g_owners.erase(it);
    }
  }
  if (!finish) {
    ksub::Violation("a request of the driver's own completed past the top of its stack");
    return;
  }
  finish(irp);
}

BOOLEAN NTAPI IoCancelIrp(PIRP irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  irp->Cancel = TRUE;
  const PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
  if (!routine) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  irp->CancelIrql = irql;
  routine(IoGetCurrentIrpStackLocation(irp)->DeviceObject, irp);
  return TRUE;
}

BOOLEAN NTAPI IoIs32bitProcess(PIRP irp) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_32bit_callers.count(irp) != 0;
}

BOOLEAN NTAPI IoIsWdmVersionAvailable(UCHAR major, UCHAR minor) {
  return major < g_wdm_major || (major == g_wdm_major && minor <= g_wdm_minor);
}

// ---- work items

void NTAPI ExQueueWorkItem(PWORK_QUEUE_ITEM item, WORK_QUEUE_TYPE queue) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "ExQueueWorkItem");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  // The list entry links a queued item: one queued twice would corrupt the queue.
  if (item->List.Flink) ksub::Violation("ExQueueWorkItem of a work item already queued");
  item->List.Flink = &item->List;
  ++g_queued_work;
  g_work_threads.emplace_back([item] {
    const PWORKER_THREAD_ROUTINE routine = item->WorkerRoutine;
    PVOID parameter = item->Parameter;
    {
      std::lock_guard<std::recursive_mutex> guard(g_lock);
      item->List.Flink = nullptr;
    }
    // The item may be freed by its own routine.
    routine(parameter);
    if (t_irql != PASSIVE_LEVEL) ksub::Violation("a work item returned at a raised IRQL");
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    --g_queued_work;
  });
}

// ---- power manager

void NTAPI PoStartNextPowerIrp(PIRP irp) {
  if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_POWER) {
    ksub::Violation("PoStartNextPowerIrp of a request that is not a power request");
  }
}

NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT device, PIRP irp) {
  if (IoGetNextIrpStackLocation(irp)->MajorFunction != IRP_MJ_POWER) {
    ksub::Violation("PoCallDriver with a request that is not a power request");
  }
  return CallDriver(device, irp);
}

namespace {
struct PowerRequest {
  PDEVICE_OBJECT device;
  UCHAR minor;
  POWER_STATE state;
  PREQUEST_POWER_COMPLETE completion;
  PVOID context;
};

NTSTATUS NTAPI PowerRequestDone(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto* request = static_cast<PowerRequest*>(context);
  if (request->completion) {
    request->completion(request->device, request->minor, request->state, request->context,
                        &irp->IoStatus);
  }
  delete request;
  IoFreeIrp(irp);
  return STATUS_MORE_PROCESSING_REQUIRED;
}
}  // namespace

NTSTATUS NTAPI PoRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                 PREQUEST_POWER_COMPLETE completion, PVOID context,
                                 PIRP* irp_out) {
  CheckIrqlAtMost(DISPATCH_LEVEL, "PoRequestPowerIrp");
  if (minor != IRP_MN_SET_POWER && minor != IRP_MN_QUERY_POWER && minor != IRP_MN_WAIT_WAKE) {
    return STATUS_INVALID_PARAMETER;
  }
  PDEVICE_OBJECT top = ksub::TopOfStack(device);
  PIRP irp = IoAllocateIrp(static_cast<CCHAR>(top->StackSize + 1), FALSE);
  if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
  IoSetNextIrpStackLocation(irp);  // the power manager's own location
  IoGetCurrentIrpStackLocation(irp)->MajorFunction = IRP_MJ_POWER;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_POWER;
  next->MinorFunction = minor;
  if (minor == IRP_MN_WAIT_WAKE) {
    next->Parameters.WaitWake.PowerState = state.SystemState;
  } else {
    next->Parameters.Power.Type = DevicePowerState;
    next->Parameters.Power.State = state;
  }
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  IoSetCompletionRoutine(irp, PowerRequestDone,
                         new PowerRequest{device, minor, state, completion, context}, TRUE,
                         TRUE, TRUE);
  if (irp_out) *irp_out = irp;
  CallDriver(top, irp);
  return STATUS_PENDING;
}

POWER_STATE NTAPI PoSetPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type,
                                  POWER_STATE state) {
  const POWER_STATE previous = g_last_power[type];
  g_last_power[type] = state;
  return previous;
}

// ---- device interfaces, registry, run-time library

NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT pdo, const GUID* interface_class,
                                         PUNICODE_STRING reference, PUNICODE_STRING link) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "IoRegisterDeviceInterface");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto it = g_pdos.find(pdo);
  if (it == g_pdos.end()) return STATUS_INVALID_DEVICE_REQUEST;
  const std::wstring text =
      L"\\??\\" + it->second.instance + L"#" + ksub::GuidText(*interface_class);
  const size_t bytes = text.size() * sizeof(WCHAR);
  link->Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR),
                                                          0x6E72654B /* "Kern" */));
  if (!link->Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  memcpy(link->Buffer, text.c_str(), bytes + sizeof(WCHAR));
  link->Length = static_cast<USHORT>(bytes);
  link->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
  for (const auto& entry : g_interfaces) {
    if (entry.link == text) return STATUS_SUCCESS;
  }
  g_interfaces.push_back(ksub::DeviceInterface{pdo, *interface_class, text, false});
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING link, BOOLEAN enable) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "IoSetDeviceInterfaceState");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  const std::wstring text = FromUnicode(link);
  for (auto& entry : g_interfaces) {
    if (entry.link == text) {
      entry.enabled = enable != 0;
      return STATUS_SUCCESS;
    }
  }
  return STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS NTAPI IoOpenDeviceRegistryKey(PDEVICE_OBJECT device, ULONG which, ACCESS_MASK access,
                                       PHANDLE key) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "IoOpenDeviceRegistryKey");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  if (!g_pdos.count(device) || which != PLUGPLAY_REGKEY_DEVICE) {
    return STATUS_INVALID_PARAMETER;
  }
  auto* handle = new PDEVICE_OBJECT(device);
  g_keys.insert(handle);
  *key = handle;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwQueryValueKey(HANDLE key, PUNICODE_STRING name,
                               KEY_VALUE_INFORMATION_CLASS kind, PVOID information,
                               ULONG length, PULONG result_length) {
  CheckIrqlAtMost(PASSIVE_LEVEL, "ZwQueryValueKey");
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto* handle = static_cast<PDEVICE_OBJECT*>(key);
  if (!g_keys.count(handle)) return STATUS_INVALID_HANDLE;
  if (kind != KeyValuePartialInformation) return STATUS_INVALID_PARAMETER;
  const std::wstring value_name = Upper(FromUnicode(name));
  auto failing = g_failing_queries.find(value_name);
  if (failing != g_failing_queries.end()) return failing->second;
  const auto& values = g_pdos[*handle].values;
  auto it = values.find(value_name);
  if (it == values.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
  const ULONG header = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
  const ULONG needed = header + static_cast<ULONG>(it->second.data.size());
  *result_length = needed;
  if (length < header) return STATUS_BUFFER_TOO_SMALL;
  auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(information);
  info->TitleIndex = 0;
  info->Type = it->second.type;
  info->DataLength = static_cast<ULONG>(it->second.data.size());
  if (length < needed) return STATUS_BUFFER_OVERFLOW;
  memcpy(info->Data, it->second.data.data(), it->second.data.size());
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE handle) {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  auto* key = static_cast<PDEVICE_OBJECT*>(handle);
  if (!g_keys.erase(key)) {
    ksub::Violation("ZwClose of a handle that is not open");
    return STATUS_INVALID_HANDLE;
  }
  delete key;
  return STATUS_SUCCESS;
}

void NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  const size_t length = source ? wcslen(source) * sizeof(WCHAR) : 0;
  destination->Buffer = const_cast<PWSTR>(source);
  destination->Length = static_cast<USHORT>(length);
  destination->MaximumLength = static_cast<USHORT>(source ? length + sizeof(WCHAR) : 0);
}

void NTAPI RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
  if (!source) {
    destination->Length = 0;
    return;
  }
  const USHORT length = std::min(source->Length, destination->MaximumLength);
  memcpy(destination->Buffer, source->Buffer, length);
  destination->Length = length;
  if (length + sizeof(WCHAR) <= destination->MaximumLength) {
    destination->Buffer[length / sizeof(WCHAR)] = 0;
  }
}

void NTAPI RtlFreeUnicodeString(PUNICODE_STRING string) {
  if (string->Buffer) ExFreePool(string->Buffer);
  string->Buffer = nullptr;
  string->Length = string->MaximumLength = 0;
}

NTSTATUS NTAPI RtlGUIDFromString(PCUNICODE_STRING string, GUID* guid) {
  const std::wstring text = FromUnicode(string);
  static const wchar_t kShape[] = L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
  if (text.size() != wcslen(kShape)) return STATUS_INVALID_PARAMETER;
  uint8_t digits[32];
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (kShape[i] != L'x') {
      if (c != kShape[i]) return STATUS_INVALID_PARAMETER;
      continue;
    }
    if (!std::iswxdigit(c)) return STATUS_INVALID_PARAMETER;
    digits[count++] = static_cast<uint8_t>(
        std::iswdigit(c) ? c - L'0' : std::towlower(c) - L'a' + 10);
  }
  auto take = [&digits](size_t at, size_t n) {
    uint32_t value = 0;
    for (size_t i = 0; i < n; ++i) value = value << 4 | digits[at + i];
    return value;
  };
  guid->Data1 = take(0, 8);
  guid->Data2 = static_cast<uint16_t>(take(8, 4));
  guid->Data3 = static_cast<uint16_t>(take(12, 4));
  for (size_t i = 0; i < 8; ++i) guid->Data4[i] = static_cast<uint8_t>(take(16 + 2 * i, 2));
  return STATUS_SUCCESS;
}

}  // extern "C"
