// Linked into Torvex.dll and Haldor.exe only. The compiler's run-time thread library (which
// libstdc++ needs for its locks and thread-safe statics) calls a few KERNEL32 functions that
// Windows 98 lacks, and some that Windows 2000 lacks. An import of any of them stops the loader
// before our code runs. This file defines the import-table slots those calls go through, so
// the linker takes ours instead of the system's: each slot points at a stand-in that looks the
// function up by name on first use and, where the system has none, does the nearest thing
// with what every Windows has.
#include <windows.h>

#include <cstdint>

namespace {

template <typename Function>
Function Lookup(const char* name) {
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  return kernel ? reinterpret_cast<Function>(
                      reinterpret_cast<void*>(GetProcAddress(kernel, name)))
                : nullptr;
}

// The looked-up function, cached once found; until then every call looks again (cheap, and
// rare: these calls are few), so no thread ever sees a half-made binding.
template <typename Function>
Function Bound(const char* name, Function volatile* slot) {
  Function found = *slot;
  if (!found) {
    found = Lookup<Function>(name);
    *slot = found;
  }
  return found;
}

#define TORVEX_BOUND(type, name)                      \
  static type volatile bound_function = nullptr;      \
  const type system = Bound<type>(name, &bound_function)

// The 32-bit millisecond count widened to 64 bits. It wraps after 49.7 days; the high word
// counts the wraps seen. A spin lock guards the pair, since 9x has no 64-bit exchange.
ULONGLONG WINAPI TickCount64() {
  typedef ULONGLONG(WINAPI * Function)();
  TORVEX_BOUND(Function, "GetTickCount64");
  if (system) return system();
  static LONG busy = 0;
  static DWORD last = 0;
  static DWORD wraps = 0;
  while (InterlockedExchange(&busy, 1) != 0) Sleep(0);
  const DWORD now = GetTickCount();
  if (now < last) ++wraps;
  last = now;
  const ULONGLONG result = (static_cast<ULONGLONG>(wraps) << 32) | now;
  InterlockedExchange(&busy, 0);
  return result;
}

// Only used to name threads for a debugger; without vectored handlers there is nothing to add.
PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
  typedef PVOID(WINAPI * Function)(ULONG, PVECTORED_EXCEPTION_HANDLER);
  TORVEX_BOUND(Function, "AddVectoredExceptionHandler");
  return system ? system(first, handler) : nullptr;
}

ULONG WINAPI RemoveVectoredHandler(PVOID handle) {
  typedef ULONG(WINAPI * Function)(PVOID);
  TORVEX_BOUND(Function, "RemoveVectoredExceptionHandler");
  return system && handle ? system(handle) : 0;
}

// Windows 9x cannot test a critical section without entering it. The run-time library tries
// sections only inside its condition variables, which nothing in our deliverables uses;
// entering (and so succeeding) is the nearest behaviour.
BOOL WINAPI TryEnterSection(LPCRITICAL_SECTION section) {
  typedef BOOL(WINAPI * Function)(LPCRITICAL_SECTION);
  TORVEX_BOUND(Function, "TryEnterCriticalSection");
  if (system) return system(section);
  EnterCriticalSection(section);
  return TRUE;
}

// Used to check that a thread handle is still open; 9x has no handle flags to report.
BOOL WINAPI HandleInformation(HANDLE handle, LPDWORD flags) {
  typedef BOOL(WINAPI * Function)(HANDLE, LPDWORD);
  TORVEX_BOUND(Function, "GetHandleInformation");
  if (system) return system(handle, flags);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (flags) *flags = 0;
  return TRUE;
}

// 9x runs every process on its one processor.
BOOL WINAPI ProcessAffinity(HANDLE process, PDWORD_PTR process_mask, PDWORD_PTR system_mask) {
  typedef BOOL(WINAPI * Function)(HANDLE, PDWORD_PTR, PDWORD_PTR);
  TORVEX_BOUND(Function, "GetProcessAffinityMask");
  if (system) return system(process, process_mask, system_mask);
  *process_mask = 1;
  *system_mask = 1;
  return TRUE;
}

BOOL WINAPI SetAffinity(HANDLE process, DWORD_PTR mask) {
  typedef BOOL(WINAPI * Function)(HANDLE, DWORD_PTR);
  TORVEX_BOUND(Function, "SetProcessAffinityMask");
  if (system) return system(process, mask);
  if (mask & 1) return TRUE;
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace

// The import-table slot names: on i686 a stdcall function's slot carries its argument bytes.
#ifdef _WIN64
#define TORVEX_SLOT(name, bytes) "__imp_" #name
#else
#define TORVEX_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif

extern "C" {
extern void* const slot_tick_count64 __asm__(TORVEX_SLOT(GetTickCount64, 0));
extern void* const slot_add_vectored __asm__(TORVEX_SLOT(AddVectoredExceptionHandler, 8));
extern void* const slot_remove_vectored __asm__(TORVEX_SLOT(RemoveVectoredExceptionHandler, 4));
extern void* const slot_try_enter __asm__(TORVEX_SLOT(TryEnterCriticalSection, 4));
extern void* const slot_handle_information __asm__(TORVEX_SLOT(GetHandleInformation, 8));
extern void* const slot_get_affinity __asm__(TORVEX_SLOT(GetProcessAffinityMask, 12));
extern void* const slot_set_affinity __asm__(TORVEX_SLOT(SetProcessAffinityMask, 8));

void* const slot_tick_count64 = reinterpret_cast<void*>(&TickCount64);
void* const slot_add_vectored = reinterpret_cast<void*>(&AddVectoredHandler);
void* const slot_remove_vectored = reinterpret_cast<void*>(&RemoveVectoredHandler);
void* const slot_try_enter = reinterpret_cast<void*>(&TryEnterSection);
void* const slot_handle_information = reinterpret_cast<void*>(&HandleInformation);
void* const slot_get_affinity = reinterpret_cast<void*>(&ProcessAffinity);
void* const slot_set_affinity = reinterpret_cast<void*>(&SetAffinity);
}
