// A SimpleDB music library in a temporary file for the store's tests: its schema and indexes,
// records added through a record set, a check of every index entry against the records, and
// a B-tree whose library calls can be made to fail one by one.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/simple_db.h"
#include "testlib/temp_dir.h"

struct Track {
  int32_t id = 0;
  std::string title;
  std::string artist;
  int32_t year = 0;
  std::string data;
};

// Fails the library call whose number (counted from 1 over get, put, del and sync of every
// handle opened through FailingOpen) is `fail_at`; 0 fails none.
struct CallFaults {
  static int calls;
  static int fail_at;
  static void Reset(int fail = 0) {
    calls = 0;
    fail_at = fail;
  }
};
struct __db* FailingOpen(const char* path, int flags, int mode, const void* info);

class SimpleLibrary {
 public:
  // Columns id (number), title, artist (texts), year (number), data (list); indexes (artist),
  // (artist, title), (year), (title). The database is opened with mode 7.
  explicit SimpleLibrary(bool with_indexes = true, BerkeleyDb::OpenFunction open = nullptr);

  SimpleDB& db() { return *db_; }
  const std::string& path() const { return path_; }
  Result Reopen();

  // AddNew, the values, Update; the Update result, the record number through `record`.
  Result Insert(const Track& track, uint32_t* record = nullptr);
  // Every record read with a table scan, by number.
  std::map<uint32_t, Track> Records();
  // Empty when every index entry lists exactly the records whose values give its key, each
  // once; else what differs.
  std::string IndexProblems();
  // Every key and value of the file.
  std::map<std::string, std::string> Entries();

 private:
  TempDir dir_;
  std::string path_;
  std::unique_ptr<SimpleDB> db_;
};

Track TrackOf(RecordSet* set);
// The titles a record set shows from where it stands to its end.
std::vector<std::string> Titles(RecordSet* set);
// The titles a query for `artist` finds, as the artist index lists them.
std::vector<std::string> ArtistTitles(SimpleDB& db, const std::string& artist);
// Bytes as lower-case hex pairs, and back (blanks in the hex text are skipped).
std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);
