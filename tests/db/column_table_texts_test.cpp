// Texts that a column's order calls equal or that the collation confuses (leading articles, case,
// bytes that are no UTF-8, code points above U+FFFF): a row written back, compacted, saved and
// loaded keeps its own bytes, and a pool written before keeps its order and entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "db/column_table.h"
#include "db/table_fixture.h"
#include "support/byte_order.h"
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

// Two distinct texts of one column, which the column's order calls equal or sorts side by side.
struct TextPair {
  const char* what;
  const char* column;
  TextCompare compare;  // null: the default text order
  std::string first, second;
};

const TextPair kTextPairs[] = {
    {"article a", "artist", ArticleSkippingCompare, "A Flock of Seagulls", "Flock of Seagulls"},
    {"article the", "artist", ArticleSkippingCompare, "The Beatles", "Beatles"},
    {"lower-case article", "artist", ArticleSkippingCompare, "a band", "band"},
    {"article l'", "artist", ArticleSkippingCompare, "L'Arc", "Arc"},
    {"article in a title", "title", ArticleSkippingCompare, "A Day", "Day"},
    {"case in the artist", "artist", ArticleSkippingCompare, "ABBA", "Abba"},
    {"case in a title", "title", nullptr, "Bj\xC3\xB6rk", "BJ\xC3\x96RK"},
    {"case, folding only", "artist", CaseBlindCompare, "sigur ros", "Sigur R\xC3\xB3s"},
    {"ignored punctuation", "title", nullptr, "a-ha", "aha"},
    {"Latin-1 and UTF-8 twins", "title", nullptr, "Bj\xF6rk", "Bj\xC3\xB6rk"},
    {"Latin-1 twins", "artist", ArticleSkippingCompare, "Bj\xF6rk", "Bj\xE9rk"},
    {"astral and its low 16 bits", "title", nullptr, "\xF0\x9F\x98\x80", "\xEF\x98\x80"},
    {"astral in the artist", "artist", ArticleSkippingCompare, "The \xF0\x9D\x84\x9E",
     "The \xED\x84\x9E"},
};

// Every row's text, read back byte for byte after each step that rewrites the pool: Compact,
// Save and Load (with the column's order set again, as its owner does), a second Compact; the
// pool holds each text once in the column's order; sorted and grouped walks show only stored
// texts, every row once.
TEST(ColumnTableTexts, NoStepChangesAStoredText) {
  for (const TextPair& c : kTextPairs) {
    SCOPED_TRACE(c.what);
    const Texts rows = {c.second, "Zulu", c.first, c.second, "Alpha", c.first};
    ColumnTable table(8, 3, nullptr);
    AddMusicColumns(&table);
    const int32_t column = table.FindColumn(c.column);
    table.SetColumnCompare(column, c.compare);
    int32_t fid = 1;
    for (const std::string& text : rows) {
      TrackValues track{fid++, "t", "a", "", 0, 0};
      (column == 1 ? track.title : track.artist) = text;
      AddTrack(&table, track);
    }
    ASSERT_EQ(table.Compact(nullptr), rc::kOk);
    EXPECT_EQ(ScanColumn(&table, c.column), rows);
    const Texts entries = PoolEntries(table, column);
    ASSERT_EQ(entries.size(), 4u);
    const TextCompare order = c.compare ? c.compare : CompareCollated;
    for (size_t i = 1; i < entries.size(); ++i)
      EXPECT_LE(order(entries[i - 1].c_str(), entries[i].c_str()), 0) << i;

    ColumnTable loaded(8, 3, nullptr);
    ASSERT_EQ(LoadBytes(&loaded, StreamOf(table)), rc::kOk);
    loaded.SetColumnCompare(column, c.compare);
    EXPECT_EQ(ScanColumn(&loaded, c.column), rows);
    ASSERT_EQ(loaded.Compact(nullptr), rc::kOk);
    EXPECT_EQ(ScanColumn(&loaded, c.column), rows);
    EXPECT_EQ(StreamOf(loaded), StreamOf(table)) << "a second Compact changes nothing";

    Texts sorted = Column(Execute(&loaded, c.column, nullptr).Get(), c.column);
    std::sort(sorted.begin(), sorted.end());
    Texts expected = rows;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    int32_t grouped = 0;
    for (RefPtr<RecordSet> groups = Execute(&loaded, nullptr, c.column); !groups->IsEOF();
         groups->MoveNext()) {
      EXPECT_NE(std::find(rows.begin(), rows.end(), groups->GetString(0)), rows.end())
          << groups->GetString(0);
      grouped += groups->GetInt(1);
    }
    EXPECT_EQ(grouped, static_cast<int32_t>(rows.size()));

    // Either text written over a row of the other is kept as written.
    for (const std::string& text : {c.first, c.second}) {
      RefPtr<ColumnRow> row = loaded.GetRow(4, false);
      ASSERT_TRUE(row);
      row->SetText(column, text);
      ASSERT_EQ(loaded.WriteBack(row.Get()), rc::kOk);
      EXPECT_EQ(ScanColumn(&loaded, c.column)[4], text);
    }
  }
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

// A table compacted when texts its order called equal were merged: the row of "alpha" points at
// the entry "Alpha". It loads, sorts and groups as it did, and a new Compact leaves its stream
// unchanged.
TEST(ColumnTableTexts, PoolWrittenWithMergedTextsLoadsAndSortsTheSame) {
  ColumnTable written(8, 3, nullptr);
  Fill(&written, {"Charlie", "Bj\xF6rk", "alpha", "Bj\xF6rk", "\xEF\x98\x80", "Alpha"});
  std::string offsets, merged_offsets;
  for (uint32_t row = 0; row < 6; ++row) {
    uint8_t word[4];
    bytes::PutLe32(word, written.PoolOffset(1, row));
    offsets.append(reinterpret_cast<char*>(word), 4);
    bytes::PutLe32(word, written.PoolOffset(1, row == 2 ? 5 : row));
    merged_offsets.append(reinterpret_cast<char*>(word), 4);
  }
  std::string edited = StreamOf(written);
  const size_t at = edited.find(offsets);  // the title column's offset words
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(edited.find(offsets, at + 1), std::string::npos);
  edited.replace(at, offsets.size(), merged_offsets);
  // Compacted once, the entry no row uses any more is gone, as in the old pool.
  ColumnTable old(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&old, edited), rc::kOk);
  ASSERT_EQ(old.Compact(nullptr), rc::kOk);
  const std::string before = StreamOf(old);
  EXPECT_EQ(PoolEntries(old, 1), (Texts{"Alpha", "Bj\xF6rk", "Charlie", "\xEF\x98\x80"}));

  ColumnTable table(8, 3, nullptr);
  ASSERT_EQ(LoadBytes(&table, before), rc::kOk);
  EXPECT_EQ(ScanColumn(&table, "title"),
            (Texts{"Charlie", "Bj\xF6rk", "Alpha", "Bj\xF6rk", "\xEF\x98\x80", "Alpha"}));
  RefPtr<RecordQuery> query;
  table.CreateQuery(&query);
  query->AddSortColumn("title");
  RefPtr<RecordSet> sorted;
  query->Execute(&sorted);
  EXPECT_EQ(Column(sorted.Get(), "fid"), (Texts{"3", "6", "2", "4", "1", "5"}));
  ASSERT_EQ(table.Compact(nullptr), rc::kOk);
  EXPECT_EQ(StreamOf(table), before);
}

}  // namespace
