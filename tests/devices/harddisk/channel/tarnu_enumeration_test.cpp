// Listing a simulated hard-disk player through its channel: files from the music database on
// the player's disk, playlists in both member-list forms, the root playlist, and fid lists.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "devices/fid_list.h"
#include "devices/playlist_members.h"
#include "devices/visitors.h"
#include "sim/harddisk/player_files.h"
#include "testlib/member_lists.h"
#include "support/memory_stream.h"
#include "tarnu_channel_fixture.h"

namespace {

struct Row {
  uint32_t fid;
  const char* type;
  std::string playlist;
  uint32_t generation;
  uint32_t options;
};

class Recorder : public ContentsVisitor {
 public:
  bool Storage(PropertyHolder& storage) override {
    storages.push_back(storage.GetString("name"));
    return true;
  }
  bool File(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    return Item(storage, file, handle, "file");
  }
  bool RootPlaylist(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    return Item(storage, file, handle, "root");
  }
  bool PlaylistMembers(uint32_t playlist, const std::vector<uint32_t>& members) override {
    std::vector<uint32_t> fids;
    for (uint32_t handle : members) fids.push_back(fid_of[handle]);
    playlists[fid_of[playlist]] = fids;
    return true;
  }

  std::vector<std::string> storages;
  std::vector<std::string> events;  // "file 288 ;autosync;" ...
  std::map<uint32_t, std::vector<uint32_t>> playlists;  // by the playlist's fid

 private:
  bool Item(uint32_t storage, PropertyHolder& file, uint32_t* handle, const char* kind) {
    EXPECT_EQ(storage, 0u);
    const uint32_t fid = static_cast<uint32_t>(file.GetSet()->GetInt("fid"));
    events.push_back(std::string(kind) + " " + std::to_string(fid) + " " +
                     file.GetString("flags"));
    *handle = 1000 + static_cast<uint32_t>(fid_of.size());
    fid_of[*handle] = fid;
    return true;
  }
  std::map<uint32_t, uint32_t> fid_of;
};

class TarnuEnumerationTest : public TarnuChannelTest {
 protected:
  void PutDatabase(const std::vector<Row>& rows) {
    auto table = EmptyPlayerDatabase();
    for (const Row& row : rows) {
      RefPtr<RecordSet> set;
      ASSERT_EQ(table->OpenRecordSet(&set), rc::kOk);
      set->AddNew();
      set->SetInt("fid", static_cast<int32_t>(row.fid));
      set->SetInt("fid_generation", static_cast<int32_t>(row.generation));
      set->SetString("type", row.type);
      set->SetString("title", "title " + std::to_string(row.fid));
      set->SetInt("options", static_cast<int32_t>(row.options));
      set->SetBlob("playlist", row.playlist.data(), static_cast<uint32_t>(row.playlist.size()));
      ASSERT_EQ(set->Update(), rc::kOk);
    }
    ASSERT_EQ(table->Compact(nullptr), rc::kOk);
    MemoryStream bytes;
    ASSERT_EQ(table->Save(&bytes), rc::kOk);
    WriteMusicFile("var/smalldb", bytes.Bytes());
  }
};

TEST_F(TarnuEnumerationTest, ContentsAreTheStorageTheRowsAndThePlaylists) {
  PutDatabase({
      {0x120, "track", "", 1, 0x400},
      {0x130, "track", "", 2, 0},
      {0x200, "playlist", PlainMemberList({0x130, 0x120, 0x300, 0x210}), 1, 0},
      {0x210, "playlist",
       EncodePairedList({{0x120, 1}, {0x130, 9}, {0x110, 0}, {0x125, 0}}), 1, 0},
  });
  Recorder recorder;
  ASSERT_EQ(channel->EnumContents(&recorder), rc::kOk);
  EXPECT_EQ(recorder.storages, std::vector<std::string>{"Hard disk"});
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"file 288 ;autosync;", "file 304 ",
                                                       "file 512 ", "file 528 ", "root 256 "}));
  // Plain: every known fid (an unknown one and a playlist dropped). Paired: only entries whose
  // generation still matches.
  EXPECT_EQ(recorder.playlists[0x200], (std::vector<uint32_t>{0x130, 0x120}));
  EXPECT_EQ(recorder.playlists[0x210], (std::vector<uint32_t>{0x120}));
  EXPECT_EQ(recorder.playlists[0x100], (std::vector<uint32_t>{0x200, 0x210}));
}

TEST_F(TarnuEnumerationTest, RootRowListsOnlyPlaylistsAndGainsTheRest) {
  PutDatabase({
      {0x100, "playlist", PlainMemberList({0x120, 0x210}), 1, 0},
      {0x120, "track", "", 1, 0},
      {0x200, "playlist", "", 1, 0},
      {0x210, "playlist", PlainMemberList({0x120}), 1, 0},
  });
  Recorder recorder;
  ASSERT_EQ(channel->EnumContents(&recorder), rc::kOk);
  EXPECT_EQ(recorder.events.front(), "root 256 ");
  EXPECT_EQ(recorder.events.size(), 4u);  // no root made up
  EXPECT_EQ(recorder.playlists[0x100], (std::vector<uint32_t>{0x210, 0x200}));
  EXPECT_TRUE(recorder.playlists[0x200].empty());
}

TEST_F(TarnuEnumerationTest, FilesOfStorage0Only) {
  PutDatabase({{0x120, "track", "", 1, 0x400}, {0x130, "track", "", 1, 0x3FF}});
  struct List : HolderVisitor {
    bool Visit(PropertyHolder& file) override {
      seen.push_back(file.GetString("title") + "|" + file.GetString("flags"));
      return answer;
    }
    std::vector<std::string> seen;
    bool answer = true;
  } list;
  ASSERT_EQ(channel->EnumFiles(0x10000, &list), rc::kOk);  // the low 16 bits count
  EXPECT_EQ(list.seen, (std::vector<std::string>{"title 288|;autosync;", "title 304|"}));
  EXPECT_EQ(channel->EnumFiles(1, &list), rc::kBadIndex);
  list.seen.clear();
  list.answer = false;
  EXPECT_EQ(channel->EnumFiles(0, &list), rc::kEnumerationStopped);
  EXPECT_EQ(list.seen.size(), 1u);
}

TEST_F(TarnuEnumerationTest, MissingDatabaseFailsTheListing) {
  MakePlayer(48, false);
  player->result_words[12] = 0x80820005;  // the player cannot build one either
  struct List : HolderVisitor {
    bool Visit(PropertyHolder&) override { return true; }
  } list;
  EXPECT_TRUE(rc::Failed(channel->EnumFiles(0, &list)));
  Recorder recorder;
  EXPECT_TRUE(rc::Failed(channel->EnumContents(&recorder)));
  EXPECT_TRUE(recorder.events.empty());
}

TEST_F(TarnuEnumerationTest, FidListStartsEmpty) {
  player->fx2_commands.clear();
  RefPtr<FidList> list;
  ASSERT_EQ(channel->EnumFids(&list), rc::kOk);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->Count(), 0u);
  EXPECT_EQ(list->SerializedSize(), 4u);
  EXPECT_EQ(player->fx2_commands.size(), 0u);  // nothing asked of the player
}

}  // namespace
