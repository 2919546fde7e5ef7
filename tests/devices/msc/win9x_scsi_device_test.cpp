#include "devices/msc/win9x_scsi_device.h"

#include <gtest/gtest.h>
#include <ntddscsi.h>
#include <winioctl.h>

#include <cstring>
#include <map>
#include <vector>

#include "devices/msc/aspi_library.h"
#include "devices/msc/msc_results.h"
#include "devices/msc/scsi_command.h"
#include "msc_test_player.h"
#include "support/format_string.h"
#include "support/memory_stream.h"

namespace {

using Lines = std::vector<std::string>;

// Windows 98 as the back end sees it: an ASPI manager whose host adapters reach the simulated
// player's drives (one logical unit per drive letter), and the vwin32 device whose DOS IOCTL
// calls lock, unlock and reset those drives.
class FakeWin9x : public VolumeIoApi {
 public:
  MscTestPlayer sim;
  // Per host adapter, the drive letter behind each logical unit.
  std::vector<std::vector<char>> adapters = {{'E', 'F'}};
  bool support_completed = true;
  // Requests stay pending for ever; whether ASPI then honours an abort.
  bool pending_forever = false;
  bool honour_abort = true;
  // Requests are refused at once, as for a host adapter that is not there; the refused block
  // keeps its status byte of 0.
  bool refuse_requests = false;
  // Lock categories the vwin32 device refuses; a drive it refuses to lock in any.
  std::vector<uint32_t> refused_lock_categories;
  char unlockable_drive = 0;

  std::vector<std::vector<uint8_t>> cdbs;  // every command block ASPI received
  std::vector<std::string> dos_calls;      // "lock E: 48", "unlock E: 48", "reset E:"
  aspi::ExecuteRequest* pending = nullptr;
  int aborts = 0;
  int vwin32_opens = 0;

  FakeWin9x() {
    instance = this;
    entry_points.get_support_info = [] { return instance->SupportInfo(); };
    entry_points.send_command = [](void* request) { return instance->Send(request); };
  }
  ~FakeWin9x() override {
    for (const auto& held : locks) sim.io.CloseHandle(held.second);
    instance = nullptr;
  }

  static FakeWin9x* instance;
  aspi::EntryPoints entry_points;

  DWORD SupportInfo() {
    return (support_completed ? 0x0100u : 0x0400u) | static_cast<DWORD>(adapters.size());
  }

  DWORD Send(void* request) {
    const uint8_t command = *static_cast<uint8_t*>(request);
    if (command == aspi::kCommandHostAdapterInquiry) {
      auto* inquiry = static_cast<aspi::HostAdapterInquiry*>(request);
      inquiry->adapter_count = static_cast<uint8_t>(adapters.size());
      inquiry->status = aspi::kStatusCompleted;
      return aspi::kStatusCompleted;
    }
    if (command == aspi::kCommandAbort) {
      auto* abort = static_cast<aspi::AbortRequest*>(request);
      ++aborts;
      EXPECT_EQ(abort->request, pending);
      if (honour_abort && pending != nullptr) {
        pending->status = aspi::kStatusAborted;
        SetEvent(pending->post_processing);
        pending = nullptr;
      }
      abort->status = aspi::kStatusCompleted;
      return aspi::kStatusCompleted;
    }
    EXPECT_EQ(command, aspi::kCommandExecute);
    auto* execute = static_cast<aspi::ExecuteRequest*>(request);
    EXPECT_EQ(execute->flags & aspi::kFlagEventNotify, aspi::kFlagEventNotify);
    EXPECT_NE(execute->post_processing, nullptr);
    cdbs.emplace_back(execute->cdb, execute->cdb + execute->cdb_length);
    if (refuse_requests) return 0x81;  // invalid host adapter; the block is not taken
    if (pending_forever) {
      pending = execute;
      return aspi::kStatusPending;
    }
    // Completed on another thread's time in the real manager; here at once, signalled.
    Carry(execute);
    SetEvent(execute->post_processing);
    return aspi::kStatusPending;
  }

  // The request goes to the simulated volume of its adapter and unit as a pass-through.
  void Carry(aspi::ExecuteRequest* execute) {
    if (execute->host_adapter >= adapters.size() ||
        execute->lun >= adapters[execute->host_adapter].size()) {
      execute->status = 0x82;  // no device
      return;
    }
    const char letter = adapters[execute->host_adapter][execute->lun];
    HANDLE volume = sim.io.CreateFileA(FormatString("\\\\.\\%c:", letter).c_str(),
                                       GENERIC_READ | GENERIC_WRITE, 7, OPEN_EXISTING, 0);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    const DWORD header = sizeof(SCSI_PASS_THROUGH);
    const DWORD length = header + ScsiCommand::kSenseLength + execute->buffer_length;
    std::vector<uint8_t> buffer(length);
    auto* pass = reinterpret_cast<SCSI_PASS_THROUGH*>(buffer.data());
    pass->Length = static_cast<USHORT>(header);
    pass->CdbLength = execute->cdb_length;
    pass->SenseInfoLength = ScsiCommand::kSenseLength;
    const bool data_in = (execute->flags & aspi::kFlagDataIn) != 0;
    pass->DataIn = data_in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    pass->DataTransferLength = execute->buffer_length;
    pass->TimeOutValue = 10;
    pass->DataBufferOffset = header + ScsiCommand::kSenseLength;
    pass->SenseInfoOffset = header;
    std::memcpy(pass->Cdb, execute->cdb, execute->cdb_length);
    uint8_t* data = buffer.data() + pass->DataBufferOffset;
    if (!data_in) std::memcpy(data, execute->buffer, execute->buffer_length);
    DWORD returned = 0;
    const BOOL carried = sim.io.DeviceIoControl(volume, IOCTL_SCSI_PASS_THROUGH, buffer.data(),
                                                length, buffer.data(), length, &returned);
    sim.io.CloseHandle(volume);
    if (!carried) {
      execute->status = 0x04;  // error
      return;
    }
    std::memcpy(execute->sense, buffer.data() + header, aspi::kSenseCapacity);
    if (data_in) std::memcpy(execute->buffer, data, execute->buffer_length);
    execute->status = aspi::kStatusCompleted;
  }

  // --- vwin32 -----------------------------------------------------------------------------
  HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, DWORD, DWORD) override {
    EXPECT_STREQ(name, "\\\\.\\vwin32");
    ++vwin32_opens;
    return kVwin32;
  }
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                       DWORD out_size, LPDWORD returned) override {
    EXPECT_EQ(device, kVwin32);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(in_size, 28u);
    EXPECT_EQ(out_size, 28u);
    auto* registers = static_cast<uint32_t*>(in);  // EBX EDX ECX EAX EDI ESI flags
    EXPECT_EQ(in, out);
    *returned = 28;
    const uint32_t ebx = registers[0], edx = registers[1], ecx = registers[2];
    uint32_t& eax = registers[3];
    uint32_t& flags = registers[6];
    flags &= ~1u;
    if (eax == 0x710D) {
      dos_calls.push_back(FormatString("reset %c:", '@' + edx));
      return TRUE;
    }
    EXPECT_EQ(eax, 0x440Du);
    const char letter = static_cast<char>('@' + ebx);
    const uint32_t category = ecx >> 8;
    const bool lock = (ecx & 0xFF) == 0x4A;
    dos_calls.push_back(FormatString("%s %c: %02X", lock ? "lock" : "unlock", letter, category));
    const bool unlockable = lock && letter == unlockable_drive;
    for (uint32_t refused : refused_lock_categories) {
      if (refused == category || unlockable) {
        flags |= 1;
        eax = ERROR_ACCESS_DENIED;
        return TRUE;
      }
    }
    // The simulated player sees the lock on its volume.
    if (lock) {
      HANDLE volume = sim.io.CreateFileA(FormatString("\\\\.\\%c:", letter).c_str(),
                                         GENERIC_READ | GENERIC_WRITE, 7, OPEN_EXISTING, 0);
      DWORD ignored = 0;
      sim.io.DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &ignored);
      locks[letter] = volume;
    } else if (locks.count(letter) != 0) {
      sim.io.CloseHandle(locks[letter]);
      locks.erase(letter);
    }
    return TRUE;
  }
  BOOL FlushFileBuffers(HANDLE) override { return TRUE; }
  BOOL CloseHandle(HANDLE handle) override {
    EXPECT_EQ(handle, kVwin32);
    --vwin32_opens;
    return TRUE;
  }
  DWORD GetLastError() override { return 0; }
  DWORD GetLogicalDrives() override { return 0; }
  UINT GetDriveTypeA(LPCSTR) override { return DRIVE_NO_ROOT_DIR; }
  WindowsVersion GetVersion() override { return {VER_PLATFORM_WIN32_WINDOWS, 4, 10}; }

  std::map<char, HANDLE> locks;
  HANDLE const kVwin32 = reinterpret_cast<HANDLE>(0x9000);
};

FakeWin9x* FakeWin9x::instance = nullptr;

// "Enum\SCSI" under a key of this test process's own in the current user's hive.
class RegistryRoot {
 public:
  explicit RegistryRoot(const char* name = "players") {
    path_ = FormatString("Software\\TorvexTests\\Win9xScsi-%lu\\%s", GetCurrentProcessId(), name);
    RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key_, nullptr);
  }
  ~RegistryRoot() {
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path_.substr(0, path_.rfind('\\')).c_str());
  }
  HKEY key() const { return key_; }

  // One instance of a drive under the enumerator key; `letter` 0: no drive-letter value.
  void AddInstance(const std::string& key, const std::string& instance, char letter) {
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExA(key_, (key + "\\" + instance).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    if (letter != 0) {
      const char value[2] = {letter, 0};
      RegSetValueExA(created, "CurrentDriveLetterAssignment", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value), 2);
    }
    RegCloseKey(created);
  }

 private:
  std::string path_;
  HKEY key_ = nullptr;
};

constexpr char kPlayerKey[] = "Enum\\SCSI\\Qel_____Qel_MS_20_______1";
constexpr char kSerialText[] = "0123456789ABCDEF";

class Win9xScsiDeviceTest : public ::testing::Test {
 protected:
  FakeWin9x win9x;
  AspiLibrary aspi{win9x.entry_points};
  RegistryRoot registry;
  std::unique_ptr<Win9xScsiDevice> device;

  void SetUp() override {
    registry.AddInstance(kPlayerKey, std::string("&") + kSerialText + "&0", 'E');
    registry.AddInstance(kPlayerKey, std::string("&") + kSerialText + "&1", 'F');
    device = MakeDevice(10000);
  }

  std::unique_ptr<Win9xScsiDevice> MakeDevice(DWORD wait_ms) {
    Win9xSettings settings;
    settings.aspi = &aspi;
    settings.registry_root = registry.key();
    settings.request_wait_ms = wait_ms;
    settings.abort_wait_ms = wait_ms;
    auto made = std::make_unique<Win9xScsiDevice>(&win9x, settings);
    EXPECT_EQ(made->Initialize(), rc::kOk);
    return made;
  }
  Lines Log(const std::string& prefix) { return win9x.sim.io.LogLines(prefix); }
};

TEST_F(Win9xScsiDeviceTest, WalkFindsThePlayerAndItsLettersFromTheRegistry) {
  std::vector<MscDriveRecord> records;
  ASSERT_EQ(device->EnumerateDrives(&records), rc::kOk);
  ASSERT_EQ(records.size(), 1u);
  const MscDriveRecord& record = records[0];
  EXPECT_EQ(record.serial, 0x0123456789ABCDEFull);
  EXPECT_EQ(record.vendor, "Qel");
  EXPECT_EQ(record.product_id, 0x5041u);
  ASSERT_EQ(record.drive_entries.size(), 2u);
  EXPECT_EQ(record.drive_letter, 'E');
  EXPECT_EQ(record.drive_entries[0].drive_letter, 'E');
  EXPECT_EQ(record.drive_entries[0].unit_serial, "UNIT-E");
  EXPECT_EQ(record.drive_entries[1].drive_letter, 'F');
  EXPECT_EQ(record.drive_entries[1].unit_serial, "UNIT-F");
  EXPECT_EQ(record.drive_entries[1].drive_id, 2u);
  EXPECT_EQ(record.drive_entries[1].drive_name, "Card");
}

TEST_F(Win9xScsiDeviceTest, InstanceWhoseLetterValueIsNoLetterGivesItsEntryNone) {
  RegistryRoot odd("odd");
  odd.AddInstance(kPlayerKey, std::string("&") + kSerialText + "&0", 'e');
  odd.AddInstance(kPlayerKey, std::string("&") + kSerialText + "&1", '?');
  Win9xSettings settings;
  settings.aspi = &aspi;
  settings.registry_root = odd.key();
  Win9xScsiDevice walker(&win9x, settings);
  ASSERT_EQ(walker.Initialize(), rc::kOk);
  std::vector<MscDriveRecord> records;
  ASSERT_EQ(walker.EnumerateDrives(&records), rc::kOk);
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].drive_entries.size(), 1u);
  EXPECT_EQ(records[0].drive_entries[0].drive_letter, 'E');
}

TEST_F(Win9xScsiDeviceTest, AdapterWithoutThePlayersSignatureIsSkipped) {
  win9x.sim.io.drives['G'];  // a removable drive that is no player
  win9x.adapters = {{'G'}, {'E', 'F'}};
  std::vector<MscDriveRecord> records;
  ASSERT_EQ(device->EnumerateDrives(&records), rc::kOk);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].drive_entries.size(), 2u);
  EXPECT_EQ(Log("G: INQUIRY"), Lines({"G: INQUIRY"}));  // nothing more asked of it
}

TEST_F(Win9xScsiDeviceTest, PlayerWithoutRegistryInstancesIsNotReported) {
  RegistryRoot empty("empty");
  Win9xSettings settings;
  settings.aspi = &aspi;
  settings.registry_root = empty.key();
  Win9xScsiDevice bare(&win9x, settings);
  ASSERT_EQ(bare.Initialize(), rc::kOk);
  std::vector<MscDriveRecord> records;
  ASSERT_EQ(bare.EnumerateDrives(&records), rc::kOk);
  EXPECT_TRUE(records.empty());
}

TEST_F(Win9xScsiDeviceTest, DriveLetterOperationsReachTheAdapterAndUnitOfThatLetter) {
  win9x.adapters = {{'G'}, {'E', 'F'}};
  win9x.sim.io.drives['G'];
  EXPECT_EQ(device->CheckUnitSerial('F'), rc::kOk);
  EXPECT_EQ(Log("F: INQUIRY 80").size(), 2u);  // the walk, then the check
  EXPECT_EQ(device->CheckUnitSerial('Q'), rc::FromWin32(ERROR_INVALID_DRIVE));
}

TEST_F(Win9xScsiDeviceTest, VendorRequestCarriesItsWholeFourteenByteBlock) {
  EXPECT_EQ(device->Request137('E', 5, 0x12345678), rc::kOk);
  ASSERT_EQ(win9x.sim.player->requests.size(), 1u);
  EXPECT_EQ(win9x.sim.player->requests[0].index, 0x12345678u);
  EXPECT_EQ(win9x.cdbs.back().size(), 14u);
}

TEST_F(Win9xScsiDeviceTest, RepliesAndSenseComeBackThroughTheRequest) {
  win9x.sim.player->replies[140] = {0, 0, 0, 119};
  uint32_t minutes = 0;
  EXPECT_EQ(device->Request140Value('E', &minutes), rc::kOk);
  EXPECT_EQ(minutes, 1u);
  std::vector<uint32_t> values;
  EXPECT_EQ(device->GetValueList('E', &values), rc::kNotImplemented);  // unknown: key 5
}

TEST_F(Win9xScsiDeviceTest, SupportInfoNotCompletedMakesAspiUnusable) {
  win9x.support_completed = false;
  AspiLibrary refusing(win9x.entry_points);
  EXPECT_EQ(refusing.status(), rc::kFail);
  EXPECT_EQ(refusing.HostAdapterCount(), 0);
  Win9xSettings settings;
  settings.aspi = &refusing;
  Win9xScsiDevice unusable(&win9x, settings);
  EXPECT_EQ(unusable.Initialize(), rc::kFail);
}

TEST_F(Win9xScsiDeviceTest, TimedOutRequestIsAbortedAndFreedWhenTheAbortIsConfirmed) {
  device = MakeDevice(20);
  ASSERT_EQ(device->CheckUnitSerial('E'), rc::kOk);  // the walk, before requests hang
  win9x.pending_forever = true;
  const size_t abandoned = Win9xScsiDevice::AbandonedRequests();
  EXPECT_EQ(device->CheckUnitSerial('E'), rc::kFail);
  EXPECT_EQ(win9x.aborts, 1);
  EXPECT_EQ(Win9xScsiDevice::AbandonedRequests(), abandoned);
}

TEST_F(Win9xScsiDeviceTest, RequestWhoseAbortIsNotConfirmedKeepsItsBufferAndEvent) {
  device = MakeDevice(20);
  ASSERT_EQ(device->CheckUnitSerial('E'), rc::kOk);
  win9x.pending_forever = true;
  win9x.honour_abort = false;
  const size_t abandoned = Win9xScsiDevice::AbandonedRequests();
  EXPECT_EQ(device->CheckUnitSerial('E'), rc::kFail);
  EXPECT_EQ(win9x.aborts, 1);
  EXPECT_EQ(Win9xScsiDevice::AbandonedRequests(), abandoned + 1);
  // ASPI completes the request late: its block, buffer and event are still there.
  aspi::ExecuteRequest* late = win9x.pending;
  ASSERT_NE(late, nullptr);
  win9x.Carry(late);
  EXPECT_EQ(late->status, aspi::kStatusCompleted);
  EXPECT_TRUE(SetEvent(late->post_processing));
}

TEST_F(Win9xScsiDeviceTest, RequestRefusedAtOnceFailsWithoutWaitingOrAborting) {
  device = MakeDevice(60000);
  ASSERT_EQ(device->CheckUnitSerial('E'), rc::kOk);
  win9x.refuse_requests = true;
  EXPECT_EQ(device->CheckUnitSerial('E'), rc::kFail);
  EXPECT_EQ(win9x.aborts, 0);
}

TEST_F(Win9xScsiDeviceTest, LockTriesBothCategoriesAndReportsARefusal) {
  win9x.refused_lock_categories = {0x48};
  EXPECT_EQ(device->LockVolume('E'), rc::kOk);
  EXPECT_EQ(device->UnlockVolume('E'), rc::kOk);
  EXPECT_EQ(win9x.dos_calls,
            Lines({"lock E: 48", "lock E: 08", "unlock E: 48", "unlock E: 08"}));
  win9x.refused_lock_categories = {0x48, 0x08};
  EXPECT_EQ(device->LockVolume('E'), rc::kVolumeLockRejected);
  EXPECT_EQ(device->UnlockVolume('E'), rc::FromWin32(ERROR_ACCESS_DENIED));
  device.reset();
  EXPECT_EQ(win9x.vwin32_opens, 0);  // the destructor closes vwin32
}

TEST_F(Win9xScsiDeviceTest, FirmwareIsSentWithEveryDriveLocked) {
  const std::vector<MscDriveEntry> entries = win9x.sim.Record().drive_entries;
  std::string image(8193, static_cast<char>(0x5A));
  MemoryStream stream(image);
  ProgressLog progress;
  ASSERT_EQ(device->UpgradeFirmware('E', entries, 0, &stream, &progress), rc::kOk);
  EXPECT_EQ(win9x.sim.player->firmware_blocks, 2u);
  EXPECT_EQ(progress.calls, (std::vector<std::pair<uint32_t, uint32_t>>{{8192, 8193},
                                                                        {8193, 8193}}));
  EXPECT_EQ(win9x.dos_calls, Lines({"reset E:", "reset F:", "lock E: 48", "lock F: 48",
                                    "unlock E: 48", "unlock F: 48"}));
  EXPECT_TRUE(win9x.locks.empty());
}

TEST_F(Win9xScsiDeviceTest, FirmwareStopsWhenADriveCannotBeLocked) {
  const std::vector<MscDriveEntry> entries = win9x.sim.Record().drive_entries;
  win9x.refused_lock_categories = {0x48, 0x08};
  std::string image(100, static_cast<char>(1));
  MemoryStream stream(image);
  EXPECT_EQ(device->UpgradeFirmware('E', entries, 0, &stream, nullptr),
            rc::kVolumeLockRejected);
  EXPECT_EQ(win9x.sim.player->firmware_blocks, 0u);
}

TEST_F(Win9xScsiDeviceTest, DrivesLockedBeforeARefusedLockAreUnlockedAgain) {
  const std::vector<MscDriveEntry> entries = win9x.sim.Record().drive_entries;
  win9x.refused_lock_categories = {0x08};
  win9x.unlockable_drive = 'F';
  std::string image(100, static_cast<char>(1));
  MemoryStream stream(image);
  EXPECT_EQ(device->UpgradeFirmware('E', entries, 0, &stream, nullptr),
            rc::kVolumeLockRejected);
  EXPECT_EQ(win9x.dos_calls, Lines({"reset E:", "reset F:", "lock E: 48", "lock F: 48",
                                    "lock F: 08", "unlock E: 48"}));
  EXPECT_TRUE(win9x.locks.empty());
  EXPECT_EQ(win9x.sim.player->firmware_blocks, 0u);
}

TEST_F(Win9xScsiDeviceTest, RecoveryUpgradeNeitherFlushesNorLocks) {
  const std::vector<MscDriveEntry> entries = win9x.sim.Record().drive_entries;
  std::string image(10, static_cast<char>(1));
  MemoryStream stream(image);
  // The simulated player takes firmware only while its drives are locked; here someone else
  // holds the locks, as no volume of a player in recovery needs protecting.
  for (char letter : {'E', 'F'}) {
    HANDLE volume = win9x.sim.io.CreateFileA(FormatString("\\\\.\\%c:", letter).c_str(),
                                             GENERIC_READ | GENERIC_WRITE, 7, OPEN_EXISTING, 0);
    DWORD ignored = 0;
    win9x.sim.io.DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &ignored);
    win9x.locks[letter] = volume;  // closed by the fake's destructor
  }
  EXPECT_EQ(device->UpgradeFirmware('E', entries, 0x10, &stream, nullptr), rc::kOk);
  EXPECT_EQ(win9x.sim.player->firmware_blocks, 1u);
  EXPECT_TRUE(win9x.dos_calls.empty());
}

// --- the registry's instance names --------------------------------------------------------------

TEST(Win9xDriveLetters, EnumeratorKeyPadsAndReplacesBlanks) {
  struct Case {
    const char* vendor;
    const char* product;
    const char* revision;
    const char* key;
  };
  const Case cases[] = {
      {"Qel", "Qel MS 20", "1.0", "Enum\\SCSI\\Qel_____Qel_MS_20_______1"},
      {"ABCDEFGHIJ", "0123456789ABCDEFGH", "", "Enum\\SCSI\\ABCDEFGH0123456789ABCDEF"},
      {"", "", "Z", "Enum\\SCSI\\________________________Z"},
  };
  for (const Case& c : cases) {
    MscDriveRecord record;
    record.vendor = c.vendor;
    record.product = c.product;
    record.revision = c.revision;
    EXPECT_EQ(ScsiEnumeratorKey(record), c.key) << c.vendor;
  }
}

TEST(Win9xDriveLetters, InstancesWithTheSerialAreSortedAndPairedInOrder) {
  const std::vector<std::string> subkeys = {"X&0123456789ABCDEF&2", "Y&FFFF", "A&0123456789ABCDEF&1",
                                            "M&0123456789abcdef&0", "B&0123456789ABCDEF&0"};
  EXPECT_EQ(MatchingInstances("K", subkeys, 0x0123456789ABCDEFull),
            Lines({"K\\A&0123456789ABCDEF&1", "K\\B&0123456789ABCDEF&0",
                   "K\\X&0123456789ABCDEF&2"}));

  struct Case {
    std::vector<char> letters;
    size_t entries;
    std::string kept;  // the letters of the entries left
  };
  const Case cases[] = {
      {{'E', 'F', 'G'}, 2, "EF"},  // three instances, two entries: the first two names
      {{'E'}, 2, "E"},             // an entry without a letter is removed
      {{0, 'F'}, 2, "F"},          // an instance without a letter value
      {{}, 1, ""},
  };
  for (const Case& c : cases) {
    MscDriveRecord record;
    record.drive_entries.resize(c.entries);
    PairDriveLetters(c.letters, &record);
    std::string kept;
    for (const MscDriveEntry& entry : record.drive_entries) kept += entry.drive_letter;
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(record.drive_letter, c.kept.empty() ? 0 : c.kept[0]);
  }
}

TEST(Win9xFactory, WindowsNineXGetsTheAspiBackEndWhichFailsWithoutUsableAspi) {
  FakeWin9x win9x;
  std::unique_ptr<ScsiDevice> device;
  // Here "WNASPI32.DLL" is missing or reports no host adapters: the device is not handed out.
  const Result status = ScsiDevice::Create(ScsiDevice::Entry::kFull, &win9x, &device);
  EXPECT_TRUE(rc::Failed(status));
  EXPECT_NE(AspiLibrary::Process()->status(), rc::kOk);
  EXPECT_EQ(status, AspiLibrary::Process()->status());
  EXPECT_EQ(device, nullptr);
}

}  // namespace
