// SimpleDB index batches: the same changes with and without a batch leave the same bytes in
// the file, lookups inside a batch see every change, and a held entry or a queued removal
// that cannot be written is reported at the end of the batch.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "db/simple_db.h"
#include "db/simple_db_fixture.h"
#include "db/simple_rs.h"

namespace {

std::vector<std::string> ArtistTitles(SimpleDB& db, const std::string& artist) {
  RefPtr<RecordQuery> query;
  db.CreateQuery(&query);
  query->AddTextCondition("artist", kOpEqual, artist);
  RefPtr<RecordSet> set;
  EXPECT_EQ(query->Execute(&set), rc::kOk);
  return Titles(set.Get());
}

const char* const kArtists[] = {"Common", "Common", "Common", "Rare", "Other"};

// Many records under a few hot keys, then a run of changes of artist and deletions, with
// lookups of the hot artist between them; the lookups' answers in order.
std::vector<std::vector<std::string>> Churn(SimpleLibrary& library, bool batch) {
  SimpleDB& db = library.db();
  std::vector<std::vector<std::string>> answers;
  if (batch) db.BeginIndexBatch();
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(library.Insert({i, "t" + std::to_string(i), kArtists[i % 5], 1990 + i % 3, ""}),
              rc::kOk);
    if (i % 97 == 0) answers.push_back(ArtistTitles(db, "Common"));
  }
  RefPtr<RecordSet> set;
  db.OpenRecordSet(&set);
  int position = 0;
  for (set->MoveFirst(); !set->IsEOF(); set->MoveNext(), ++position) {
    if (position % 7 == 0) {
      EXPECT_EQ(set->Delete(0), rc::kOk);
    } else if (position % 5 == 0) {
      EXPECT_EQ(set->SetString("artist", position % 2 ? "Rare" : "Common"), rc::kOk);
      EXPECT_EQ(set->SetInt("year", 1980), rc::kOk);
      EXPECT_EQ(set->Update(), rc::kOk);
    }
    if (position % 61 == 0) answers.push_back(ArtistTitles(db, "Common"));
  }
  if (batch) {
    EXPECT_EQ(db.EndIndexBatch(), rc::kOk);
  }
  return answers;
}

TEST(SimpleDbBatch, ABatchLeavesTheSameBytesAndLookupsSeeEveryChange) {
  SimpleLibrary plain, batched;
  const auto plain_answers = Churn(plain, false);
  const auto batched_answers = Churn(batched, true);
  EXPECT_EQ(batched_answers, plain_answers);
  EXPECT_EQ(batched.Entries(), plain.Entries());
  EXPECT_EQ(batched.IndexProblems(), "");
  ASSERT_EQ(batched.Reopen(), rc::kOk);
  EXPECT_EQ(batched.Entries(), plain.Entries());
}

TEST(SimpleDbBatch, BatchesNestAndSyncWritesHeldEntries) {
  SimpleLibrary library;
  SimpleDB& db = library.db();
  db.SetSyncOnChange(false);
  db.BeginIndexBatch();
  db.BeginIndexBatch();
  for (int i = 0; i < 100; ++i) ASSERT_EQ(library.Insert({i, "t", "Common", 2000, ""}), rc::kOk);
  EXPECT_EQ(db.EndIndexBatch(), rc::kOk);  // the inner end writes nothing yet
  ASSERT_EQ(db.Sync(), rc::kOk);
  EXPECT_EQ(library.IndexProblems(), "");
  ASSERT_EQ(library.Insert({100, "t", "Common", 2000, ""}), rc::kOk);
  EXPECT_EQ(db.EndIndexBatch(), rc::kOk);
  EXPECT_EQ(db.EndIndexBatch(), rc::kOk);  // one end too many does nothing
  EXPECT_EQ(library.IndexProblems(), "");
}

// Every library call of a batch in turn fails while `change` runs in it (after `prepare`,
// outside it): the failure comes back from the change it struck or from the end of the batch,
// and the database then says it is inconsistent. How often the end reported it.
int FailuresReportedAtTheEnd(const std::function<void(SimpleLibrary&)>& prepare,
                             const std::function<bool(SimpleLibrary&)>& change) {
  int reported_at_end = 0;
  for (int fail_at = 1;; ++fail_at) {
    SimpleLibrary library(true, FailingOpen);
    SimpleDB& db = library.db();
    db.SetSyncOnChange(false);
    prepare(library);
    CallFaults::Reset(fail_at);
    db.BeginIndexBatch();
    const bool change_failed = !change(library);
    const Result ended = db.EndIndexBatch();
    const bool struck = CallFaults::calls >= fail_at;
    CallFaults::Reset();
    if (!struck) break;
    if (rc::Failed(ended)) {
      ++reported_at_end;
      EXPECT_TRUE(db.Inconsistent()) << fail_at;
    } else {
      EXPECT_TRUE(change_failed) << fail_at;
    }
  }
  return reported_at_end;
}

bool InsertCommon(SimpleLibrary& library, int from, int count) {
  bool inserted = true;
  for (int i = from; i < from + count; ++i) {
    inserted &= rc::Succeeded(library.Insert({i, "t", "Common", 2000, ""}));
  }
  return inserted;
}

TEST(SimpleDbBatch, AFailedWriteOfAHeldEntryIsReportedAtTheEnd) {
  EXPECT_GT(FailuresReportedAtTheEnd([](SimpleLibrary&) {},
                                     [](SimpleLibrary& library) {
                                       return InsertCommon(library, 0, 36);
                                     }),
            0);
}

TEST(SimpleDbBatch, AFailedQueuedRemovalIsReportedAtTheEnd) {
  const auto prepare = [](SimpleLibrary& library) { InsertCommon(library, 0, 12); };
  const auto delete_every_second = [](SimpleLibrary& library) {
    RefPtr<RecordSet> set;
    library.db().OpenRecordSet(&set);
    bool deleted = true;
    int position = 0;
    for (set->MoveFirst(); !set->IsEOF(); set->MoveNext(), ++position) {
      if (position % 2 == 0) deleted &= rc::Succeeded(set->Delete(0));
    }
    return deleted;
  };
  EXPECT_GT(FailuresReportedAtTheEnd(prepare, delete_every_second), 0);
}

// A removal from an entry waits in the batch; an addition to the same entry comes after it.
TEST(SimpleDbBatch, QueuedRemovalsThenAnAdditionLeaveTheSameBytes) {
  SimpleLibrary plain, batched;
  for (SimpleLibrary* library : {&plain, &batched}) {
    SimpleDB& db = library->db();
    ASSERT_EQ(library->Insert({1, "t", "Rare", 2000, ""}), rc::kOk);
    ASSERT_EQ(library->Insert({2, "t", "Rare", 2000, ""}), rc::kOk);
    if (library == &batched) db.BeginIndexBatch();
    RefPtr<RecordSet> set;
    db.OpenRecordSet(&set);
    ASSERT_EQ(set->MoveFirst(), rc::kOk);
    ASSERT_EQ(set->Delete(0), rc::kOk);
    ASSERT_EQ(library->Insert({3, "t", "Rare", 2000, ""}), rc::kOk);
    if (library == &batched) {
      ASSERT_EQ(db.EndIndexBatch(), rc::kOk);
    }
  }
  EXPECT_EQ(batched.Entries(), plain.Entries());
  EXPECT_EQ(batched.IndexProblems(), "");
}

}  // namespace
