#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/ir_block_device.h"
#include "platform/or_event.h"
#include "platform/or_message_queue.h"
#include "platform/or_mutex.h"
#include "platform/or_thread.h"
#include "platform/platform_clock.h"
#include "platform/platform_codes.h"
#include "platform/platform_file_system.h"
#include "platform/platform_fixture.h"
#include "platform/shell_capture.h"
#include "platform/virtual_disk.h"
#include "testlib/test_block_device.h"

#undef CreateMutex
#undef CreateEvent
#undef CreateThread

namespace {

struct ModuleCounters {
  int32_t genesis, armageddon, calls, load_kind_questions;
};

// The counters of a test module's library, or null while it is not loaded.
ModuleCounters* CountersOf(const char* module) {
  HMODULE library = GetModuleHandleA((std::string(module) + ".dll").c_str());
  if (!library) return nullptr;
  auto get = reinterpret_cast<ModuleCounters* (*)()>(
      reinterpret_cast<void*>(GetProcAddress(library, "TestModuleCounters")));
  return get ? get() : nullptr;
}

using PlatformTest = PlatformFixture;

TEST_F(PlatformTest, BuiltInServicesAreFoundByName) {
  EXPECT_EQ(platform_, platform_->GetInterface("IRPlatform"));
  EXPECT_NE(nullptr, platform_->GetInterface("IRBlockDevice"));
  EXPECT_NE(nullptr, platform_->GetInterface("IRVirtualDisk"));
  EXPECT_EQ(nullptr, platform_->GetInterface("IRDebug"));
  EXPECT_EQ(nullptr, platform_->GetInterface("IRFileSystem")) << "no file system is installed";
  EXPECT_EQ(nullptr, platform_->GetInterface(nullptr));
  EXPECT_EQ(nullptr, platform_->GetInterface("irtime")) << "names are case-sensitive";
  // Releasing null or a built-in service does nothing.
  platform_->ReleaseInterface(nullptr);
  for (const char* name : {"IRPlatform", "ISysLog", "IRTime", "IControlBits", "IRBlockDevice",
                           "IRVirtualDisk"})
    platform_->ReleaseInterface(platform_->GetInterface(name));
  EXPECT_EQ(time_, platform_->GetInterface("IRTime"));
}

TEST_F(PlatformTest, PropertiesAnswerTheirFixedValues) {
  char text[16];
  EXPECT_EQ(0, platform_->GetPropertyString("PlatformName", text, 8));
  EXPECT_STREQ("Windows", text);
  EXPECT_EQ(prc::kUnknownProperty, platform_->GetPropertyString("PlatformName", text, 7));
  uint32_t value = 99;
  EXPECT_EQ(prc::kUnknownProperty, platform_->GetPropertyU32("PlatformName", &value));
  EXPECT_EQ(0, platform_->GetPropertyU32("PlatformType", &value));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(1u, platform_->GetPropertyU32OrZero("PlatformRev"));
  EXPECT_EQ(0u, platform_->GetPropertyU32OrZero("PlatformVersion"));
  EXPECT_EQ(prc::kBadPropertyForm, platform_->GetPropertyString("PlatformRev", text, 16))
      << "a 32-bit 1 is not a text";
  uint32_t length = 0;
  EXPECT_EQ(prc::kUnknownProperty, platform_->GetProperty("Platformtype", text, 16, &length));
  EXPECT_EQ(0u, length) << "the length is written only on success";
}

TEST_F(PlatformTest, MakeSystemPathNeedsRoomForThePrefixAndName) {
  char path[32];
  EXPECT_EQ(0, platform_->MakeSystemPath("abc", path, 22));
  EXPECT_STREQ("/name/system/sys1/abc", path);
  EXPECT_EQ(prc::kPathTooLong, platform_->MakeSystemPath("abc", path, 21));
}

TEST_F(PlatformTest, ConfigurationHoldsTheDefaultsAndCannotBeChanged) {
  PlatformConfig config;
  memset(&config, 0xEE, sizeof config);
  ASSERT_EQ(0, platform_->GetConfig(&config));
  EXPECT_STREQ("/name/system/sys1/", config.system_directory);
  EXPECT_STREQ("/name/system/sys1/Modules/", config.modules_directory);
  EXPECT_STREQ("/name/storage/", config.storage_directory);
  EXPECT_STREQ("/name/mpeg/", config.mpeg_directory);
  EXPECT_STREQ("/name/system/user/", config.user_directory);
  EXPECT_STREQ("", config.spare_directory);
  EXPECT_EQ(999999u, config.limit_value);
  EXPECT_EQ(0u, config.second_value);
  EXPECT_EQ(0, config.flags[5]);
  EXPECT_EQ(prc::kSetConfigRefused, platform_->SetConfig(&config));
}

TEST(PlatformConfigTest, DirectoriesGetATrailingSlashWhenThereIsRoom) {
  PlatformConfig config;
  FillDefaultConfig(&config);
  strcpy(config.storage_directory, "/x");
  strcpy(config.mpeg_directory, "");
  memset(config.user_directory, 'u', 47);
  config.user_directory[47] = '\0';
  memset(config.system_directory, 's', 78);
  config.system_directory[78] = '\0';
  TerminateConfigDirectories(&config);
  EXPECT_STREQ("/x/", config.storage_directory);
  EXPECT_STREQ("", config.mpeg_directory);
  EXPECT_EQ(47u, strlen(config.user_directory)) << "at its limit: left as it is";
  EXPECT_EQ(79u, strlen(config.system_directory));
  EXPECT_EQ('/', config.system_directory[78]);
}

TEST_F(PlatformTest, SharedPointerCarriesTheWholeAddress) {
  EXPECT_EQ(platform_, CurrentPlatform());
  EXPECT_EQ(static_cast<void*>(platform_), ReadSharedPointer());
}

TEST_F(PlatformTest, MakesSyncObjectsAndThreadsThatFindThemselves) {
  ORMutexImpl* mutex = platform_->CreateMutex();
  OREventImpl* event = platform_->CreateEvent();
  ORMessageQueueImpl* queue = platform_->CreateMessageQueue();
  ORThreadImpl* thread = platform_->CreateThread();
  ASSERT_TRUE(mutex && event && queue && thread);
  EXPECT_EQ(nullptr, platform_->CurrentThread()) << "the test's thread is not a platform thread";
  struct Context {
    IRPlatform* platform;
    ORThreadImpl* seen;
    OREventImpl* done;
  } context{platform_, nullptr, event};
  ASSERT_EQ(0, thread->Start(
                   [](void* argument) {
                     Context* c = static_cast<Context*>(argument);
                     c->seen = c->platform->CurrentThread();
                     c->done->Set(1);
                   },
                   &context, 0, 100, ORThreadImpl::kStartRunning, "worker"));
  uint32_t flags = 0;
  EXPECT_EQ(0, event->WaitAny(1, &flags, 0));
  // A thread that has ended already answers "not started".
  Result joined = thread->Join();
  EXPECT_TRUE(joined == 0 || joined == prc::kThreadNotStarted) << std::hex << joined;
  EXPECT_EQ(ORThreadImpl::kStateStopped, thread->State());
  EXPECT_EQ(thread, context.seen);
  mutex->Release();
  event->Release();
  queue->Release();
  platform_->DestroyThread(thread);
}

TEST_F(PlatformTest, ModuleLoadsOnceAndExitsWhenItsLastUserReleasesIt) {
  PlatformInterface* first = platform_->GetInterface("PlainModule");
  ASSERT_NE(nullptr, first);
  ModuleCounters* counters = CountersOf("PlainModule");
  ASSERT_NE(nullptr, counters);
  ModuleCounters before = *counters;
  EXPECT_EQ(first, platform_->GetInterface("PlainModule"));
  EXPECT_EQ(before.genesis, counters->genesis);
  EXPECT_EQ(0x1005, platform_->CallInterface("PlainModule", reinterpret_cast<void*>(5)));
  EXPECT_EQ(0, platform_->CallInterface("NoSuchModuleAnywhere", nullptr));
  platform_->ReleaseInterface(first);
  platform_->ReleaseInterface(first);
  EXPECT_EQ(before.armageddon, counters->armageddon) << "CallInterface's use is still counted";
  platform_->ReleaseInterface(first);
  EXPECT_EQ(before.armageddon + 1, counters->armageddon);
  // Loaded afresh on the next request; the library itself stayed in the process.
  EXPECT_EQ(first, platform_->GetInterface("PlainModule"));
  EXPECT_EQ(before.genesis + 1, counters->genesis);
  platform_->ReleaseInterface(first);
}

TEST_F(PlatformTest, StickyModuleExitsOnlyAtShutdown) {
  PlatformInterface* sticky = platform_->GetInterface("StickyModule");
  ASSERT_NE(nullptr, sticky);
  ModuleCounters* counters = CountersOf("StickyModule");
  int32_t exits = counters->armageddon;
  for (int i = 0; i < 5; ++i) platform_->ReleaseInterface(sticky);
  EXPECT_EQ(exits, counters->armageddon);
  DestroyPlatform();
  EXPECT_EQ(exits + 1, counters->armageddon);
  platform_ = CreatePlatform();
}

TEST_F(PlatformTest, ProxiesSteerTheLoadingOfTheirModules) {
  // The proxies' libraries stay in the process once loaded: count from here.
  auto questions = [](const char* proxy) {
    ModuleCounters* counters = CountersOf(proxy);
    return counters ? counters->load_kind_questions : 0;
  };
  int hidden = questions("HiddenModule_Proxy");
  int declined = questions("DeclinedModule_Proxy");
  // Kind 2: the service is absent, remembered without asking again.
  EXPECT_EQ(nullptr, platform_->GetInterface("HiddenModule"));
  EXPECT_EQ(nullptr, platform_->GetInterface("HiddenModule"));
  EXPECT_EQ(nullptr, GetModuleHandleA("HiddenModule.dll")) << "never loaded";
  EXPECT_EQ(hidden + 1, questions("HiddenModule_Proxy"));
  // Another kind: declined, and the proxy is asked again next time.
  EXPECT_EQ(nullptr, platform_->GetInterface("DeclinedModule"));
  EXPECT_EQ(nullptr, platform_->GetInterface("DeclinedModule"));
  EXPECT_EQ(nullptr, GetModuleHandleA("DeclinedModule.dll"));
  EXPECT_EQ(declined + 2, questions("DeclinedModule_Proxy"));
  // Kind 0: loaded as usual.
  PlatformInterface* steered = platform_->GetInterface("SteeredModule");
  EXPECT_NE(nullptr, steered);
  platform_->ReleaseInterface(steered);
}

TEST_F(PlatformTest, ModulesThatCannotStartYieldNull) {
  EXPECT_EQ(nullptr, platform_->GetInterface("FailingModule"));
  EXPECT_EQ(nullptr, GetModuleHandleA("FailingModule.dll")) << "its library is freed";
  EXPECT_EQ(nullptr, platform_->GetInterface("NoSuchModuleAnywhere"));
  EXPECT_EQ(nullptr, platform_->GetInterface("kernel32")) << "a library without Genesis";
}

TEST_F(PlatformTest, LongModuleNamesAreKeyedByTheirFirst47Characters) {
  const std::string name = "ModuleWithAVeryLongNameThatIsKeyedByItsFirstChars";
  ASSERT_GE(name.size(), 48u);
  PlatformInterface* module = platform_->GetInterface(name.c_str());
  ASSERT_NE(nullptr, module);
  std::string same_key = name.substr(0, 47) + "Other";
  EXPECT_EQ(module, platform_->GetInterface(same_key.c_str()));
  ModuleCounters* counters = CountersOf(name.c_str());
  int32_t exits = counters->armageddon;
  platform_->ReleaseInterface(module);
  platform_->ReleaseInterface(module);
  EXPECT_EQ(exits + 1, counters->armageddon);
}

TEST_F(PlatformTest, DestroyingThePlatformDeletesTheRegisteredBlockDevices) {
  TestBlockDevice::InMemory("RAM", 3, 512, 8);
  EXPECT_EQ(1u, BlockDeviceCount());
  DestroyPlatform();
  EXPECT_EQ(0u, BlockDeviceCount());
  EXPECT_EQ(nullptr, CurrentPlatform());
  platform_ = CreatePlatform();
}

TEST_F(PlatformTest, StartBuildsTheVirtualDisksOfTheDevicesPresent) {
  DestroyPlatform();
  TestBlockDevice* member = TestBlockDevice::InMemory("IDE", 0, 512, 16);
  uint8_t header[512] = {};
  header[0] = 0xA0, header[1] = 0xF5, header[2] = 0x9E, header[3] = 0xD6;  // magic
  header[8] = 1;                                                          // one member
  header[40] = 1, header[48] = 16;                                        // sectors 1-15
  member->Poke(0, header, sizeof header);
  platform_ = CreatePlatform();
  EXPECT_EQ(1, VirtualDiskCount());
  ShellCapture shell;
  static_cast<IRVirtualDisk*>(platform_->GetInterface("IRVirtualDisk"))->Describe();
  EXPECT_EQ("VDISK:0 IDE:0\n", shell.Take());
}

TEST(FsResultTest, MapsPlatformCodesToDeviceCodes) {
  const uint32_t cases[][2] = {
      {0, 0},
      {0x80000001, 0xC004000B}, {0x80000002, 0x8007000E}, {0x80000003, 0xC0004006},
      {0x80000004, 0xC0040002}, {0x80820005, 0xC0040002}, {0x80000005, 0x80004001},
      {0x80820008, 0x80004001}, {0x8082000A, 0x80004001}, {0x80820001, 0xC0004009},
      {0x80820002, 0xC004A001}, {0x80820003, 0xC004A002}, {0x80820004, 0xC004000C},
      {0x80820017, 0xC004000C}, {0x80820006, 0xC004A023}, {0x80820007, 0xC004A003},
      {0x80820009, 0xC004A004}, {0x8082000C, 0xC004A005}, {0x80820013, 0xC004A00C},
      {0x80820014, 0xC004A00D}, {0x80820016, 0xC004A00F}, {0x80820018, 0xC004A010},
      {0x8082001C, 0xC004A014}, {0x8082001D, 0xC004A022}, {0x8082001E, 0xC004A015},
      {0x8082002A, 0xC004A021}, {0x80000000, 0x80004005}, {0x8082000B, 0x80004005},
      {0x8082002B, 0x80004005}, {0x80000006, 0x80004005}, {1, 0x80004005},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c[1], static_cast<uint32_t>(FsResultToDeviceError(static_cast<Result>(c[0]))))
        << std::hex << c[0];
}

// A file system standing in for the one the file-system layer will install.
struct FakeFileSystem : PlatformInterface {
  void Destroy() override { ++destroyed; }
  static int destroyed;
};
int FakeFileSystem::destroyed = 0;

struct FakeProvider {
  static FakeFileSystem file_system;
  static bool start_fails;
  static bool configured_user_directory_opens;
  static std::string calls;
  static const FileSystemProvider table;
};
FakeFileSystem FakeProvider::file_system;
bool FakeProvider::start_fails = false;
bool FakeProvider::configured_user_directory_opens = true;
std::string FakeProvider::calls;
const FileSystemProvider FakeProvider::table = {
    [](IRPlatform*) -> PlatformInterface* {
      calls += "start ";
      return start_fails ? nullptr : &file_system;
    },
    [](PlatformInterface*) { calls += "mount "; },
    [](PlatformInterface*) { calls += "finish "; },
    [](PlatformInterface*) { calls += "unmount "; },
    [](PlatformInterface*, const char* path) {
      calls += std::string("open:") + path + " ";
      return configured_user_directory_opens || strcmp(path, "/name/user") == 0;
    },
};

class AcquireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeProvider::start_fails = false;
    FakeProvider::configured_user_directory_opens = true;
    FakeProvider::calls.clear();
    FakeFileSystem::destroyed = 0;
    SetFileSystemProvider(&FakeProvider::table);
  }
  void TearDown() override {
    PlatformRelease();
    SetFileSystemProvider(nullptr);
  }
};

TEST_F(AcquireTest, KeepsAPlatformThatHasItsFileSystem) {
  ASSERT_EQ(0, AcquirePlatformFileSystem());
  IRPlatform* platform = CurrentPlatform();
  EXPECT_EQ(&FakeProvider::file_system, AcquiredFileSystem());
  EXPECT_EQ("start mount finish open:/name/system/user/ ", FakeProvider::calls);
  auto* bits = static_cast<IControlBits*>(platform->GetInterface("IControlBits"));
  bits->Assign("fs:c", 3);
  ASSERT_EQ(0, AcquirePlatformFileSystem());
  EXPECT_EQ(platform, CurrentPlatform());
  EXPECT_EQ(3u, bits->GetOrZero("fs:c")) << "log settings survive a second acquire";
  EXPECT_EQ(0, FakeFileSystem::destroyed);
  EXPECT_EQ(0, PlatformRelease());
  EXPECT_EQ(nullptr, CurrentPlatform());
  EXPECT_EQ(1, FakeFileSystem::destroyed);
  EXPECT_NE(std::string::npos, FakeProvider::calls.find("unmount "));
}

TEST_F(AcquireTest, RemakesAPlatformWhoseStartFailed) {
  FakeProvider::start_fails = true;
  EXPECT_EQ(1, AcquirePlatformFileSystem());
  ASSERT_NE(nullptr, CurrentPlatform());
  EXPECT_EQ(nullptr, CurrentPlatform()->GetInterface("IRTime"))
      << "a failed start leaves no services";
  FakeProvider::start_fails = false;
  EXPECT_EQ(0, AcquirePlatformFileSystem());
  EXPECT_NE(nullptr, CurrentPlatform()->GetInterface("IRTime"));
  EXPECT_EQ(&FakeProvider::file_system, CurrentPlatform()->GetInterface("IRFileSystem"));
}

TEST_F(AcquireTest, FallsBackToThePlayersUserDirectory) {
  FakeProvider::configured_user_directory_opens = false;
  ShellCapture shell;
  ASSERT_EQ(0, AcquirePlatformFileSystem());
  EXPECT_EQ("new userDir: /name/user\n", shell.Take());
  PlatformConfig config;
  CurrentPlatform()->GetConfig(&config);
  EXPECT_STREQ("/name/user/", config.user_directory);
}

TEST(PlatformWithoutFileSystemTest, AcquireReportsFailureWithoutPretending) {
  EXPECT_EQ(1, AcquirePlatformFileSystem());
  EXPECT_EQ(nullptr, AcquiredFileSystem());
  ASSERT_NE(nullptr, CurrentPlatform());
  EXPECT_NE(nullptr, CurrentPlatform()->GetInterface("ISysLog"));
  PlatformRelease();
}

}  // namespace

namespace {

// Platforms made and destroyed while their timers fire: no tick may run on a time service
// that shutdown has already destroyed.
TEST(PlatformLifetimeTest, ShutdownStopsTheTickerBeforeTheTimeServiceGoes) {
  for (int round = 0; round < 15; ++round) {
    IRPlatform* platform = CreatePlatform();
    auto* time = static_cast<IRTime*>(platform->GetInterface("IRTime"));
    ORMessageQueueImpl* queue = platform->CreateMessageQueue();
    uint32_t id = 0;
    ASSERT_EQ(0, time->CreateTimer(1, 1, queue, 1, &id));
    Sleep(60 + round % 4 * 10);
    DestroyPlatform();
    ASSERT_EQ(0u, ClockTickCount()) << "the ticker is gone";
    while (QueueMessage* message = queue->Poll(0)) {
      reinterpret_cast<TimerEvent*>(message->payload)->Destroy();
      queue->Done(message);
    }
    queue->Destroy();
  }
}

}  // namespace
