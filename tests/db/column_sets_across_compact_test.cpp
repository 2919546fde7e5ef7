// Record sets left open while their table is compacted: every column array and pool comes from
// an allocator that puts an inaccessible page right after each block and never reuses freed
// ones, so a set that still read the old pool or a stale position would fault. Such a set ends
// with rc::kStaleRecordSet, reads as empty, refuses edits, and starts afresh at MoveFirst.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/column_table.h"
#include "db/db_results.h"
#include "db/guard_page_allocator.h"
#include "db/table_fixture.h"

namespace {

using Texts = std::vector<std::string>;

// Seven compacted tracks, fids 1 to 7, with a long title first in the pool, so that the pool
// compacted after the first five rows are deleted is much shorter.
void FillTracks(ColumnTable* table) {
  AddMusicColumns(table);
  const char* const titles[] = {"alpha centauri long title", "bravo", "charlie", "delta",
                                "echo",  "foxtrot",   "golf"};
  for (int32_t i = 0; i < 7; ++i) AddTrack(table, {i + 1, titles[i], "x", "p", 0, 2000 + i});
  ASSERT_EQ(table->Compact(nullptr), rc::kOk);
}

// Leaves fids 6 and 7 as rows 0 and 1.
void ShrinkAndCompact(ColumnTable* table) {
  for (uint32_t row = 0; row < 5; ++row) table->DeleteRow(row);
  ASSERT_EQ(table->Compact(nullptr), rc::kOk);
  ASSERT_EQ(table->RowCount(), 2u);
}

class GuardedTable : public ::testing::Test {
 protected:
  void SetUp() override { FillTracks(&table_); }

  GuardPageAllocator allocator_;
  ColumnTable table_{8, 3, &allocator_};
};

struct WalkCase {
  const char* name;
  const char* sort;
  const char* group;
  Texts after_restart;  // column 0 of the set walked again after the Compact
};

TEST(ColumnSetsAcrossCompact, SetsPositionedBeforeACompactEndAsStaleAndRestart) {
  const WalkCase cases[] = {
      {"grouped by title", nullptr, "title", {"foxtrot", "golf"}},
      {"sorted by title", "title", nullptr, {"6", "7"}},
      {"sorted by year", "year", nullptr, {"6", "7"}},
      {"scan", nullptr, nullptr, {"6", "7"}},
  };
  GuardPageAllocator allocator;
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    ColumnTable table(8, 3, &allocator);
    FillTracks(&table);
    RefPtr<RecordSet> set = Execute(&table, c.sort, c.group);
    ASSERT_FALSE(set->IsEOF());
    ASSERT_EQ(set->MoveNext(), rc::kOk);
    ShrinkAndCompact(&table);
    EXPECT_EQ(set->MoveNext(), rc::kStaleRecordSet);
    EXPECT_TRUE(set->IsEOF());
    EXPECT_EQ(set->GetString(0), "");
    EXPECT_EQ(set->MoveNext(), rc::kStaleRecordSet);
    ASSERT_EQ(set->MoveFirst(), rc::kOk);
    Texts seen;
    for (; !set->IsEOF(); set->MoveNext()) seen.push_back(set->GetString(0));
    EXPECT_EQ(seen, c.after_restart);
  }
}

TEST_F(GuardedTable, RowTakenBeforeACompactIsNeitherReadNorWrittenAfterIt) {
  RefPtr<RecordSet> found;
  ASSERT_EQ(table_.FindRow(&found, 2), rc::kOk);  // row 1, "bravo"
  RefPtr<RecordSet> scan;
  table_.OpenRecordSet(&scan);
  ASSERT_EQ(scan->SetString("title", "renamed"), rc::kOk);  // row 0 taken for editing
  ShrinkAndCompact(&table_);  // rows 0 and 1 are now fids 6 and 7

  EXPECT_EQ(found->GetString("title"), "");
  EXPECT_EQ(found->SetString("title", "lost"), rc::kStaleRecordSet);
  EXPECT_EQ(found->Update(), rc::kStaleRecordSet);
  EXPECT_EQ(found->Delete(0), rc::kStaleRecordSet);
  EXPECT_EQ(found->MoveFirst(), rc::kStaleRecordSet);
  EXPECT_EQ(scan->Update(), rc::kStaleRecordSet);
  EXPECT_EQ(scan->Delete(1), rc::kStaleRecordSet);
  EXPECT_EQ(ScanColumn(&table_, "title"), (Texts{"foxtrot", "golf"}));
  EXPECT_EQ(table_.RowCount(), 2u);
  EXPECT_TRUE(table_.OpenRows().empty());

  // AddNew places a set on the table as it is now.
  ASSERT_EQ(scan->AddNew(), rc::kOk);
  ASSERT_EQ(scan->SetInt("fid", 9), rc::kOk);
  ASSERT_EQ(scan->Update(), rc::kOk);
  EXPECT_EQ(ScanColumn(&table_, "fid"), (Texts{"6", "7", "9"}));
}

TEST_F(GuardedTable, LoadAndResetAlsoEndOpenSets) {
  const std::string saved = StreamOf(table_);
  RefPtr<RecordSet> grouped = Execute(&table_, nullptr, "title");
  RefPtr<RecordSet> sorted = Execute(&table_, "title", nullptr);
  ASSERT_EQ(LoadBytes(&table_, saved), rc::kOk);
  EXPECT_EQ(grouped->MoveNext(), rc::kStaleRecordSet);
  EXPECT_EQ(sorted->MoveNext(), rc::kStaleRecordSet);
  sorted->MoveFirst();
  table_.Reset();
  EXPECT_EQ(sorted->MoveNext(), rc::kStaleRecordSet);
}

TEST_F(GuardedTable, EditsInPlaceKeepOpenSetsGoing) {
  RefPtr<RecordSet> sorted = Execute(&table_, "fid", nullptr);
  RefPtr<RecordSet> edit;
  ASSERT_EQ(table_.FindRow(&edit, 3), rc::kOk);
  ASSERT_EQ(edit->SetString("title", "golf"), rc::kOk);  // a text the pool holds
  ASSERT_EQ(edit->Update(), rc::kOk);
  Texts titles;
  for (; !sorted->IsEOF(); sorted->MoveNext()) titles.push_back(sorted->GetString("title"));
  EXPECT_EQ(titles, (Texts{"alpha centauri long title", "bravo", "golf", "delta", "echo",
                           "foxtrot", "golf"}));
}

}  // namespace
