#include "db/simple_db_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "db/db185_api.h"
#include "db/simple_layout.h"
#include "db/simple_rs.h"

using namespace simple_layout;

int CallFaults::calls = 0;
int CallFaults::fail_at = 0;

namespace {

DB real_calls;

bool FailNow() {
  if (++CallFaults::calls != CallFaults::fail_at) return false;
  errno = EIO;
  return true;
}

int FailingGet(const DB* db, const DBT* key, DBT* value, u_int flags) {
  return FailNow() ? -1 : real_calls.get(db, key, value, flags);
}
int FailingPut(const DB* db, DBT* key, const DBT* value, u_int flags) {
  return FailNow() ? -1 : real_calls.put(db, key, value, flags);
}
int FailingDel(const DB* db, const DBT* key, u_int flags) {
  return FailNow() ? -1 : real_calls.del(db, key, flags);
}
int FailingSync(const DB* db, u_int flags) {
  return FailNow() ? -1 : (real_calls.sync)(db, flags);
}

}  // namespace

struct __db* FailingOpen(const char* path, int flags, int mode, const void* info) {
  DB* db = dbopen(path, flags, mode, DB_BTREE, info);
  if (db == nullptr) return nullptr;
  real_calls = *db;
  db->get = FailingGet;
  db->put = FailingPut;
  db->del = FailingDel;
  db->sync = FailingSync;
  return db;
}

SimpleLibrary::SimpleLibrary(bool with_indexes, BerkeleyDb::OpenFunction open)
    : path_(dir_.File("library.db")), db_(new SimpleDB(open)) {
  db_->Open(path_.c_str(), 7);
  db_->AddColumn("id", kSimpleNumber);
  db_->AddColumn("title", kSimpleText);
  db_->AddColumn("artist", kSimpleText);
  db_->AddColumn("year", kSimpleNumber);
  db_->AddColumn("data", kSimpleList);
  if (with_indexes) {
    db_->AddIndex({"artist"});
    db_->AddIndex({"artist", "title"});
    db_->AddIndex({"year"});
    db_->AddIndex({"title"});
  }
}

Result SimpleLibrary::Reopen() {
  db_->Close();
  return db_->Open(path_.c_str(), 7);
}

Result SimpleLibrary::Insert(const Track& track, uint32_t* record) {
  RefPtr<RecordSet> set;
  db_->OpenRecordSet(&set);
  set->AddNew();
  set->SetInt("id", track.id);
  set->SetString("title", track.title);
  set->SetString("artist", track.artist);
  set->SetInt("year", track.year);
  set->SetBlob("data", track.data.data(), static_cast<uint32_t>(track.data.size()));
  const Result result = set->Update();
  if (record) *record = static_cast<SimpleRecordSet*>(set.Get())->RecordNumber();
  return result;
}

Track TrackOf(RecordSet* set) {
  Track track;
  track.id = set->GetInt("id");
  track.title = set->GetString("title");
  track.artist = set->GetString("artist");
  track.year = set->GetInt("year");
  uint32_t length = 0;
  const uint8_t* data = set->GetBlob("data", &length);
  if (data) track.data.assign(reinterpret_cast<const char*>(data), length);
  return track;
}

std::vector<std::string> Titles(RecordSet* set) {
  std::vector<std::string> titles;
  for (; set && !set->IsEOF(); set->MoveNext()) titles.push_back(set->GetString("title"));
  return titles;
}

std::vector<std::string> ArtistTitles(SimpleDB& db, const std::string& artist) {
  RefPtr<RecordQuery> query;
  db.CreateQuery(&query);
  query->AddTextCondition("artist", kOpEqual, artist);
  RefPtr<RecordSet> set;
  EXPECT_EQ(query->Execute(&set), rc::kOk);
  return Titles(set.Get());
}

std::map<uint32_t, Track> SimpleLibrary::Records() {
  std::map<uint32_t, Track> records;
  RefPtr<RecordSet> set;
  db_->OpenRecordSet(&set);
  for (set->MoveFirst(); !set->IsEOF(); set->MoveNext()) {
    records[static_cast<SimpleRecordSet*>(set.Get())->RecordNumber()] = TrackOf(set.Get());
  }
  return records;
}

std::map<std::string, std::string> SimpleLibrary::Entries() {
  std::map<std::string, std::string> entries;
  BerkeleyDbCursor cursor(db_->Db());
  for (cursor.Seek(std::string(), false); !cursor.AtEnd(); cursor.Next()) {
    entries[cursor.Key()] = cursor.Value();
  }
  return entries;
}

std::string SimpleLibrary::IndexProblems() {
  // What the entries should be, from the records' stored values.
  std::map<std::string, std::multiset<uint32_t>> expected;
  const std::map<std::string, std::string> entries = Entries();
  for (const auto& entry : entries) {
    uint32_t record = 0;
    if (!IsRecordKey(entry.first, &record)) continue;
    SimpleCells cells;
    DecodeRecord(db_->Columns(), entry.second, &cells);
    for (const std::vector<uint32_t>& index : db_->Indexes()) {
      for (const std::string& key : IndexKeys(db_->Columns(), index, cells)) {
        expected[key].insert(record);
      }
    }
  }
  std::string problems;
  std::map<std::string, std::multiset<uint32_t>> actual;
  for (const auto& entry : entries) {
    if (entry.first.size() < 4 || Le32At(entry.first, 0) != kIndexKeyMagic) continue;
    std::vector<uint32_t> numbers;
    if (!DecodeNumberList(entry.second, &numbers)) problems += "bad entry " + Hex(entry.first) + "\n";
    actual[entry.first] = std::multiset<uint32_t>(numbers.begin(), numbers.end());
  }
  for (const auto& key : expected) {
    if (actual[key.first] != key.second) problems += "entry " + Hex(key.first) + " differs\n";
  }
  for (const auto& key : actual) {
    if (expected.count(key.first) == 0) problems += "stray entry " + Hex(key.first) + "\n";
  }
  return problems;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex.push_back(digits[c >> 4]);
    hex.push_back(digits[c & 15]);
  }
  return hex;
}

std::string Unhex(const std::string& hex) {
  std::string bytes;
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits.push_back(c);
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<char>(nibble(digits[i]) << 4 | nibble(digits[i + 1])));
  }
  return bytes;
}
