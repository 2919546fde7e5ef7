#include "devices/msc/source_sinks.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/file_helpers.h"
#include "support/path_helpers.h"
#include "testlib/temp_dir.h"

namespace {

TEST(PropertySetTagSinkTest, StoresEveryValueAsText) {
  RefPtr<PropertySet> properties;
  ASSERT_EQ(PropertySet::Create(&properties), rc::kOk);
  properties->AddNew();
  {
    PropertySetTagSink sink(properties.Get());
    sink.SetInt("tracknr", 7);
    sink.SetString("title", "Song");
    sink.SetString("offset", "1234");
  }
  EXPECT_EQ(properties->GetString("tracknr"), "7");
  EXPECT_EQ(properties->GetString("title"), "Song");
  EXPECT_EQ(properties->GetString("offset"), "1234");
}

class PlaylistImportSinkTest : public ::testing::Test {
 protected:
  PlaylistImportSinkTest() {
    MakeDirectories(drive_.File("Music\\Album"));
    MakeDirectories(drive_.File("Lists"));
    song_ = drive_.WriteFile("Music\\Album\\song.mp3", "x");
    list_ = drive_.WriteFile("Lists\\party.m3u", "");
    pc_song_ = pc_.WriteFile("pc.mp3", "x");
  }

  std::vector<std::string> Walked(const std::vector<std::string>& entries) {
    std::vector<std::string> walked;
    PlaylistImportSink sink({drive_.Path() + "\\"}, {drive_.File("Lists"), list_},
                            [&walked](const std::string& path) {
                              walked.push_back(path);
                              return rc::kOk;
                            });
    for (const std::string& entry : entries) EXPECT_EQ(sink.AddEntry(entry), rc::kOk) << entry;
    return walked;
  }

  TempDir drive_;
  TempDir pc_;
  std::string song_;
  std::string list_;
  std::string pc_song_;
};

TEST_F(PlaylistImportSinkTest, WalksFilesAndFoldersInsideTheRoots) {
  EXPECT_EQ(Walked({song_, drive_.File("Music\\Album"), drive_.File("Lists\\..\\Music")}),
            (std::vector<std::string>{song_, drive_.File("Music\\Album"), drive_.File("Music")}));
}

TEST_F(PlaylistImportSinkTest, LeavesOutWhatLiesOutsideOrIsBeingWalked) {
  EXPECT_TRUE(Walked({
                         pc_song_,                          // a file of the PC
                         pc_.Path(),                        // a folder of the PC
                         drive_.File("..\\" + BaseName(pc_.Path()) + "\\pc.mp3"),  // climbs out
                         drive_.File("missing.mp3"),        // cannot be read
                         drive_.Path() + "\\",              // the root itself
                         drive_.File("Lists"),              // a folder being walked
                         list_,                             // the playlist itself
                     })
                  .empty());
}

TEST_F(PlaylistImportSinkTest, StopsWhenTheWalkStopsAndKeepsTheTitle) {
  PlaylistImportSink sink({drive_.Path()}, {},
                          [](const std::string&) { return rc::kFail; });
  EXPECT_EQ(sink.SetTitle("Party"), rc::kOk);
  EXPECT_EQ(sink.Title(), "Party");
  EXPECT_EQ(sink.AddEntry(song_), rc::kFail);
}

}  // namespace
