// The SimpleDB store: the bytes of its entries, record numbers, the schema and version rules,
// the index upkeep of updates and deletes (also when a library call fails part way), and
// records that do not fit their schema.
#include <gtest/gtest.h>

#include <clocale>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/simple_db.h"
#include "db/simple_db_fixture.h"
#include "db/simple_layout.h"
#include "db/simple_rs.h"

using namespace simple_layout;

namespace {

std::string Get(SimpleDB& db, const std::string& key) {
  std::string value;
  EXPECT_EQ(db.Db()->Get(key, &value), rc::kOk) << Hex(key);
  return value;
}

TEST(SimpleLayout, SchemaEntryBytes) {
  TempDir dir;
  SimpleDB db;
  ASSERT_EQ(db.Open(dir.File("s.db").c_str(), 7), rc::kOk);
  db.AddColumn("a", kSimpleNumber);
  db.AddColumn("b", kSimpleText);
  EXPECT_EQ(Hex(Get(db, WordKey(0xABCDEFAB))), "02000000000000000100000061006200");
  db.AddColumn("cd", kSimpleList);
  EXPECT_EQ(Hex(Get(db, WordKey(0xABCDEFAB))),
            "030000000000000001000000020000006100620063640" "0ef");
  // An existing name keeps its type.
  db.AddColumn("a", kSimpleText);
  ColumnKind kind;
  EXPECT_EQ(db.GetColumnKind(0, &kind), rc::kOk);
  EXPECT_EQ(kind, kColumnInt);
  EXPECT_EQ(db.Columns().size(), 3u);
}

TEST(SimpleLayout, RecordAndIndexKeyBytes) {
  const std::vector<SimpleColumn> columns = {
      {"n", kSimpleNumber, nullptr}, {"t", kSimpleText, nullptr}, {"m", kSimpleNumber, nullptr}};
  SimpleCells cells(3);
  cells[0].number = 5;
  cells[1].bytes = "x";
  cells[2].number = 7;
  EXPECT_EQ(Hex(EncodeRecord(columns, cells)), "0500000078" "00efef07000000");

  std::vector<SimpleColumn> four(4, SimpleColumn{"c", kSimpleNumber, nullptr});
  SimpleCells values(4);
  values[3].number = 258;
  EXPECT_EQ(Hex(IndexKeys(four, {3}, values).at(0)), "21436587" "01000000" "03000000" "00000102");

  SimpleCells text(3);
  text[1].bytes = "Ab C";  // folded: "abc", the blank dropped
  EXPECT_EQ(Hex(IndexKeys(columns, {1}, text).at(0)),
            "21436587" "01000000" "01000000" "61626300");
  text[1].bytes = "A b";
  EXPECT_EQ(Hex(IndexKeys(columns, {1}, text).at(0)),
            "21436587" "01000000" "01000000" "61620000");
}

TEST(SimpleDb, RecordNumbersStartAtTwoAndFollowTheCounter) {
  SimpleLibrary library;
  uint32_t first = 0, second = 0;
  ASSERT_EQ(library.Insert({1, "One", "A", 2000, ""}, &first), rc::kOk);
  EXPECT_EQ(first, 2u);
  EXPECT_EQ(Hex(Get(library.db(), WordKey(0x12345678))), "02000000");
  ASSERT_EQ(library.Insert({2, "Two", "A", 2001, ""}, &second), rc::kOk);
  EXPECT_EQ(second, 3u);
  // The counter is read again after a reopen; numbers are never reused.
  ASSERT_EQ(library.Reopen(), rc::kOk);
  uint32_t third = 0;
  ASSERT_EQ(library.Insert({3, "Three", "B", 2002, ""}, &third), rc::kOk);
  EXPECT_EQ(third, 4u);
  EXPECT_EQ(library.IndexProblems(), "");
}

TEST(SimpleDb, SchemaAndIndexesSurviveReopen) {
  SimpleLibrary library;
  ASSERT_EQ(library.Reopen(), rc::kOk);
  SimpleDB& db = library.db();
  ASSERT_EQ(db.Columns().size(), 5u);
  EXPECT_EQ(db.Columns()[4].name, "data");
  EXPECT_EQ(db.Columns()[4].type, kSimpleList);
  EXPECT_TRUE(db.HasIndex(std::vector<std::string>{"artist", "title"}));
  EXPECT_FALSE(db.HasIndex(std::vector<std::string>{"title", "artist"}));
  EXPECT_EQ(Hex(Get(db, WordKey(0xB0FB0FB0))),
            "02000000ffffffff" "0200000001000000ffffffff" "03000000ffffffff" "01000000ffffffff");
  EXPECT_FALSE(db.SchemaEmpty());
  // A name that is not a column cannot be written in the index list.
  EXPECT_EQ(db.AddIndex({"artist", "nope"}), rc::kNotFound);
  EXPECT_EQ(db.Indexes().size(), 4u);
}

TEST(SimpleDb, VersionIsTiedToTheLocale) {
  SimpleLibrary library;
  SimpleDB& db = library.db();
  uint32_t version = 0;
  EXPECT_EQ(db.GetVersion(&version), rc::kNotFound);
  db.SetVersion(37);
  ASSERT_EQ(db.GetVersion(&version), rc::kOk);
  EXPECT_EQ(version, 37u);
  const std::string locale = std::setlocale(LC_ALL, nullptr);
  EXPECT_EQ(Get(db, WordKey(0xFEF1F0FA)), std::string("\x25\0\0\0", 4) + locale + '\0');
  // Written under another locale: the folded keys may differ, so the stamp does not count.
  std::string other = std::string("\x25\0\0\0", 4) + "German_Germany.1252" + '\0';
  ASSERT_EQ(db.Db()->Put(WordKey(0xFEF1F0FA), other), rc::kOk);
  EXPECT_EQ(db.GetVersion(&version), rc::kNotFound);
  ASSERT_EQ(db.Db()->Put(WordKey(0xFEF1F0FA), std::string("\x25\0\0\0", 4)), rc::kOk);
  EXPECT_EQ(db.GetVersion(&version), rc::kNotFound);
}

TEST(SimpleDb, OpenFailuresMapErrno) {
  TempDir dir;
  SimpleDB db;
  EXPECT_EQ(db.Open(dir.File("missing.db").c_str(), 3), static_cast<Result>(0x80041002));
  EXPECT_EQ(db.Db(), nullptr);
  ASSERT_EQ(db.Open(dir.File("made.db").c_str(), 7), rc::kOk);
  db.Close();
  EXPECT_EQ(db.Open(dir.File("made.db").c_str(), 15), static_cast<Result>(0x80041011));
  uint32_t number = 0;
  EXPECT_EQ(db.NextRecordNumber(&number), rc::kNotFound);
}

TEST(SimpleDb, ClosedDatabaseGivesEmptySets) {
  SimpleDB db;
  RefPtr<RecordSet> set;
  db.OpenRecordSet(&set);
  EXPECT_EQ(set->MoveFirst(), rc::kOk);
  EXPECT_TRUE(set->IsEOF());
  set->AddNew();
  EXPECT_EQ(set->Update(), rc::kOk);  // nothing set: nothing to write
  RefPtr<RecordQuery> query;
  db.CreateQuery(&query);
  query->AddIntCondition("n", kOpEqual, 1);
  ASSERT_EQ(query->Execute(&set), rc::kOk);
  EXPECT_TRUE(set->IsEOF());
  EXPECT_EQ(db.Close(), rc::kOk);
  EXPECT_EQ(db.Sync(), rc::kNotFound);
}

TEST(SimpleDb, TemporaryDatabaseWithoutAFile) {
  SimpleDB db;
  ASSERT_EQ(db.Open(nullptr, 7), rc::kOk);
  db.AddColumn("n", kSimpleNumber);
  RefPtr<RecordSet> set;
  db.OpenRecordSet(&set);
  set->AddNew();
  set->SetInt(0, 9);
  EXPECT_EQ(set->Update(), rc::kOk);
  set->MoveFirst();
  EXPECT_EQ(set->GetInt(0), 9);
}

// A record set standing on the record with this number (through a table scan).
RefPtr<RecordSet> OpenAt(SimpleDB& db, uint32_t record) {
  RefPtr<RecordSet> set;
  db.OpenRecordSet(&set);
  for (set->MoveFirst(); !set->IsEOF(); set->MoveNext()) {
    if (static_cast<SimpleRecordSet*>(set.Get())->RecordNumber() == record) return set;
  }
  ADD_FAILURE() << "no record " << record;
  return set;
}

std::string ArtistKey(const std::string& artist) {
  std::string key = IndexKeyHead({2}) + FoldedText(artist.c_str()) + std::string(1, '\0');
  PadKey(&key);
  return key;
}

TEST(SimpleDbFaults, ListsReadBackWholeUpToTheRecordLimit) {
  SimpleLibrary library;
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  uint32_t record = 0;
  ASSERT_EQ(library.Insert({1, "Big", "A", 1, big}, &record), rc::kOk);
  ASSERT_EQ(library.Reopen(), rc::kOk);
  EXPECT_EQ(library.Records()[record].data, big);
  EXPECT_FALSE(library.db().Inconsistent());
  // A record that reaches the limit is refused before anything is written.
  // 16 bytes of id, "Huge", "A" and year, then the list's length word and bytes.
  const std::string too_big(0x400000 - 20, 'x');
  EXPECT_EQ(library.Insert({2, "Huge", "A", 1, too_big}), rc::kOutOfMemory);
  EXPECT_EQ(library.Records().size(), 1u);
}

TEST(SimpleDbFaults, EveryUpdateMovesTheRecordsIndexEntries) {
  SimpleLibrary library;
  uint32_t record = 0;
  ASSERT_EQ(library.Insert({1, "Song", "First", 1990, ""}, &record), rc::kOk);
  RefPtr<RecordSet> set = OpenAt(library.db(), record);
  ASSERT_EQ(set->SetString("artist", "Second"), rc::kOk);
  ASSERT_EQ(set->Update(), rc::kOk);
  ASSERT_EQ(set->SetString("artist", "Third"), rc::kOk);
  ASSERT_EQ(set->Update(), rc::kOk);
  EXPECT_EQ(library.IndexProblems(), "");
  EXPECT_TRUE(ArtistTitles(library.db(), "Second").empty());
  EXPECT_EQ(ArtistTitles(library.db(), "Third"), std::vector<std::string>{"Song"});

  // A new record updated twice through the set that made it.
  RefPtr<RecordSet> fresh;
  library.db().OpenRecordSet(&fresh);
  fresh->AddNew();
  fresh->SetString("title", "New");
  fresh->SetString("artist", "Fourth");
  ASSERT_EQ(fresh->Update(), rc::kOk);
  fresh->SetString("artist", "Fifth");
  ASSERT_EQ(fresh->Update(), rc::kOk);
  EXPECT_EQ(library.IndexProblems(), "");
  EXPECT_TRUE(ArtistTitles(library.db(), "Fourth").empty());
  EXPECT_EQ(library.Records().size(), 2u);
}

TEST(SimpleDbFaults, DeleteRemovesTheStoredValuesEntries) {
  SimpleLibrary library;
  uint32_t record = 0;
  ASSERT_EQ(library.Insert({1, "Song", "Stored", 2000, ""}, &record), rc::kOk);
  ASSERT_EQ(library.Insert({2, "Other", "Unsaved", 2001, ""}), rc::kOk);
  RefPtr<RecordSet> set = OpenAt(library.db(), record);
  ASSERT_EQ(set->SetString("artist", "Unsaved"), rc::kOk);
  ASSERT_EQ(set->SetInt("year", 2001), rc::kOk);
  ASSERT_EQ(set->Delete(0), rc::kOk);
  EXPECT_EQ(library.IndexProblems(), "");
  EXPECT_TRUE(ArtistTitles(library.db(), "Stored").empty());
  EXPECT_EQ(ArtistTitles(library.db(), "Unsaved"), std::vector<std::string>{"Other"});
  // Nothing is left to delete at that position.
  EXPECT_EQ(set->Delete(0), rc::kNotFound);
  EXPECT_EQ(set->Update(), rc::kOk);  // not dirty: nothing to write
  set->SetString("title", "Ghost");
  EXPECT_EQ(set->Update(), rc::kNotFound);
  EXPECT_EQ(library.Records().size(), 1u);
}

TEST(SimpleDbFaults, RemovingARecordFromAnEntry) {
  SimpleLibrary library;
  uint32_t a = 0, b = 0, c = 0;
  ASSERT_EQ(library.Insert({1, "x", "Same", 1, ""}, &a), rc::kOk);
  ASSERT_EQ(library.Insert({2, "y", "Same", 2, ""}, &b), rc::kOk);
  ASSERT_EQ(library.Insert({3, "z", "Same", 3, ""}, &c), rc::kOk);
  SimpleDB& db = library.db();
  ASSERT_EQ(Hex(Get(db, ArtistKey("Same"))), "020000000300000004000000");
  // The last number moves into the freed slot.
  ASSERT_EQ(OpenAt(db, a)->Delete(0), rc::kOk);
  EXPECT_EQ(Hex(Get(db, ArtistKey("Same"))), "0400000003000000");

  // An entry that does not list the record stays whole (it lists other records).
  std::string value;
  AppendLe32(&value, b);
  ASSERT_EQ(db.Db()->Put(ArtistKey("Same"), value), rc::kOk);
  ASSERT_EQ(OpenAt(db, c)->Delete(0), rc::kOk);
  EXPECT_EQ(Hex(Get(db, ArtistKey("Same"))), "03000000");
  // The last number deletes the entry.
  ASSERT_EQ(OpenAt(db, b)->Delete(0), rc::kOk);
  EXPECT_EQ(db.Db()->Get(ArtistKey("Same"), &value), rc::kNotFound);
  EXPECT_EQ(library.IndexProblems(), "");
}

TEST(SimpleDbFaults, RangesWithNegativeBoundsReachEveryValue) {
  SimpleLibrary library;
  for (int32_t year : {-5, 0, 7, INT32_MIN, INT32_MAX}) {
    ASSERT_EQ(library.Insert({year, std::to_string(year), "A", year, ""}), rc::kOk);
  }
  struct Case {
    int32_t op;
    int32_t bound;
    std::multiset<std::string> expected;
  };
  const Case cases[] = {
      {kOpGreaterEqual, -10, {"-5", "0", "7", "2147483647"}},
      {kOpGreater, -6, {"-5", "0", "7", "2147483647"}},
      {kOpGreater, -1, {"0", "7", "2147483647"}},
      {kOpGreaterEqual, 0, {"0", "7", "2147483647"}},
      {kOpGreaterEqual, INT32_MIN, {"-2147483648", "-5", "0", "7", "2147483647"}},
      {kOpGreater, INT32_MAX, {}},
      {kOpGreater, 6, {"7", "2147483647"}},
  };
  for (const Case& c : cases) {
    RefPtr<RecordQuery> query;
    library.db().CreateQuery(&query);
    query->AddIntCondition("year", c.op, static_cast<uint32_t>(c.bound));
    RefPtr<RecordSet> set;
    ASSERT_EQ(query->Execute(&set), rc::kOk);
    const std::vector<std::string> titles = Titles(set.Get());
    EXPECT_EQ(std::multiset<std::string>(titles.begin(), titles.end()), c.expected)
        << "op " << c.op << " bound " << c.bound;
  }
}

TEST(SimpleDbFaults, DamagedSchemaOrIndexListFailsTheOpen) {
  const std::string schema_key = WordKey(0xABCDEFAB);
  const std::string index_key = WordKey(0xB0FB0FB0);
  struct Case {
    const char* what;
    std::string key;
    std::string value;
  };
  const Case cases[] = {
      {"too short for its count", schema_key, Unhex("e8030000 00000000")},
      {"name without its end", schema_key, Unhex("01000000 01000000 616263")},
      {"unknown type", schema_key, Unhex("01000000 07000000 6100efef")},
      {"no count", schema_key, Unhex("0100")},
      {"column beyond the schema", index_key, Unhex("09000000 ffffffff")},
      {"part of a word", index_key, Unhex("00000000 ffffffff 01")},
  };
  for (const Case& c : cases) {
    SimpleLibrary library;
    ASSERT_EQ(library.db().Db()->Put(c.key, c.value), rc::kOk);
    EXPECT_EQ(library.Reopen(), rc::kBadData) << c.what;
    EXPECT_EQ(library.db().Db(), nullptr) << c.what;
    EXPECT_TRUE(library.db().Columns().empty()) << c.what;
  }
}

TEST(SimpleDbFaults, RecordsThatDoNotFitAreInconsistentNotOverread) {
  // Schema: number, text, list.
  const std::vector<std::string> values = {
      Unhex("05000000 6162"),                     // text without its end
      Unhex("05000000 6100efef ffffff7f"),        // list longer than the value
      Unhex("0500"),                              // number cut short
      Unhex("05000000 6100efef 00000000 00000000"),  // bytes after the last field
  };
  for (const std::string& value : values) {
    TempDir dir;
    SimpleDB db;
    ASSERT_EQ(db.Open(dir.File("r.db").c_str(), 7), rc::kOk);
    db.AddColumn("n", kSimpleNumber);
    db.AddColumn("t", kSimpleText);
    db.AddColumn("l", kSimpleList);
    std::string counter;
    AppendLe32(&counter, 9);
    ASSERT_EQ(db.Db()->Put(WordKey(0x12345678), counter), rc::kOk);
    ASSERT_EQ(db.Db()->Put(RecordKey(9), value), rc::kOk);
    RefPtr<RecordSet> set;
    db.OpenRecordSet(&set);
    set->MoveFirst();
    ASSERT_FALSE(set->IsEOF());
    EXPECT_TRUE(db.Inconsistent()) << Hex(value);
    uint32_t length = 0;
    set->GetBlob("l", &length);
    EXPECT_LE(length, value.size());
  }
}

TEST(SimpleDbFaults, ObserversSeeAndMayVetoChanges) {
  struct Recorder : RecordObserver {
    Result OnUpdate(RecordSet* set) override {
      calls += "update:" + set->GetString("title") + ";";
      return verdict;
    }
    Result OnDelete(RecordSet* set) override {
      calls += "delete:" + set->GetString("title") + ";";
      return verdict;
    }
    std::string calls;
    Result verdict = rc::kOk;
  } first, second;
  SimpleLibrary library;
  library.db().AddObserver(&first);
  library.db().AddObserver(&second);
  uint32_t record = 0;
  ASSERT_EQ(library.Insert({1, "Kept", "A", 1, ""}, &record), rc::kOk);
  EXPECT_EQ(first.calls, "update:Kept;");
  EXPECT_EQ(second.calls, "update:Kept;");

  RefPtr<RecordSet> set = OpenAt(library.db(), record);
  first.calls.clear();
  EXPECT_EQ(set->Update(), rc::kOk);  // unchanged: observed, not written
  EXPECT_EQ(first.calls, "update:Kept;");

  first.verdict = rc::kFail;
  second.calls.clear();
  set->SetString("title", "Changed");
  EXPECT_EQ(set->Update(), rc::kFail);
  EXPECT_EQ(second.calls, "");  // the first veto ends the round
  EXPECT_EQ(set->Delete(0), rc::kFail);
  EXPECT_EQ(library.Records()[record].title, "Kept");
  first.verdict = rc::kOk;
  EXPECT_EQ(set->Delete(0), rc::kOk);
  EXPECT_EQ(second.calls, "delete:Changed;");
  EXPECT_TRUE(library.Records().empty());
}

// Every library call an update makes fails once in turn: the update reports it, and calling
// it again completes the change with every index entry right.
TEST(SimpleDbFaults, AFailedCallAtAnyStepOfAnUpdateIsReportedAndRepairable) {
  const Result io_error = rc::FromErrno(5);
  for (int kind = 0; kind < 3; ++kind) {
    bool step_reached = true;
    for (int step = 1; step_reached; ++step) {
      SimpleLibrary library(true, FailingOpen);
      CallFaults::Reset();
      uint32_t existing = 0;
      ASSERT_EQ(library.Insert({1, "Old", "Before", 1999, ""}, &existing), rc::kOk);
      RefPtr<RecordSet> set;
      if (kind == 0) {  // a new record
        library.db().OpenRecordSet(&set);
        set->AddNew();
        set->SetString("title", "New");
        set->SetString("artist", "Before");
        set->SetInt("year", 2005);
      } else if (kind == 1) {  // a stored record changed
        set = OpenAt(library.db(), existing);
        set->SetString("artist", "After");
        set->SetInt("year", 2010);
      } else {  // a stored record deleted
        set = OpenAt(library.db(), existing);
      }
      CallFaults::Reset(step);
      const Result first = kind == 2 ? set->Delete(0) : set->Update();
      step_reached = CallFaults::calls >= step;
      CallFaults::Reset();
      if (!step_reached) {
        EXPECT_EQ(first, rc::kOk);
        break;
      }
      EXPECT_EQ(first, io_error) << "kind " << kind << " step " << step;
      EXPECT_EQ(kind == 2 ? set->Delete(0) : set->Update(), rc::kOk)
          << "kind " << kind << " step " << step;
      EXPECT_EQ(library.IndexProblems(), "") << "kind " << kind << " step " << step;
      const std::map<uint32_t, Track> records = library.Records();
      EXPECT_EQ(records.size(), kind == 0 ? 2u : kind == 1 ? 1u : 0u);
      if (kind == 0) {
        // The new record took a number of its own and the old record is untouched.
        EXPECT_EQ(records.at(existing).title, "Old");
        uint32_t next = 0;
        ASSERT_EQ(library.Insert({3, "Third", "X", 1, ""}, &next), rc::kOk);
        EXPECT_EQ(library.Records().size(), 3u);
      }
      if (kind == 1) {
        EXPECT_EQ(records.at(existing).artist, "After");
      }
    }
  }
}

}  // namespace
