// Moving installed files aside and copying new ones over them, and the replacement at the
// next restart when Windows keeps a file in use.
#include <gtest/gtest.h>
#include <windows.h>

#include "setup/file_replacer.h"
#include "setup/setup_codes.h"
#include "setup_fixture.h"

namespace {

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

// The pending renames Windows runs at its next start, as the text of their names.
std::string PendingRenames() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::string();
  DWORD size = 0;
  std::string text;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
      ERROR_SUCCESS) {
    std::wstring wide(size / sizeof(wchar_t) + 1, L'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                     reinterpret_cast<BYTE*>(&wide[0]), &size);
    for (wchar_t c : wide) text += c ? static_cast<char>(c) : '|';
  }
  RegCloseKey(key);
  return text;
}

void ForgetPendingRenames() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, "PendingFileRenameOperations");
    RegCloseKey(key);
  }
}

// A file held open without any sharing, as a running program holds its files.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path)
      : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool Holds() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

class FileReplacerTest : public ::testing::Test {
 protected:
  FileReplacerTest() {
    WriteText(source, "new build");
    WriteText(destination, "running build");
  }
  ~FileReplacerTest() override { ForgetPendingRenames(); }
  WindowsLayout layout;
  NtFileReplacer replacer;
  // A provider to install over an installed one.
  const std::string source = layout.Program("TORVEX.DLL");
  const std::string destination = layout.System("TORVEX.DLL");
};

TEST_F(FileReplacerTest, RemoveMovesAProtectedFileAsideOverAnEarlierOne) {
  const std::string path = layout.Inf("MSQEL.INF");
  WriteText(path, "current");
  WriteText(path + ".removed", "earlier");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesA((path + ".removed").c_str(), FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(replacer.Remove(path, path + ".removed"), 0);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReadText(path + ".removed"), "current");
  EXPECT_EQ(GetFileAttributesA((path + ".removed").c_str()) &
                (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM),
            0u);
  EXPECT_FALSE(replacer.Deferred());
  EXPECT_EQ(replacer.Remove(path, path + ".removed"), setup_rc::kFileNotFound);
}

TEST_F(FileReplacerTest, InstallCopiesOverAReadOnlyFileAndLeavesNoSibling) {
  SetFileAttributesA(destination.c_str(), FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(replacer.Install(source, destination), 0);
  EXPECT_EQ(ReadText(destination), "new build");
  EXPECT_EQ(GetFileAttributesA(destination.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(FileExists(PendingCopyName(destination)));
  EXPECT_FALSE(replacer.Deferred());
}

// A copy that fails must leave the installed file in place: its registration still points
// at it.
TEST_F(FileReplacerTest, FailedCopyKeepsTheInstalledFile) {
  const std::string unreadable_source = layout.Program("folder.dll");
  CreateDirectoryA(unreadable_source.c_str(), nullptr);

  for (const std::string& source : {layout.Program("missing.dll"), unreadable_source}) {
    SCOPED_TRACE(source);
    EXPECT_LT(replacer.Install(source, destination), 0);
    EXPECT_EQ(ReadText(destination), "running build");
    EXPECT_FALSE(FileExists(PendingCopyName(destination)));
  }
  EXPECT_FALSE(replacer.Deferred());
}

TEST_F(FileReplacerTest, FileInUseIsReplacedAtTheNextRestart) {
  HeldOpen running(destination);
  ASSERT_TRUE(running.Holds());

  EXPECT_EQ(replacer.Install(source, destination), 0);
  EXPECT_TRUE(replacer.Deferred());
  EXPECT_EQ(ReadText(destination + ".replacement"), "new build");
  EXPECT_FALSE(FileExists(PendingCopyName(destination)));
  const std::string pending = PendingRenames();
  EXPECT_NE(pending.find(destination + ".replacement"), std::string::npos) << pending;
  EXPECT_NE(pending.find("|!\\??\\" + destination), std::string::npos) << pending;
}

TEST_F(FileReplacerTest, RemovingAFileInUseIsDeferredToo) {
  const std::string path = layout.Inf("MSQEL.INF");
  WriteText(path, "in use");
  HeldOpen in_use(path);
  ASSERT_TRUE(in_use.Holds());

  EXPECT_EQ(replacer.Remove(path, path + ".removed"), 0);
  EXPECT_TRUE(replacer.Deferred());
  EXPECT_TRUE(FileExists(path));
  EXPECT_NE(PendingRenames().find(path + ".removed"), std::string::npos);
}

// True when each name of the path after the drive fits 8.3: at most eight characters, a dot
// and at most three more, none of them a space.
bool IsShortPath(const std::string& path) {
  if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return false;
  size_t start = 3;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    const size_t dot = name.find('.');
    const std::string base = name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || extension.size() > 3 ||
        extension.find('.') != std::string::npos)
      return false;
    for (char c : name)
      if (c == ' ') return false;
    start = end + 1;
  }
  return true;
}

std::string LongPathOf(const std::string& path) {
  char found[MAX_PATH] = {};
  return GetLongPathNameA(path.c_str(), found, sizeof(found)) ? found : "";
}

// Each WININIT.INI rename must name both files by short names, or Windows 9x skips it: the
// entry of a deferred copy over a file in use, and of a deferred move aside to ".removed".
TEST_F(FileReplacerTest, Windows9xDefersThroughWininitRenameSectionWithShortNames) {
  struct Case {
    const char* what;
    bool removes;
  } const cases[] = {{"copy over a running provider", false},
                     {"move a running provider aside", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string wininit = layout.Windows("WININIT.INI");
    DeleteFileA(wininit.c_str());
    Win9xFileReplacer win9x(layout.Windows());
    HeldOpen running(destination);
    ASSERT_TRUE(running.Holds());
    const std::string removed = destination + ".removed";
    DeleteFileA(removed.c_str());

    EXPECT_EQ(c.removes ? win9x.Remove(destination, removed) : win9x.Install(source, destination),
              0);
    EXPECT_TRUE(win9x.Deferred());

    char keys[2048] = {};
    GetPrivateProfileStringA("rename", nullptr, "", keys, sizeof(keys), wininit.c_str());
    const std::string key = keys;
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(keys[key.size() + 1], '\0') << "one entry only";
    char value[MAX_PATH] = {};
    GetPrivateProfileStringA("rename", key.c_str(), "", value, sizeof(value), wininit.c_str());
    EXPECT_TRUE(IsShortPath(key)) << key;
    EXPECT_TRUE(IsShortPath(value)) << value;
    // The short names lead to the files meant.
    EXPECT_EQ(LongPathOf(key), c.removes ? removed : destination);
    EXPECT_EQ(LongPathOf(value), c.removes ? destination : destination + ".replacement");
    EXPECT_TRUE(FileExists(destination)) << "nothing moves before the restart";
    EXPECT_EQ(PendingRenames().find(destination), std::string::npos);
  }
}

}  // namespace
