// Texts that the collation confuses (bytes that are no UTF-8, code points above U+FFFF): a row
// written back or compacted keeps its own bytes, Compact merges only texts that differ in case,
// accents or ignored characters, and a pool written before keeps its order and entries.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "db/column_table.h"
#include "db/table_fixture.h"
#include "support/collation.h"

namespace {

using Texts = std::vector<std::string>;

struct ConfusedPair {
  const char* name;
  std::string pooled;   // a title the table holds
  std::string written;  // a different title that the collation calls equal to it
};

const ConfusedPair kConfusedPairs[] = {
    {"Latin-1 bytes", "Bj\xF6rk", "Bj\xE9rk"},
    {"U+1D11E against U+D11E", "\xED\x84\x9E", "\xF0\x9D\x84\x9E"},
    {"U+1F600 against U+F600", "\xEF\x98\x80", "\xF0\x9F\x98\x80"},
    {"overlong encodings", "a\xC0\x81", "a\xC0\x82"},
};

// One compacted row per title, fids 1, 2, ...
void Fill(ColumnTable* table, const Texts& titles) {
  AddMusicColumns(table);
  int32_t fid = 1;
  for (const std::string& title : titles) AddTrack(table, {fid++, title, "a", "", 0, 0});
  ASSERT_EQ(table->Compact(nullptr), rc::kOk);
}

Texts PoolEntries(const ColumnTable& table, int32_t column) {
  uint32_t size = 0;
  const char* pool = table.Pool(column, &size);
  Texts entries;
  for (uint32_t at = 0; at < size; at += static_cast<uint32_t>(entries.back().size()) + 1)
    entries.emplace_back(pool + at);
  return entries;
}

TEST(ColumnTableTexts, PairsTheCollationCallsEqualStillCompareUnequalByBytes) {
  for (const ConfusedPair& c : kConfusedPairs) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CompareCollated(c.pooled.c_str(), c.written.c_str()), 0);
    EXPECT_NE(CollationLostCodePoints(c.pooled.c_str()),
              CollationLostCodePoints(c.written.c_str()));
  }
}

TEST(ColumnTableTexts, WriteBackStoresTheTextGivenNotOneThatCollatesEqual) {
  for (const ConfusedPair& c : kConfusedPairs) {
    SCOPED_TRACE(c.name);
    ColumnTable table(8, 3, nullptr);
    Fill(&table, {"Alpha", c.pooled, "Zulu"});
    RefPtr<ColumnRow> row = table.GetRow(0, false);
    row->SetText(1, c.written);
    ASSERT_EQ(table.WriteBack(row.Get()), rc::kOk);
    EXPECT_EQ(table.OpenRow(0), row.Get()) << "the pool lacks the text: an open row";
    EXPECT_EQ(ScanColumn(&table, "title"), (Texts{c.written, c.pooled, "Zulu"}));

    ColumnTable loaded(8, 3, nullptr);
    ASSERT_EQ(LoadBytes(&loaded, StreamOf(table)), rc::kOk);
    ASSERT_EQ(loaded.Compact(nullptr), rc::kOk);
    ColumnTable again(8, 3, nullptr);
    ASSERT_EQ(LoadBytes(&again, StreamOf(loaded)), rc::kOk);
    EXPECT_EQ(ScanColumn(&again, "title"), (Texts{c.pooled, "Zulu", c.written}));
  }
}

TEST(ColumnTableTexts, CompactKeepsConfusedTextsApartAndWriteBackFindsEachInPlace) {
  for (const ConfusedPair& c : kConfusedPairs) {
    SCOPED_TRACE(c.name);
    ColumnTable table(8, 3, nullptr);
    Fill(&table, {c.written, "Alpha", c.pooled, c.written, "Zulu"});
    EXPECT_EQ(PoolEntries(table, 1).size(), 4u) << "both texts have an entry";
    EXPECT_EQ(ScanColumn(&table, "title"), (Texts{c.written, "Alpha", c.pooled, c.written, "Zulu"}));

    // Either text is found among its equal neighbours and written in place.
    for (const std::string& text : {c.pooled, c.written}) {
      RefPtr<ColumnRow> row = table.GetRow(1, false);
      row->SetText(1, text);
      ASSERT_EQ(table.WriteBack(row.Get()), rc::kOk);
      EXPECT_TRUE(table.OpenRows().empty());
      EXPECT_EQ(table.ColumnText(1, 1), text);
    }
  }
}

int CaseBlindCompare(const char* a, const char* b) { return CompareFolded(a, b, nullptr); }

TEST(ColumnTableTexts, OnlyTrueVariantsMergeUnderAColumnCompare) {
  ColumnTable table(8, 3, nullptr);
  AddMusicColumns(&table);
  table.SetColumnCompare(2, CaseBlindCompare);
  const Texts artists = {"Bj\xF6rk", "BJ\xF6RK", "Bj\xE9rk", "\xF0\x9F\x98\x80", "\xEF\x98\x80",
                         "Sigur R\xC3\xB3s", "sigur ros"};
  int32_t fid = 1;
  for (const std::string& artist : artists) AddTrack(&table, {fid++, "t", artist, "", 0, 0});
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  // Case and accents merge into the text met first; the confused texts keep entries of their
  // own, in the compare order.
  EXPECT_EQ(ScanColumn(&table, "artist"),
            (Texts{"Bj\xF6rk", "Bj\xF6rk", "Bj\xE9rk", "\xF0\x9F\x98\x80", "\xEF\x98\x80",
                   "Sigur R\xC3\xB3s", "Sigur R\xC3\xB3s"}));
  const Texts entries = PoolEntries(table, 2);
  EXPECT_EQ(entries.size(), 5u);
  for (size_t i = 1; i < entries.size(); ++i)
    EXPECT_LE(CaseBlindCompare(entries[i - 1].c_str(), entries[i].c_str()), 0) << i;
}

// Grouping folds case but keeps confused texts apart, however the case order interleaves them:
// "BJ\xF6RK" sorts before "Bj\xE9rk", and "Bj\xF6rk" after it.
TEST(ColumnTableTexts, AGroupTakesEveryCaseVariantPastAConfusedText) {
  ColumnTable table(8, 3, nullptr);
  Fill(&table, {"Bj\xF6rk", "BJ\xF6RK", "Bj\xE9rk", "bj\xF6rk"});
  RefPtr<RecordSet> set = Execute(&table, nullptr, "title");
  std::vector<std::pair<std::string, int32_t>> groups;
  for (; !set->IsEOF(); set->MoveNext()) groups.emplace_back(set->GetString(0), set->GetInt(1));
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(CollationLostCodePoints(groups[0].first.c_str()),
            CollationLostCodePoints("Bj\xF6rk"));
  EXPECT_EQ(groups[0].second, 3);
  EXPECT_EQ(groups[1], (std::pair<std::string, int32_t>{"Bj\xE9rk", 1}));
}

// A table compacted before these texts were kept apart: two rows share the entry of one of them.
// It loads, sorts and groups as it did, and a new Compact leaves its stream unchanged.
TEST(ColumnTableTexts, PoolWrittenWithMergedTextsLoadsAndSortsTheSame) {
  ColumnTable written(8, 3, nullptr);
  Fill(&written, {"Charlie", "Bj\xF6rk", "alpha", "Bj\xF6rk", "\xEF\x98\x80", "Alpha"});
  const std::string before = StreamOf(written);

  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, before), rc::kOk);
  RefPtr<RecordQuery> query;
  table.CreateQuery(&query);
  query->AddSortColumn("title");
  RefPtr<RecordSet> sorted;
  query->Execute(&sorted);
  EXPECT_EQ(Column(sorted.Get(), "fid"), (Texts{"6", "3", "2", "4", "1", "5"}));
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  EXPECT_EQ(StreamOf(table), before);
}

}  // namespace
