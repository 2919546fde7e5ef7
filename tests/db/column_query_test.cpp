// Queries over the column store: the operator codes, unknown columns, the folded text order and
// the choice of record set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/column_table.h"
#include "db/table_fixture.h"

namespace {

// Rows whose fid covers the signed range and whose titles differ by case and accents.
class QueryTable : public ::testing::Test {
 protected:
  void SetUp() override {
    AddMusicColumns(&table_);
    AddTrack(&table_, {-1, "apple", "Abba", "", 0, 0});
    AddTrack(&table_, {0, "Banana", "Cream", "", 0, 0});
    AddTrack(&table_, {INT32_MAX, "cherry", "Abba", "", 0, 0});
    AddTrack(&table_, {INT32_MIN, "Äpple", "Cream", "", 0, 0});
    ASSERT_EQ(table_.Compact(nullptr), rc::kOk);
  }

  RefPtr<RecordQuery> Query() {
    RefPtr<RecordQuery> query;
    table_.CreateQuery(&query);
    return query;
  }

  std::vector<std::string> Titles(RecordQuery* query) {
    RefPtr<RecordSet> set;
    EXPECT_EQ(query->Execute(&set), rc::kOk);
    return Column(set.Get(), "title");
  }

  ColumnTable table_{8, 3, nullptr};
};

using TitleList = std::vector<std::string>;

struct IntCase {
  int32_t op;
  uint32_t value;
  TitleList expected;
};

TEST_F(QueryTable, IntegerConditionsCompareSigned) {
  const IntCase cases[] = {
      {kOpLess, 0, {"apple", "Äpple"}},
      {kOpEqual, static_cast<uint32_t>(-1), {"apple"}},
      {kOpGreater, static_cast<uint32_t>(INT32_MIN), {"apple", "Banana", "cherry"}},
      {kOpLessEqual, 0, {"apple", "Banana", "Äpple"}},
      {kOpGreaterEqual, static_cast<uint32_t>(INT32_MAX), {"cherry"}},
      {kOpNotEqual, 0, {"apple", "cherry", "Äpple"}},
      {kOpMatch, 12345, {"apple", "Banana", "cherry", "Äpple"}},  // no comparison defined here
      {7, 0, {"apple", "Banana", "cherry", "Äpple"}},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.op);
    RefPtr<RecordQuery> query = Query();
    query->AddIntCondition("fid", c.op, c.value);
    EXPECT_EQ(Titles(query.Get()), c.expected);
  }
}

TEST_F(QueryTable, TextConditionsUseTheFoldedOrder) {
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("title", kOpEqual, "APPLE");
  EXPECT_EQ(Titles(query.Get()), (TitleList{"apple", "Äpple"}));
  query->Clear();
  query->AddTextCondition("title", kOpLess, "b");
  EXPECT_EQ(Titles(query.Get()), (TitleList{"apple", "Äpple"}));
  query->Clear();
  query->AddTextCondition("title", kOpGreater, "banana");
  EXPECT_EQ(Titles(query.Get()), (TitleList{"cherry"}));
}

TEST_F(QueryTable, UnknownColumnsAreIgnoredAndTheRestStillFilter) {
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("composer", kOpEqual, "nobody");
  query->AddIntCondition("Fid", kOpEqual, 5);  // names are exact
  query->AddTextCondition("artist", kOpEqual, "abba");
  EXPECT_EQ(Titles(query.Get()), (TitleList{"apple", "cherry"}));
}

TEST_F(QueryTable, ConditionAddedAfterAnExecuteStillCounts) {
  RefPtr<RecordQuery> query = Query();
  query->AddTextCondition("artist", kOpEqual, "Cream");
  EXPECT_EQ(Titles(query.Get()), (TitleList{"Banana", "Äpple"}));
  query->AddIntCondition("fid", kOpLess, 0);
  EXPECT_EQ(Titles(query.Get()), (TitleList{"Äpple"}));
}

TEST_F(QueryTable, GroupWinsOverSortAndOnlyTheFirstNameCounts) {
  RefPtr<RecordQuery> query = Query();
  query->AddSortColumn("title");
  query->AddGroupColumn("artist");
  query->AddGroupColumn("title");
  RefPtr<RecordSet> set;
  query->Execute(&set);
  EXPECT_EQ(set->GetColumnName(0), "artist");
  EXPECT_EQ(Column(set.Get(), "artist"), (TitleList{"Abba", "Cream"}));

  query->Clear();
  query->AddSortColumn("fid");
  query->AddSortColumn("title");
  EXPECT_EQ(Titles(query.Get()), (TitleList{"Äpple", "apple", "Banana", "cherry"}));
}

TEST_F(QueryTable, NoConditionsGiveEveryLiveRowInRowOrder) {
  table_.DeleteRow(1);
  RefPtr<RecordQuery> query = Query();
  EXPECT_EQ(Titles(query.Get()), (TitleList{"apple", "cherry", "Äpple"}));
  EXPECT_EQ(query->Reserved1(1, 2), rc::kNotImplemented);
  EXPECT_EQ(query->Reserved2(1, 2), rc::kNotImplemented);
}

}  // namespace
