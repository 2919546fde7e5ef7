// The stand-in for CopyFileExA, which Windows 9x lacks, run side by side with the system's
// own function on the same cases: the two must agree on the result, the error, the copy's
// bytes, attributes and last-write time, and what is left of the source.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/late_bound_kernel32.h"
#include "testlib/temp_dir.h"

namespace {

constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// 21 June 2004, 10:30 UTC: the source's last-write time, which a copy keeps.
FILETIME SourceTime() {
  SYSTEMTIME when = {2004, 6, 1, 21, 10, 30, 0, 0};
  FILETIME time;
  SystemTimeToFileTime(&when, &time);
  return time;
}

// Bytes of an ordinary file: a counting pattern that shows a shifted or dropped chunk.
std::string Bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

void WriteWithTime(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const FILETIME time = SourceTime();
  SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  ASSERT_EQ(written, bytes.size());
}

constexpr size_t kReadLimit = 16 * 1024 * 1024;

bool ReadAll(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char chunk[65536];
  DWORD got = 0;
  // A name left leading to a device would read without end.
  while (bytes->size() < kReadLimit && ReadFile(file, chunk, sizeof chunk, &got, nullptr) &&
         got > 0) {
    bytes->append(chunk, got);
  }
  CloseHandle(file);
  return true;
}

bool LastWrite(const std::string& path, FILETIME* time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  *time = data.ftLastWriteTime;
  return true;
}

// Runs a program of the host (Wine starts those too, without a handle to wait on) and waits
// until `done` holds.
bool RunOnHost(const std::string& program, const std::string& arguments,
               const std::function<bool()>& done) {
  std::string line = program + " " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const std::string path = "Z:\\usr\\bin\\" + program;
  if (!CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  if (process.hProcess) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  for (int i = 0; i < 200 && !done(); ++i) Sleep(50);
  return done();
}

std::string HostName(const std::string& path) {
  typedef char*(CDECL * UnixName)(LPCWSTR);
  const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "wine_get_unix_file_name")));
  if (!unix_name) return std::string();
  const std::wstring wide(path.begin(), path.end());
  char* name = unix_name(wide.c_str());
  if (!name) return std::string();
  const std::string host = name;
  HeapFree(GetProcessHeap(), 0, name);
  return host;
}

// Listed in its folder: a name that leads to a device has no attributes of a file.
bool Listed(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// A name that leads to the host's device with no room: every write to it fails as on a full
// disk. No file system here can be filled honestly otherwise: none can be mounted.
bool MakeFullDiskName(const std::string& path) {
  const std::string host = HostName(path);
  return !host.empty() &&
         RunOnHost("ln", "-sf /dev/full \"" + host + "\"", [&] { return Listed(path); });
}

// Wine cannot delete a name that leads to a device: the host removes it.
void RemoveFullDiskName(const std::string& path) {
  const std::string host = HostName(path);
  if (!host.empty()) RunOnHost("rm", "-f \"" + host + "\"", [&] { return !Listed(path); });
}

// The folder of one run: the source, the destination and what the case puts around them.
struct Scene {
  std::string source;
  std::string destination;
  HANDLE held = INVALID_HANDLE_VALUE;  // the source as another program holds it
  bool full_disk = false;
};

struct Case {
  const char* what;
  std::function<void(Scene&)> prepare;
  DWORD flags;
  int cancel_at_chunk;  // 0: never; n: the routine cancels when told of chunk n
  bool cancel_by_flag;  // ... by setting the cancel flag instead of answering PROGRESS_CANCEL
  bool copied;
  DWORD error;          // when not copied
};

struct Progress {
  std::vector<DWORD> reasons;
  LONGLONG last_done = -1;
  LONGLONG total = -1;
  int cancel_at_chunk = 0;
  bool cancel_by_flag = false;
  BOOL cancel = FALSE;
};

DWORD CALLBACK Report(LARGE_INTEGER total, LARGE_INTEGER done, LARGE_INTEGER, LARGE_INTEGER,
                      DWORD, DWORD reason, HANDLE, HANDLE, LPVOID data) {
  auto* progress = static_cast<Progress*>(data);
  progress->reasons.push_back(reason);
  progress->total = total.QuadPart;
  progress->last_done = done.QuadPart;
  int chunks = 0;
  for (DWORD seen : progress->reasons) chunks += seen == CALLBACK_CHUNK_FINISHED;
  if (reason == CALLBACK_CHUNK_FINISHED && chunks == progress->cancel_at_chunk) {
    if (!progress->cancel_by_flag) return PROGRESS_CANCEL;
    progress->cancel = TRUE;
  }
  return PROGRESS_CONTINUE;
}

struct Outcome {
  BOOL ok = FALSE;
  DWORD error = 0;
  bool destination_exists = false;
  std::string destination_bytes;
  DWORD destination_attributes = 0;
  FILETIME destination_time = {};
  std::string source_bytes;
  DWORD source_attributes = 0;
  Progress progress;
};

class CopyFileStandInTest : public ::testing::Test {
 protected:
  // One copy in a folder of its own, by the system's function or by the stand-in.
  Outcome Run(const Case& c, bool stand_in) {
    const std::string folder = temp_.File(stand_in ? "stand-in" : "system");
    CreateDirectoryA(folder.c_str(), nullptr);
    Scene scene{folder + "\\Track 01.mp3", folder + "\\copy of Track 01.mp3"};
    c.prepare(scene);
    Outcome outcome;
    outcome.progress.cancel_at_chunk = c.cancel_at_chunk;
    outcome.progress.cancel_by_flag = c.cancel_by_flag;
    late_bound::PretendAbsent(stand_in ? "CopyFileExA" : nullptr);
    outcome.ok = CopyFileExA(scene.source.c_str(), scene.destination.c_str(), &Report,
                             &outcome.progress, &outcome.progress.cancel, c.flags);
    outcome.error = outcome.ok ? 0 : GetLastError();
    late_bound::PretendAbsent(nullptr);
    if (scene.held != INVALID_HANDLE_VALUE) CloseHandle(scene.held);
    outcome.destination_exists = ReadAll(scene.destination, &outcome.destination_bytes);
    outcome.destination_attributes = GetFileAttributesA(scene.destination.c_str());
    LastWrite(scene.destination, &outcome.destination_time);
    ReadAll(scene.source, &outcome.source_bytes);
    outcome.source_attributes = GetFileAttributesA(scene.source.c_str());
    if (scene.full_disk) RemoveFullDiskName(scene.destination);
    for (const std::string& path : {scene.source, scene.destination}) {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    }
    RemoveDirectoryA(folder.c_str());
    return outcome;
  }

  TempDir temp_;
};

void Source(Scene& scene, size_t size, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
  WriteWithTime(scene.source, Bytes(size));
  SetFileAttributesA(scene.source.c_str(), attributes);
}

constexpr size_t kTrackSize = 3 * 1024 * 1024 + 4321;  // a three-minute MP3

TEST_F(CopyFileStandInTest, AgreesWithTheSystemsCopy) {
  const Case cases[] = {
      {"plain", [](Scene& s) { Source(s, kTrackSize); }, 0, 0, false, true, 0},
      {"empty", [](Scene& s) { Source(s, 0); }, 0, 0, false, true, 0},
      {"overwrite",
       [](Scene& s) {
         Source(s, kTrackSize);
         WriteWithTime(s.destination, Bytes(kTrackSize * 2));
       },
       0, 0, false, true, 0},
      {"fail if it exists",
       [](Scene& s) {
         Source(s, kTrackSize);
         WriteWithTime(s.destination, "an older copy");
       },
       COPY_FILE_FAIL_IF_EXISTS, 0, false, false, ERROR_FILE_EXISTS},
      {"cancelled at the first chunk", [](Scene& s) { Source(s, kTrackSize); }, 0, 1, false,
       false, ERROR_REQUEST_ABORTED},
      {"cancel flag set at the first chunk", [](Scene& s) { Source(s, kTrackSize); }, 0, 1, true,
       false, ERROR_REQUEST_ABORTED},
      {"missing source", [](Scene&) {}, 0, 0, false, false, ERROR_FILE_NOT_FOUND},
      {"source is the destination",
       [](Scene& s) {
         Source(s, kTrackSize);
         s.destination = s.source;
       },
       0, 0, false, false, ERROR_SHARING_VIOLATION},
      {"full disk",
       [](Scene& s) {
         Source(s, kTrackSize);
         s.full_disk = true;
         ASSERT_TRUE(MakeFullDiskName(s.destination)) << "no full device to copy to";
       },
       0, 0, false, false, ERROR_DISK_FULL},
      {"read-only source",
       [](Scene& s) { Source(s, kTrackSize, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE); },
       0, 0, false, true, 0},
      {"hidden source",
       [](Scene& s) { Source(s, kTrackSize, FILE_ATTRIBUTE_HIDDEN); }, 0, 0, false, true, 0},
      {"source open for writing elsewhere",
       [](Scene& s) {
         Source(s, kTrackSize);
         s.held = CreateFileA(s.source.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
         ASSERT_NE(s.held, INVALID_HANDLE_VALUE);
       },
       0, 0, false, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome system = Run(c, false);
    const Outcome stand_in = Run(c, true);
    // Wine's own copy never calls the progress routine, so it cannot be cancelled: there the
    // stand-in is held to the documented contract alone.
    const bool system_reports = !system.progress.reasons.empty() || !c.copied;
    if (c.cancel_at_chunk && system.progress.reasons.empty()) {
      EXPECT_FALSE(stand_in.ok);
      EXPECT_EQ(stand_in.error, c.error);
      EXPECT_FALSE(stand_in.destination_exists) << "the unfinished copy stays";
      EXPECT_TRUE(stand_in.source_bytes == Bytes(kTrackSize));
      continue;
    }
    for (const Outcome* o : {&system, &stand_in}) {
      SCOPED_TRACE(o == &system ? "system" : "stand-in");
      EXPECT_EQ(o->ok, c.copied ? TRUE : FALSE);
      EXPECT_EQ(o->error, c.copied ? 0u : c.error);
    }
    EXPECT_EQ(stand_in.ok, system.ok);
    EXPECT_EQ(stand_in.error, system.error);
    EXPECT_EQ(stand_in.destination_exists, system.destination_exists);
    EXPECT_TRUE(stand_in.destination_bytes == system.destination_bytes) << "copies differ";
    EXPECT_EQ(stand_in.destination_attributes & kKeptAttributes,
              system.destination_attributes & kKeptAttributes);
    EXPECT_EQ(CompareFileTime(&stand_in.destination_time, &system.destination_time), 0);
    EXPECT_TRUE(stand_in.source_bytes == system.source_bytes) << "sources differ";
    EXPECT_EQ(stand_in.source_attributes, system.source_attributes);
    if (c.copied) {
      EXPECT_TRUE(stand_in.destination_bytes == stand_in.source_bytes) << "not a copy";
      // The routine hears of the stream first, then of every chunk up to the whole file.
      ASSERT_FALSE(stand_in.progress.reasons.empty());
      EXPECT_EQ(stand_in.progress.reasons.front(), static_cast<DWORD>(CALLBACK_STREAM_SWITCH));
      EXPECT_EQ(stand_in.progress.total, static_cast<LONGLONG>(stand_in.source_bytes.size()));
      EXPECT_EQ(stand_in.progress.last_done, stand_in.progress.total);
      if (system_reports) {
        EXPECT_EQ(stand_in.progress.reasons.front(), system.progress.reasons.front());
        EXPECT_EQ(stand_in.progress.last_done, system.progress.last_done);
      }
    }
  }
}

}  // namespace
