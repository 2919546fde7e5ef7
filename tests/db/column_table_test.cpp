// The column table itself: row objects, write-back in place or as open rows, deletion,
// compaction with its pools and sort orders, FindRow, and memory that runs out.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "db/column_table.h"
#include "db/db_results.h"
#include "db/table_fixture.h"
#include "support/collation.h"

namespace {

// Five compacted tracks: fids 0x10..0x50, titles "Alpha".."Echo".
class MusicTable : public ::testing::Test {
 protected:
  void SetUp() override {
    AddMusicColumns(&table_);
    const char* const titles[] = {"Alpha", "Bravo", "Charlie", "Delta", "Echo"};
    for (int32_t i = 0; i < 5; ++i)
      AddTrack(&table_, {0x10 * (i + 1), titles[i], "Artist", "prof", i, 2000 + i});
    ASSERT_EQ(table_.Compact(nullptr), rc::kOk);
  }

  ColumnTable table_{8, 3, nullptr};
};

class CountingListener : public TableChangeListener {
 public:
  void OnTableChanged(ColumnTable*) override { ++calls; }
  int calls = 0;
};

TEST(ColumnTableColumns, NamesAreExactAndValidated) {
  ColumnTable table(8, 3, nullptr);
  EXPECT_EQ(table.AddColumn("title", kColumnTypeString, 0), rc::kOk);
  EXPECT_EQ(table.AddColumn("two words", kColumnTypeString, 0), rc::kInvalidArg);
  EXPECT_EQ(table.AddColumn("odd", 5, 0), rc::kInvalidArg);
  EXPECT_EQ(table.FindColumn("title"), 0);
  EXPECT_EQ(table.FindColumn("Title"), -1);
  table.SetColumnCompare(7, ArticleSkippingCompare);  // ignored
  table.SetColumnCompare(0, ArticleSkippingCompare);
  EXPECT_EQ(table.Column(0).compare, &ArticleSkippingCompare);
}

TEST_F(MusicTable, GetRowGivesCopiesOfLiveRowsAndOpenRowsOtherwise) {
  RefPtr<ColumnRow> first = table_.GetRow(1, false);
  RefPtr<ColumnRow> second = table_.GetRow(1, false);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(first->GetText(1), "Bravo");
  EXPECT_TRUE(table_.OpenRows().empty());

  table_.DeleteRow(1);
  EXPECT_FALSE(table_.GetRow(1, false));
  RefPtr<ColumnRow> made = table_.GetRow(1, true);
  ASSERT_TRUE(made);
  EXPECT_EQ(table_.OpenRow(1), made.Get());
  EXPECT_EQ(made->GetText(1), "");
  EXPECT_EQ(table_.GetRow(1, false).Get(), made.Get());
}

TEST_F(MusicTable, TextAlreadyInThePoolIsWrittenInPlace) {
  RefPtr<ColumnRow> row = table_.GetRow(2, false);
  row->SetText(1, "Echo");
  row->SetInt(4, 300);  // a byte column keeps the low byte
  ASSERT_EQ(table_.WriteBack(row.Get()), rc::kOk);
  EXPECT_TRUE(table_.OpenRows().empty());
  EXPECT_FALSE(table_.IsDeleted(2));
  EXPECT_STREQ(table_.ColumnText(1, 2), "Echo");
  EXPECT_EQ(table_.ColumnInt(4, 2), 300 & 0xFF);
}

TEST_F(MusicTable, NewTextMakesAnOpenRowInItsOwnPlace) {
  RefPtr<ColumnRow> row = table_.GetRow(2, false);
  row->SetText(1, "Zulu");
  ASSERT_EQ(table_.WriteBack(row.Get()), rc::kOk);
  EXPECT_TRUE(table_.IsDeleted(2));
  EXPECT_TRUE(row->detached());
  EXPECT_EQ(table_.OpenRow(2), row.Get());
  EXPECT_FALSE(row->packed().empty());
  EXPECT_EQ(ScanColumn(&table_, "title"),
            (std::vector<std::string>{"Alpha", "Bravo", "Zulu", "Delta", "Echo"}));

  // Back to a pooled text: written in place again, and the open row is dropped.
  RefPtr<ColumnRow> again = table_.GetRow(2, false);
  ASSERT_EQ(again.Get(), row.Get());
  again->SetText(1, "Charlie");
  ASSERT_EQ(table_.WriteBack(again.Get()), rc::kOk);
  EXPECT_FALSE(table_.IsDeleted(2));
  EXPECT_TRUE(table_.OpenRows().empty());
}

TEST_F(MusicTable, BlobKeepsItsPlaceOnlyAtTheSameLength) {
  RefPtr<ColumnRow> row = table_.GetRow(0, false);
  row->SetBlob(3, "PROF", 4);
  ASSERT_EQ(table_.WriteBack(row.Get()), rc::kOk);
  EXPECT_TRUE(table_.OpenRows().empty());
  uint32_t length = 0;
  const uint8_t* blob = table_.ColumnBlob(3, 0, &length);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob), length), "PROF");

  row = table_.GetRow(0, false);
  row->SetBlob(3, "longer", 6);
  ASSERT_EQ(table_.WriteBack(row.Get()), rc::kOk);
  EXPECT_TRUE(table_.IsDeleted(0));
}

TEST_F(MusicTable, CellConversionsAndKindErrors) {
  RefPtr<ColumnRow> row = table_.GetRow(0, false);
  EXPECT_EQ(row->SetText(0, "0x20"), rc::kOk);
  EXPECT_EQ(row->GetInt(0), 0x20);
  EXPECT_EQ(row->SetText(0, "-2"), rc::kOk);
  EXPECT_EQ(row->GetInt(0), -2);
  EXPECT_EQ(row->SetText(0, " 4000000000"), rc::kOk);  // read as unsigned
  EXPECT_EQ(row->GetInt(0), static_cast<int32_t>(4000000000u));
  EXPECT_EQ(row->SetText(0, "99999999999"), rc::kOk);  // saturates
  EXPECT_EQ(row->GetInt(0), -1);
  EXPECT_EQ(row->SetText(0, "track"), rc::kOk);
  EXPECT_EQ(row->GetInt(0), 0);
  EXPECT_EQ(row->SetInt(1, -17), rc::kOk);
  EXPECT_EQ(row->GetText(1), "-17");
  EXPECT_EQ(row->GetInt(1), 0);  // a row object reads no number from a text
  EXPECT_EQ(row->SetInt(3, 1), rc::kIncompatibleTypes);
  EXPECT_EQ(row->SetBlob(1, "x", 1), rc::kIncompatibleTypes);
  EXPECT_EQ(row->SetText(3, "bytes"), rc::kOk);
  uint32_t length = 0;
  row->GetBlob(3, &length);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(row->SetInt(9, 1), rc::kNotFound);
  EXPECT_EQ(row->SetText(-1, "x"), rc::kNotFound);
  // An open row carries at most 120000 blob bytes in the stream.
  const std::string big(kMaxPackedBlob + 1, 'b');
  EXPECT_EQ(row->SetBlob(3, big.data(), static_cast<uint32_t>(big.size())), rc::kInvalidArg);
}

TEST(ColumnRowPacking, AlignmentFollowsTheValueKinds) {
  ColumnTable table(1, 1, nullptr);
  table.AddColumn("s", kColumnTypeString, 0);
  table.AddColumn("i", kColumnTypeInt32, 0);
  table.AddColumn("b", kColumnTypeByte, 0);
  table.AddColumn("h", kColumnTypeInt16, 0);
  table.AddColumn("blob", kColumnTypeBlob, 0);
  RefPtr<ColumnRow> row = table.GetRow(0, true);
  row->SetText(0, "ab");
  row->SetInt(1, 0x01020304);
  row->SetInt(2, 0xEE);
  row->SetInt(3, -2);
  row->SetBlob(4, "Z", 1);
  // "ab\0", pad to 4, int32; byte at 8; int16 at 9 without padding; blob length at 12.
  const std::string expected("ab\0\0\x04\x03\x02\x01\xEE\xFE\xFF\0\x01\0\0\0Z", 17);
  EXPECT_EQ(row->Pack(), expected);

  RefPtr<ColumnRow> copy = table.GetRow(1, true);
  ASSERT_EQ(copy->Unpack(reinterpret_cast<const uint8_t*>(expected.data()), 17), rc::kOk);
  EXPECT_EQ(copy->GetText(0), "ab");
  EXPECT_EQ(copy->GetInt(1), 0x01020304);
  EXPECT_EQ(copy->GetInt(2), 0xEE);
  EXPECT_EQ(copy->GetInt(3), -2);
  EXPECT_EQ(copy->Unpack(reinterpret_cast<const uint8_t*>(expected.data()), 16), rc::kBadData);
}

TEST_F(MusicTable, ListenerHearsDeletionsAndCompaction) {
  CountingListener listener;
  table_.SetListener(&listener);
  table_.MarkDeleted(0);
  EXPECT_EQ(listener.calls, 1);
  table_.Undelete(0);
  EXPECT_EQ(listener.calls, 2);
  table_.DeleteRow(1);
  EXPECT_EQ(listener.calls, 4);
  table_.Compact(nullptr);
  EXPECT_EQ(listener.calls, 5);
  table_.SetListener(nullptr);
}

// Records the data size the table reports at each notification.
class SizeListener : public TableChangeListener {
 public:
  void OnTableChanged(ColumnTable* table) override { sizes.push_back(table->GetDataSize()); }
  std::vector<uint64_t> sizes;
};

TEST_F(MusicTable, ListenerIsToldOnceTheOpenRowIsSettled) {
  SizeListener listener;
  table_.SetListener(&listener);
  RefPtr<ColumnRow> row = table_.GetRow(2, false);
  row->SetText(1, "A title that the pool does not hold yet");
  ASSERT_EQ(table_.WriteBack(row.Get()), rc::kOk);
  table_.SetListener(nullptr);
  EXPECT_EQ(listener.sizes, (std::vector<uint64_t>{table_.GetDataSize()}));
}

TEST_F(MusicTable, UndeleteOfARowWithAnOpenRowLeavesItLiveOnce) {
  RefPtr<ColumnRow> row = table_.GetRow(1, false);
  row->SetText(1, "Bravo Edited");
  ASSERT_EQ(table_.WriteBack(row.Get()), rc::kOk);
  table_.Undelete(1);
  EXPECT_EQ(table_.OpenRow(1), nullptr) << "the column copy is the row again";
  EXPECT_EQ(ScanColumn(&table_, "title"),
            (std::vector<std::string>{"Alpha", "Bravo", "Charlie", "Delta", "Echo"}));
  RefPtr<RecordSet> found;
  ASSERT_EQ(table_.FindRow(&found, 0x20), rc::kOk);
  EXPECT_EQ(found->GetString("title"), "Bravo");
  ASSERT_EQ(table_.Compact(nullptr), rc::kOk);
  EXPECT_EQ(table_.RowCount(), 5u);
}

class RecordingProgress : public CompactProgress {
 public:
  void Report(uint32_t done, uint32_t total) override { steps.emplace_back(done, total); }
  std::vector<std::pair<uint32_t, uint32_t>> steps;
};

TEST_F(MusicTable, CompactRenumbersLiveRowsThenOpenRows) {
  table_.DeleteRow(1);
  RefPtr<ColumnRow> edited = table_.GetRow(3, false);
  edited->SetText(1, "Alpha Prime");
  table_.WriteBack(edited.Get());
  AddTrack(&table_, {0x99, "Bravo", "Other", "", 1, 1999});
  const uint32_t next = table_.PeekNextRowNumber();

  RecordingProgress progress;
  ASSERT_EQ(table_.Compact(&progress), rc::kOk);
  EXPECT_EQ(table_.RowCount(), 5u);  // 3 live + 2 open
  EXPECT_FALSE(table_.HasDeletedBitmap());
  EXPECT_TRUE(table_.OpenRows().empty());
  EXPECT_EQ(table_.PeekNextRowNumber(), next);
  EXPECT_EQ(ScanColumn(&table_, "fid"),
            (std::vector<std::string>{"16", "48", "80", "64", "153"}));
  const std::vector<std::pair<uint32_t, uint32_t>> steps = {{0, 7}, {1, 7}, {2, 7}, {3, 7},
                                                            {4, 7}, {5, 7}, {7, 7}};
  EXPECT_EQ(progress.steps, steps);

  // Each title once, in the default order ("Bravo" comes back with the new track).
  uint32_t size = 0;
  const char* pool = table_.Pool(1, &size);
  EXPECT_EQ(std::string(pool, size), std::string("Alpha\0Alpha Prime\0Bravo\0Charlie\0Echo\0", 37));
  const uint32_t* order = table_.SortOrder(5);  // years 2000, 2002, 2004, 2003, 1999
  ASSERT_NE(order, nullptr);
  EXPECT_EQ(std::vector<uint32_t>(order, order + 5), (std::vector<uint32_t>{4, 0, 1, 3, 2}));
}

int CaseBlindCompare(const char* a, const char* b) { return CompareFolded(a, b, nullptr); }

// Texts that the column's order calls equal keep entries of their own, in the default text order
// among themselves, so that no row's text is replaced by another.
TEST(ColumnTableCompact, TextsCalledEqualKeepEntriesOfTheirOwn) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  table.SetColumnCompare(2, CaseBlindCompare);
  for (const char* artist : {"ABBA", "Cream", "abba", "Abba"})
    AddTrack(&table, {1, "t", artist, "", 0, 0});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  uint32_t size = 0;
  const char* pool = table.Pool(2, &size);
  EXPECT_EQ(std::string(pool, size), std::string("ABBA\0Abba\0abba\0Cream\0", 21));
  EXPECT_EQ(ScanColumn(&table, "artist"),
            (std::vector<std::string>{"ABBA", "Cream", "abba", "Abba"}));
}

TEST(ColumnTableCompact, ArtistsSortPastTheirArticles) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  for (const char* artist : {"The Police", "Cream", "Abba", "Die Ärzte", "a-ha", "Les Rita"})
    AddTrack(&table, {1, "t", artist, "", 0, 0});
  table.SetColumnCompare(2, ArticleSkippingCompare);
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  uint32_t size = 0;
  const char* pool = table.Pool(2, &size);
  EXPECT_EQ(std::string(pool, size),
            std::string("Abba\0a-ha\0Die \xC3\x84rzte\0Cream\0The Police\0Les Rita\0", 47));
}

TEST_F(MusicTable, FindRowUsesOpenRowsThenColumnZero) {
  RefPtr<RecordSet> found;
  ASSERT_EQ(table_.FindRow(&found, 0x30), rc::kOk);
  EXPECT_EQ(found->GetString("title"), "Charlie");

  // A row added and not yet written back is found through its open row object.
  RefPtr<RecordSet> set;
  table_.OpenRecordSet(&set);
  set->AddNew();
  set->SetInt("fid", 0x77);
  ASSERT_EQ(table_.FindRow(&found, 0x77), rc::kOk);
  EXPECT_EQ(found->GetInt("fid"), 0x77);

  table_.DeleteRow(2);
  RefPtr<RecordSet> kept = found;
  EXPECT_EQ(table_.FindRow(&found, 0x30), rc::kNotFound);
  EXPECT_EQ(found.Get(), kept.Get());  // left as it was
  EXPECT_EQ(table_.FindRow(&found, 0x31), rc::kNotFound);
}

TEST_F(MusicTable, FindRowAfterColumnZeroChangedInPlace) {
  RefPtr<ColumnRow> row = table_.GetRow(1, false);
  row->SetInt(0, 0x55);  // between 0x50 and the end of the sort order
  ASSERT_EQ(table_.WriteBack(row.Get()), rc::kOk);
  RefPtr<RecordSet> found;
  ASSERT_EQ(table_.FindRow(&found, 0x55), rc::kOk);
  EXPECT_EQ(found->GetString("title"), "Bravo");
  EXPECT_EQ(table_.FindRow(&found, 0x20), rc::kNotFound);
}

TEST(ColumnTableFindRow, ColumnZeroWithoutSortOrder) {
  ColumnTable table(8, 3, nullptr);
  table.AddColumn("fid", kColumnTypeInt32, 0);
  table.AddColumn("title", kColumnTypeString, 0);
  for (int32_t fid : {7, 3, 9}) {
    RefPtr<RecordSet> set;
    table.OpenRecordSet(&set);
    set->AddNew();
    set->SetInt(0, fid);
    set->SetString(1, "t" + std::to_string(fid));
    set->Update();
  }
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  ASSERT_EQ(table.SortOrder(0), nullptr);
  RefPtr<RecordSet> found;
  ASSERT_EQ(table.FindRow(&found, 9), rc::kOk);
  EXPECT_EQ(found->GetString(1), "t9");
  EXPECT_EQ(table.FindRow(&found, 4), rc::kNotFound);
}

TEST_F(MusicTable, FindRowSkipsADeletedDuplicateKey) {
  RefPtr<ColumnRow> row = table_.GetRow(3, false);
  row->SetInt(0, 0x20);  // rows 1 and 3 now both hold 0x20
  table_.WriteBack(row.Get());
  table_.Compact(nullptr);
  table_.DeleteRow(1);
  RefPtr<RecordSet> found;
  ASSERT_EQ(table_.FindRow(&found, 0x20), rc::kOk);
  EXPECT_EQ(found->GetString("title"), "Delta");
}

TEST_F(MusicTable, DataSizeCountsColumnsAndOpenRows) {
  // fid 20 + titles (pool 31 + 20) + artists (pool 7 + 20) + profile area 20 + ratings 5
  // + years 10.
  EXPECT_EQ(table_.GetDataSize(), 20u + 51u + 27u + 20u + 5u + 10u);
  AddTrack(&table_, {1, "x", "y", "", 0, 0});
  EXPECT_EQ(table_.GetDataSize(), 133u + table_.OpenRow(5)->packed().size());
}

// Hands out a fixed number of blocks, then none; counts what is still held.
class LimitedAllocator : public RecordAllocator {
 public:
  explicit LimitedAllocator(int blocks) : left_(blocks) {}
  void* Allocate(uint32_t size, uint32_t, uint32_t) override {
    if (left_ == 0) return nullptr;
    --left_;
    ++held;
    return Default()->Allocate(size, 0, 0);
  }
  void Free(void* block, uint32_t, uint32_t) override {
    --held;
    Default()->Free(block, 0, 0);
  }
  void* Reallocate(void* block, uint32_t size, uint32_t) override { return nullptr; }
  int held = 0;

 private:
  int left_;
};

TEST(ColumnTableMemory, LoadAndCompactSurviveExhaustion) {
  ColumnTable source(8, 3, nullptr);
  AddMusicColumns(&source);
  for (int32_t i = 0; i < 6; ++i) AddTrack(&source, {i, "t" + std::to_string(i), "a", "p", i, i});
  ASSERT_EQ(source.Compact(nullptr), rc::kOk);
  const std::string bytes = StreamOf(source);

  for (int blocks = 0; blocks < 12; ++blocks) {
    SCOPED_TRACE(blocks);
    LimitedAllocator allocator(blocks);
    {
      ColumnTable table(8, 3, &allocator);
      const Result result = LoadBytes(&table, bytes);
      if (result != rc::kOk) {
        EXPECT_EQ(result, rc::kOutOfMemory);
        EXPECT_TRUE(IsEmptied(table));
        EXPECT_EQ(allocator.held, 0);
      }
    }
    EXPECT_EQ(allocator.held, 0);
  }

  // Enough for the load, not for a compaction: the table stays as it was.
  LimitedAllocator allocator(11);  // two blocks per column, one for the bytes
  ColumnTable table(8, 3, &allocator);
  ASSERT_EQ(LoadBytes(&table, bytes), rc::kOk);
  table.DeleteRow(0);
  const std::string before = StreamOf(table);
  EXPECT_EQ(table.Compact(nullptr), rc::kOutOfMemory);
  EXPECT_EQ(StreamOf(table), before);
}

}  // namespace
