// Uploads one large file through the whole stack (a WMDM file object of the provider, found
// by the real device enumerator and channel factory, down to a simulated family D player) and
// compares the time with sending the same bytes straight through the protocol session and the
// simulated transport, measured in the same run, so the ratio does not depend on the machine or
// on Wine. Then lists a player holding many files through the WMDM storage enumerators and
// counts what the player was asked per file.
//   flash_upload_bench [--mib N] [--write-kib N] [--files N] [--rounds N]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/flash/protocol_session.h"
#include "devices/flash/type_codes.h"
#include "sim/flash/flash_player_cde.h"
#include "sim/flash/sim_usb_hardware.h"
#include "sim/flash/sim_usb_interface_source.h"
#include "testlib/mpeg_frames.h"
#include "wmdm/cmdsp_file.h"
#include "wmdm/cmdsp_storage.h"
#include "wmdm/provider/provider_environment.h"
#include "wmdm/provider/wmdm_host.h"
#include "wmdm/storage_test_player.h"

namespace {

// Family D: two storages, found by fid, 1024 file numbers per storage.
constexpr uint32_t kProductId = 0x5005;
constexpr uint32_t kStorageCount = 2;
constexpr uint32_t kStorageShift = 14;
constexpr uint32_t kNumbersPerStorage = 1024;
constexpr double kMiB = 1024.0 * 1024.0;

using BenchClock = std::chrono::steady_clock;

double SecondsSince(BenchClock::time_point start) {
  return std::chrono::duration<double>(BenchClock::now() - start).count();
}

struct Options {
  uint32_t mib = 64;
  uint32_t files = 2000;
  int rounds = 5;
  uint32_t write_kib = 64;  // what WMDM hands to IMDSPObject::Write at a time
};

// What the player saw: control requests and bulk transfers.
struct Traffic {
  uint64_t requests = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t transfers() const { return reads + writes; }
};

// Counts the player's log and clears it, so 64 MiB of transfers leave no long log behind.
Traffic TakeTraffic(SimFlashPlayer& player) {
  Traffic traffic;
  for (const SimLogEntry& entry : player.log) {
    traffic.requests += entry.kind == SimLogEntry::kControl;
    traffic.reads += entry.kind == SimLogEntry::kRead;
    traffic.writes += entry.kind == SimLogEntry::kWrite;
  }
  player.ClearLog();
  return traffic;
}

std::string PathOf(uint32_t serial) { return "\\\\?\\usb#sim-bench#" + std::to_string(serial); }

std::shared_ptr<SimDirectoryPlayer> MakePlayer() {
  auto player = std::make_shared<SimDirectoryPlayer>(false, static_cast<uint16_t>(kProductId));
  player->storages.resize(kStorageCount);
  // Room for every upload; the simulated player does not count what it stores.
  for (SimStorage& storage : player->storages) {
    storage.total_blocks = storage.free_blocks = 1u << 22;
  }
  return player;
}

bool Check(HRESULT status, const char* what) {
  if (SUCCEEDED(status)) return true;
  std::fprintf(stderr, "flash_upload_bench: %s failed with 0x%08lx\n", what,
               static_cast<unsigned long>(status));
  return false;
}

bool RootStorageOf(IMDSPDevice* device, ComRef<IMDSPStorage>* root) {
  ComRef<IMDSPEnumStorage> storages;
  if (!Check(device->EnumStorage(storages.Out()), "IMDSPDevice::EnumStorage")) return false;
  ULONG fetched = 0;
  return Check(storages->Next(1, root->Out(), &fetched), "root storage Next") && fetched == 1;
}

struct Measurement {
  const char* name;
  double seconds = 1e30;  // best round
  Traffic traffic;        // of the first round
};

void Keep(Measurement* measurement, double seconds, const Traffic& traffic, int round) {
  measurement->seconds = std::min(measurement->seconds, seconds);
  if (round == 0) measurement->traffic = traffic;
}

// Files of any storage of the player that hold exactly `data`.
int StoredCopies(SimFlashPlayer& player, const std::string& data) {
  int copies = 0;
  for (const SimStorage& storage : player.storages) {
    for (const SimFile& file : storage.files) copies += file.data == data;
  }
  return copies;
}

// The reference: the same bytes as whole chunks of one file transfer and its record, straight
// through a protocol session on a transport of its own to the same simulated player, between
// two of the provider's operations. The stored file is dropped afterwards (untimed), as the
// provider's upload is deleted.
bool UploadThroughSession(const std::shared_ptr<SimFlashPlayer>& player, const std::string& data,
                          Measurement* measurement, int round) {
  SimUsbHardware transport(player, kProductId, PathOf(0));
  if (!Check(transport.Open(), "opening the transport")) return false;
  player->ClearLog();
  const BenchClock::time_point start = BenchClock::now();
  Result result;
  {
    ProtocolSession session(&transport);
    result = session.Lock();
    if (rc::Succeeded(result)) result = session.BeginSend(0);
    // Whole MiB: whole chunks.
    for (size_t at = 0; rc::Succeeded(result) && at < data.size(); at += qel::kChunkSize) {
      result = session.SendChunk(reinterpret_cast<const uint8_t*>(data.data() + at));
    }
    if (rc::Succeeded(result)) {
      const uint32_t fid = 1u << 4;
      result = session.SendInfo(SimFileRecord(fid, static_cast<uint32_t>(data.size())).data());
    }
    if (rc::Succeeded(result)) result = session.Unlock();
  }
  const double seconds = SecondsSince(start);
  if (!Check(result, "the reference upload")) return false;
  if (StoredCopies(*player, data) != 1) {
    std::fprintf(stderr, "flash_upload_bench: the reference upload stored other bytes\n");
    return false;
  }
  Keep(measurement, seconds, TakeTraffic(*player), round);
  for (SimStorage& storage : player->storages) storage.files.clear();
  return true;
}

// CreateStorage, Open, Write in WMDM's pieces, Close: the timed part. The file is deleted
// afterwards (untimed) so that the player keeps one copy at most.
bool UploadThroughProvider(IMDSPStorage* root, SimFlashPlayer& player, const std::string& data,
                           uint32_t write_size, bool metadata_ahead, Measurement* measurement,
                           int round) {
  static const char kMetadata[] = "title=Bench Upload\nartist=Bench\nname=bench.mp3";
  wchar_t name[] = L"bench.mp3";
  player.ClearLog();
  const BenchClock::time_point start = BenchClock::now();
  if (metadata_ahead) {
    OPAQUECOMMAND command = {};
    command.guidCommand = kOpaqueMetadataText;
    command.pData = reinterpret_cast<BYTE*>(const_cast<char*>(kMetadata));
    command.dwDataLen = sizeof kMetadata - 1;
    if (!Check(root->SendOpaqueCommand(&command), "SendOpaqueCommand")) return false;
  }
  ComRef<IMDSPStorage> file;
  if (!Check(root->CreateStorage(WMDM_FILE_ATTR_FILE, nullptr, name, file.Out()),
             "CreateStorage")) {
    return false;
  }
  ComRef<IMDSPObject> object(file.As<IMDSPObject>(IID_IMDSPObject));
  if (!object.Get() || !Check(object->Open(MDSP_WRITE), "IMDSPObject::Open")) return false;
  // WMDM hands over its own buffer; the provider may not keep it past the call.
  std::vector<BYTE> piece(write_size);
  for (size_t at = 0; at < data.size(); at += write_size) {
    DWORD size = static_cast<DWORD>(std::min<size_t>(write_size, data.size() - at));
    std::memcpy(piece.data(), data.data() + at, size);
    if (!Check(object->Write(piece.data(), &size, nullptr), "IMDSPObject::Write")) return false;
  }
  if (!Check(object->Close(), "IMDSPObject::Close")) return false;
  const double seconds = SecondsSince(start);
  if (StoredCopies(player, data) != 1) {
    std::fprintf(stderr, "flash_upload_bench: the provider stored other bytes\n");
    return false;
  }
  Keep(measurement, seconds, TakeTraffic(player), round);
  return Check(object->Delete(WMDM_MODE_BLOCK, nullptr), "IMDSPObject::Delete") &&
         StoredCopies(player, data) == 0;
}

void PrintUploadRow(const Measurement& row, const Measurement& reference, double mib) {
  std::printf("%-36s %8.1f %8.1f %6.2f %13.2f %9llu %8llu\n", row.name, row.seconds * 1000,
              mib * kMiB / 1e6 / row.seconds, row.seconds / reference.seconds,
              row.traffic.transfers() / mib,
              static_cast<unsigned long long>(row.traffic.transfers()),
              static_cast<unsigned long long>(row.traffic.requests));
}

bool BenchUpload(const Options& options, SimUsbInterfaceSource* usb) {
  const uint32_t size = options.mib * (1u << 20);
  // MPEG frames, so that the provider's tag reading finds audio as it would in a real upload.
  std::string data;
  {
    const std::string frame = mpegtest::Frame(mpegtest::kMpeg1L3);
    data.reserve(size + frame.size());
    while (data.size() < size) data += frame;
    data.resize(size);
  }

  // One player for both ways, so that each finds the buffers the other left.
  std::shared_ptr<SimDirectoryPlayer> player = MakePlayer();
  usb->Attach(kProductId, PathOf(1), player);
  Measurement reference{"session on the transport", 1e30, {}};
  Measurement tags{"provider, tags from a temporary copy", 1e30, {}};
  Measurement ahead{"provider, metadata sent ahead", 1e30, {}};
  bool ok = true;
  {
    WmdmHost host;
    std::vector<IMDSPDevice*> devices;
    ComRef<IMDSPStorage> root;
    ok = Check(host.Load(), "loading the provider") &&
         Check(host.ListDevices(&devices), "listing the devices");
    if (ok && devices.empty()) {
      std::fprintf(stderr, "flash_upload_bench: the provider found no player\n");
      ok = false;
    }
    // The provider lists a player's storages from the last; the internal memory comes last.
    ok = ok && RootStorageOf(devices.back(), &root);
    const uint32_t write_size = options.write_kib * 1024;
    for (int round = 0; ok && round < options.rounds; ++round) {
      ok = UploadThroughSession(player, data, &reference, round) &&
           UploadThroughProvider(root.Get(), *player, data, write_size, false, &tags, round) &&
           UploadThroughProvider(root.Get(), *player, data, write_size, true, &ahead, round);
      host.log().Clear();
    }
  }
  usb->Detach(PathOf(1));
  if (!ok) return false;

  const double mib = options.mib;
  std::printf("upload: %u MiB, best of %d rounds, writes of %u KiB\n", options.mib,
              options.rounds, options.write_kib);
  std::printf("ratio = time of the upload / time of the session on the transport; transfers = "
              "bulk reads and writes, requests = control requests the player saw per upload\n\n");
  std::printf("%-36s %8s %8s %6s %13s %9s %8s\n", "path", "ms", "MB/s", "ratio",
              "transfers/MiB", "transfers", "requests");
  PrintUploadRow(reference, reference, mib);
  PrintUploadRow(tags, reference, mib);
  PrintUploadRow(ahead, reference, mib);
  return true;
}

// `count` files spread over the storages as far as each storage's numbers go.
std::shared_ptr<SimDirectoryPlayer> MakeListingPlayer(uint32_t count) {
  std::shared_ptr<SimDirectoryPlayer> player = MakePlayer();
  const uint32_t per_storage = (count + kStorageCount - 1) / kStorageCount;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t storage = i / per_storage;
    const uint32_t number = 1 + i % per_storage;
    char name[32];
    std::snprintf(name, sizeof name, "Track %04u.mp3", i + 1);
    SimFile& file = player->AddFile(storage, storage << kStorageShift | number << 4,
                                    std::string(), name, "Music");
    SimPutLe32(&file.record[kSimTypeAt], TypeCode("MPG3"));
  }
  return player;
}

bool BenchListing(const Options& options, SimUsbInterfaceSource* usb) {
  // Number 0 is left unused.
  const uint32_t most = kStorageCount * (kNumbersPerStorage - 1);
  if (options.files > most) {
    std::fprintf(stderr, "flash_upload_bench: at most %u files fit the player\n", most);
    return false;
  }
  std::shared_ptr<SimDirectoryPlayer> player = MakeListingPlayer(options.files);
  usb->Attach(kProductId, PathOf(2), player);
  player->ClearLog();
  bool ok = true;
  uint64_t listed = 0;
  Traffic devices_traffic, files_traffic;
  double devices_seconds = 0, files_seconds = 0;
  size_t device_count = 0;
  {
    WmdmHost host;
    std::vector<IMDSPDevice*> devices;
    ok = Check(host.Load(), "loading the provider");
    // Each storage's device reads its file list when the provider makes it.
    BenchClock::time_point start = BenchClock::now();
    ok = ok && Check(host.ListDevices(&devices), "listing the devices");
    devices_seconds = SecondsSince(start);
    devices_traffic = TakeTraffic(*player);
    device_count = devices.size();

    start = BenchClock::now();
    for (IMDSPDevice* device : devices) {
      ComRef<IMDSPStorage> root;
      ComRef<IMDSPEnumStorage> files;
      ok = ok && RootStorageOf(device, &root) &&
           Check(root->EnumStorage(files.Out()), "IMDSPStorage::EnumStorage");
      while (ok) {
        IMDSPStorage* batch[16] = {};
        ULONG fetched = 0;
        const HRESULT status = files->Next(16, batch, &fetched);
        ok = Check(status, "IMDSPEnumStorage::Next");
        for (ULONG i = 0; i < fetched; ++i) {
          wchar_t name[kFileNameLimit] = {};
          ok = Check(batch[i]->GetName(name, kFileNameLimit), "GetName") && ok;
          batch[i]->Release();
        }
        listed += fetched;
        if (status != S_OK) break;
      }
    }
    files_seconds = SecondsSince(start);
    files_traffic = TakeTraffic(*player);
  }
  usb->Detach(PathOf(2));
  if (!ok) return false;
  if (listed != options.files) {
    std::fprintf(stderr, "flash_upload_bench: listed %llu of %u files\n",
                 static_cast<unsigned long long>(listed), options.files);
    return false;
  }

  const double files = static_cast<double>(listed);
  std::printf("\nlisting: %u files on %zu storage devices of one player\n", options.files,
              device_count);
  std::printf("%-36s %8s %12s %14s\n", "step", "ms", "requests/f", "transfers/f");
  std::printf("%-36s %8.1f %12.3f %14.3f\n", "ListDevices (reads the file lists)",
              devices_seconds * 1000, devices_traffic.requests / files,
              devices_traffic.transfers() / files);
  std::printf("%-36s %8.1f %12.3f %14.3f\n", "storage enumerators, Next + GetName",
              files_seconds * 1000, files_traffic.requests / files,
              files_traffic.transfers() / files);
  std::printf("%-36s %8.1f %12.3f %14.3f\n", "total", (devices_seconds + files_seconds) * 1000,
              (devices_traffic.requests + files_traffic.requests) / files,
              (devices_traffic.transfers() + files_traffic.transfers()) / files);
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--mib") == 0 && has_value) {
      options->mib = static_cast<uint32_t>(std::max(1, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--files") == 0 && has_value) {
      options->files = static_cast<uint32_t>(std::max(1, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--write-kib") == 0 && has_value) {
      options->write_kib = static_cast<uint32_t>(std::max(1, std::atoi(argv[++i])));
    } else if (std::strcmp(argv[i], "--rounds") == 0 && has_value) {
      options->rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      return false;
    }
  }
  // Lengths are signed 32-bit numbers in the file's metadata.
  return options->mib <= 1024 && options->write_kib <= 1024;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: flash_upload_bench [--mib N] [--write-kib N] [--files N] [--rounds N] "
                 "(N of MiB and KiB up to 1024)\n");
    return 2;
  }
  SimUsbInterfaceSource usb;
  ProviderEnvironment provider(&usb);
  return BenchUpload(options, &usb) && BenchListing(options, &usb) ? 0 : 1;
}
