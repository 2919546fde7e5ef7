// The test side of the kernel substitute: what a test sets up before the driver runs and
// what it checks afterwards (faults the substitute saw, pool, objects, interfaces).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kernel/mirrin_kernel.h"

namespace ksub {

// Everything the substitute holds goes back to its first state; live objects are forgotten.
void Reset();

// Calls that the kernel would refuse or crash on: a wrong IRQL, a request completed twice, a
// lock released by a thread that does not hold it... Each is one line.
std::vector<std::string> Violations();
void Violation(const std::string& what);

// Pool blocks still allocated, of one tag or (0) of all.
size_t LivePoolBlocks(ULONG tag = 0);
// The allocation that many calls from now fails (1: the next); 0 turns it off. Counts pool,
// requests and MDLs alike.
void FailAllocation(int countdown);
bool AllocationFailureFired();
// While one lives, allocations on this thread are the system's own and never fail.
class HarnessAllocation {
 public:
  HarnessAllocation();
  ~HarnessAllocation();

 private:
  bool outer_;
};

// Runs the calling thread at `irql` (the harness completes transfers at DISPATCH_LEVEL).
KIRQL RaiseIrql(KIRQL irql);
void LowerIrql(KIRQL irql);

// A wait with a time-out lasts this fraction of it in real time; every time-out asked for is
// kept, in milliseconds.
void SetTimeScale(double scale);
std::vector<int64_t> RequestedTimeoutsMs();

// Waits until every queued work item has run.
void DrainWorkItems();

struct DeviceInterface {
  PDEVICE_OBJECT pdo;
  GUID guid;
  std::wstring link;
  bool enabled;
};
std::vector<DeviceInterface> Interfaces();
bool InterfaceEnabled(const GUID& guid);

// The device's hardware key (PLUGPLAY_REGKEY_DEVICE) for a physical device object.
void RegisterPdo(PDEVICE_OBJECT pdo, const std::wstring& instance);
void SetRegistryValue(PDEVICE_OBJECT pdo, const std::wstring& name, ULONG type,
                      const std::vector<uint8_t>& data);
void SetRegistryString(PDEVICE_OBJECT pdo, const std::wstring& name, const std::wstring& text);
void RemoveRegistryValue(PDEVICE_OBJECT pdo, const std::wstring& name);
// A query of this value answers `status` instead.
void FailRegistryQuery(const std::wstring& name, NTSTATUS status);
size_t OpenRegistryKeys();

void SetWdmVersion(UCHAR major, UCHAR minor);

// Marks a request as sent by a 32-bit process.
void SetCallerIs32Bit(PIRP irp, bool is_32bit);

// Called when a request that the harness made comes back past the top of its stack.
void SetRequestOwner(PIRP irp, std::function<void(PIRP)> finish);

size_t LiveIrps();
size_t LiveMdls();
// Work items queued and not yet run to their end.
size_t LiveWorkItems();
size_t LiveDevices();
// References the driver took on device objects and has not dropped.
size_t HeldDeviceReferences();
PDEVICE_OBJECT TopOfStack(PDEVICE_OBJECT device);
POWER_STATE LastPowerState(POWER_STATE_TYPE type);

std::wstring GuidText(const GUID& guid);

}  // namespace ksub
