// Builds, serialises and commits family B track databases of 250, 500 and 1,000 tracks (a
// storage holds at most 1,023) and prints how each step grows against the smallest size, next
// to what n log n growth would give. The tracks are made up but deterministic: accented names,
// articles, artists shared by several albums, a few titles used many times.
//   family_b_database_bench [--rounds N]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "devices/flash/fid_tag_mapper.h"
#include "devices/flash/packed_track_database.h"
#include "devices/flash/sardane_channel_b.h"
#include "media/property_holder.h"
#include "sim/flash/flash_player_b.h"
#include "sim/flash/sim_usb_hardware.h"
#include "support/md5.h"
#include "testlib/fake_clock.h"

namespace {

constexpr uint32_t kProductId = 0x5220;
constexpr uint32_t kSizes[] = {250, 500, 1000};
constexpr int kSizeCount = sizeof kSizes / sizeof kSizes[0];
// Growth exponents (log of the ratio over log of the size ratio) above this are reported as
// faster than n log n, whose exponent between 250 and 1,000 is about 1.16.
constexpr double kNLogNExponentLimit = 1.45;
constexpr int kShortStepRepeats = 10;

const char* const kWords[] = {
    "Amour",   "Été",      "Nuit",      "Soleil",  "Corazón", "Mañana", "Straße",   "Träume",
    "Fjärran", "Ångström", "Niño",      "Lumière", "River",   "Night",  "Electric", "Blue",
    "Garden",  "Dreams",   "Echo",      "Zürich",  "Café",    "Naïve",  "Sœur",     "Øresund",
    "Glass",   "Winter",   "Horizon",   "Silence", "Canción", "Señal",  "Fête",     "Élan",
    "Mirror",  "Highway",  "Paper",     "Velvet",  "Lágrima", "Ciel",   "Stadt",    "Königin",
    "Ember",   "Hollow",   "Satellite", "Çalışma", "Łąka",    "Dziś",   "Über",     "Crème"};
const char* const kArticles[] = {"The ", "A ", "Les ", "La ", "Le ", "El ", "Die ", "Das "};
const char* const kFirstNames[] = {"Zoë",    "José",   "Ana",   "Björn", "Chloé",  "Mikael",
                                   "Renée",  "Łukasz", "Søren", "Inés",  "Noël",   "Amélie",
                                   "Jürgen", "Ólafur", "Ilona", "Kenji", "Maëlle", "Dmitri"};
const char* const kLastNames[] = {"Åberg",   "Durand", "Fernández", "Nakamura", "Østergaard",
                                  "Müller",  "Dubois", "Kowalski",  "Novák",    "Håkansson",
                                  "Lefèvre", "García", "O'Brien",   "Petrović", "Šimek"};
const char* const kGenres[] = {"Rock",           "Pop",        "Jazz",    "Électronique", "Chanson",
                               "Música Popular", "Klassik",    "Hip-Hop", "Folk",         "Ambient",
                               "Blues",          "Reggae",     "Metal",   "Soul",         "Country",
                               "Världsmusik",    "Soundtrack", "Punk",    "Bossa Nova",   ""};
// Titles many albums share: one value node, many ids.
const char* const kCommonTitles[] = {"Intro", "Outro", "Interlude", "Untitled", "Reprise"};
const char* const kBitrates[] = {"fs128", "fs192", "vs192", "fs320", "vs256", "fm96"};
const char* const kCodecs[] = {"mp3", "mp3", "mp3", "wma", "aac"};

std::string Words(Random* random, uint32_t most) {
  std::string text = random->Pick(kWords);
  for (uint32_t n = random->Below(most); n > 0; --n)
    text += std::string(" ") + random->Pick(kWords);
  return text;
}

struct Album {
  std::string artist, title, genre;
  uint32_t year = 0;
};

// Artists with a few albums each; the catalogue the tracks are drawn from.
std::vector<Album> MakeAlbums(Random* random) {
  std::vector<Album> albums;
  for (uint32_t a = 0; a < 120; ++a) {
    std::string artist =
        random->Chance(55) ? std::string(random->Pick(kFirstNames)) + " " + random->Pick(kLastNames)
                           : (random->Chance(50) ? random->Pick(kArticles) : "") + Words(random, 2);
    const std::string genre = random->Pick(kGenres);
    for (uint32_t n = 1 + random->Below(4); n > 0; --n) {
      Album album;
      album.artist = artist;
      album.title = (random->Chance(25) ? random->Pick(kArticles) : "") + Words(random, 3);
      album.genre = random->Chance(85) ? genre : random->Pick(kGenres);
      album.year = random->Chance(10) ? 0 : 1955 + random->Below(71);
      albums.push_back(album);
    }
  }
  return albums;
}

// Track i (from 0) is file number i + 1 of storage 0.
std::vector<std::unique_ptr<PropertyHolder>> MakeTracks(uint32_t count) {
  Random random(0x7A3C0FFEE1234567ull);
  const std::vector<Album> albums = MakeAlbums(&random);
  std::vector<std::unique_ptr<PropertyHolder>> tracks;
  uint32_t track_number = 0;
  const Album* album = nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    // Whole albums in a row, as they are usually uploaded; a few popular artists dominate.
    if (!album || track_number >= 8 + random.Below(8) || random.Chance(4)) {
      const uint32_t pick = random.Below(static_cast<uint32_t>(albums.size()));
      album = &albums[random.Chance(30) ? pick % 12 : pick];
      track_number = 0;
    }
    ++track_number;
    auto file = std::make_unique<PropertyHolder>();
    const std::string codec = random.Pick(kCodecs);
    std::string title = random.Chance(6)
                            ? random.Pick(kCommonTitles)
                            : (random.Chance(15) ? random.Pick(kArticles) : "") + Words(&random, 4);
    if (random.Chance(3)) title = "(" + title + ")";  // sorts and groups past the bracket
    const int64_t length = 2000000 + random.Below(10000000);
    const std::string bitrate = random.Pick(kBitrates);
    file->SetInt("fid", static_cast<int32_t>((i + 1) << 4));
    file->SetString("type", "tune");
    file->SetString("codec", codec);
    if (codec == "wma" && random.Chance(30)) file->SetString("drm", "msasf");
    file->SetString("title", title);
    file->SetString("name", title + "." + codec);
    file->SetString("artist", album->artist);
    file->SetString("source", album->title);
    file->SetString("genre", album->genre);
    file->SetInt("year", static_cast<int32_t>(album->year));
    file->SetInt("tracknr", static_cast<int32_t>(track_number));
    file->SetInt64("ctime", 1500000000 + int64_t{random.Below(300000000)});
    file->SetInt64("length", length);
    file->SetInt("duration", static_cast<int32_t>(length * 8 / 192));  // ms at ~192 kbit/s
    file->SetString("bitrate", bitrate);
    if (random.Chance(10)) file->SetString("comment", "Remastered " + Words(&random, 2));
    char rid[33];
    std::snprintf(rid, sizeof rid, "%016llx%016llx", static_cast<unsigned long long>(random.Next()),
                  static_cast<unsigned long long>(random.Next()));
    file->SetString("rid", rid);
    tracks.push_back(std::move(file));
  }
  return tracks;
}

std::string ImageOf(const PackedTrackDatabase& database) {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  if (database.GetImage(&bytes, &size) != rc::kOk) return std::string();
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

// Standard error carries the device library's trace lines, which are dropped; the bench's own
// failures go to standard output.
bool Check(Result result, const char* what, uint32_t n) {
  if (result == rc::kOk) return true;
  std::printf("family_b_database_bench: %s (%u tracks) failed with 0x%08lx\n", what, n,
              static_cast<unsigned long>(static_cast<uint32_t>(result)));
  return false;
}

bool Fail(const char* what, uint32_t n) {
  std::printf("family_b_database_bench: %s (%u tracks)\n", what, n);
  return false;
}

enum Step { kBuildPerTrack, kBuildBulk, kSerialize, kCommit, kLoad, kStepCount };
const char* const kStepNames[kStepCount] = {
    "build, StoreNewTrack per track", "build, AddTrack each + 1 Serialize",
    "serialise the image once",       "commit through SardaneChannelB",
    "load through SardaneChannelB",
};

struct SizeResult {
  double ms[kStepCount];
  uint32_t image_bytes = 0;
  uint32_t commit_blocks = 0;
  std::string image_md5;  // compares the images of two versions of the database code
};

void Keep(double* best, double ms) { *best = std::min(*best, ms); }

// The player holds the first n - 1 tracks; the channel adds the last with its database write
// refused, so the whole image is left to commit: only that commit is timed. Then a second
// channel reads the committed image back (timed as the load).
bool CommitAndLoad(const std::vector<std::unique_ptr<PropertyHolder>>& tracks, uint32_t n,
                   const std::string& all_but_last, const std::string& expected, SizeResult* best) {
  FakeClock clock;  // the session's waits must not count
  auto player = std::make_shared<SimFlashPlayerB>(kProductId);
  player->storages.resize(6);
  player->database = all_but_last;
  player->has_database = true;
  {
    auto* transport = new SimUsbHardware(player, kProductId);
    if (!Check(transport->Open(), "opening the transport", n)) return false;
    SardaneChannelB channel(transport, kProductId, &clock);
    player->fail_database_block = 1;
    // The channel keeps the row and answers success; the refused write leaves it to commit.
    if (channel.AddFileRow(*tracks[n - 1]) != rc::kOk || !channel.dirty()) {
      return Fail("the refused database write did not leave the change to commit", n);
    }
    player->fail_database_block = 0;
    player->ClearLog();
    const BenchClock::time_point start = BenchClock::now();
    const Result result = channel.Commit(1);
    Keep(&best->ms[kCommit], MsSince(start));
    if (!Check(result, "Commit", n)) return false;
    // What a real player's link would carry: the 16384-byte blocks of the image.
    best->commit_blocks = 0;
    for (const SimLogEntry& entry : player->log)
      best->commit_blocks += entry.kind == SimLogEntry::kWrite && entry.head.empty();
  }
  if (player->database != expected) return Fail("the player took another image", n);

  auto* transport = new SimUsbHardware(player, kProductId);
  if (!Check(transport->Open(), "opening the transport", n)) return false;
  SardaneChannelB channel(transport, kProductId, &clock);
  const BenchClock::time_point start = BenchClock::now();
  const Result result = channel.LoadDatabase();
  Keep(&best->ms[kLoad], MsSince(start));
  if (!Check(result, "LoadDatabase", n)) return false;
  if (ImageOf(*channel.database()) != expected) return Fail("the loaded image differs", n);
  return true;
}

// The records entered without an image each, then written once.
bool BuildBulk(const std::map<uint32_t, PackedTrack>& records, const std::string& expected,
               uint32_t n, double* best_ms) {
  const BenchClock::time_point start = BenchClock::now();
  std::unique_ptr<PackedTrackDatabase> bulk = PackedTrackDatabase::Create();
  if (!bulk) return Fail("no memory", n);
  for (const auto& record : records) {
    if (bulk->AddTrack(record.first, record.second) != packed::kOk)
      return Fail("AddTrack refused a track", n);
  }
  if (!Check(bulk->Serialize(), "Serialize", n)) return false;
  Keep(best_ms, MsSince(start));
  return ImageOf(*bulk) == expected || Fail("the bulk image differs from the stored one", n);
}

bool SerializeAgain(PackedTrackDatabase* database, const std::string& expected, uint32_t n,
                    double* best_ms) {
  const BenchClock::time_point start = BenchClock::now();
  if (!Check(database->Serialize(), "Serialize", n)) return false;
  Keep(best_ms, MsSince(start));
  return ImageOf(*database) == expected || Fail("serialising again changed the image", n);
}

std::string Md5Text(const std::string& bytes) {
  uint8_t digest[kMd5DigestSize];
  Md5Digest(digest, bytes.data(), static_cast<int32_t>(bytes.size()));
  std::string text;
  for (uint8_t byte : digest) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", byte);
    text += hex;
  }
  return text;
}

bool MeasureRound(const std::vector<std::unique_ptr<PropertyHolder>>& tracks, uint32_t n,
                  SizeResult* best) {
  // Each store writes the whole image again, as the channel's stores do.
  std::unique_ptr<PackedTrackDatabase> database = PackedTrackDatabase::Create();
  if (!database) return Fail("no memory", n);
  std::string all_but_last;
  BenchClock::time_point start = BenchClock::now();
  for (uint32_t i = 0; i < n; ++i) {
    if (i == n - 1) {
      const BenchClock::time_point paused = BenchClock::now();
      all_but_last = ImageOf(*database);  // untimed
      start += BenchClock::now() - paused;
    }
    if (!Check(FidTagMapper::StoreNewTrack(database.get(), *tracks[i]), "StoreNewTrack", n))
      return false;
  }
  Keep(&best->ms[kBuildPerTrack], MsSince(start));
  const std::string image = ImageOf(*database);
  best->image_bytes = static_cast<uint32_t>(image.size());
  best->image_md5 = Md5Text(image);

  // The short steps run several times a round: one run of a millisecond says little.
  for (int repeat = 0; repeat < kShortStepRepeats; ++repeat) {
    if (!BuildBulk(database->Tracks(), image, n, &best->ms[kBuildBulk]) ||
        !SerializeAgain(database.get(), image, n, &best->ms[kSerialize]) ||
        !CommitAndLoad(tracks, n, all_but_last, image, best)) {
      return false;
    }
  }
  return true;
}

double NLogN(double n) { return n * std::log(n); }

// One row: the values per size (blank without a format), their ratios to the first and the
// growth exponent. Returns whether a judged row grows faster than n log n.
bool PrintRow(const char* name, const double (&values)[kSizeCount], const char* format,
              bool judge) {
  std::printf("%-36s", name);
  for (double value : values) format ? std::printf(format, value) : std::printf("%15s", "");
  for (int s = 1; s < kSizeCount; ++s) std::printf(" %10.2f", values[s] / values[0]);
  const double exponent = std::log(values[kSizeCount - 1] / values[0]) /
                          std::log(double{kSizes[kSizeCount - 1]} / kSizes[0]);
  const bool faster = judge && exponent > kNLogNExponentLimit;
  std::printf(" %8.2f  %s\n", exponent,
              !format  ? ""
              : !judge ? "not judged"
              : faster ? "FASTER than n log n"
                       : "within n log n");
  return faster;
}

void Print(const SizeResult (&results)[kSizeCount], int rounds) {
  std::printf("family B track database: best of %d rounds, times in ms\n", rounds);
  std::printf(
      "ratio = t(n) / t(%u); exponent = log(t(%u) / t(%u)) / log(%u / %u): about 1.16 "
      "for n log n, 2 for n^2, 2.16 for n^2 log n\n",
      kSizes[0], kSizes[kSizeCount - 1], kSizes[0], kSizes[kSizeCount - 1], kSizes[0]);
  std::printf("\n%-36s", "step");
  for (uint32_t n : kSizes) std::printf("  %9s%-4u", "n=", n);
  for (int s = 1; s < kSizeCount; ++s) std::printf(" ratio %-4u", kSizes[s]);
  std::printf(" %8s  %s\n", "exponent", "growth");

  double values[kSizeCount];
  for (int s = 0; s < kSizeCount; ++s) values[s] = NLogN(kSizes[s]);
  PrintRow("n log n (for comparison)", values, nullptr, false);
  std::vector<const char*> faster;
  for (int step = 0; step < kStepCount; ++step) {
    for (int s = 0; s < kSizeCount; ++s) values[s] = results[s].ms[step];
    // The simulated commit only copies a few hundred KiB in memory, in 0.02 to 0.6 ms whatever
    // the size (the allocator decides); its growth is judged by the blocks it sends.
    if (PrintRow(kStepNames[step], values, "  %13.2f", step != kCommit))
      faster.push_back(kStepNames[step]);
  }
  for (int s = 0; s < kSizeCount; ++s) values[s] = results[s].commit_blocks;
  PrintRow("commit, 16384-byte blocks sent", values, "  %13.0f", true);
  for (int s = 0; s < kSizeCount; ++s) values[s] = results[s].image_bytes;
  PrintRow("image bytes", values, "  %13.0f", true);

  std::printf("\nimage md5:");
  for (int s = 0; s < kSizeCount; ++s)
    std::printf("  n=%u %s", kSizes[s], results[s].image_md5.c_str());
  std::printf("\n");
  std::printf(
      "note: the simulated commit only copies in memory; on a player its time is that "
      "of the blocks sent, which grow with the image.\n");
  for (const char* step : faster) {
    std::printf("note: \"%s\" grows faster than n log n.\n", step);
    if (std::strcmp(step, kStepNames[kBuildPerTrack]) == 0) {
      std::printf(
          "      Each store writes the whole image again, which the channel commits "
          "next: n stores are n serialises\n      (n^2 log n in all). One store costs "
          "about one serialise of the database it joins; the bulk row\n      writes the "
          "same records once.\n");
    }
  }
}

bool ParseOptions(int argc, char** argv, int* rounds) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      *rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  if (!ParseOptions(argc, argv, &rounds)) {
    std::fprintf(stderr, "usage: family_b_database_bench [--rounds N]\n");
    return 2;
  }
  // Every store traces a line; unbuffered, their writes would be timed with the database.
  if (std::freopen("NUL", "w", stderr)) std::setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
  const std::vector<std::unique_ptr<PropertyHolder>> tracks = MakeTracks(kSizes[kSizeCount - 1]);
  SizeResult results[kSizeCount];
  for (SizeResult& result : results) std::fill(std::begin(result.ms), std::end(result.ms), 1e30);
  for (int round = 0; round < rounds; ++round) {
    for (int s = 0; s < kSizeCount; ++s) {
      if (!MeasureRound(tracks, kSizes[s], &results[s])) return 1;
    }
  }
  Print(results, rounds);
  return 0;
}
