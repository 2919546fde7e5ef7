#include "devices/msc/player_eject.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// As GetProcAddress hands out an entry point: through void (*)(), the generic function pointer.
template <typename Function>
FARPROC AsFarProc(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// Two classes of devices with instance ids; the configuration manager's calls are recorded.
class ScriptedEjectApi : public EjectApi {
 public:
  WindowsVersion version{VER_PLATFORM_WIN32_NT, 5, 1};
  std::map<std::string, std::vector<GUID>> classes;
  std::map<DWORD, std::vector<std::string>> devices;  // by the GUID's Data1
  DWORD query_answer = 0;
  std::vector<std::string> calls;
  std::vector<std::string> loaded;
  int open_lists = 0, open_libraries = 0;

  static ScriptedEjectApi* current;

  WindowsVersion GetVersion() override { return version; }
  BOOL ClassGuidsFromNameA(PCSTR name, LPGUID guids, DWORD size, PDWORD required) override {
    calls.push_back(std::string("class ") + name);
    const auto& found = classes[name];
    *required = static_cast<DWORD>(found.size());
    for (size_t i = 0; i < found.size() && i < size; ++i) guids[i] = found[i];
    return TRUE;
  }
  HDEVINFO GetClassDevsA(const GUID* guid, DWORD flags) override {
    EXPECT_EQ(flags & DIGCF_PRESENT, static_cast<DWORD>(DIGCF_PRESENT));
    ++open_lists;
    return reinterpret_cast<HDEVINFO>(static_cast<uintptr_t>(guid->Data1));
  }
  BOOL EnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) override {
    const auto& list = devices[static_cast<DWORD>(reinterpret_cast<uintptr_t>(set))];
    if (index >= list.size()) return FALSE;
    data->DevInst = static_cast<DWORD>(reinterpret_cast<uintptr_t>(set)) * 100 + index;
    return TRUE;
  }
  BOOL GetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR id, DWORD size,
                            PDWORD) override {
    const auto& list = devices[static_cast<DWORD>(reinterpret_cast<uintptr_t>(set))];
    const std::string& text = list[data->DevInst % 100];
    if (text.size() >= size) return FALSE;
    strcpy(id, text.c_str());
    return TRUE;
  }
  BOOL DestroyDeviceInfoList(HDEVINFO) override {
    --open_lists;
    return TRUE;
  }
  HMODULE LoadLibraryA(LPCSTR name) override {
    loaded.push_back(name);
    ++open_libraries;
    return reinterpret_cast<HMODULE>(0x1000);
  }
  FARPROC GetProcAddress(HMODULE, LPCSTR name) override {
    const std::string entry = name;
    if (entry == "CM_Request_Device_EjectA") return AsFarProc(&RequestEject);
    if (entry == "CM_Query_Remove_SubTree") return AsFarProc(&QueryRemove);
    if (entry == "CM_Remove_SubTree") return AsFarProc(&Remove);
    return nullptr;
  }
  BOOL FreeLibrary(HMODULE) override {
    --open_libraries;
    return TRUE;
  }

  static DWORD WINAPI RequestEject(DWORD instance, int* veto, LPSTR name, ULONG length,
                                   ULONG flags) {
    EXPECT_NE(veto, nullptr);
    EXPECT_NE(name, nullptr);
    EXPECT_EQ(length, 260u);
    EXPECT_EQ(flags, 0u);
    current->calls.push_back("eject " + std::to_string(instance));
    return 0;
  }
  static DWORD WINAPI QueryRemove(DWORD instance, ULONG) {
    current->calls.push_back("query " + std::to_string(instance));
    return current->query_answer;
  }
  static DWORD WINAPI Remove(DWORD instance, ULONG) {
    current->calls.push_back("remove " + std::to_string(instance));
    return 0;
  }
};
ScriptedEjectApi* ScriptedEjectApi::current = nullptr;

class PlayerEjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ScriptedEjectApi::current = &api;
    api.classes["usb"] = {GUID{1, 0, 0, {}}, GUID{2, 0, 0, {}}};
    api.classes["hdc"] = {GUID{3, 0, 0, {}}};
    api.devices[1] = {"USB\\VID_046D&PID_C52B\\5&1", "USB\\VID_2F1A&PID_5041\\0123456789ABCDEF"};
    api.devices[2] = {"USB\\ROOT_HUB20\\4&1"};
    api.devices[3] = {"X\\USB\\VID_2F1A&PID_5041\\0123456789ABCDEF\\Y"};
  }
  void TearDown() override {
    EXPECT_EQ(api.open_lists, 0);
    EXPECT_EQ(api.open_libraries, 0);
  }
  void Eject() { EjectPlayer(0x2F1A, 0x5041, 0x89ABCDEF, 0x01234567, &api); }
  ScriptedEjectApi api;
};

TEST_F(PlayerEjectTest, InstancePattern) {
  EXPECT_EQ(PlayerInstancePattern(0x2F1A, 0x5041, 0x89ABCDEF, 0x01234567),
            "USB\\VID_2F1A&PID_5041\\0123456789ABCDEF");
}

TEST_F(PlayerEjectTest, NtFamilyAsksToEjectTheMatchingUsbDevice) {
  Eject();
  EXPECT_EQ(api.calls, (std::vector<std::string>{"class usb", "eject 101"}));
  EXPECT_EQ(api.loaded, std::vector<std::string>{"SETUPAPI.DLL"});
}

TEST_F(PlayerEjectTest, WindowsMeRemovesTheSubTreeOfTheUsbClass) {
  api.version = {VER_PLATFORM_WIN32_WINDOWS, 4, 90};
  Eject();
  EXPECT_EQ(api.calls, (std::vector<std::string>{"class usb", "query 101", "remove 101"}));
  EXPECT_EQ(api.loaded, std::vector<std::string>{"CFGMGR32.DLL"});
}

TEST_F(PlayerEjectTest, Windows98SearchesTheHdcClassAndHonoursARefusal) {
  api.version = {VER_PLATFORM_WIN32_WINDOWS, 4, 10};
  api.query_answer = 23;  // removal vetoed
  Eject();
  EXPECT_EQ(api.calls, (std::vector<std::string>{"class hdc", "query 300"}));
}

TEST_F(PlayerEjectTest, OtherPlatformsAndOtherPlayersAreLeftAlone) {
  api.version = {0, 3, 1};
  Eject();
  EXPECT_TRUE(api.calls.empty());
  api.version = {VER_PLATFORM_WIN32_NT, 6, 1};
  EjectPlayer(0x2F1A, 0x5042, 0x89ABCDEF, 0x01234567, &api);
  EXPECT_EQ(api.calls, std::vector<std::string>{"class usb"});
}

}  // namespace
