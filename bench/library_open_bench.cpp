// Opening a mass-storage player's library file of 1,000, 5,000 and 20,000 track records (the
// file source's schema and 33 indexes): the open the source makes (Berkeley DB's verification
// of the whole file first), the same open without the check, and the check alone, against a
// reference measured in the same run: one plain read of the file's bytes.
//   library_open_bench [--tracks N] [--rounds R]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "db/berkeley_db_native.h"
#include "devices/msc/file_source.h"
#include "support/file_helpers.h"

namespace {

const char* const kWords[] = {"Harbour", "Night", "Ferry", "Low", "Tide",   "Early",
                              "Light",   "Quiet", "Hours", "Été", "Straße", "River"};

std::string TempPath(const char* name) {
  const char* temp = std::getenv("TEMP");
  return std::string(temp ? temp : ".") + "\\" + name;
}

// A library of `tracks` records, as a first synchronisation leaves it.
void MakeLibrary(const std::string& root, const std::string& database, uint32_t tracks) {
  UnlinkFile(database);
  FileSource source(MscFileSource::kFlagsWithHostDatabase, database, root);
  if (rc::Failed(source.OpenDatabase(nullptr))) std::exit(1);
  Random random(0x0BE7u + tracks);
  source.Db().SetSyncOnChange(false);
  source.Db().BeginIndexBatch();
  RefPtr<RecordSet> record;
  source.Db().OpenRecordSet(&record);
  source.Lock();
  for (uint32_t i = 0; i < tracks; ++i) {
    const uint32_t album = i / 100;
    record->AddNew();
    record->SetInt("fid", static_cast<int32_t>(kFirstFreeFid + i * kFidStep));
    record->SetInt("tracknr", static_cast<int32_t>(i % 100 + 1));
    record->SetInt("length", static_cast<int32_t>(3000000 + random.Below(5000000)));
    record->SetInt("duration", static_cast<int32_t>(120000 + random.Below(300000)));
    record->SetString("type", "tune");
    record->SetString("codec", "mp3");
    record->SetString("path", root + "Album " + std::to_string(album) + "\\" +
                                  std::to_string(i % 100) + " Track.mp3");
    record->SetString("title", std::string(random.Pick(kWords)) + " " + random.Pick(kWords));
    record->SetString("artist", random.Pick(kWords));
    record->SetString("source", "Album " + std::to_string(album));
    record->SetString("genre", random.Pick(kWords));
    record->SetString("year", std::to_string(1960 + random.Below(60)));
    if (rc::Failed(record->Update())) std::exit(1);
  }
  source.Unlock();
  record.Reset();
  source.Db().EndIndexBatch();
  source.Db().SetSyncOnChange(true);
}

double ReadWhole(const std::string& path, uint64_t* bytes) {
  const BenchClock::time_point start = BenchClock::now();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) std::exit(1);
  static char buffer[1 << 16];
  *bytes = 0;
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) *bytes += got;
  std::fclose(file);
  return MsSince(start);
}

double OpenClose(const std::string& path, uint32_t mode) {
  const BenchClock::time_point start = BenchClock::now();
  SimpleDB db;
  if (rc::Failed(db.Open(path.c_str(), mode))) std::exit(1);
  db.Close();
  return MsSince(start);
}

double VerifyOnly(const std::string& path) {
  const BenchClock::time_point start = BenchClock::now();
  if (rc::Failed(berkeley_native::VerifyFile(path.c_str()))) std::exit(1);
  return MsSince(start);
}

template <typename Measure>
double Best(uint32_t rounds, Measure measure) {
  double best = measure();
  for (uint32_t i = 1; i < rounds; ++i) {
    const double ms = measure();
    if (ms < best) best = ms;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint32_t> sizes = {1000, 5000, 20000};
  uint32_t rounds = 3;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--tracks") == 0) {
      sizes = {static_cast<uint32_t>(std::atoi(argv[i + 1]))};
    } else if (std::strcmp(argv[i], "--rounds") == 0) {
      rounds = static_cast<uint32_t>(std::atoi(argv[i + 1]));
    }
  }
  const std::string root = "M:\\";
  const std::string database = TempPath("library_open_bench.db");
  constexpr uint32_t kPlain = BerkeleyDb::kRead | BerkeleyDb::kWrite;
  std::printf("opening a library file (best of %u), against one plain read of its bytes\n",
              rounds);
  for (uint32_t tracks : sizes) {
    MakeLibrary(root, database, tracks);
    uint64_t bytes = 0;
    ReadWhole(database, &bytes);  // the same file-system cache for every measurement
    const double read_ms = Best(rounds, [&] { return ReadWhole(database, &bytes); });
    const double plain_ms = Best(rounds, [&] { return OpenClose(database, kPlain); });
    const double checked_ms =
        Best(rounds, [&] { return OpenClose(database, kPlain | BerkeleyDb::kVerify); });
    const double verify_ms = Best(rounds, [&] { return VerifyOnly(database); });
    std::printf("%6u tracks, %7.1f MiB: plain read %7.1f ms\n", tracks, bytes / 1048576.0,
                read_ms);
    std::printf("  open without the check %8.1f ms  ratio %6.2f\n", plain_ms,
                plain_ms / read_ms);
    std::printf("  open with the check    %8.1f ms  ratio %6.2f\n", checked_ms,
                checked_ms / read_ms);
    std::printf("  the check alone        %8.1f ms  ratio %6.2f\n", verify_ms,
                verify_ms / read_ms);
  }
  UnlinkFile(database);
  return 0;
}
