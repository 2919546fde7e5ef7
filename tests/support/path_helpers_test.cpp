#include "support/path_helpers.h"

#include <windows.h>
#include <io.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/file_helpers.h"
#include "testlib/import_patch.h"
#include "testlib/temp_dir.h"

namespace {

TEST(PathHelpers, Splitting) {
  EXPECT_EQ(FileExtension("dir.d/file"), "");
  EXPECT_EQ(FileExtension("a.b.mp3"), "mp3");
  EXPECT_EQ(FileStem("C:\\music\\a.b.mp3"), "a.b");
  EXPECT_EQ(FileStem("C:\\music\\noext"), "noext");
  EXPECT_EQ(DirectoryPart("\\file"), "");
  EXPECT_EQ(DirectoryPart("a/b\\c"), "a/b");
  EXPECT_EQ(BaseName("dir\\"), "");
  EXPECT_EQ(BaseName("name"), "name");
  EXPECT_EQ(JoinPath("", "n"), "n");
  EXPECT_EQ(JoinPath("d/", "n"), "d/n");
  EXPECT_EQ(JoinPath("d", "n"), "d\\n");
  EXPECT_TRUE(IsDotOrDotDot(".."));
  EXPECT_FALSE(IsDotOrDotDot("..."));
}

TEST(PathHelpers, SanitizeFileName) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {" ..a:b?. ", "ab"},          {"LPT1", "LPT1_"},     {"...", ""},
      {"con", "con_"},              {"nul", "nul_"},       {"aux.live", "aux_.live"},
      {"Clock$", "Clock$_"},        {"console", "console"}, {"a<b>|\"*'c", "abc"},
      {std::string("x\0y", 3), "xy"}, {"COM10", "COM10"},
  };
  for (const Case& c : cases) EXPECT_EQ(SanitizeFileName(c.in), c.out) << c.in;
}

TEST(PathHelpers, MakeAbsolutePath) {
  std::string out;
  ASSERT_EQ(MakeAbsolutePath("C:\\base", "..\\x/y", &out), 0);
  EXPECT_EQ(out, "C:\\x\\y");
  ASSERT_EQ(MakeAbsolutePath("C:\\base", "\\top", &out), 0);
  EXPECT_EQ(out, "C:\\top");
  ASSERT_EQ(MakeAbsolutePath("C:\\base", "http://host/a.mp3", &out), 0);
  EXPECT_EQ(out, "http://host/a.mp3");
  ASSERT_EQ(MakeAbsolutePath("C:\\base", "\\\\server\\share\\a", &out), 0);
  EXPECT_EQ(out, "\\\\server\\share\\a");
  EXPECT_EQ(MakeAbsolutePath("rel", "x", &out), rc::kNotFound);
  EXPECT_EQ(MakeAbsolutePath("C:\\b", std::string(600, 'x'), &out), rc::kNotFound);
}

TEST(PathHelpers, NormalizeAndRelative) {
  std::string out;
  ASSERT_EQ(NormalizePath("C:\\a\\..\\b\\.\\c", &out), 0);
  EXPECT_EQ(out, "C:\\b\\c");
  EXPECT_EQ(NormalizePath("C:\\" + std::string(257, 'x'), &out), rc::kPathTooLong);
  EXPECT_EQ(RelativePath("E:\\Music", "E:\\Music\\A\\b.mp3"), "A\\b.mp3");
  EXPECT_EQ(RelativePath("E:\\Music\\x", "E:\\Music\\b.mp3"), "..\\b.mp3");
  EXPECT_EQ(RelativePath("E:\\Music", "F:\\b.mp3"), "F:\\b.mp3");
}

TEST(FileHelpers, MakeDirectoriesAndDeleteTree) {
  TempDir dir;
  const std::string deep = dir.Path() + "\\a\\b/c";
  std::string first_made = "left over";
  ASSERT_EQ(MakeDirectories(deep, &first_made), 0);
  EXPECT_TRUE(FileExists(dir.Path() + "\\a\\b\\c"));
  EXPECT_EQ(first_made, dir.Path() + "\\a");
  EXPECT_EQ(MakeDirectories(deep, &first_made), 0);
  EXPECT_EQ(first_made, "");
  ASSERT_EQ(MakeDirectories(deep + "\\d\\e", &first_made), 0);
  EXPECT_EQ(first_made, deep + "\\d");
  dir.WriteFile("a\\b\\file.txt", "x");
  ASSERT_EQ(DeleteTree(dir.Path() + "\\a"), 0);
  EXPECT_FALSE(FileExists(dir.Path() + "\\a"));
  EXPECT_LT(DeleteTree(dir.Path() + "\\missing"), 0);
  EXPECT_EQ(MakeDirectories("\\\\server"), 0);
}

TEST(FileHelpers, UnlinkForceClearsReadOnly) {
  TempDir dir;
  const std::string path = dir.WriteFile("ro.txt", "x");
  ASSERT_NE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY), 0);
  EXPECT_LT(UnlinkFile(path), 0);
  EXPECT_EQ(UnlinkFileForce(path), 0);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(UnlinkFileForce(path), rc::FromWin32(ERROR_FILE_NOT_FOUND));
}

TEST(FileHelpers, RenameAndReplace) {
  TempDir dir;
  const std::string a = dir.WriteFile("a", "new");
  const std::string b = dir.WriteFile("b", "old");
  EXPECT_LT(RenameFile(a, b), 0);
  ASSERT_EQ(ReplaceFileWith(a, b), 0);
  EXPECT_EQ(TempDir::ReadFile(b), "new");
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(ReplaceFileWith(a, b), rc::FromWin32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(TempDir::ReadFile(b), "new");
}

// Windows 9x exports MoveFileExA as a stub that fails.
BOOL WINAPI MoveFileExStub(LPCSTR, LPCSTR, DWORD) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

// A replace answers and leaves the same files whether the system has MoveFileEx or not.
TEST(FileHelpers, ReplaceWorksWithoutMoveFileEx) {
  for (const bool stub : {false, true}) {
    SCOPED_TRACE(stub ? "MoveFileExA a stub" : "the system's MoveFileExA");
    std::unique_ptr<ImportPatch> patch;
    if (stub) {
      patch = std::make_unique<ImportPatch>(GetModuleHandleA(nullptr), "kernel32.dll",
                                            "MoveFileExA",
                                            reinterpret_cast<const void*>(&MoveFileExStub));
      ASSERT_TRUE(patch->applied());
    }
    TempDir dir;
    const std::string a = dir.WriteFile("a", "new");
    const std::string b = dir.WriteFile("b", "old");
    const std::string fresh = dir.File("fresh");
    ASSERT_EQ(ReplaceFileWith(a, b), 0);
    EXPECT_EQ(TempDir::ReadFile(b), "new");
    EXPECT_FALSE(FileExists(a));
    // A missing source fails and never costs the destination.
    EXPECT_EQ(ReplaceFileWith(a, b), rc::FromWin32(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(TempDir::ReadFile(b), "new");
    // No destination yet.
    ASSERT_EQ(ReplaceFileWith(b, fresh), 0);
    EXPECT_EQ(TempDir::ReadFile(fresh), "new");
    EXPECT_FALSE(FileExists(b));
  }
}

class ContinuingSink : public CopyProgressSink {
 public:
  Result OnCopyProgress(uint32_t, uint32_t) override { return rc::kOk; }
};

TEST(FileHelpers, CopyWithProgress) {
  TempDir dir;
  const std::string source = dir.WriteFile("s", std::string(100000, 's'));
  const std::string target = dir.File("t");
  ContinuingSink sink;
  ASSERT_EQ(CopyFileWithProgress(source, target, &sink), 0);
  // Wine may call the routine without sizes, or not at all, and does not honour a cancel,
  // so only the copy is checked here; the scaling is checked below.
  EXPECT_EQ(TempDir::ReadFile(target).size(), 100000u);
  const std::string other = dir.File("u");
  EXPECT_EQ(CopyFileWithProgress(dir.File("none"), other, nullptr),
            rc::FromWin32(ERROR_FILE_NOT_FOUND));
}

TEST(FileHelpers, ProgressOfHugeFilesStaysBelow2To29) {
  uint32_t done = 0;
  uint32_t total = 0;
  ScaleCopyProgress(5ull << 30, 10ull << 30, &done, &total);
  EXPECT_LT(total, 1u << 29);
  EXPECT_EQ(done * 2, total);
  ScaleCopyProgress(7, 9, &done, &total);
  EXPECT_EQ(done, 7u);
  EXPECT_EQ(total, 9u);
}

TEST(FileHelpers, TempFilesAndDisk) {
  std::string name;
  int fd = -1;
  ASSERT_EQ(CreateTempFile("tvx", &fd, &name), 0);
  EXPECT_GE(fd, 0);
  _close(fd);
  EXPECT_TRUE(FileExists(name));
  EXPECT_EQ(UnlinkFile(name), 0);
  ASSERT_EQ(TempFileName("tvx", &name), 0);
  EXPECT_TRUE(FileExists(name));
  UnlinkFile(name);
  uint64_t total = 0, available = 0, used = 0;
  ASSERT_EQ(DiskSpace("C:\\", &total, &available, &used), 0);
  EXPECT_EQ(total, available + used);
  EXPECT_EQ(DiskSpace("C:\\", nullptr, nullptr, nullptr), 0);
  uint32_t cluster = 0;
  ASSERT_EQ(ClusterSize("C:\\", &cluster), 0);
  EXPECT_GT(cluster, 0u);
  EXPECT_EQ(DriveTypeOf("C:\\"), static_cast<uint32_t>(DRIVE_FIXED));
}

}  // namespace
