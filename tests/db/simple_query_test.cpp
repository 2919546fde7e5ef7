// Queries over a SimpleDB: the access path each query gets (lookup, index walk, group, scan),
// what the filter still tests, transformed keys, glob patterns and the row interface.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/glob_match.h"
#include "db/simple_db_fixture.h"
#include "db/simple_layout.h"
#include "db/simple_rs.h"

using namespace simple_layout;

namespace {

using Texts = std::vector<std::string>;

class SimpleQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    const Track tracks[] = {
        {1, "Waterloo", "ABBA", 1974, ""},  {2, "Fernando", "a.b.b.a", 1976, ""},
        {3, "Gold", "Abba Gold", 1992, ""}, {4, "Chiquitita", "ABBA", 1979, ""},
        {5, "Zero", "Nobody", 0, ""},
    };
    for (const Track& track : tracks) ASSERT_EQ(library_.Insert(track), rc::kOk);
  }

  RefPtr<RecordQuery> Query() {
    RefPtr<RecordQuery> query;
    library_.db().CreateQuery(&query);
    return query;
  }

  Texts Run(RecordQuery* query, Result expected = rc::kOk) {
    RefPtr<RecordSet> set;
    EXPECT_EQ(query->Execute(&set), expected);
    return expected == rc::kOk ? Titles(set.Get()) : Texts();
  }

  SimpleLibrary library_;
};

TEST_F(SimpleQueries, TextEqualityLooksUpTheFoldedKey) {
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("artist", kOpEqual, "abba");
  // Key order of the one-entry lookup is insertion order within the entry.
  EXPECT_EQ(Run(query.Get()), (Texts{"Waterloo", "Fernando", "Chiquitita"}));
  // Consumed by the key: a second run no longer tests it, so the scan returns everything.
  RefPtr<RecordSet> again;
  ASSERT_EQ(query->Execute(&again), rc::kOk);
  EXPECT_EQ(Titles(again.Get()).size(), 5u);
}

TEST_F(SimpleQueries, EqualityWithSortNeedsTheCompositeIndex) {
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("artist", kOpEqual, "ABBA");
  query->AddSortColumn("title");
  EXPECT_EQ(Run(query.Get()), (Texts{"Chiquitita", "Fernando", "Waterloo"}));

  query = Query();
  query->AddTextCondition("artist", kOpEqual, "ABBA");
  query->AddSortColumn("id");
  Run(query.Get(), rc::kNotImplemented);

  // No (artist, year) index, but the year index alone serves the order; the equality stays
  // in the filter, compared as CompareFolded compares.
  query = Query();
  query->AddTextCondition("artist", kOpEqual, "ABBA");
  query->AddSortColumn("year");
  EXPECT_EQ(Run(query.Get()), (Texts{"Waterloo", "Fernando", "Chiquitita"}));

  // A sort on the equality's own column is dropped before the plan.
  query = Query();
  query->AddTextCondition("artist", kOpEqual, "Nobody");
  query->AddSortColumn("artist");
  EXPECT_EQ(Run(query.Get()), (Texts{"Zero"}));
}

TEST_F(SimpleQueries, SortAndGroupTogether) {
  RefPtr<RecordQuery> query = Query();
  query->AddSortColumn("title");
  query->AddGroupColumn("artist");
  Run(query.Get(), rc::kNotImplemented);

  query = Query();
  query->AddSortColumn("artist");
  query->AddGroupColumn("artist");
  RefPtr<RecordSet> groups;
  ASSERT_EQ(query->Execute(&groups), rc::kOk);
  Texts rows;
  for (; !groups->IsEOF(); groups->MoveNext()) {
    rows.push_back(groups->GetString("artist") + "=" + groups->GetString("count"));
  }
  EXPECT_EQ(rows, (Texts{"ABBA=3", "Abba Gold=1", "Nobody=1"}));

  // Sorting on a column no index leads with: E_NOTIMPL rather than a scan.
  query = Query();
  query->AddSortColumn("id");
  Run(query.Get(), rc::kNotImplemented);
  query = Query();
  query->AddSortColumn("year");
  EXPECT_EQ(Run(query.Get()), (Texts{"Zero", "Waterloo", "Fernando", "Chiquitita", "Gold"}));
}

TEST_F(SimpleQueries, GroupsCountOnlyWhatPassesTheFilter) {
  RefPtr<RecordQuery> query = Query();
  query->AddGroupColumn("artist");
  query->AddIntCondition("year", kOpGreater, 1975);
  RefPtr<RecordSet> groups;
  ASSERT_EQ(query->Execute(&groups), rc::kOk);
  EXPECT_EQ(groups->FindColumn("count"), 1);
  EXPECT_EQ(groups->FindColumn("artist"), 0);
  EXPECT_EQ(groups->FindColumn("title"), -1);
  EXPECT_EQ(groups->GetColumnName(1), "count");
  EXPECT_EQ(groups->GetColumnName(2), "");
  ColumnKind kind;
  EXPECT_EQ(groups->GetColumnType("title", &kind), rc::kBadIndex);
  EXPECT_EQ(groups->GetColumnType(0, &kind), rc::kOk);
  EXPECT_EQ(kind, kColumnText);
  EXPECT_EQ(groups->SetInt(0, 1), rc::kNotImplemented);
  EXPECT_EQ(groups->Update(), rc::kNotImplemented);
  Texts rows;
  for (; !groups->IsEOF(); groups->MoveNext()) {
    rows.push_back(groups->GetString(0) + "=" + std::to_string(groups->GetInt("count")));
  }
  // "Nobody" (year 0) has no record that passes and is left out; a group shows its first
  // record's text.
  EXPECT_EQ(rows, (Texts{"ABBA=2", "Abba Gold=1"}));

  // With an equality the group walks only the entries under its value.
  query = Query();
  query->AddTextCondition("artist", kOpEqual, "Abba");
  query->AddGroupColumn("title");
  ASSERT_EQ(query->Execute(&groups), rc::kOk);
  rows.clear();
  for (; !groups->IsEOF(); groups->MoveNext()) rows.push_back(groups->GetString("title"));
  EXPECT_EQ(rows, (Texts{"Chiquitita", "Fernando", "Waterloo"}));
}

TEST_F(SimpleQueries, IndexWalkTestsEveryRecordOfAnEntry) {
  // "a-b" and "ab" fold to one key; the glob tells them apart.
  ASSERT_EQ(library_.Insert({6, "ab", "X", 1, ""}), rc::kOk);
  ASSERT_EQ(library_.Insert({7, "a-b", "X", 1, ""}), rc::kOk);
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("title", kOpMatch, "a-b");
  EXPECT_EQ(Run(query.Get()), (Texts{"a-b"}));
  query = Query();
  query->AddTextCondition("title", kOpMatch, "?*O");  // one-column index walk, in key order
  query->AddTextCondition("title", kOpNotEqual, "zero");
  EXPECT_EQ(Run(query.Get()), (Texts{"Fernando", "Waterloo"}));
}

TEST_F(SimpleQueries, ScansFilterWithEveryOperator) {
  struct Case {
    const char* column;
    int32_t op;
    uint32_t value;
    Texts expected;
  };
  const Case cases[] = {
      {"id", kOpLess, 2, {"Waterloo"}},
      {"id", kOpLessEqual, 2, {"Waterloo", "Fernando"}},
      {"id", kOpNotEqual, 1, {"Fernando", "Gold", "Chiquitita", "Zero"}},
      {"id", kOpMatch, 3, {"Gold"}},
      {"id", kOpEqual, 4, {"Chiquitita"}},
      {"nope", kOpEqual, 0, {"Waterloo", "Fernando", "Gold", "Chiquitita", "Zero"}},
      {"nope", kOpEqual, 5, {}},
  };
  for (const Case& c : cases) {
    RefPtr<RecordQuery> query = Query();
    query->AddIntCondition(c.column, c.op, c.value);
    query->AddIntCondition("id", kOpGreater, static_cast<uint32_t>(-1));
    EXPECT_EQ(Run(query.Get()), c.expected) << c.column << " " << c.op << " " << c.value;
  }
  RefPtr<RecordQuery> query = Query();
  EXPECT_EQ(query->AddIntCondition("id", 7, 1), rc::kNotImplemented);
  EXPECT_EQ(query->AddTextCondition("id", kOpLess, "1"), rc::kNotImplemented);
  // A text equality on a number column is the filter's, never an index key's.
  EXPECT_EQ(query->AddTextCondition("year", kOpEqual, "1976"), rc::kOk);
  EXPECT_EQ(Run(query.Get()), (Texts{"Fernando"}));
}

TEST_F(SimpleQueries, LookupStaysUntilMovedThenStartsAgain) {
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("artist", kOpEqual, "ABBA");
  RefPtr<RecordSet> set;
  ASSERT_EQ(query->Execute(&set), rc::kOk);
  ASSERT_EQ(set->MoveNext(), rc::kOk);
  EXPECT_EQ(set->GetString("title"), "Fernando");
  set->MoveFirst();
  EXPECT_EQ(set->GetString("title"), "Waterloo");
  set->MoveFirst();  // positioned: stays
  set->MoveNext();
  set->MoveNext();
  EXPECT_EQ(set->GetString("title"), "Chiquitita");
  EXPECT_EQ(set->MoveNext(), rc::kOk);
  EXPECT_TRUE(set->IsEOF());
}

TEST_F(SimpleQueries, RowValuesAndKeys) {
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("title", kOpEqual, "zero");
  RefPtr<RecordSet> set;
  ASSERT_EQ(query->Execute(&set), rc::kOk);
  EXPECT_EQ(set->GetString("year"), "");  // 0 reads as the empty text
  EXPECT_EQ(set->GetInt("title"), 0);
  EXPECT_EQ(set->GetRowKey(), std::string("\x00\x01" "5" "\x01\x04" "Zero" "\x02\x06" "Nobody"
                                          "\x03\x01" "0" "\xff", 21));
  ColumnKind kind;
  EXPECT_EQ(set->GetColumnType("data", &kind), rc::kOk);
  EXPECT_EQ(kind, kColumnBinary);
  EXPECT_EQ(set->GetColumnType(9, &kind), rc::kBadIndex);
  EXPECT_EQ(set->GetColumnType("nope", &kind), rc::kNotFound);
  EXPECT_EQ(set->SetBlob("title", "x", 1), rc::kNotFound);
  EXPECT_EQ(set->SetInt("artist", 1), rc::kNotFound);
  EXPECT_EQ(set->SetString("year", "0x10"), rc::kOk);
  EXPECT_EQ(set->GetInt("year"), 16);
  EXPECT_EQ(set->SetString("title", "12abc"), rc::kOk);
  EXPECT_EQ(set->GetInt("title"), 12);
  EXPECT_EQ(set->SetInt64("id", 0x100000007LL), rc::kOk);
  EXPECT_EQ(set->GetInt64("id"), 7);
  set->MoveNext();
  EXPECT_TRUE(set->IsEOF());
  EXPECT_EQ(set->SetInt("id", 1), rc::kFail);
  EXPECT_EQ(set->Update(), rc::kFail);
  EXPECT_EQ(set->GetString("title"), "");
}

TEST_F(SimpleQueries, DeleteWithFlagOneRemovesEveryMatch) {
  RefPtr<RecordQuery> query = Query();
  query->AddIntCondition("year", kOpGreaterEqual, 1976);
  RefPtr<RecordSet> set;
  ASSERT_EQ(query->Execute(&set), rc::kOk);
  EXPECT_EQ(set->Delete(1), rc::kOk);
  EXPECT_EQ(Titles([&] {
              RefPtr<RecordSet> all;
              library_.db().OpenRecordSet(&all);
              all->MoveFirst();
              return all;
            }().Get()),
            (Texts{"Waterloo", "Zero"}));
  EXPECT_EQ(library_.IndexProblems(), "");
}

TEST_F(SimpleQueries, IndexEntryOfAMissingRecordIsPassedOverAndFlagged) {
  SimpleDB& db = library_.db();
  std::string key = IndexKeyHead({2}) + FoldedText("ABBA") + std::string(1, '\0');
  PadKey(&key);
  std::string value;
  ASSERT_EQ(db.Db()->Get(key, &value), rc::kOk);
  std::string with_missing;
  AppendLe32(&with_missing, 99);
  with_missing += value;
  ASSERT_EQ(db.Db()->Put(key, with_missing), rc::kOk);
  EXPECT_FALSE(db.Inconsistent());
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("artist", kOpEqual, "ABBA");
  EXPECT_EQ(Run(query.Get()), (Texts{"Waterloo", "Fernando", "Chiquitita"}));
  EXPECT_TRUE(db.Inconsistent());
}

// Splits a text at ';' into folded key values; "-" stands for no value at all.
class SplitTransform : public KeyTransform {
 public:
  void Transform(const char* text, KeyEmitter* emitter) override {
    if (std::strcmp(text, "-") == 0) return;
    std::string all = text;
    size_t start = 0;
    for (;;) {
      const size_t end = all.find(';', start);
      emitter->EmitFolded(all.substr(start, end - start).c_str());
      if (end == std::string::npos) return;
      start = end + 1;
    }
  }
};

TEST(SimpleTransforms, RecordsStandUnderEveryEmittedValue) {
  SplitTransform split;
  SimpleLibrary library;
  ASSERT_EQ(library.db().SetColumnTransform("artist", &split), rc::kOk);
  EXPECT_EQ(library.db().SetColumnTransform("nope", &split), rc::kNotFound);
  ASSERT_EQ(library.Insert({1, "Duet", "Anna;Bert", 1, ""}), rc::kOk);
  ASSERT_EQ(library.Insert({2, "Solo", "Bert", 1, ""}), rc::kOk);
  ASSERT_EQ(library.Insert({3, "None", "-", 1, ""}), rc::kOk);
  auto lookup = [&](const char* artist) {
    RefPtr<RecordQuery> query;
    library.db().CreateQuery(&query);
    query->AddTextCondition("artist", kOpEqual, artist);
    RefPtr<RecordSet> set;
    EXPECT_EQ(query->Execute(&set), rc::kOk);
    return Titles(set.Get());
  };
  EXPECT_EQ(lookup("bert"), (Texts{"Duet", "Solo"}));
  EXPECT_EQ(lookup("ANNA"), (Texts{"Duet"}));
  EXPECT_EQ(lookup("-"), Texts{});

  RefPtr<RecordQuery> query;
  library.db().CreateQuery(&query);
  query->AddGroupColumn("artist");
  RefPtr<RecordSet> groups;
  ASSERT_EQ(query->Execute(&groups), rc::kOk);
  Texts counts;
  for (; !groups->IsEOF(); groups->MoveNext()) counts.push_back(groups->GetString("count"));
  EXPECT_EQ(counts, (Texts{"1", "2"}));  // anna: Duet; bert: Duet and Solo

  // Moving the record out of one of its values.
  RefPtr<RecordSet> set;
  library.db().OpenRecordSet(&set);
  set->MoveFirst();
  ASSERT_EQ(set->GetString("title"), "Duet");
  set->SetString("artist", "Anna;Cleo");
  ASSERT_EQ(set->Update(), rc::kOk);
  EXPECT_EQ(lookup("bert"), (Texts{"Solo"}));
  EXPECT_EQ(lookup("cleo"), (Texts{"Duet"}));
  EXPECT_EQ(library.IndexProblems(), "");
}

TEST(GlobMatch, Patterns) {
  struct Case {
    const char* text;
    const char* pattern;
    bool fold;
    bool matches;
  };
  const Case cases[] = {
      {"abc", "a*c", true, true},    {"ac", "a*c", true, true},     {"ab", "a*c", true, false},
      {"yz", "[xy]z", true, true},   {"wz", "[xy]z", true, false},  {"*", "\\*", true, true},
      {"a", "\\*", true, false},     {"a", "a\\", true, false},     {"", "", true, true},
      {"a", "", true, false},        {"", "*", true, true},         {"", "?", true, false},
      {"ABC", "a?c", true, true},    {"ABC", "a?c", false, false},  {"A", "\\a", true, false},
      {"[x", "[x", true, true},      {"abcbc", "a**bc", true, true}, {"Yz", "[xy]Z", true, true},
      {"abd", "a*c*", true, false},  {"x", "[]", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(glob_match(c.text, c.pattern, c.fold), c.matches)
        << c.text << " ~ " << c.pattern << " fold " << c.fold;
  }
}

}  // namespace
