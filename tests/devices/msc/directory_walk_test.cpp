#include "devices/msc/directory_walk.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "failing_folder_listing.h"
#include "testlib/temp_dir.h"

namespace {

// Writes one line per call: "enter x", "file x", "leave x", "error x", x relative to the root.
class RecordingVisitor : public DirectoryVisitor {
 public:
  explicit RecordingVisitor(const std::string& root) : root_(root) {}
  Result OnFile(const std::string& path, const std::string& name) override {
    return Note("file", path, name);
  }
  Result OnEnterDirectory(const std::string& path, const std::string& name) override {
    return Note("enter", path, name);
  }
  Result OnLeaveDirectory(const std::string& path, const std::string& name) override {
    return Note("leave", path, name);
  }
  Result OnError(const std::string& path, const std::string& name, Result error) override {
    Note("error", path, name);
    return error;
  }

  std::vector<std::string> calls;
  std::string stop_at;  // a call line that answers a failure

 private:
  Result Note(const char* what, const std::string& path, const std::string& name) {
    std::string relative = path.compare(0, root_.size(), root_) == 0 ? path.substr(root_.size())
                                                                    : path;
    if (!relative.empty() && relative[0] == '\\') relative.erase(0, 1);
    if (!relative.empty()) {
      EXPECT_EQ(name, relative.substr(relative.find_last_of('\\') + 1)) << path;
    }
    calls.push_back(std::string(what) + " " + relative);
    return calls.back() == stop_at ? static_cast<Result>(0x80004444) : rc::kOk;
  }
  std::string root_;
};

class DirectoryWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("b.mp3", "b");
    dir_.WriteFile("A.mp3", "a");
    CreateDirectoryA(dir_.File("z").c_str(), nullptr);
    dir_.WriteFile("z\\Track.ogg", "t");
    CreateDirectoryA(dir_.File("album").c_str(), nullptr);
    CreateDirectoryA(dir_.File("album\\Disc 2").c_str(), nullptr);
    dir_.WriteFile("album\\Disc 2\\01.flac", "f");
    dir_.WriteFile("album\\02.mp3", "2");
    dir_.WriteFile("album\\10.MP3", "10");
    CreateDirectoryA(dir_.File("Hidden folder").c_str(), nullptr);
    dir_.WriteFile("Hidden folder\\x.mp3", "x");
    SetFileAttributesA(dir_.File("Hidden folder").c_str(), FILE_ATTRIBUTE_HIDDEN);
    dir_.WriteFile("system.mp3", "s");
    SetFileAttributesA(dir_.File("system.mp3").c_str(), FILE_ATTRIBUTE_SYSTEM);
  }

  std::vector<std::string> Walk(uint32_t flags, const std::string& stop_at = "",
                                Result* result = nullptr, FolderListingApi* listing = nullptr) {
    RecordingVisitor visitor(dir_.Path());
    visitor.stop_at = stop_at;
    const Result status = scan_directory(&visitor, dir_.Path(), flags, listing);
    if (result) *result = status;
    return visitor.calls;
  }

  TempDir dir_;
};

TEST_F(DirectoryWalkTest, FoldersComeFirstThenFilesEachSortedWithoutCase) {
  const std::vector<std::string> expected = {
      "enter ",
      "enter album", "enter album\\Disc 2", "file album\\Disc 2\\01.flac",
      "leave album\\Disc 2", "file album\\02.mp3", "file album\\10.MP3", "leave album",
      "enter z", "file z\\Track.ogg", "leave z",
      "file A.mp3", "file b.mp3",
      "leave "};
  EXPECT_EQ(Walk(kWalkAnnounceFolder | kWalkSkipHidden), expected);
}

TEST_F(DirectoryWalkTest, HiddenAndSystemEntriesAreWalkedOnlyWithoutTheSkipFlag) {
  const std::vector<std::string> all = Walk(0);
  EXPECT_NE(std::find(all.begin(), all.end(), "file Hidden folder\\x.mp3"), all.end());
  EXPECT_NE(std::find(all.begin(), all.end(), "file system.mp3"), all.end());
  const std::vector<std::string> visible = Walk(kWalkSkipHidden);
  for (const std::string& call : visible) {
    EXPECT_EQ(call.find("Hidden"), std::string::npos) << call;
    EXPECT_EQ(call.find("system"), std::string::npos) << call;
  }
  EXPECT_EQ(visible.front(), "enter album");  // nested folders are announced without the flag
}

TEST_F(DirectoryWalkTest, WithoutDescentSubfoldersAreLeftOutOrReported) {
  const std::vector<std::string> files_only = {"file A.mp3", "file b.mp3"};
  EXPECT_EQ(Walk(kWalkSkipHidden | kWalkNoDescent), files_only);
  const std::vector<std::string> reported = {"enter album", "enter z", "file A.mp3",
                                             "file b.mp3"};
  EXPECT_EQ(Walk(kWalkSkipHidden | kWalkNoDescent | kWalkReportSubfolders), reported);
}

TEST_F(DirectoryWalkTest, AFailureEndsTheWalkAtOnceWithoutLeavingFolders) {
  const struct {
    const char* stop_at;
    const char* last_call;
  } cases[] = {
      {"file album\\02.mp3", "file album\\02.mp3"},
      {"enter z", "enter z"},
      {"leave album\\Disc 2", "leave album\\Disc 2"},
      {"enter ", "enter "},
  };
  for (const auto& c : cases) {
    Result result = rc::kOk;
    const std::vector<std::string> calls =
        Walk(kWalkAnnounceFolder | kWalkSkipHidden, c.stop_at, &result);
    EXPECT_EQ(result, static_cast<Result>(0x80004444)) << c.stop_at;
    EXPECT_EQ(calls.back(), c.last_call);
  }
}

// A folder that cannot be listed is an error of the walk, not an empty folder; "nothing
// found" is an empty folder.
TEST_F(DirectoryWalkTest, AFolderThatCannotBeListedGoesToOnError) {
  const struct {
    DWORD error;
    std::vector<std::string> calls;
  } cases[] = {
      {ERROR_ACCESS_DENIED, {"enter ", "enter album", "error album"}},
      {ERROR_NOT_READY, {"enter ", "enter album", "error album"}},
      {ERROR_FILE_NOT_FOUND, {"enter ", "enter album", "leave album", "enter z"}},
  };
  for (const auto& c : cases) {
    FailingFolderListing listing;
    listing.failing_folder = "ALBUM";
    listing.failing_error = c.error;
    Result result = rc::kOk;
    std::vector<std::string> calls =
        Walk(kWalkAnnounceFolder | kWalkSkipHidden, "", &result, &listing);
    if (c.error == ERROR_FILE_NOT_FOUND) {
      EXPECT_EQ(result, rc::kOk);
      calls.resize(4);
    } else {
      EXPECT_EQ(result, rc::FromWin32(c.error));
    }
    EXPECT_EQ(calls, c.calls) << c.error;
  }
}

// The drive goes away part-way through a listing: the error ends the walk where it struck,
// never as the end of a folder.
TEST_F(DirectoryWalkTest, ADriveGoneMidListingGoesToOnError) {
  for (uint32_t entries = 0; entries < 12; ++entries) {
    FailingFolderListing listing;
    listing.entries_before_gone = entries;
    Result result = rc::kOk;
    const std::vector<std::string> calls =
        Walk(kWalkAnnounceFolder | kWalkSkipHidden, "", &result, &listing);
    EXPECT_EQ(result, rc::FromWin32(ERROR_NOT_READY)) << entries;
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().compare(0, 6, "error "), 0) << entries << ": " << calls.back();
  }
}

TEST_F(DirectoryWalkTest, AFileIsVisitedAloneAndAMissingPathGoesToOnError) {
  RecordingVisitor visitor(dir_.Path());
  EXPECT_EQ(scan_directory(&visitor, dir_.File("A.mp3"), kWalkAnnounceFolder), rc::kOk);
  EXPECT_EQ(visitor.calls, std::vector<std::string>{"file A.mp3"});
  visitor.calls.clear();
  EXPECT_EQ(scan_directory(&visitor, dir_.File("gone"), kWalkAnnounceFolder),
            rc::FromWin32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(visitor.calls, std::vector<std::string>{"error gone"});
}

TEST_F(DirectoryWalkTest, APathEndingInASeparatorIsListedWithoutADoubledOne) {
  RecordingVisitor visitor(dir_.Path() + "\\");
  ASSERT_EQ(scan_directory(&visitor, dir_.Path() + "\\", kWalkSkipHidden | kWalkNoDescent),
            rc::kOk);
  EXPECT_EQ(visitor.calls, (std::vector<std::string>{"file A.mp3", "file b.mp3"}));
}

}  // namespace
