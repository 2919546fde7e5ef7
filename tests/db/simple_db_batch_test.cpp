// SimpleDB index batches: the same changes with and without a batch leave the same bytes in
// the file, lookups inside a batch see every change, and a queued change that cannot be
// written is reported at the end of the batch.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "db/simple_db.h"
#include "db/simple_db_fixture.h"
#include "db/simple_layout.h"
#include "db/simple_rs.h"

namespace {

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

TEST(SimpleDbBatch, BatchesNestAndSyncMakesQueuedChanges) {
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
// and the database then says it is inconsistent. How often the end reported it. The end is
// EndIndexBatch, or with `close` a Close that ends the open batch.
int FailuresReportedAtTheEnd(const std::function<void(SimpleLibrary&)>& prepare,
                             const std::function<bool(SimpleLibrary&)>& change,
                             bool close = false) {
  int reported_at_end = 0;
  for (int fail_at = 1;; ++fail_at) {
    SimpleLibrary library(true, FailingOpen);
    SimpleDB& db = library.db();
    db.SetSyncOnChange(false);
    prepare(library);
    CallFaults::Reset(fail_at);
    db.BeginIndexBatch();
    const bool change_failed = !change(library);
    const Result ended = close ? db.Close() : db.EndIndexBatch();
    const bool struck = CallFaults::calls >= fail_at;
    CallFaults::Reset();
    if (!struck) break;
    if (rc::Failed(ended)) {
      ++reported_at_end;
      if (!close) {
        EXPECT_TRUE(db.Inconsistent()) << fail_at;
      }
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

TEST(SimpleDbBatch, AFailedWriteOfALargeEntryIsReportedAtTheEnd) {
  EXPECT_GT(FailuresReportedAtTheEnd([](SimpleLibrary&) {},
                                     [](SimpleLibrary& library) {
                                       return InsertCommon(library, 0, 36);
                                     }),
            0);
}

TEST(SimpleDbBatch, AFailedQueuedAdditionIsReportedAtTheEnd) {
  EXPECT_GT(FailuresReportedAtTheEnd([](SimpleLibrary&) {},
                                     [](SimpleLibrary& library) {
                                       return InsertCommon(library, 0, 3);
                                     }),
            0);
}

TEST(SimpleDbBatch, ACloseInsideABatchReportsAFailedQueuedWrite) {
  EXPECT_GT(FailuresReportedAtTheEnd([](SimpleLibrary&) {},
                                     [](SimpleLibrary& library) {
                                       return InsertCommon(library, 0, 3);
                                     },
                                     true),
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

// The key of the artist index's entry for `artist`.
std::string ArtistKey(SimpleDB& db, const std::string& artist) {
  SimpleCells cells(db.Columns().size());
  cells[db.FindColumn("artist")].bytes = artist;
  return simple_layout::IndexKeys(db.Columns(), db.Indexes()[0], cells).at(0);
}

// The entry value that lists `records` in this order.
std::string NumberList(const std::vector<uint32_t>& records) {
  std::string value;
  for (uint32_t record : records) simple_layout::AppendLe32(&value, record);
  return value;
}

// Gives the record of track `id` another artist (or deletes it, for an empty artist).
void Retag(SimpleLibrary& library, int id, const std::string& artist) {
  RefPtr<RecordSet> set;
  library.db().OpenRecordSet(&set);
  for (set->MoveFirst(); !set->IsEOF(); set->MoveNext()) {
    if (set->GetInt("id") != id) continue;
    if (artist.empty()) {
      EXPECT_EQ(set->Delete(0), rc::kOk);
    } else {
      EXPECT_EQ(set->SetString("artist", artist), rc::kOk);
      EXPECT_EQ(set->Update(), rc::kOk);
    }
    return;
  }
  ADD_FAILURE() << "no track " << id;
}

// Runs `change` on two libraries made alike by `prepare`, one of them in a batch: both files
// end with the same entries, and both databases say the same of their consistency. The
// entries.
std::map<std::string, std::string> ExpectSameBytesInABatch(const std::function<void(SimpleLibrary&)>& prepare,
                             const std::function<void(SimpleLibrary&)>& change) {
  SimpleLibrary plain, batched;
  prepare(plain);
  prepare(batched);
  change(plain);
  batched.db().BeginIndexBatch();
  change(batched);
  EXPECT_EQ(batched.db().EndIndexBatch(), rc::kOk);
  EXPECT_EQ(batched.Entries(), plain.Entries());
  EXPECT_EQ(batched.db().Inconsistent(), plain.db().Inconsistent());
  return plain.Entries();
}

// Tracks 0, 1, ... by these artists; their record numbers.
std::vector<uint32_t> InsertArtists(SimpleLibrary& library,
                                    const std::vector<std::string>& artists) {
  std::vector<uint32_t> records(artists.size());
  for (size_t id = 0; id < artists.size(); ++id) {
    EXPECT_EQ(library.Insert({static_cast<int>(id), "t", artists[id], 2000, ""}, &records[id]),
              rc::kOk);
  }
  return records;
}

TEST(SimpleDbBatch, MixedAdditionsAndRemovalsLeaveTheSameBytes) {
  ExpectSameBytesInABatch(
      [](SimpleLibrary& library) { InsertArtists(library, {"A", "A", "B", "A", "B", "C"}); },
      [](SimpleLibrary& library) {
        Retag(library, 1, "B");
        Retag(library, 1, "A");
        Retag(library, 2, "A");
        Retag(library, 1, "B");
        Retag(library, 3, "");
        ASSERT_EQ(library.Insert({6, "t", "A", 2000, ""}), rc::kOk);
        Retag(library, 6, "C");
        Retag(library, 5, "B");
        Retag(library, 4, "");
        Retag(library, 2, "B");
      });
}

TEST(SimpleDbBatch, AdditionsOfListedNumbersAndNumbersListedTwiceLeaveTheSameBytes) {
  const auto prepare = [](SimpleLibrary& library) {
    const std::vector<uint32_t> records = InsertArtists(library, {"A", "A", "A", "B"});
    // Tracks 1 and 2 already stand under B as well, track 1 twice.
    const std::string listed = NumberList({records[1], records[3], records[1], records[2]});
    ASSERT_EQ(library.db().Db()->Put(ArtistKey(library.db(), "B"), listed), rc::kOk);
  };
  ExpectSameBytesInABatch(prepare, [](SimpleLibrary& library) {
    Retag(library, 1, "B");
    Retag(library, 2, "B");
    Retag(library, 1, "A");
    Retag(library, 3, "A");
    Retag(library, 1, "B");
    Retag(library, 0, "B");
  });
}

TEST(SimpleDbBatch, ChangesToADamagedEntryLeaveTheSameBytes) {
  std::vector<uint32_t> records;
  const auto prepare = [&records](SimpleLibrary& library) {
    records = InsertArtists(library, {"A", "A", "B", "A"});
    // Lists track 0 but not track 2, with two bytes too many.
    const std::string damaged = NumberList({records[0]}) + "xy";
    ASSERT_EQ(library.db().Db()->Put(ArtistKey(library.db(), "B"), damaged), rc::kOk);
  };
  ExpectSameBytesInABatch(prepare, [](SimpleLibrary& library) {
    Retag(library, 2, "A");  // not listed: the entry stays damaged
    Retag(library, 3, "B");
    Retag(library, 0, "B");  // listed, once the entry is whole again
    Retag(library, 0, "A");
  });
  const auto entries = ExpectSameBytesInABatch(prepare, [](SimpleLibrary& library) {
    Retag(library, 0, "B");  // listed, but a damaged entry is not searched: listed twice
    Retag(library, 0, "A");  // the first goes
    Retag(library, 1, "B");
  });
  SimpleLibrary fresh;
  EXPECT_EQ(Hex(entries.at(ArtistKey(fresh.db(), "B"))),
            Hex(NumberList({records[0], records[1]})));
}

}  // namespace
