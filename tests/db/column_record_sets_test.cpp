// The record sets over a column table: the scan, the one-row set, the sorted and the grouped
// sets, their reads, edits and deletions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/column_table.h"
#include "db/table_fixture.h"
#include "support/collation.h"

namespace {

using Texts = std::vector<std::string>;

struct Group {
  std::string text;
  int32_t count;
  bool operator==(const Group& o) const { return text == o.text && count == o.count; }
};

std::vector<Group> Groups(RecordSet* set) {
  std::vector<Group> groups;
  for (; !set->IsEOF(); set->MoveNext()) groups.push_back({set->GetString(0), set->GetInt("count")});
  return groups;
}

// Artists with articles, case variants and shared names, compacted in the players' order.
class ArtistTable : public ::testing::Test {
 protected:
  void SetUp() override {
    AddMusicColumns(&table_);
    const char* const artists[] = {"The Beatles", "abba", "Cream", "Beatles", "ABBA",
                                   "Abba",        "The Cure", "Cream", "Les Rita"};
    int32_t fid = 1;
    for (const char* artist : artists) AddTrack(&table_, {fid++, "t", artist, "", 0, 0});
    table_.SetColumnCompare(2, ArticleSkippingCompare);
    ASSERT_EQ(table_.Compact(nullptr), rc::kOk);
  }

  ColumnTable table_{8, 3, nullptr};
};

TEST_F(ArtistTable, SortedSetFollowsThePoolAndKeepsRowOrderForEqualTexts) {
  RefPtr<RecordSet> set = Execute(&table_, "artist", nullptr);
  EXPECT_EQ(Column(set.Get(), "artist"),
            (Texts{"ABBA", "Abba", "abba", "Beatles", "The Beatles", "Cream", "Cream",
                   "The Cure", "Les Rita"}));
  set = Execute(&table_, "artist", nullptr);
  EXPECT_EQ(Column(set.Get(), "fid"), (Texts{"5", "6", "2", "4", "1", "3", "8", "7", "9"}));
}

TEST_F(ArtistTable, GroupsJoinAdjacentEntriesThatFoldAlike) {
  RefPtr<RecordSet> set = Execute(&table_, nullptr, "artist");
  EXPECT_EQ(Groups(set.Get()), (std::vector<Group>{{"ABBA", 3},
                                                   {"Beatles", 1},
                                                   {"The Beatles", 1},
                                                   {"Cream", 2},
                                                   {"The Cure", 1},
                                                   {"Les Rita", 1}}));
}

TEST_F(ArtistTable, GroupsCountOnlyRowsThatPassTheFilter) {
  RefPtr<RecordQuery> query;
  table_.CreateQuery(&query);
  query->AddGroupColumn("artist");
  query->AddIntCondition("fid", kOpGreater, 4);
  RefPtr<RecordSet> set;
  query->Execute(&set);
  // fids 5, 6 (ABBA, Abba), 7 The Cure, 8 Cream, 9 Les Rita; abba (2) is filtered out.
  EXPECT_EQ(Groups(set.Get()),
            (std::vector<Group>{{"ABBA", 2}, {"Cream", 1}, {"The Cure", 1}, {"Les Rita", 1}}));
}

TEST_F(ArtistTable, GroupedSetHasTwoReadOnlyColumns) {
  RefPtr<RecordSet> set = Execute(&table_, nullptr, "artist");
  EXPECT_EQ(set->FindColumn("artist"), 0);
  EXPECT_EQ(set->FindColumn("count"), 1);
  EXPECT_EQ(set->FindColumn("title"), -1);
  EXPECT_EQ(set->GetColumnName(1), "count");
  EXPECT_EQ(set->GetColumnName(2), "");
  ColumnKind kind = kColumnInt;
  EXPECT_EQ(set->GetColumnType(0, &kind), rc::kOk);
  EXPECT_EQ(kind, kColumnText);
  EXPECT_EQ(set->GetColumnType(1, &kind), rc::kBadIndex);
  EXPECT_EQ(set->GetColumnType("title", &kind), rc::kNotFound);
  EXPECT_EQ(set->GetString(1), "");
  EXPECT_EQ(set->AddNew(), rc::kNotImplemented);
  EXPECT_EQ(set->SetString(0, "x"), rc::kNotImplemented);
  EXPECT_EQ(set->Update(), rc::kNotImplemented);
  EXPECT_EQ(set->Delete(0), rc::kNotImplemented);
  while (!set->IsEOF()) set->MoveNext();
  EXPECT_EQ(set->GetString(0), "");
  EXPECT_EQ(set->GetInt(1), 0);
}

TEST_F(ArtistTable, DeletedRowsCountThroughTheirOpenRows) {
  // Row 0 (ABBA) edited to a new artist: its open row stands in for it, and it still counts
  // under the entry its column copy points at.
  RefPtr<ColumnRow> row = table_.GetRow(0, false);
  row->SetText(2, "Zappa");
  table_.WriteBack(row.Get());
  table_.DeleteRow(1);  // Abba, gone
  RefPtr<RecordSet> set = Execute(&table_, nullptr, "artist");
  EXPECT_EQ(Groups(set.Get()).front(), (Group{"ABBA", 2}));
}

TEST(ColumnRecordSets, SortedAndGroupedNeedTheirKindOfColumn) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  table.AddColumn("plays", kColumnTypeInt32, 0);
  for (int32_t i = 0; i < 4; ++i) AddTrack(&table, {10 - i, "t", "a", "p", 0, 2000 - i});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  EXPECT_EQ(Column(Execute(&table, "fid", nullptr).Get(), "fid"), (Texts{"7", "8", "9", "10"}));
  EXPECT_EQ(Column(Execute(&table, "year", nullptr).Get(), "year"),
            (Texts{"1997", "1998", "1999", "2000"}));
  for (const char* column : {"profile", "plays", "nothing"}) {
    SCOPED_TRACE(column);
    EXPECT_TRUE(Execute(&table, column, nullptr)->IsEOF());
  }
  for (const char* column : {"fid", "profile", "nothing"}) {
    SCOPED_TRACE(column);
    EXPECT_TRUE(Execute(&table, nullptr, column)->IsEOF());
  }
}

TEST(ColumnRecordSets, TableOfOpenRowsAloneShowsEmptySets) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  AddTrack(&table, {1, "t", "a", "", 0, 0});
  AddTrack(&table, {2, "u", "b", "", 0, 0});
  EXPECT_TRUE(ScanColumn(&table, "fid").empty());
  EXPECT_TRUE(Execute(&table, "fid", nullptr)->IsEOF());
  EXPECT_TRUE(Execute(&table, nullptr, "artist")->IsEOF());
  RefPtr<RecordSet> found;
  EXPECT_EQ(table.FindRow(&found, 2), rc::kOk);  // FindRow still sees them
}

TEST(ColumnRecordSets, ScanShowsEditsInPlaceAndAddedRowsAfterTheColumns) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  for (int32_t i = 1; i <= 3; ++i) AddTrack(&table, {i, "t" + std::to_string(i), "a", "", 0, 0});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  AddTrack(&table, {4, "t4", "a", "", 0, 0});
  AddTrack(&table, {5, "t5", "a", "", 0, 0});
  RefPtr<RecordSet> set;
  table.OpenRecordSet(&set);
  set->MoveNext();
  ASSERT_EQ(set->SetString("title", "changed"), rc::kOk);
  ASSERT_EQ(set->Update(), rc::kOk);
  EXPECT_EQ(set->GetString("title"), "changed");  // the set still reads its own row
  EXPECT_EQ(ScanColumn(&table, "title"), (Texts{"t1", "changed", "t3", "t4", "t5"}));
}

TEST(ColumnRecordSets, ValuesReadAsTextAndNumbers) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  AddTrack(&table, {0, "  -12 bars", "a", "xyz", 250, -3});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  RefPtr<RecordSet> set;
  table.OpenRecordSet(&set);
  EXPECT_EQ(set->GetString("fid"), "");  // an int32 of 0 reads as no text
  EXPECT_EQ(set->GetInt("fid"), 0);
  EXPECT_EQ(set->GetInt("title"), -12);
  EXPECT_EQ(set->GetString("rating"), "250");
  EXPECT_EQ(set->GetString("year"), "-3");
  EXPECT_EQ(set->GetInt64("year"), -3);
  EXPECT_EQ(set->GetString("profile"), "xyz");
  EXPECT_EQ(set->GetInt("profile"), 0);
  uint32_t length = 9;
  EXPECT_EQ(set->GetBlob("title", &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(set->GetString("nothing"), "");
  EXPECT_EQ(set->GetInt("nothing"), 0);
  EXPECT_EQ(set->SetString("nothing", "x"), rc::kNotFound);
  EXPECT_EQ(set->SetInt64("year", 5), rc::kNotImplemented);
  EXPECT_EQ(set->GetRowKey(), "");
  ColumnKind kind;
  EXPECT_EQ(set->GetColumnType(6, &kind), rc::kBadIndex);
  EXPECT_EQ(set->GetColumnType("profile", &kind), rc::kOk);
  EXPECT_EQ(kind, kColumnBinary);
}

TEST(ColumnRecordSets, DeleteOneRowOrEveryRowToTheEnd) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  for (int32_t i = 1; i <= 4; ++i) AddTrack(&table, {i, "t", "a", "", 0, 0});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  AddTrack(&table, {5, "t", "a", "", 0, 0});

  RefPtr<RecordSet> set;
  table.OpenRecordSet(&set);
  set->MoveNext();
  EXPECT_EQ(set->Delete(0), rc::kOk);
  EXPECT_FALSE(set->IsEOF());  // stays on the deleted row
  EXPECT_EQ(ScanColumn(&table, "fid"), (Texts{"1", "3", "4", "5"}));

  table.OpenRecordSet(&set);
  EXPECT_EQ(set->Delete(1), rc::kOk);
  EXPECT_TRUE(set->IsEOF());
  EXPECT_TRUE(ScanColumn(&table, "fid").empty());
  EXPECT_TRUE(table.OpenRows().empty());
  EXPECT_EQ(set->Delete(0), rc::kShortTransfer);
  EXPECT_EQ(set->SetInt("fid", 1), rc::kShortTransfer);  // no row to change at the end
}

TEST(ColumnRecordSets, OneRowSetFromFindRow) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  for (int32_t i = 1; i <= 3; ++i) AddTrack(&table, {i, "t" + std::to_string(i), "a", "", 0, 0});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  RefPtr<RecordSet> set;
  ASSERT_EQ(table.FindRow(&set, 2), rc::kOk);
  EXPECT_FALSE(set->IsEOF());
  set->MoveNext();
  EXPECT_TRUE(set->IsEOF());
  set->MoveFirst();
  EXPECT_EQ(set->GetString("title"), "t2");
  ASSERT_EQ(set->SetString("title", "two"), rc::kOk);
  ASSERT_EQ(set->Update(), rc::kOk);
  EXPECT_EQ(set->GetString("title"), "two");
  EXPECT_EQ(set->Delete(0), rc::kOk);
  EXPECT_TRUE(set->IsEOF());
  EXPECT_EQ(ScanColumn(&table, "title"), (Texts{"t1", "t3"}));
}

}  // namespace
