// What a test hands the test build of Torvex.dll (tests/wmdm/seamed_dll) after COM has loaded
// it: the DLL keeps its own process-wide device source, which the test's simulated players
// cannot reach otherwise. Both sides are built by the same compiler from these declarations.
#pragma once

#include <cstdint>

class Clock;
class MassStorageSource;
class UsbInterfaceSource;

struct TorvexTestSeams {
  UsbInterfaceSource* usb = nullptr;  // where the DLL's enumerator finds USB players
  Clock* clock = nullptr;             // the clock its waits run on; null: the system's
  MassStorageSource* mass_storage = nullptr;  // where it finds mass-storage players; null: none
};

// Exported by name from the test build only.
// Null puts the DLL's own sources back; otherwise the seams must outlive their use.
using TorvexUseTestSeamsFunction = void (*)(const TorvexTestSeams* seams);
constexpr char kTorvexUseTestSeams[] = "TorvexUseTestSeams";
// Operations in progress on the DLL's devices.
using TorvexBusyCountFunction = int32_t (*)();
constexpr char kTorvexBusyCount[] = "TorvexBusyCount";
