#include "devices/usb/setup_api_binding.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "devices/usb/usb_interface_guids.h"

namespace {

constexpr bool k64Bit = sizeof(void*) == 8;
const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<uintptr_t>(0x5E70));

// What the scripted SetupAPI holds and what it saw.
struct Script {
  std::vector<std::string> paths;
  std::set<DWORD> failing_details;  // indexes whose detail record cannot be read
  DWORD class_devs_error = 0;       // non-zero: SetupDiGetClassDevsA fails with it
  DWORD end_error = ERROR_NO_MORE_ITEMS;
  bool endless = false;

  const GUID* asked_class = nullptr;
  DWORD asked_flags = 0;
  std::vector<DWORD> data_sizes;
  std::vector<DWORD> detail_sizes;
  int enumerations = 0;
  int destroyed = 0;
};
Script* g_script = nullptr;

HDEVINFO WINAPI FakeGetClassDevs(const GUID* interface_class, PCSTR, HWND, DWORD flags) {
  g_script->asked_class = interface_class;
  g_script->asked_flags = flags;
  if (g_script->class_devs_error != 0) {
    SetLastError(g_script->class_devs_error);
    return INVALID_HANDLE_VALUE;
  }
  return kSet;
}

BOOL WINAPI FakeEnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                               PSP_DEVICE_INTERFACE_DATA data) {
  EXPECT_EQ(set, kSet);
  ++g_script->enumerations;
  g_script->data_sizes.push_back(data->cbSize);
  if (g_script->endless || index < g_script->paths.size()) {
    data->Reserved = index;
    return TRUE;
  }
  SetLastError(g_script->end_error);
  return FALSE;
}

BOOL WINAPI FakeInterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                PDWORD required, PSP_DEVINFO_DATA) {
  const DWORD index = static_cast<DWORD>(data->Reserved);
  const std::string path = g_script->endless ? "x" : g_script->paths[index];
  const DWORD need = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
  if (!detail) {
    if (required) *required = need;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  g_script->detail_sizes.push_back(detail->cbSize);
  if (size < need || detail->cbSize != sizeof(*detail) || g_script->failing_details.count(index)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  return TRUE;
}

BOOL WINAPI FakeDestroyList(HDEVINFO set) {
  EXPECT_EQ(set, kSet);
  ++g_script->destroyed;
  return TRUE;
}

const SetupApiEntryPoints kScripted = {FakeGetClassDevs, FakeEnumInterfaces,
                                       FakeInterfaceDetail, FakeDestroyList};

class Collector : public DevicePathCallback {
 public:
  Result OnDevicePath(const std::string& path) override {
    paths.push_back(path);
    return path == stop_at ? stop_result : rc::kOk;
  }
  std::vector<std::string> paths;
  std::string stop_at;
  Result stop_result = rc::kFail;
};

class SetupApiBindingTest : public ::testing::Test {
 protected:
  SetupApiBindingTest() { g_script = &script_; }
  ~SetupApiBindingTest() override { g_script = nullptr; }

  Script script_;
  SetupApiBinding binding_{kScripted};
  Collector collector_;
  const GUID* class_ = &UsbInterfaceGuidTable[0].interface_class;
};

TEST_F(SetupApiBindingTest, HandsEveryPresentInterfacePathOverInOrder) {
  script_.paths = {"\\\\?\\usb#a", "\\\\?\\usb#b"};
  ASSERT_TRUE(binding_.available());
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, collector_), rc::kOk);
  EXPECT_EQ(collector_.paths, script_.paths);
  EXPECT_EQ(script_.asked_class, class_);
  EXPECT_EQ(script_.asked_flags, 0x12u);  // present device interfaces
  EXPECT_EQ(script_.destroyed, 1);
}

// The records carry this process's sizes: 32 and 8 bytes in a 64-bit process, 28 and 5 in a
// 32-bit one.
TEST_F(SetupApiBindingTest, RecordsCarryTheSizesOfThisProcess) {
  script_.paths = {"\\\\?\\usb#a"};
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, collector_), rc::kOk);
  ASSERT_FALSE(script_.data_sizes.empty());
  EXPECT_EQ(script_.data_sizes[0], k64Bit ? 32u : 28u);
  EXPECT_EQ(script_.detail_sizes, std::vector<DWORD>{k64Bit ? 8u : 5u});
}

TEST_F(SetupApiBindingTest, InterfacesWithoutAReadablePathAreSkipped) {
  script_.paths = {"", "\\\\?\\usb#b", "\\\\?\\usb#c", std::string(70000, 'x'), "\\\\?\\usb#e"};
  script_.failing_details = {2};
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, collector_), rc::kOk);
  EXPECT_EQ(collector_.paths, (std::vector<std::string>{"\\\\?\\usb#b", "\\\\?\\usb#e"}));
}

TEST_F(SetupApiBindingTest, NegativeCallbackResultStopsTheEnumeration) {
  script_.paths = {"a", "b", "c"};
  collector_.stop_at = "b";
  collector_.stop_result = static_cast<Result>(0x80070008);
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, collector_), static_cast<Result>(0x80070008));
  EXPECT_EQ(collector_.paths, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(script_.destroyed, 1);

  // A positive answer goes on and is not the result.
  Collector positive;
  positive.stop_at = "a";
  positive.stop_result = 1;
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, positive), rc::kOk);
  EXPECT_EQ(positive.paths.size(), 3u);
}

TEST_F(SetupApiBindingTest, FailuresOfSetupApiAreWin32Results) {
  script_.class_devs_error = ERROR_ACCESS_DENIED;
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, collector_), static_cast<Result>(0x80070005));
  EXPECT_EQ(script_.destroyed, 0);

  script_.class_devs_error = 0;
  script_.paths = {"a"};
  script_.end_error = ERROR_INVALID_DATA;
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, collector_), static_cast<Result>(0x8007000D));
  EXPECT_EQ(collector_.paths, std::vector<std::string>{"a"});
  EXPECT_EQ(script_.destroyed, 1);
}

TEST_F(SetupApiBindingTest, EndlessListIsCutOff) {
  script_.endless = true;
  EXPECT_EQ(binding_.EnumerateInterfaces(class_, collector_), rc::kOk);
  EXPECT_EQ(script_.enumerations, 4096);
  EXPECT_EQ(script_.destroyed, 1);
}

TEST_F(SetupApiBindingTest, MissingEntryPointMakesSetupApiUnavailable) {
  SetupApiEntryPoints partial = kScripted;
  partial.GetDeviceInterfaceDetailA = nullptr;
  SetupApiBinding binding(partial);
  EXPECT_FALSE(binding.available());
  EXPECT_EQ(binding.EnumerateInterfaces(class_, collector_), rc::kNotImplemented);
  EXPECT_EQ(script_.asked_class, nullptr);
}

// Wine has SetupAPI but lists nothing under the players' classes.
TEST(SetupApiProcessBindingTest, LoadsSetupApiAndFindsNoPlayerHere) {
  SetupApiBinding& binding = SetupApiBinding::Process();
  EXPECT_EQ(&binding, &SetupApiBinding::Process());
  ASSERT_TRUE(binding.available());
  EXPECT_NE(GetModuleHandleA("setupapi.dll"), nullptr);
  Collector collector;
  EXPECT_EQ(binding.EnumerateInterfaces(&UsbInterfaceGuidTable[0].interface_class, collector),
            rc::kOk);
  EXPECT_TRUE(collector.paths.empty());
}

}  // namespace
