// Linked into Torvex.dll and Haldor.exe only. The compiler's run-time thread library (which
// libstdc++ needs for its locks and thread-safe statics) calls a few KERNEL32 functions that
// Windows 98 lacks, and some that Windows 2000 lacks. An import of any of them stops the loader
// before our code runs. This file defines the import-table slots those calls go through, so
// the linker takes ours instead of the system's: each slot points at a stand-in that looks the
// function up by name on first use and, where the system has none, does the nearest thing
// with what every Windows has.
#include "support/late_bound_kernel32.h"

#include <windows.h>

#include <sys/stat.h>
#include <sys/utime.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const char* volatile g_absent_name = nullptr;

template <typename Function>
Function Lookup(const char* module_name, const char* name) {
  const char* absent = g_absent_name;
  if (absent && std::strcmp(absent, name) == 0) return nullptr;
  HMODULE module = GetModuleHandleA(module_name);
  return module ? reinterpret_cast<Function>(
                      reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

// The looked-up function, cached once found; until then every call looks again (cheap, and
// rare: these calls are few), so no thread ever sees a half-made binding.
template <typename Function>
Function Bound(const char* module_name, const char* name, Function volatile* slot) {
  Function found = *slot;
  if (!found || g_absent_name) {
    found = Lookup<Function>(module_name, name);
    if (found) *slot = found;
  }
  return found;
}

#define TORVEX_BOUND_IN(module, type, name)      \
  static type volatile bound_function = nullptr; \
  const type system = Bound<type>(module, name, &bound_function)
#define TORVEX_BOUND(type, name) TORVEX_BOUND_IN("KERNEL32.DLL", type, name)

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

// Windows 9x has no GetModuleHandleEx. The module that holds an address is the allocation
// base of its pages; a handle taken without UNCHANGED_REFCOUNT holds a reference, which a
// second load of the module's own file takes.
BOOL WINAPI ModuleHandleEx(DWORD flags, LPCWSTR name, HMODULE* module) {
  typedef BOOL(WINAPI * Function)(DWORD, LPCWSTR, HMODULE*);
  TORVEX_BOUND(Function, "GetModuleHandleExW");
  if (system) return system(flags, name, module);
  if (!module) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  if (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
    MEMORY_BASIC_INFORMATION pages;
    if (VirtualQuery(name, &pages, sizeof pages) == 0 || !pages.AllocationBase) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    *module = static_cast<HMODULE>(pages.AllocationBase);
  } else {
    char narrow[MAX_PATH];
    if (name && WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof narrow, nullptr,
                                    nullptr) == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    *module = GetModuleHandleA(name ? narrow : nullptr);
    if (!*module) return FALSE;
  }
  if (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) return TRUE;
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(*module, path, sizeof path);
  if (length >= sizeof path) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  if (length == 0 || length >= sizeof path || !LoadLibraryA(path)) {
    *module = nullptr;
    return FALSE;
  }
  return TRUE;
}

// What CopyFile keeps of the source on the copy: its attributes and its last-write time.
const DWORD kCopiedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Asks the progress routine; false when it says to end the copy. PROGRESS_QUIET ends the
// questions, not the copy.
bool GoOn(LPPROGRESS_ROUTINE* progress, LARGE_INTEGER total, LARGE_INTEGER done, DWORD reason,
          HANDLE in, HANDLE out, LPVOID data) {
  if (!*progress) return true;
  const DWORD answer = (*progress)(total, done, total, done, 1, reason, in, out, data);
  if (answer == PROGRESS_QUIET) *progress = nullptr;
  return answer != PROGRESS_CANCEL && answer != PROGRESS_STOP;
}

// Windows 9x has no CopyFileEx: the bytes are copied in pieces, the progress routine told of
// each, and a routine that cancels or stops removes the unfinished copy. As with CopyFile, a
// source another program holds open for writing can be copied, and the copy takes the
// source's attributes and last-write time.
BOOL WINAPI CopyFileWithProgress(LPCSTR source, LPCSTR destination,
                                 LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL cancel,
                                 DWORD flags) {
  typedef BOOL(WINAPI * Function)(LPCSTR, LPCSTR, LPPROGRESS_ROUTINE, LPVOID, LPBOOL, DWORD);
  TORVEX_BOUND(Function, "CopyFileExA");
  if (system) return system(source, destination, progress, data, cancel, flags);
  HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) return FALSE;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(in, &information)) {
    const DWORD error = GetLastError();
    CloseHandle(in);
    SetLastError(error);
    return FALSE;
  }
  const DWORD attributes = information.dwFileAttributes & kCopiedAttributes;
  const DWORD creation = (flags & COPY_FILE_FAIL_IF_EXISTS) ? CREATE_NEW : CREATE_ALWAYS;
  HANDLE out = CreateFileA(destination, GENERIC_WRITE, 0, nullptr, creation,
                           attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    CloseHandle(in);
    SetLastError(error);
    return FALSE;
  }
  LARGE_INTEGER total, done;
  total.LowPart = information.nFileSizeLow;
  total.HighPart = static_cast<LONG>(information.nFileSizeHigh);
  done.QuadPart = 0;
  const DWORD kChunk = 64 * 1024;
  char* buffer = static_cast<char*>(std::malloc(kChunk));
  BOOL ok = buffer != nullptr;
  DWORD error = buffer ? 0 : ERROR_NOT_ENOUGH_MEMORY;
  if (ok && !GoOn(&progress, total, done, CALLBACK_STREAM_SWITCH, in, out, data)) {
    ok = FALSE;
    error = ERROR_REQUEST_ABORTED;
  }
  while (ok) {
    if (cancel && *cancel) {
      ok = FALSE;
      error = ERROR_REQUEST_ABORTED;
      break;
    }
    DWORD got = 0, written = 0;
    if (!ReadFile(in, buffer, kChunk, &got, nullptr)) {
      ok = FALSE;
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    const BOOL wrote = WriteFile(out, buffer, got, &written, nullptr);
    if (!wrote || written != got) {
      ok = FALSE;
      error = wrote ? ERROR_DISK_FULL : GetLastError();
      break;
    }
    done.QuadPart += got;
    if (!GoOn(&progress, total, done, CALLBACK_CHUNK_FINISHED, in, out, data)) {
      ok = FALSE;
      error = ERROR_REQUEST_ABORTED;
    }
  }
  std::free(buffer);
  CloseHandle(in);
  // Set after the last write, which would otherwise stamp the copy with the time of copying.
  if (ok && !SetFileTime(out, nullptr, nullptr, &information.ftLastWriteTime)) {
    ok = FALSE;
    error = GetLastError();
  }
  // Data the system held back may fail only when the file is closed.
  if (!CloseHandle(out) && ok) {
    ok = FALSE;
    error = GetLastError();
  }
  if (!ok) {
    // A read-only copy would refuse to go.
    SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(destination);
    SetLastError(error);
  }
  return ok;
}

// Berkeley DB asks for these only on the NT family (locks) or to learn a volume's cluster
// size, for which a failure means the default. Windows 9x has neither.
BOOL WINAPI LockRegion(HANDLE file, DWORD flags, DWORD reserved, DWORD low, DWORD high,
                       LPOVERLAPPED overlapped) {
  typedef BOOL(WINAPI * Function)(HANDLE, DWORD, DWORD, DWORD, DWORD, LPOVERLAPPED);
  TORVEX_BOUND(Function, "LockFileEx");
  if (system) return system(file, flags, reserved, low, high, overlapped);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

BOOL WINAPI VolumePathName(LPCSTR path, LPSTR volume, DWORD length) {
  typedef BOOL(WINAPI * Function)(LPCSTR, LPSTR, DWORD);
  TORVEX_BOUND(Function, "GetVolumePathNameA");
  if (system) return system(path, volume, length);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

BOOL WINAPI VolumeNameForMountPoint(LPCSTR mount_point, LPSTR name, DWORD length) {
  typedef BOOL(WINAPI * Function)(LPCSTR, LPSTR, DWORD);
  TORVEX_BOUND(Function, "GetVolumeNameForVolumeMountPointA");
  if (system) return system(mount_point, name, length);
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

#ifndef _WIN64
// The C library of Windows 98 SE and 2000 (msvcrt.dll before XP) has file times in 32 bits
// only: the 64-bit forms fall back to them and widen the times.
void Widen(const struct _stat32i64& narrow, struct _stat64* wide) {
  wide->st_dev = narrow.st_dev;
  wide->st_ino = narrow.st_ino;
  wide->st_mode = narrow.st_mode;
  wide->st_nlink = narrow.st_nlink;
  wide->st_uid = narrow.st_uid;
  wide->st_gid = narrow.st_gid;
  wide->st_rdev = narrow.st_rdev;
  wide->st_size = narrow.st_size;
  wide->st_atime = narrow.st_atime;
  wide->st_mtime = narrow.st_mtime;
  wide->st_ctime = narrow.st_ctime;
}

template <typename Name>
int StatByName(const char* wide_name, const char* narrow_name, Name name, struct _stat64* out,
               int (*volatile* wide_slot)(Name, struct _stat64*),
               int (*volatile* narrow_slot)(Name, struct _stat32i64*)) {
  typedef int (*Wide)(Name, struct _stat64*);
  typedef int (*Narrow)(Name, struct _stat32i64*);
  const Wide wide = Bound<Wide>("MSVCRT.DLL", wide_name, wide_slot);
  if (wide) return wide(name, out);
  const Narrow narrow = Bound<Narrow>("MSVCRT.DLL", narrow_name, narrow_slot);
  if (!narrow) {
    errno = ENOSYS;
    return -1;
  }
  struct _stat32i64 status;
  const int result = narrow(name, &status);
  if (result == 0) Widen(status, out);
  return result;
}

int __cdecl Stat64(const char* path, struct _stat64* out) {
  static int (*volatile wide)(const char*, struct _stat64*) = nullptr;
  static int (*volatile narrow)(const char*, struct _stat32i64*) = nullptr;
  return StatByName("_stat64", "_stati64", path, out, &wide, &narrow);
}

int __cdecl WideStat64(const wchar_t* path, struct _stat64* out) {
  static int (*volatile wide)(const wchar_t*, struct _stat64*) = nullptr;
  static int (*volatile narrow)(const wchar_t*, struct _stat32i64*) = nullptr;
  return StatByName("_wstat64", "_wstati64", path, out, &wide, &narrow);
}

int __cdecl FileStat64(int descriptor, struct _stat64* out) {
  static int (*volatile wide)(int, struct _stat64*) = nullptr;
  static int (*volatile narrow)(int, struct _stat32i64*) = nullptr;
  return StatByName("_fstat64", "_fstati64", descriptor, out, &wide, &narrow);
}

struct OldFileTimes {
  __time32_t access;
  __time32_t modification;
};

int __cdecl WideSetTimes64(const wchar_t* path, struct __utimbuf64* times) {
  typedef int (*Wide)(const wchar_t*, struct __utimbuf64*);
  typedef int (*Narrow)(const wchar_t*, OldFileTimes*);
  TORVEX_BOUND_IN("MSVCRT.DLL", Wide, "_wutime64");
  if (system) return system(path, times);
  static Narrow volatile narrow_slot = nullptr;
  const Narrow narrow = Bound<Narrow>("MSVCRT.DLL", "_wutime", &narrow_slot);
  if (!narrow) {
    errno = ENOSYS;
    return -1;
  }
  if (!times) return narrow(path, nullptr);
  OldFileTimes old = {static_cast<__time32_t>(times->actime),
                      static_cast<__time32_t>(times->modtime)};
  return narrow(path, &old);
}
#endif

}  // namespace

void late_bound::PretendAbsent(const char* name) { g_absent_name = name; }

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

extern void* const slot_module_handle_ex __asm__(TORVEX_SLOT(GetModuleHandleExW, 12));
extern void* const slot_copy_file_ex __asm__(TORVEX_SLOT(CopyFileExA, 24));
extern void* const slot_lock_file_ex __asm__(TORVEX_SLOT(LockFileEx, 24));
extern void* const slot_volume_path __asm__(TORVEX_SLOT(GetVolumePathNameA, 12));
extern void* const slot_volume_name __asm__(TORVEX_SLOT(GetVolumeNameForVolumeMountPointA, 12));

void* const slot_module_handle_ex = reinterpret_cast<void*>(&ModuleHandleEx);
void* const slot_copy_file_ex = reinterpret_cast<void*>(&CopyFileWithProgress);
void* const slot_lock_file_ex = reinterpret_cast<void*>(&LockRegion);
void* const slot_volume_path = reinterpret_cast<void*>(&VolumePathName);
void* const slot_volume_name = reinterpret_cast<void*>(&VolumeNameForMountPoint);

#ifndef _WIN64
// The C library's functions are cdecl: their slots carry the name with its underscore.
extern void* const slot_stat64 __asm__("__imp___stat64");
extern void* const slot_wstat64 __asm__("__imp___wstat64");
extern void* const slot_fstat64 __asm__("__imp___fstat64");
extern void* const slot_wutime64 __asm__("__imp___wutime64");

void* const slot_stat64 = reinterpret_cast<void*>(&Stat64);
void* const slot_wstat64 = reinterpret_cast<void*>(&WideStat64);
void* const slot_fstat64 = reinterpret_cast<void*>(&FileStat64);
void* const slot_wutime64 = reinterpret_cast<void*>(&WideSetTimes64);
#endif
}
