// The mass-storage file source over tagged MP3 files in album folders of 100: a cold
// synchronisation (a new database: every file read and recorded), a warm one (nothing changed:
// every file only looked up) and one after half the files were deleted (their records go), in
// files per second, against a reference measured in the same run: a plain walk of the same
// tree that opens and reads every file once. Runs at 1,000, 5,000 and 20,000 files and prints
// how the cold and the deleting passes grow with the number of files, as the exponent k of
// time ~ n^k beside the one n log n growth would give. Then NewFid over a table of the largest
// size with one gap early, in the middle and none at all (then the next fid is cached),
// against one walk over every record of the same table. A further cold pass of each kind at
// each size, its B-tree calls timed, prints where a cold pass spends its time: reading the
// tags (the same readers over the same files, alone, in plain walks), writing records, making
// the index entries (the flushes of the queued changes), syncing, and the rest.
//   msc_sync_bench [--files N]   (one size only)
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "db/db185_api.h"
#include "devices/msc/file_source.h"
#include "devices/msc/scan_listener.h"
#include "devices/msc/source_sinks.h"
#include "media/property_set.h"
#include "media/tag_reader_factory.h"
#include "support/file_helpers.h"
#include "testlib/id3_builder.h"
#include "testlib/mpeg_frames.h"

namespace {

const char* const kWords[] = {"Harbour", "Night", "Ferry", "Low", "Tide",   "Early",
                              "Light",   "Quiet", "Hours", "Été", "Straße", "River"};

constexpr uint32_t kTracksPerAlbum = 100;

std::string Folder(const char* name) {
  const char* temp = std::getenv("TEMP");
  return std::string(temp ? temp : ".") + "\\" + name;
}

std::string TrackBytes(Random& random, uint32_t album, uint32_t track) {
  using id3test::Frame23;
  using id3test::Text;
  const std::string title = std::string(random.Pick(kWords)) + " " + random.Pick(kWords);
  const std::string frames = Frame23("TIT2", Text(0, title)) +
                             Frame23("TPE1", Text(0, random.Pick(kWords))) +
                             Frame23("TALB", Text(0, "Album " + std::to_string(album))) +
                             Frame23("TRCK", Text(0, std::to_string(track)));
  return id3test::Tag(3, frames) + mpegtest::Frames(mpegtest::kMpeg1L3, 8);
}

void MakeTree(const std::string& root, uint32_t files) {
  DeleteTree(root);
  Random random(0x5CA7u);
  for (uint32_t i = 0; i < files; ++i) {
    const uint32_t album = i / kTracksPerAlbum;
    const std::string folder = root + "\\Album " + std::to_string(album);
    if (i % kTracksPerAlbum == 0) MakeDirectories(folder);
    const std::string path = folder + "\\" + std::to_string(i % kTracksPerAlbum) + " Track.mp3";
    const std::string bytes = TrackBytes(random, album, i % kTracksPerAlbum + 1);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::exit(1);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
}

// The reference: every file found, examined and read once.
uint32_t PlainWalk(const std::string& folder) {
  uint32_t files = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  static char buffer[1 << 16];
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files += PlainWalk(path);
      continue;
    }
    GetFileAttributesA(path.c_str());
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) continue;
    while (std::fread(buffer, 1, sizeof buffer, file) == sizeof buffer) {
    }
    std::fclose(file);
    ++files;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}

// Reads the tags of every track as a pass does, and nothing else.
uint32_t ReadTagsAlone(const std::string& folder, bool fingerprint) {
  uint32_t files = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files += ReadTagsAlone(path, fingerprint);
      continue;
    }
    RefPtr<PropertySet> tags;
    std::unique_ptr<TagReader> reader;
    if (rc::Failed(PropertySet::Create(&tags)) ||
        rc::Failed(TagReaderFactory(path, std::string(), &reader))) {
      continue;
    }
    reader->SetComputeFingerprint(fingerprint);
    PropertySetTagSink sink(tags.Get());
    files += rc::Succeeded(reader->ReadFile(path, &sink));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}

// Time spent in the B-tree's calls during an instrumented pass, by what they touch.
struct TreeTimes {
  double records = 0;   // record entries and the counter
  double indexes = 0;   // index entries: the flushes of queued changes, and exact lookups
  double syncs = 0;
  double other = 0;     // cursor moves and reads of anything else
  void Clear() { *this = TreeTimes(); }
};
TreeTimes tree_times;
DB real_calls;

double* TimeOf(const DBT* key) {
  const uint8_t* bytes = static_cast<const uint8_t*>(key->data);
  if (key->size >= 4 && bytes[0] == 0x21 && bytes[1] == 0x43 && bytes[2] == 0x65 &&
      bytes[3] == 0x87) {
    return &tree_times.indexes;
  }
  if (key->size == 8 && bytes[0] == 0x78 && bytes[1] == 0x56) return &tree_times.records;
  return &tree_times.other;
}

template <typename Call>
int Timed(double* into, Call call) {
  const BenchClock::time_point start = BenchClock::now();
  const int status = call();
  *into += MsSince(start);
  return status;
}

int TimedGet(const DB* db, const DBT* key, DBT* value, u_int flags) {
  return Timed(TimeOf(key), [&] { return real_calls.get(db, key, value, flags); });
}
int TimedPut(const DB* db, DBT* key, const DBT* value, u_int flags) {
  return Timed(TimeOf(key), [&] { return real_calls.put(db, key, value, flags); });
}
int TimedDel(const DB* db, const DBT* key, u_int flags) {
  return Timed(TimeOf(key), [&] { return real_calls.del(db, key, flags); });
}
int TimedSeq(const DB* db, DBT* key, DBT* value, u_int flags) {
  return Timed(&tree_times.other, [&] { return real_calls.seq(db, key, value, flags); });
}
int TimedSync(const DB* db, u_int flags) {
  return Timed(&tree_times.syncs, [&] { return (real_calls.sync)(db, flags); });
}

struct __db* TimedOpen(const char* path, int flags, int mode, const void* info) {
  DB* db = dbopen(path, flags, mode, DB_BTREE, info);
  if (db == nullptr) return nullptr;
  real_calls = *db;
  db->get = TimedGet;
  db->put = TimedPut;
  db->del = TimedDel;
  db->seq = TimedSeq;
  db->sync = TimedSync;
  return db;
}

// On a busy machine one walk can stray far either way: the middle one of three.
double MedianWalkMs(const std::string& root) {
  double ms[3];
  for (double& one : ms) {
    const BenchClock::time_point start = BenchClock::now();
    PlainWalk(root);
    one = MsSince(start);
  }
  std::sort(ms, ms + 3);
  return ms[1];
}

class CountingListener : public ScanListener {
 public:
  Result OnTrack(RecordSet&) override {
    ++tracks;
    return rc::kOk;
  }
  uint32_t tracks = 0;
};

double Synchronise(FileSource& source, uint32_t* tracks) {
  CountingListener listener;
  const BenchClock::time_point start = BenchClock::now();
  if (rc::Failed(source.Refresh(&listener, 0))) {
    std::fprintf(stderr, "synchronisation failed\n");
    std::exit(1);
  }
  *tracks = listener.tracks;
  return MsSince(start);
}

// Seconds of the passes of one kind of database at one size.
struct PassTimes {
  double cold = 0;
  double deleting = 0;
};

// Half the files (every second one) go from the tree.
uint32_t DeleteHalf(const std::string& root, uint32_t files) {
  uint32_t deleted = 0;
  for (uint32_t i = 0; i < files; i += 2) {
    const std::string path = root + "\\Album " + std::to_string(i / kTracksPerAlbum) + "\\" +
                             std::to_string(i % kTracksPerAlbum) + " Track.mp3";
    if (rc::Succeeded(UnlinkFile(path))) ++deleted;
  }
  return deleted;
}

struct DatabaseKind {
  const char* name;
  uint32_t flags;
};
const DatabaseKind kKinds[] = {{"database file ", MscFileSource::kFlagsWithHostDatabase},
                               {"temporary tree", MscFileSource::kFlagsWithoutHostDatabase}};

void PrintRate(const char* kind, const char* pass, uint32_t files, double ms, double reference) {
  const double rate = files / (ms / 1000);
  std::printf("  %s %-9s %8.0f files/s  %7.2f s  (%.3f of the reference)\n", kind, pass, rate,
              ms / 1000, rate / reference);
}

// A cold pass with its B-tree calls timed, over the tree as MakeTree leaves it, and the tags
// read alone, against a plain walk measured beside them.
void PrintColdSplit(const DatabaseKind& kind, const std::string& root,
                    const std::string& database, uint32_t files) {
  MakeTree(root, files);
  PlainWalk(root);
  const double walk_ms = MedianWalkMs(root);
  BenchClock::time_point start = BenchClock::now();
  ReadTagsAlone(root, (kind.flags & DirectorySource::kNoFingerprint) == 0);
  const double tags_ms = MsSince(start);
  UnlinkFile(database);
  uint32_t tracks = 0;
  double pass_ms = 0;
  {
    FileSource source(kind.flags, database, root, TimedOpen);
    if (rc::Failed(source.OpenDatabase(nullptr))) std::exit(1);
    tree_times.Clear();
    pass_ms = Synchronise(source, &tracks);
  }
  UnlinkFile(database);
  const TreeTimes t = tree_times;
  const double rest = pass_ms - tags_ms - t.records - t.indexes - t.syncs - t.other;
  std::printf("  %s cold split (%.2f s, timed): tags read alone %.2f s (%.2f plain walks), "
              "records %.2f s, index entries %.2f s, syncs %.2f s, cursor and other reads "
              "%.2f s, the rest %.2f s\n",
              kind.name, pass_ms / 1000, tags_ms / 1000, tags_ms / walk_ms, t.records / 1000,
              t.indexes / 1000, t.syncs / 1000, t.other / 1000, rest / 1000);
}

// One size: the reference, then each kind of database. Returns the times of each kind.
std::vector<PassTimes> SyncBench(uint32_t files) {
  const std::string root = Folder("msc_sync_bench");
  const std::string database = Folder("msc_sync_bench.db");
  std::vector<PassTimes> times;
  std::printf("synchronisation of %u files in %u folders\n", files, files / kTracksPerAlbum);
  for (const DatabaseKind& kind : kKinds) {
    MakeTree(root, files);
    PlainWalk(root);  // the same file-system cache for every measurement
    const double reference = files / (MedianWalkMs(root) / 1000);
    std::printf("  reference, a plain walk reading every file: %8.0f files/s (median of 3)\n",
                reference);

    UnlinkFile(database);
    uint32_t cold_tracks = 0, warm_tracks = 0, left_tracks = 0, deleted = 0;
    PassTimes pass;
    double warm_ms = 0;
    {
      FileSource source(kind.flags, database, root);
      if (rc::Failed(source.OpenDatabase(nullptr))) std::exit(1);
      pass.cold = Synchronise(source, &cold_tracks);
      warm_ms = Synchronise(source, &warm_tracks);
      deleted = DeleteHalf(root, files);
      pass.deleting = Synchronise(source, &left_tracks);
    }
    if (cold_tracks != files || warm_tracks != files || left_tracks != files - deleted) {
      std::fprintf(stderr, "scanned %u, %u and %u of %u files\n", cold_tracks, warm_tracks,
                   left_tracks, files);
      std::exit(1);
    }
    PrintRate(kind.name, "cold", files, pass.cold, reference);
    PrintColdSplit(kind, root, database, files);
    PrintRate(kind.name, "warm", files, warm_ms, reference);
    std::printf("  %s deleting %u records: %8.0f records/s  %7.2f s (with the %u files left)\n",
                kind.name, deleted, deleted / (pass.deleting / 1000), pass.deleting / 1000,
                files - deleted);
    times.push_back(pass);
    UnlinkFile(database);
  }
  DeleteTree(root);
  return times;
}

// k of time ~ n^k between two sizes, and the k that n log n growth gives there.
void PrintGrowth(const char* what, uint32_t n1, double t1, uint32_t n2, double t2) {
  const double k = std::log(t2 / t1) / std::log(double(n2) / n1);
  const double n_log_n = std::log((n2 * std::log(double(n2))) / (n1 * std::log(double(n1)))) /
                         std::log(double(n2) / n1);
  std::printf("  %-30s %6u -> %6u files: exponent %.2f  (n log n: %.2f)\n", what, n1, n2, k,
              n_log_n);
}

// A temporary database of `records` tracks with fids from 0x120 on, leaving out the fid at
// position `gap` (none when it is `records`).
std::unique_ptr<FileSource> TableWithGap(const std::string& root, uint32_t records, uint32_t gap) {
  std::unique_ptr<FileSource> source(
      new FileSource(MscFileSource::kFlagsWithoutHostDatabase, "", root));
  if (rc::Failed(source->OpenDatabase(nullptr))) std::exit(1);
  source->SetSyncOnChange(false);
  source->Db().BeginIndexBatch();
  RefPtr<RecordSet> set;
  source->Database()->OpenRecordSet(&set);
  source->Lock();
  for (uint32_t i = 0; i <= records; ++i) {
    if (i == gap) continue;
    set->AddNew();
    set->SetInt("fid", static_cast<int32_t>(kFirstFreeFid + kFidStep * i));
    set->SetString("type", "tune");
    set->SetString("path", root + "\\" + std::to_string(i) + ".mp3");
    if (rc::Failed(set->Update())) std::exit(1);
  }
  source->Unlock();
  if (rc::Failed(source->Db().EndIndexBatch())) std::exit(1);
  return source;
}

void NewFidBench(uint32_t records) {
  const std::string root = Folder("msc_fid_bench");
  MakeDirectories(root);
  std::printf("NewFid over %u records\n", records);
  const struct {
    const char* name;
    uint32_t gap;
  } cases[] = {{"gap at record 10  ", 10},
               {"gap in the middle ", records / 2},
               {"no gap (cached)   ", records + 1}};
  for (const auto& c : cases) {
    std::unique_ptr<FileSource> source = TableWithGap(root, records, c.gap);
    BenchClock::time_point start = BenchClock::now();
    RefPtr<RecordSet> all;
    source->Database()->OpenRecordSet(&all);
    uint32_t walked = 0;
    for (all->MoveFirst(); !all->IsEOF(); all->MoveNext()) walked += all->GetInt("fid") != 0;
    const double walk_ms = MsSince(start);
    const int calls = 50;
    start = BenchClock::now();
    for (int i = 0; i < calls; ++i) {
      uint32_t fid = 0;
      if (rc::Failed(source->NewFid(&fid))) std::exit(1);
    }
    const double call_ms = MsSince(start) / calls;
    std::printf("  %s %9.3f ms a call  (%.3f of one walk over %u records, %.1f ms)\n", c.name,
                call_ms, call_ms / walk_ms, walked, walk_ms);
  }
  DeleteTree(root);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint32_t> sizes = {1000, 5000, 20000};
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--files") == 0) {
      const uint32_t files = static_cast<uint32_t>(std::atoi(argv[++i]));
      sizes = {files < kTracksPerAlbum ? kTracksPerAlbum : files};
    }
  }
  std::vector<std::vector<PassTimes>> times;
  for (uint32_t files : sizes) {
    times.push_back(SyncBench(files));
    std::printf("\n");
  }
  if (sizes.size() > 1) {
    std::printf("growth\n");
    for (size_t kind = 0; kind < sizeof kKinds / sizeof kKinds[0]; ++kind) {
      for (size_t i = 1; i < sizes.size(); ++i) {
        const std::string name = kKinds[kind].name;
        PrintGrowth((name + " cold").c_str(), sizes[i - 1], times[i - 1][kind].cold, sizes[i],
                    times[i][kind].cold);
        PrintGrowth((name + " deleting").c_str(), sizes[i - 1], times[i - 1][kind].deleting,
                    sizes[i], times[i][kind].deleting);
      }
    }
    std::printf("\n");
  }
  NewFidBench(sizes.back());
  return 0;
}
