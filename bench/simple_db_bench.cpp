// 10,000 inserts into a SimpleDB with three indexes, one of them over a column that holds the
// same value in every record (the hot key: its one index entry grows with every insert), with
// sync after every change and without. The reference, measured in the same run: raw puts of
// the same record bytes and one put per index key, through the same B-tree library.
//   simple_db_bench [--records N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "db/simple_db.h"
#include "db/simple_layout.h"

namespace {

const char* const kWords[] = {"Amour", "Été",   "Nuit",  "Soleil", "Corazón", "Straße",
                              "River", "Night", "Blue",  "Garden", "Echo",    "Zürich"};


std::vector<SimpleColumn> Columns() {
  return {{"id", kSimpleNumber, nullptr},
          {"title", kSimpleText, nullptr},
          {"artist", kSimpleText, nullptr},
          {"genre", kSimpleText, nullptr},
          {"year", kSimpleNumber, nullptr}};
}
const std::vector<std::vector<uint32_t>> kIndexes = {{2}, {2, 1}, {3}};

std::vector<SimpleCells> MakeRecords(uint32_t n) {
  Random random(0x51D8u + n);
  std::vector<SimpleCells> records(n, SimpleCells(5));
  for (uint32_t i = 0; i < n; ++i) {
    SimpleCells& cells = records[i];
    cells[0].number = static_cast<int32_t>(i + 1);
    cells[1].bytes = std::string(random.Pick(kWords)) + " " + random.Pick(kWords) + " " +
                     std::to_string(i);
    cells[2].bytes = std::string(random.Pick(kWords)) + " " + std::to_string(random.Below(n / 8 + 1));
    cells[3].bytes = "Rock";  // the hot key
    cells[4].number = 1960 + static_cast<int32_t>(random.Below(60));
  }
  return records;
}

std::string TempPath(const char* name) {
  const char* temp = std::getenv("TEMP");
  std::string path = temp ? temp : ".";
  path += "\\";
  path += name;
  std::remove(path.c_str());
  return path;
}

double InsertSimpleDb(const std::vector<SimpleCells>& records, bool sync) {
  const std::string path = TempPath("simple_db_bench.db");
  SimpleDB db;
  if (rc::Failed(db.Open(path.c_str(), 7))) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }
  for (const SimpleColumn& column : Columns()) db.AddColumn(column.name, column.type);
  db.AddIndex({"artist"});
  db.AddIndex({"artist", "title"});
  db.AddIndex({"genre"});
  // A database syncs on change only once its schema was read from the file.
  db.Close();
  db.Open(path.c_str(), 7);
  db.SetSyncOnChange(sync);
  RefPtr<RecordSet> set;
  db.OpenRecordSet(&set);
  const BenchClock::time_point start = BenchClock::now();
  for (const SimpleCells& cells : records) {
    set->AddNew();
    set->SetInt(0, cells[0].number);
    set->SetString(1, cells[1].bytes);
    set->SetString(2, cells[2].bytes);
    set->SetString(3, cells[3].bytes);
    set->SetInt(4, cells[4].number);
    if (rc::Failed(set->Update())) {
      std::fprintf(stderr, "update failed\n");
      std::exit(1);
    }
  }
  db.Sync();
  const double ms = MsSince(start);
  set.Reset();
  db.Close();
  std::remove(path.c_str());
  return ms;
}

double InsertRaw(const std::vector<SimpleCells>& records, bool sync) {
  using namespace simple_layout;
  const std::string path = TempPath("simple_db_bench_raw.db");
  BerkeleyDb db;
  if (rc::Failed(db.Open(path.c_str(), 7))) std::exit(1);
  const std::vector<SimpleColumn> columns = Columns();
  const BenchClock::time_point start = BenchClock::now();
  uint32_t number = 1;
  for (const SimpleCells& cells : records) {
    ++number;
    std::string counter;
    AppendLe32(&counter, number);
    db.Put(WordKey(kCounterKey), counter);
    db.Put(RecordKey(number), EncodeRecord(columns, cells));
    for (const std::vector<uint32_t>& index : kIndexes) {
      for (std::string key : IndexKeys(columns, index, cells)) {
        AppendLe32(&key, number);  // a key of its own: no entry to read and grow
        db.Put(key, counter);
      }
    }
    if (sync) db.Sync();
  }
  db.Sync();
  const double ms = MsSince(start);
  db.Close();
  std::remove(path.c_str());
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t n = 10000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--records") == 0) n = static_cast<uint32_t>(std::atoi(argv[i + 1]));
  }
  const std::vector<SimpleCells> records = MakeRecords(n);
  std::printf("SimpleDB: %u inserts, indexes (artist), (artist, title), (genre: one hot key)\n", n);
  std::printf("%-10s %14s %14s %10s\n", "sync", "records/s", "raw puts/s", "ratio");
  for (bool sync : {false, true}) {
    const double simple_ms = InsertSimpleDb(records, sync);
    const double raw_ms = InsertRaw(records, sync);
    const double simple_rate = n / (simple_ms / 1000.0);
    const double raw_rate = n / (raw_ms / 1000.0);
    std::printf("%-10s %14.0f %14.0f %10.2f\n", sync ? "on" : "off", simple_rate, raw_rate,
                simple_rate / raw_rate);
  }
  return 0;
}
