// Load, compact and save column tables (the hard-disk players' music database) of 1,000, 5,000
// and 20,000 tracks, and walk them grouped by artist (3,000 artists at 20,000 tracks). Prints
// the best time of each step per size, its ratio to the smallest size and its growth exponent
// next to n log n, and a reference measured in the same run: sorting the n artist texts.
//   column_table_bench [--rounds N]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "db/column_table.h"
#include "support/collation.h"
#include "support/memory_stream.h"

namespace {

constexpr uint32_t kSizes[] = {1000, 5000, 20000};
constexpr int kSizeCount = sizeof kSizes / sizeof kSizes[0];
// n log n grows with an exponent of about 1.12 between 1,000 and 20,000; growth above this
// exponent counts as faster.
constexpr double kNLogNExponentLimit = 1.45;
constexpr int kShortStepRepeats = 10;

const char* const kWords[] = {"Amour", "Été",    "Nuit",   "Soleil", "Corazón", "Straße",
                              "Träume", "River", "Night",  "Blue",   "Garden",  "Echo",
                              "Zürich", "Café",  "Mirror", "Velvet", "Ember",   "Glass"};
const char* const kArticles[] = {"", "", "", "The ", "A ", "Les ", "Die ", "La "};

struct Track {
  std::string title, artist, album, genre;
};

std::vector<Track> MakeTracks(uint32_t n) {
  Random random(0xC011AB1Eull + n);
  const uint32_t artists = std::max(1u, n * 3 / 20);
  auto words = [&](uint32_t count) {
    std::string text = random.Pick(kWords);
    while (count-- > 0) text += std::string(" ") + random.Pick(kWords);
    return text;
  };
  std::vector<std::string> artist_names;
  for (uint32_t a = 0; a < artists; ++a)
    artist_names.push_back(random.Pick(kArticles) + words(1) + " " + std::to_string(a));
  std::vector<Track> tracks(n);
  for (Track& track : tracks) {
    track.artist = artist_names[random.Below(artists)];
    track.title = words(1 + random.Below(3));
    track.album = words(random.Below(3));
    track.genre = kWords[random.Below(6)];
  }
  return tracks;
}

void AddColumns(ColumnTable* table) {
  table->AddColumn("fid", kColumnTypeInt32, kColumnSorted);
  table->AddColumn("title", kColumnTypeString, 0);
  table->AddColumn("artist", kColumnTypeString, 0);
  table->AddColumn("source", kColumnTypeString, 0);
  table->AddColumn("genre", kColumnTypeString, 0);
  table->AddColumn("year", kColumnTypeInt16, kColumnSorted);
  table->AddColumn("rating", kColumnTypeByte, 0);
  table->AddColumn("profile", kColumnTypeBlob, 0);
}

void Fill(ColumnTable* table, const std::vector<Track>& tracks) {
  const uint8_t profile[40] = {1, 2, 3};
  RefPtr<RecordSet> set;
  table->OpenRecordSet(&set);
  for (size_t i = 0; i < tracks.size(); ++i) {
    set->AddNew();
    set->SetInt("fid", static_cast<int32_t>((i + 1) << 4));
    set->SetString("title", tracks[i].title);
    set->SetString("artist", tracks[i].artist);
    set->SetString("source", tracks[i].album);
    set->SetString("genre", tracks[i].genre);
    set->SetInt("year", static_cast<int32_t>(1960 + i % 60));
    set->SetInt("rating", static_cast<int32_t>(i % 6));
    set->SetBlob("profile", profile, sizeof profile);
    set->Update();
  }
}

enum Step { kCompactNew, kSave, kLoad, kEditCompact, kGroupWalk, kSortReference, kStepCount };
const char* const kStepNames[kStepCount] = {
    "compact n new rows", "save",          "load",
    "edit 10%, compact",  "grouped walk by artist", "reference: sort n artists",
};

bool Fail(const char* what, uint32_t n) {
  std::printf("column_table_bench: %s (%u rows)\n", what, n);
  return false;
}

bool MeasureRound(uint32_t n, double* best) {
  auto keep = [&](Step step, double ms) { best[step] = std::min(best[step], ms); };
  const std::vector<Track> tracks = MakeTracks(n);

  ColumnTable table(8, 3, nullptr);
  AddColumns(&table);
  Fill(&table, tracks);
  table.SetColumnCompare(table.FindColumn("artist"), ArticleSkippingCompare);
  BenchClock::time_point start = BenchClock::now();
  if (table.Compact(nullptr) != rc::kOk) return Fail("Compact failed", n);
  keep(kCompactNew, MsSince(start));

  // Save and load take well under a millisecond at the smallest size: each runs several
  // times a round so that one slow run says little. Saves after the first overwrite the same
  // memory, so that the heap's growth of a fresh stream is not timed with the table.
  MemoryStream stream;
  ColumnTable loaded(8, 3, nullptr);
  if (table.Save(&stream) != rc::kOk) return Fail("Save failed", n);
  for (int repeat = 0; repeat < kShortStepRepeats; ++repeat) {
    stream.Seek(0);
    start = BenchClock::now();
    if (table.Save(&stream) != rc::kOk) return Fail("Save failed", n);
    keep(kSave, MsSince(start));
    stream.Seek(0);
    start = BenchClock::now();
    if (loaded.Load(&stream, true) != rc::kOk) return Fail("Load failed", n);
    keep(kLoad, MsSince(start));
  }
  if (loaded.RowCount() != n) return Fail("the loaded table lost rows", n);
  loaded.SetColumnCompare(loaded.FindColumn("artist"), ArticleSkippingCompare);

  // A tenth of the rows get a new title (open rows), a tenth of those are deleted.
  {
    RefPtr<RecordSet> set;
    loaded.OpenRecordSet(&set);
    for (uint32_t i = 0; !set->IsEOF(); set->MoveNext(), ++i) {
      if (i % 10 != 3) continue;
      if (i % 100 == 3) {
        set->Delete(0);
      } else {
        set->SetString("title", "Edited " + std::to_string(i));
        set->Update();
      }
    }
  }
  start = BenchClock::now();
  if (loaded.Compact(nullptr) != rc::kOk) return Fail("Compact after edits failed", n);
  keep(kEditCompact, MsSince(start));

  start = BenchClock::now();
  RefPtr<RecordQuery> query;
  loaded.CreateQuery(&query);
  query->AddGroupColumn("artist");
  RefPtr<RecordSet> groups;
  query->Execute(&groups);
  uint32_t counted = 0;
  for (; groups && !groups->IsEOF(); groups->MoveNext())
    counted += static_cast<uint32_t>(groups->GetInt("count"));
  keep(kGroupWalk, MsSince(start));
  if (counted != loaded.RowCount()) return Fail("the groups do not cover every row", n);

  std::vector<const char*> artists;
  for (const Track& track : tracks) artists.push_back(track.artist.c_str());
  start = BenchClock::now();
  std::stable_sort(artists.begin(), artists.end(),
                   [](const char* a, const char* b) { return ArticleSkippingCompare(a, b) < 0; });
  keep(kSortReference, MsSince(start));
  return true;
}

void Print(double (&best)[kSizeCount][kStepCount], int rounds) {
  std::printf("column table: best of %d rounds, times in ms\n", rounds);
  std::printf("ratio = t(n) / t(%u); exponent = log(t(%u) / t(%u)) / log(%u / %u): 1 for n, "
              "2 for n^2\n\n",
              kSizes[0], kSizes[kSizeCount - 1], kSizes[0], kSizes[kSizeCount - 1], kSizes[0]);
  std::printf("%-28s", "step");
  for (uint32_t n : kSizes) std::printf("  %8s%-5u", "n=", n);
  for (int s = 1; s < kSizeCount; ++s) std::printf(" ratio %-5u", kSizes[s]);
  std::printf(" %8s  %s\n", "exponent", "growth");
  const double span = std::log(double{kSizes[kSizeCount - 1]} / kSizes[0]);
  std::printf("%-28s", "n log n (for comparison)");
  for (int s = 0; s < kSizeCount; ++s) std::printf("  %13s", "");
  const double nlogn0 = kSizes[0] * std::log(double{kSizes[0]});
  for (int s = 1; s < kSizeCount; ++s)
    std::printf(" %11.2f", kSizes[s] * std::log(static_cast<double>(kSizes[s])) / nlogn0);
  std::printf(" %8.2f\n", std::log(kSizes[kSizeCount - 1] * std::log(double{kSizes[kSizeCount - 1]}) / nlogn0) / span);
  for (int step = 0; step < kStepCount; ++step) {
    std::printf("%-28s", kStepNames[step]);
    for (int s = 0; s < kSizeCount; ++s) std::printf("  %13.2f", best[s][step]);
    const double first = std::max(best[0][step], 1e-3);
    for (int s = 1; s < kSizeCount; ++s) std::printf(" %11.2f", best[s][step] / first);
    const double exponent = std::log(best[kSizeCount - 1][step] / first) / span;
    std::printf(" %8.2f  %s\n", exponent,
                exponent > kNLogNExponentLimit ? "FASTER than n log n" : "within n log n");
  }
  std::printf("\nthe grouped walk at n=%u covers %u artists\n", kSizes[kSizeCount - 1],
              kSizes[kSizeCount - 1] * 3 / 20);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: column_table_bench [--rounds N]\n");
      return 2;
    }
  }
  double best[kSizeCount][kStepCount];
  for (auto& row : best) std::fill(row, row + kStepCount, 1e300);
  for (int round = 0; round < rounds; ++round) {
    for (int s = 0; s < kSizeCount; ++s) {
      if (!MeasureRound(kSizes[s], best[s])) return 1;
    }
  }
  Print(best, rounds);
  return 0;
}
