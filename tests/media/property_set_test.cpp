#include "media/property_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
using ::testing::ElementsAre;
using ::testing::Pair;

// Walks the set by index, as callers do, until the column type answers a bad index.
Entries EntriesOf(PropertySet& set) {
  Entries entries;
  ColumnKind kind;
  for (int32_t i = 0; set.GetColumnType(i, &kind) == rc::kOk; ++i) {
    entries.emplace_back(set.GetColumnName(i), set.GetString(i));
  }
  return entries;
}

class PropertySetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PropertySet::Create(&set_), rc::kOk);
    ASSERT_EQ(set_->AddNew(), rc::kOk);
  }

  RefPtr<PropertySet> set_;
};

// A set that counts its own deletion.
class TrackedSet : public PropertySet {
 public:
  explicit TrackedSet(int* deletions) : deletions_(deletions) {}

 protected:
  ~TrackedSet() override { ++*deletions_; }

 private:
  int* deletions_;
};

TEST(PropertySetLifeTest, CountsFromZeroAndDeletesOnce) {
  int deletions = 0;
  PropertySet* set = new TrackedSet(&deletions);
  EXPECT_EQ(set->RefCount(), 0);
  {
    RefPtr<PropertySet> first(set);
    EXPECT_EQ(set->RefCount(), 1);
    RefPtr<PropertySet> second(first);
    EXPECT_EQ(set->RefCount(), 2);
    RefPtr<PropertySet> copy;
    ASSERT_EQ(set->Clone(&copy), rc::kOk);
    EXPECT_EQ(copy->RefCount(), 1);
    EXPECT_EQ(set->RefCount(), 2);
  }
  EXPECT_EQ(deletions, 1);
}

TEST(PropertySetLifeTest, CreateHandsOutOneReferenceAndNoRow) {
  RefPtr<PropertySet> set;
  ASSERT_EQ(PropertySet::Create(&set), rc::kOk);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->RefCount(), 1);
  EXPECT_EQ(set->GetColumnName(0), "");
  EXPECT_EQ(set->AddNew(), rc::kOk);
  EXPECT_EQ(PropertySet::Create(nullptr), rc::kInvalidArg);
}

TEST_F(PropertySetTest, AddNewSucceedsOncePerSetAndOnceMoreAfterEmptying) {
  EXPECT_EQ(set_->AddNew(), rc::kNotImplemented);
  set_->SetString("a", "1");
  RefPtr<PropertySet> copy;
  ASSERT_EQ(set_->Clone(&copy), rc::kOk);
  EXPECT_EQ(copy->AddNew(), rc::kOk);
  EXPECT_EQ(copy->AddNew(), rc::kNotImplemented);
  set_->RemoveAll();
  EXPECT_EQ(set_->AddNew(), rc::kOk);
  EXPECT_EQ(set_->AddNew(), rc::kNotImplemented);
}

TEST_F(PropertySetTest, CursorMovesPastTheRowAndBackWithoutAffectingValues) {
  set_->SetString("title", "x");
  EXPECT_FALSE(set_->IsEOF());
  EXPECT_EQ(set_->MoveNext(), rc::kOk);
  EXPECT_TRUE(set_->IsEOF());
  EXPECT_EQ(set_->GetString("title"), "x");
  EXPECT_EQ(set_->SetString("title", "y"), rc::kOk);
  EXPECT_EQ(set_->MoveFirst(), rc::kOk);
  EXPECT_FALSE(set_->IsEOF());
  EXPECT_EQ(set_->GetString(0), "y");
}

TEST_F(PropertySetTest, RowOperationsOfAOneRowSet) {
  EXPECT_EQ(set_->Update(), rc::kOk);
  EXPECT_EQ(set_->Delete(0), rc::kNotImplemented);
  EXPECT_EQ(set_->Delete(1), rc::kNotImplemented);
  set_->SetString("a", "1");
  EXPECT_EQ(set_->GetRowKey(), "");
}

TEST_F(PropertySetTest, EntriesKeepFirstInsertionOrder) {
  set_->SetString("b", "1");
  set_->SetString("a", "2");
  set_->SetString("b", "3");
  EXPECT_THAT(EntriesOf(*set_), ElementsAre(Pair("b", "3"), Pair("a", "2")));
  EXPECT_EQ(set_->FindColumn("a"), 1);
  EXPECT_EQ(set_->FindColumn("b"), 0);
  EXPECT_EQ(set_->GetColumnName(2), "");
  EXPECT_EQ(set_->GetColumnName(-1), "");
}

TEST_F(PropertySetTest, NamesAreComparedByteForByte) {
  set_->SetString("Title", "upper");
  set_->SetString("title", "lower");
  set_->SetString(std::string("ti\0tle", 6), "nul");
  set_->SetString("", "empty");
  EXPECT_EQ(set_->FindColumn("TITLE"), -1);
  EXPECT_EQ(set_->GetString("Title"), "upper");
  EXPECT_EQ(set_->GetString("title"), "lower");
  EXPECT_EQ(set_->GetString(std::string("ti\0tle", 6)), "nul");
  EXPECT_EQ(set_->GetString("ti"), "");
  EXPECT_EQ(set_->FindColumn(""), 3);
}

TEST_F(PropertySetTest, ColumnTypeIsTextForEveryEntry) {
  ColumnKind kind = kColumnInt;
  EXPECT_EQ(set_->GetColumnType(0, &kind), rc::kBadIndex);
  EXPECT_EQ(set_->GetColumnType("absent", &kind), rc::kNotFound);
  set_->SetInt("n", 5);
  set_->SetBlob("b", "\0", 1);
  for (int32_t i = 0; i < 2; ++i) {
    kind = kColumnInt;
    EXPECT_EQ(set_->GetColumnType(i, &kind), rc::kOk);
    EXPECT_EQ(kind, kColumnText);
  }
  kind = kColumnInt;
  EXPECT_EQ(set_->GetColumnType("b", &kind), rc::kOk);
  EXPECT_EQ(kind, kColumnText);
  EXPECT_EQ(set_->GetColumnType(2, &kind), rc::kBadIndex);
  EXPECT_EQ(set_->GetColumnType(-1, &kind), rc::kBadIndex);
}

TEST_F(PropertySetTest, AbsentNameReadsAsEmpty) {
  uint32_t length = 99;
  EXPECT_EQ(set_->FindColumn("none"), -1);
  EXPECT_EQ(set_->GetString("none"), "");
  EXPECT_EQ(set_->GetInt("none"), 0);
  EXPECT_EQ(set_->GetInt64("none"), 0);
  EXPECT_EQ(set_->GetBlob("none", &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_THAT(EntriesOf(*set_), ElementsAre());  // reading never appends
}

// Callers are meant to pass only valid indexes; a bad one must still be harmless.
TEST_F(PropertySetTest, OutOfRangeIndexReadsEmptyAndWritesNothing) {
  set_->SetString("a", "7");
  for (int32_t index : {-1, 1, 2, INT32_MAX, INT32_MIN}) {
    SCOPED_TRACE(index);
    uint32_t length = 99;
    EXPECT_EQ(set_->GetString(index), "");
    EXPECT_EQ(set_->GetInt(index), 0);
    EXPECT_EQ(set_->GetInt64(index), 0);
    EXPECT_EQ(set_->GetBlob(index, &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(set_->SetString(index, "x"), rc::kBadIndex);
    EXPECT_EQ(set_->SetInt(index, 1), rc::kBadIndex);
    EXPECT_EQ(set_->SetInt64(index, 1), rc::kBadIndex);
    EXPECT_EQ(set_->SetBlob(index, "xy", 2), rc::kBadIndex);
  }
  EXPECT_THAT(EntriesOf(*set_), ElementsAre(Pair("a", "7")));
}

TEST_F(PropertySetTest, SettersByIndexReplaceInPlace) {
  set_->SetString("a", "1");
  set_->SetString("b", "2");
  EXPECT_EQ(set_->SetInt(1, -7), rc::kOk);
  EXPECT_EQ(set_->SetInt64(0, INT64_MIN), rc::kOk);
  EXPECT_THAT(EntriesOf(*set_),
              ElementsAre(Pair("a", "-9223372036854775808"), Pair("b", "-7")));
  EXPECT_EQ(set_->SetBlob(1, "\0z", 2), rc::kOk);
  EXPECT_EQ(set_->GetString(1), std::string("\0z", 2));
}

TEST_F(PropertySetTest, NumbersAreStoredAsSignedDecimalText) {
  struct Case {
    const char* name;
    int64_t value;
    bool wide;
    const char* text;
  };
  const Case cases[] = {
      {"neg", -5, false, "-5"},
      {"zero", 0, false, "0"},
      {"max32", INT32_MAX, false, "2147483647"},
      {"min32", INT32_MIN, false, "-2147483648"},
      {"max64", INT64_MAX, true, "9223372036854775807"},
      {"min64", INT64_MIN, true, "-9223372036854775808"},
      {"big", 4000000000LL, true, "4000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result result = c.wide ? set_->SetInt64(c.name, c.value)
                                 : set_->SetInt(c.name, static_cast<int32_t>(c.value));
    EXPECT_EQ(result, rc::kOk);
    EXPECT_EQ(set_->GetString(c.name), c.text);
    EXPECT_EQ(set_->GetInt64(c.name), c.value);
    if (!c.wide) {
      EXPECT_EQ(set_->GetInt(c.name), c.value);
    }
  }
}

TEST_F(PropertySetTest, TextIsReadAsNumbers) {
  struct Case {
    const char* text;
    int32_t int32;
    int64_t int64;
  };
  const Case cases[] = {
      {"-5", -5, -5},
      {"0x1F", 31, 0},
      {"0X1f", 31, 0},
      {"0x7FFFFFFF", INT32_MAX, 0},
      {"0x80000000", INT32_MAX, 0},  // saturates rather than wrapping to negative
      {"0xFFFFFFFF", INT32_MAX, 0},
      {"-0x10", 0, 0},  // the prefix is looked for at the very start only
      {" 0x10", 0, 0},
      {"0x", 0, 0},
      {"4000000000", INT32_MAX, 4000000000LL},
      {"-4000000000", INT32_MIN, -4000000000LL},
      {"2147483648", INT32_MAX, 2147483648LL},
      {"-2147483649", INT32_MIN, -2147483649LL},
      {"-2147483648", INT32_MIN, -2147483648LL},
      {"9223372036854775807", INT32_MAX, INT64_MAX},
      {"-9223372036854775808", INT32_MIN, INT64_MIN},
      {"9223372036854775808", INT32_MAX, INT64_MAX},
      {"-9223372036854775809", INT32_MIN, INT64_MIN},
      {"42abc", 42, 42},
      {"abc", 0, 0},
      {"", 0, 0},
      {"  17", 17, 17},
      {"\t\n-8", -8, -8},
      {"+9", 9, 9},
      {"- 5", 0, 0},
      {"12 34", 12, 12},
      {"1e5", 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    set_->SetString("v", c.text);
    EXPECT_EQ(set_->GetInt("v"), c.int32);
    EXPECT_EQ(set_->GetInt(0), c.int32);
    EXPECT_EQ(set_->GetInt64("v"), c.int64);
    EXPECT_EQ(set_->GetInt64(0), c.int64);
  }
}

struct OracleNumber {
  const char* text;
  size_t length;
  int32_t int32;
  int64_t int64;
};

const OracleNumber kOracleNumbers[] = {
#include "text_numbers.inc"
};

// The readings must match the C library's strtol and sscanf (glibc, as an outside reference).
TEST_F(PropertySetTest, TextIsReadAsTheCLibraryReadsIt) {
  for (const OracleNumber& c : kOracleNumbers) {
    const std::string text(c.text, c.length);
    SCOPED_TRACE(::testing::PrintToString(text));
    set_->SetString("v", text);
    EXPECT_EQ(set_->GetInt("v"), c.int32);
    EXPECT_EQ(set_->GetInt64("v"), c.int64);
  }
}

TEST_F(PropertySetTest, BlobsKeepEveryByte) {
  const char bytes[4] = {'a', '\0', 'b', '\xFF'};
  EXPECT_EQ(set_->SetBlob("blob", bytes, 4), rc::kOk);
  uint32_t length = 0;
  const uint8_t* data = set_->GetBlob("blob", &length);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(std::memcmp(data, bytes, 4), 0);
  EXPECT_EQ(set_->GetString("blob"), std::string(bytes, 4));
  EXPECT_EQ(set_->GetBlob(0, &length), data);

  EXPECT_EQ(set_->SetBlob("empty", nullptr, 0), rc::kOk);
  EXPECT_NE(set_->GetBlob("empty", &length), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST_F(PropertySetTest, BlobFromNullWithALengthIsRefused) {
  EXPECT_EQ(set_->SetBlob("bad", nullptr, 3), rc::kInvalidArg);
  EXPECT_EQ(set_->FindColumn("bad"), -1);
  set_->SetString("good", "kept");
  EXPECT_EQ(set_->SetBlob(0, nullptr, 3), rc::kInvalidArg);
  EXPECT_EQ(set_->GetString("good"), "kept");
}

TEST_F(PropertySetTest, CloneIsDeepAndStartsOnItsRow) {
  set_->SetString("b", "1");
  set_->SetBlob("a", "\0\1", 2);
  set_->MoveNext();
  RefPtr<PropertySet> copy;
  ASSERT_EQ(set_->Clone(&copy), rc::kOk);
  ASSERT_NE(copy.Get(), set_.Get());
  EXPECT_EQ(copy->RefCount(), 1);
  EXPECT_EQ(set_->RefCount(), 1);
  EXPECT_FALSE(copy->IsEOF());
  EXPECT_THAT(EntriesOf(*copy), EntriesOf(*set_));

  copy->SetString("b", "changed");
  copy->SetString("c", "new");
  set_->SetString("d", "only in source");
  EXPECT_THAT(EntriesOf(*set_), ElementsAre(Pair("b", "1"), Pair("a", std::string("\0\1", 2)),
                                            Pair("d", "only in source")));
  EXPECT_THAT(EntriesOf(*copy), ElementsAre(Pair("b", "changed"),
                                            Pair("a", std::string("\0\1", 2)), Pair("c", "new")));
  EXPECT_EQ(copy->FindColumn("c"), 2);
  EXPECT_EQ(set_->Clone(nullptr), rc::kInvalidArg);
}

TEST_F(PropertySetTest, RemoveAllEmptiesAndReusesIndexesFromZero) {
  set_->SetString("a", "1");
  set_->SetString("b", "2");
  set_->MoveNext();
  set_->RemoveAll();
  EXPECT_TRUE(set_->IsEOF());  // the cursor is not the set's contents
  EXPECT_THAT(EntriesOf(*set_), ElementsAre());
  EXPECT_EQ(set_->FindColumn("a"), -1);
  set_->SetString("b", "3");
  EXPECT_EQ(set_->FindColumn("b"), 0);
  EXPECT_THAT(EntriesOf(*set_), ElementsAre(Pair("b", "3")));
}

struct TextCase {
  const char* label;
  std::string text;
  Entries expected;
};

class PropertySetTextTest : public PropertySetTest {
 protected:
  Entries Parse(const std::string& text) {
    EXPECT_EQ(PropertySet::FromText(text, set_), rc::kOk);
    return EntriesOf(*set_);
  }
};

TEST_F(PropertySetTextTest, ParsesTheTextForm) {
  const TextCase cases[] = {
      {"empty text", "", {}},
      {"quoted artist, line without equals skipped",
       "title=Song\nartist=\"The \\\"Best\\\" Band\"\njust a line",
       {{"title", "Song"}, {"artist", "The \"Best\" Band"}}},
      {"empty name", "=value", {{"", "value"}}},
      {"line feed inside a quoted value", "a=\"x\ny\"\nb=2", {{"a", "x\ny"}, {"b", "2"}}},
      {"quote mid value opens no stretch", "a=x\"y\nb=\"2\"", {{"a", "x\"y"}, {"b", "2"}}},
      {"escapes in an unquoted value", "a=one\\ntwo\\tthree", {{"a", "one\ntwo\\tthree"}}},
      {"escaped quote and backslash unquoted", "a=\\\"x\\\\", {{"a", "\"x\\"}}},
      {"backslash last stays", "a=x\\", {{"a", "x\\"}}},
      {"first equals separates", "a=b=c", {{"a", "b=c"}}},
      {"repeated name keeps first position", "a=1\nb=2\na=3", {{"a", "3"}, {"b", "2"}}},
      {"carriage returns stay", "a=1\r\nb=2\r\n", {{"a", "1\r"}, {"b", "2\r"}}},
      {"trailing line feed adds nothing", "a=1\n", {{"a", "1"}}},
      {"empty value", "a=\nb=\"\"", {{"a", ""}, {"b", ""}}},
      {"lone quote is not unquoted", "a=\"", {{"a", "\""}}},
      {"escaped quote does not close", "a=\"x\\\"\ny\"\nb=1", {{"a", "x\"\ny"}, {"b", "1"}}},
      {"unclosed quote takes the rest", "a=\"x\nb=1", {{"a", "\"x\nb=1"}}},
      {"quote at the start of an item opens a stretch", "\"n\nm\"=v\nb=1",
       {{"\"n\nm\"", "v"}, {"b", "1"}}},
      {"quoted backslash pair then n becomes a line feed", "a=\"x\\\\ny\"", {{"a", "x\ny"}}},
      // A quote right behind a backslash never closes, even behind a backslash pair.
      {"quote after a backslash pair keeps the stretch open", "a=\"x\\\\\"\nb=1",
       {{"a", "\"x\\\"\nb=1"}}},
      {"NUL bytes are kept", std::string("a=x\0y", 5), {{"a", std::string("x\0y", 3)}}},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.label);
    set_->RemoveAll();
    EXPECT_EQ(Parse(c.text), c.expected);
  }
}

TEST_F(PropertySetTextTest, RoundTripOfAMixedText) {
  const std::string text =
      "title=Plain title\n"
      "artist=\"Quoted \\\"artist\\\" with \\\\ backslash\"\n"
      "lyrics=\"first line\n"
      "second line\"\n"
      "=no name\n"
      "comment=unquoted \\\"escapes\\\" and \\n a line break\n"
      "not an item\n"
      "title=Second title\n"
      "path=C:\\Music\\track.mp3\n"
      "empty=";
  EXPECT_THAT(Parse(text),
              ElementsAre(Pair("title", "Second title"),
                          Pair("artist", "Quoted \"artist\" with \\ backslash"),
                          Pair("lyrics", "first line\nsecond line"), Pair("", "no name"),
                          Pair("comment", "unquoted \"escapes\" and \n a line break"),
                          Pair("path", "C:\\Music\\track.mp3"), Pair("empty", "")));
  EXPECT_EQ(set_->GetInt("title"), 0);
}

TEST_F(PropertySetTextTest, MergesIntoAnExistingSet) {
  set_->SetString("b", "old");
  set_->SetString("keep", "k");
  EXPECT_THAT(Parse("a=1\nb=new"),
              ElementsAre(Pair("b", "new"), Pair("keep", "k"), Pair("a", "1")));
}

TEST(PropertySetFromTextTest, NullTargetIsRefused) {
  EXPECT_EQ(PropertySet::FromText("a=1", RefPtr<PropertySet>()), rc::kInvalidArg);
}

}  // namespace
