// Listing a music database: rows as file properties, playlists and the root playlist as a
// contents visitor receives them, in both member-list forms.
#include "devices/tarnu_row_collector.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "db/column_table.h"
#include "devices/playlist_members.h"
#include "devices/visitors.h"
#include "media/property_holder.h"
#include "testlib/member_lists.h"

namespace {

struct Row {
  uint32_t fid;
  std::string type;
  std::string playlist;  // member-list bytes
  uint32_t generation = 1;
  uint32_t options = 0;
};

std::string Paired(const std::vector<PlaylistMember>& members) {
  return EncodePairedList(members);
}

// Every file and playlist is answered with handle fid + 7, so that handles and fids differ.
class RecordingVisitor : public ContentsVisitor {
 public:
  bool Storage(PropertyHolder&) override { return true; }
  bool File(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    return Record(storage, file, handle, false);
  }
  bool RootPlaylist(uint32_t storage, PropertyHolder& file, uint32_t* handle) override {
    return Record(storage, file, handle, true);
  }
  bool PlaylistMembers(uint32_t playlist, const std::vector<uint32_t>& members) override {
    walks.push_back({playlist, members});
    return true;
  }

  struct Item {
    uint32_t fid;
    bool root;
    std::string flags;
    std::string title;
    bool has_playlist_column;
  };
  std::vector<Item> items;
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> walks;
  size_t stop_after = SIZE_MAX;

 private:
  bool Record(uint32_t storage, PropertyHolder& file, uint32_t* handle, bool root) {
    EXPECT_EQ(storage, 0u);
    RefPtr<PropertySet> set = file.GetSet();
    const uint32_t fid = static_cast<uint32_t>(set->GetInt("fid"));
    items.push_back({fid, root, set->GetString("flags"), set->GetString("title"),
                     set->FindColumn("playlist") >= 0});
    *handle = fid + 7;
    return items.size() < stop_after;
  }
};

class TarnuRowCollectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.AddColumn("fid", kColumnTypeInt32, kColumnSorted);
    table.AddColumn("fid_generation", kColumnTypeInt32, 0);
    table.AddColumn("type", kColumnTypeString, 0);
    table.AddColumn("title", kColumnTypeString, 0);
    table.AddColumn("options", kColumnTypeInt32, 0);
    table.AddColumn("playlist", kColumnTypeBlob, 0);
    table.AddColumn("flags", kColumnTypeString, 0);
  }

  void Add(const Row& row) {
    RefPtr<RecordSet> set;
    ASSERT_EQ(table.OpenRecordSet(&set), rc::kOk);
    ASSERT_EQ(set->AddNew(), rc::kOk);
    set->SetInt("fid", static_cast<int32_t>(row.fid));
    set->SetInt("fid_generation", static_cast<int32_t>(row.generation));
    set->SetString("type", row.type);
    set->SetString("title", "t" + std::to_string(row.fid));
    set->SetInt("options", static_cast<int32_t>(row.options));
    set->SetBlob("playlist", row.playlist.data(), static_cast<uint32_t>(row.playlist.size()));
    set->SetString("flags", "stale");
    ASSERT_EQ(set->Update(), rc::kOk);
    ASSERT_EQ(table.Compact(nullptr), rc::kOk);  // as a database loaded from the player
  }

  // Runs the whole walk and returns the members (as fids) per playlist fid.
  std::map<uint32_t, std::vector<uint32_t>> Walk(bool nested = false) {
    TarnuRowCollector collector(nullptr, &visitor);
    collector.set_nested_playlists(nested);
    EXPECT_EQ(ForEachRow(&collector, &table), rc::kOk);
    EXPECT_EQ(collector.WalkPlaylists(), rc::kOk);
    std::map<uint32_t, std::vector<uint32_t>> out;
    for (const auto& walk : visitor.walks) {
      std::vector<uint32_t> fids;
      for (uint32_t handle : walk.second) fids.push_back(handle - 7);
      EXPECT_EQ(out.count(walk.first - 7), 0u) << "a playlist walked twice";
      out[walk.first - 7] = fids;
    }
    return out;
  }

  ColumnTable table{1, 1};
  RecordingVisitor visitor;
};

TEST_F(TarnuRowCollectorTest, RowsBecomeFilesWithFlagsFromOptions) {
  Add({0x120, "track", "", 1, 0x400});
  Add({0x130, "track", "", 1, 0x401});
  Add({0x140, "track", "", 1, 0});
  Add({0x100, "playlist", PlainMemberList({0x120})});

  struct ListAll : HolderVisitor {
    bool Visit(PropertyHolder& item) override {
      RefPtr<PropertySet> set = item.GetSet();
      fids.push_back(static_cast<uint32_t>(set->GetInt("fid")));
      flags.push_back(set->GetString("flags"));
      EXPECT_LT(set->FindColumn("playlist"), 0);
      EXPECT_EQ(set->GetString("title"), "t" + std::to_string(fids.back()));
      return true;
    }
    std::vector<uint32_t> fids;
    std::vector<std::string> flags;
  } list;
  TarnuRowCollector collector(&list, nullptr);
  ASSERT_EQ(ForEachRow(&collector, &table), rc::kOk);
  EXPECT_EQ(list.fids, (std::vector<uint32_t>{0x120, 0x130, 0x140, 0x100}));
  EXPECT_EQ(list.flags, (std::vector<std::string>{";autosync;", ";autosync;", "", ""}));
  EXPECT_EQ(collector.WalkPlaylists(), rc::kOk);  // nothing to walk without a visitor
}

TEST_F(TarnuRowCollectorTest, ListOrVisitorAnsweringFalseStopsTheWalk) {
  for (uint32_t fid = 0x120; fid < 0x160; fid += 0x10) Add({fid, "track", ""});
  struct StopAtSecond : HolderVisitor {
    bool Visit(PropertyHolder&) override { return ++seen < 2; }
    int seen = 0;
  } list;
  TarnuRowCollector by_list(&list, nullptr);
  EXPECT_EQ(ForEachRow(&by_list, &table), rc::kEnumerationStopped);
  EXPECT_EQ(list.seen, 2);

  visitor.stop_after = 3;
  TarnuRowCollector by_visitor(nullptr, &visitor);
  EXPECT_EQ(ForEachRow(&by_visitor, &table), rc::kEnumerationStopped);
  EXPECT_EQ(visitor.items.size(), 3u);
}

TEST_F(TarnuRowCollectorTest, WithoutARootRowARootListsEveryPlaylist) {
  Add({0x120, "track", ""});
  Add({0x150, "playlist", PlainMemberList({0x120})});
  Add({0x140, "playlist", PlainMemberList({})});
  auto walks = Walk();
  ASSERT_EQ(visitor.items.size(), 4u);
  const RecordingVisitor::Item& root = visitor.items.back();
  EXPECT_TRUE(root.root);
  EXPECT_EQ(root.fid, 0x100u);
  EXPECT_EQ(walks[0x100], (std::vector<uint32_t>{0x140, 0x150}));
  EXPECT_EQ(walks[0x150], (std::vector<uint32_t>{0x120}));
  EXPECT_TRUE(walks[0x140].empty());
  // Playlists are walked in ascending fid order, the made-up root last.
  ASSERT_EQ(visitor.walks.size(), 3u);
  EXPECT_EQ(visitor.walks[0].first, 0x140u + 7);
  EXPECT_EQ(visitor.walks[2].first, 0x100u + 7);
}

TEST_F(TarnuRowCollectorTest, RootKeepsItsPlaylistsAndGainsTheOthers) {
  Add({0x120, "track", ""});
  Add({0x100, "playlist", PlainMemberList({0x170, 0x120, 0x100, 0x999})});
  Add({0x150, "playlist", PlainMemberList({})});
  Add({0x170, "playlist", PlainMemberList({0x120, 0x150})});
  auto walks = Walk();
  EXPECT_TRUE(visitor.items[1].root);
  // The track, itself and an unknown fid are dropped; 0x150 is appended.
  EXPECT_EQ(walks[0x100], (std::vector<uint32_t>{0x170, 0x150}));
  // Without nested playlists a playlist lists only files.
  EXPECT_EQ(walks[0x170], (std::vector<uint32_t>{0x120}));
  EXPECT_EQ(visitor.walks.size(), 3u);  // no root made up
}

TEST_F(TarnuRowCollectorTest, NestedPlaylistsKeepWhatTheListsName) {
  Add({0x120, "track", ""});
  Add({0x100, "playlist", PlainMemberList({0x170, 0x120})});
  Add({0x150, "playlist", PlainMemberList({})});
  Add({0x170, "playlist", PlainMemberList({0x120, 0x150, 0x170})});
  auto walks = Walk(true);
  EXPECT_EQ(walks[0x100], (std::vector<uint32_t>{0x170, 0x120}));
  EXPECT_EQ(walks[0x170], (std::vector<uint32_t>{0x120, 0x150}));  // never itself
}

TEST_F(TarnuRowCollectorTest, PairedEntriesNeedTheirGenerationAndAProperFid) {
  Add({0x110, "track", "", 3});
  Add({0x120, "track", "", 4});
  Add({0x130, "track", "", 5});
  Add({0x125, "track", "", 6});
  Add({0x140, "playlist",
       Paired({{0x120, 4}, {0x130, 9}, {0x110, 3}, {0x125, 6}, {0x130, 5}, {0x200, 0}})});
  auto walks = Walk();
  EXPECT_EQ(walks[0x140], (std::vector<uint32_t>{0x120, 0x130}));
}

TEST_F(TarnuRowCollectorTest, MalformedListsHaveNoMembers) {
  Add({0x120, "track", ""});
  Add({0x140, "playlist", PlainMemberList({0x120}).substr(0, 3) + "xyz"});  // 6 bytes
  Add({0x150, "playlist", PlainMemberList({0x120}) + "x"});                 // not whole words
  Add({0x160, "playlist", Paired({{0x120, 1}}).substr(0, 8)});    // header and half an entry
  Add({0x170, "playlist", ""});
  auto walks = Walk();
  for (uint32_t fid : {0x140u, 0x150u, 0x160u, 0x170u}) {
    ASSERT_EQ(walks.count(fid), 1u) << std::hex << fid;
    EXPECT_TRUE(walks[fid].empty()) << std::hex << fid;
  }
}

TEST(PlaylistListTest, FormsAreToldApartByTheFirstByte) {
  const std::string plain("\x20\x01\0\0\x30\x01\0\0", 8);
  DecodedPlaylistList list =
      DecodePlaylistList(reinterpret_cast<const uint8_t*>(plain.data()), plain.size());
  EXPECT_EQ(list.form, PlaylistListForm::kPlain);
  EXPECT_EQ(list.members, (std::vector<PlaylistMember>{{0x120, 0}, {0x130, 0}}));

  const std::string paired = EncodePairedList({{0x120, 7}});
  EXPECT_EQ(paired, std::string("\xFF\x02\0\0\x20\x01\0\0\x07\0\0\0", 12));
  list = DecodePlaylistList(reinterpret_cast<const uint8_t*>(paired.data()), paired.size());
  EXPECT_EQ(list.form, PlaylistListForm::kPaired);
  EXPECT_EQ(list.members, (std::vector<PlaylistMember>{{0x120, 7}}));

  EXPECT_EQ(EncodePairedList({}), std::string("\xFF\x02\0\0", 4));
  EXPECT_EQ(DecodePlaylistList(nullptr, 0).form, PlaylistListForm::kEmpty);
  EXPECT_EQ(DecodePlaylistList(reinterpret_cast<const uint8_t*>(paired.data()), 6).form,
            PlaylistListForm::kEmpty);
}

}  // namespace
