// The late binder's other stand-ins beside the system's own functions: where Windows 9x has
// an answer they give the system's, and where it has none they fail the way 9x does.
#include <gtest/gtest.h>
#include <windows.h>

#include <sys/stat.h>
#include <sys/utime.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support/late_bound_kernel32.h"

namespace {

// Runs `call` once with the system's function and once with the stand-in of `name`.
template <typename Call>
void BothWays(const char* name, Call call) {
  for (bool stand_in : {false, true}) {
    SCOPED_TRACE(stand_in ? "stand-in" : "system");
    late_bound::PretendAbsent(stand_in ? name : nullptr);
    call(stand_in);
    late_bound::PretendAbsent(nullptr);
  }
}

TEST(Kernel32StandInsTest, TickCountFollowsTheMillisecondCount) {
  BothWays("GetTickCount64", [](bool) {
    const ULONGLONG before = GetTickCount();
    const ULONGLONG wide = GetTickCount64();
    const ULONGLONG after = GetTickCount();
    EXPECT_LE(before & 0xFFFFFFFFu, wide & 0xFFFFFFFFu);
    EXPECT_LE(wide & 0xFFFFFFFFu, after & 0xFFFFFFFFu);
  });
}

TEST(Kernel32StandInsTest, HandleInformationTellsAnOpenHandleFromAClosedOne) {
  BothWays("GetHandleInformation", [](bool) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0xFFFF;
    EXPECT_TRUE(GetHandleInformation(event, &flags));
    CloseHandle(event);
    SetLastError(0);
    EXPECT_FALSE(GetHandleInformation(nullptr, &flags));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  });
}

TEST(Kernel32StandInsTest, ModuleHandleOfAnAddressIsItsModule) {
  BothWays("GetModuleHandleExW", [](bool) {
    HMODULE module = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&GetModuleHandleA), &module));
    EXPECT_EQ(module, GetModuleHandleA("KERNEL32.DLL"));
    ASSERT_TRUE(GetModuleHandleExW(0, L"kernel32.dll", &module));
    EXPECT_EQ(module, GetModuleHandleA("KERNEL32.DLL"));
    EXPECT_TRUE(FreeLibrary(module)) << "a handle taken without UNCHANGED_REFCOUNT holds one";
    EXPECT_FALSE(GetModuleHandleExW(0, L"no such module.dll", &module));
    EXPECT_EQ(module, nullptr);
  });
}

TEST(Kernel32StandInsTest, AnUncontendedSectionIsEntered) {
  BothWays("TryEnterCriticalSection", [](bool) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
  });
}

TEST(Kernel32StandInsTest, TheProcessRunsOnTheFirstProcessorAtLeast) {
  BothWays("GetProcessAffinityMask", [](bool) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    EXPECT_NE(process & 1, 0u);
    EXPECT_EQ(process & ~system, 0u);
  });
  BothWays("SetProcessAffinityMask", [](bool) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    EXPECT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), process));
    SetLastError(0);
    EXPECT_FALSE(SetProcessAffinityMask(GetCurrentProcess(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  });
}

LONG CALLBACK PassOn(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

// Windows 9x has no vectored handlers: nothing is added, and removing nothing is harmless.
TEST(Kernel32StandInsTest, VectoredHandlersAreAddedOnlyWhereTheSystemHasThem) {
  BothWays("AddVectoredExceptionHandler", [](bool stand_in) {
    PVOID handler = AddVectoredExceptionHandler(0, &PassOn);
    EXPECT_EQ(handler == nullptr, stand_in);
    late_bound::PretendAbsent(stand_in ? "RemoveVectoredExceptionHandler" : nullptr);
    EXPECT_EQ(RemoveVectoredExceptionHandler(handler) != 0, !stand_in);
  });
}

// Windows 9x has no file locks and no mount points: the callers take the failure as "none".
TEST(Kernel32StandInsTest, LocksAndVolumePathsFailAsOnWindows9x) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  BothWays("LockFileEx", [](bool stand_in) {
    HANDLE file = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    OVERLAPPED where = {};
    SetLastError(0);
    const BOOL locked = LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where);
    if (stand_in) {
      EXPECT_FALSE(locked);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    }
    CloseHandle(file);
  });
  BothWays("GetVolumePathNameA", [&](bool stand_in) {
    char volume[MAX_PATH] = {};
    const BOOL found = GetVolumePathNameA(windows, volume, MAX_PATH);
    EXPECT_EQ(found, stand_in ? FALSE : TRUE);
  });
}

#ifndef _WIN64
// The C library before XP has its file times in 32 bits only: the 64-bit forms fall back to
// the narrow ones and must give what the wide ones give.
TEST(CLibraryStandInsTest, FileStatusAndTimesAgreeWithTheSystems) {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "late bound status.txt";
  const std::wstring wide_path(path.begin(), path.end());
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("twelve bytes", file);
  std::fclose(file);
  const __time64_t when = 1087813800;  // 21 June 2004, 10:30 UTC
  for (const char* name : {"_stat64", "_wstat64", "_fstat64", "_wutime64"}) {
    SCOPED_TRACE(name);
    BothWays(name, [&](bool) {
      struct __utimbuf64 times = {when, when};
      ASSERT_EQ(_wutime64(wide_path.c_str(), &times), 0);
      struct _stat64 by_name = {}, by_wide_name = {}, by_descriptor = {};
      ASSERT_EQ(_stat64(path.c_str(), &by_name), 0);
      ASSERT_EQ(_wstat64(wide_path.c_str(), &by_wide_name), 0);
      FILE* open = std::fopen(path.c_str(), "rb");
      ASSERT_NE(open, nullptr);
      EXPECT_EQ(_fstat64(_fileno(open), &by_descriptor), 0);
      std::fclose(open);
      for (const struct _stat64* status : {&by_name, &by_wide_name, &by_descriptor}) {
        EXPECT_EQ(status->st_size, 12);
        EXPECT_EQ(status->st_mtime, when);
        EXPECT_TRUE(status->st_mode & _S_IFREG);
      }
      struct _stat64 missing;
      errno = 0;
      EXPECT_EQ(_stat64((path + ".missing").c_str(), &missing), -1);
      EXPECT_EQ(errno, ENOENT);
    });
  }
  DeleteFileA(path.c_str());
}
#endif

}  // namespace
