// The real Torvex.dll in the test prefix: self-registration (called directly and through
// regsvr32), creation of the provider through the registry, and unregistration.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "wmdm/wmdm_interfaces.h"

namespace {

// Expected registry contents, written out independently of the DLL's own tables.
const char kPluginKey[] = "Software\\Microsoft\\Windows Media Device Manager\\Plugins\\SP\\Torvex";
const char kLibId[] = "{60995317-6183-43F8-BD6C-9747A14700DB}";
const CLSID kProviderClsid = {
    0x9DA6B0FC, 0x011D, 0x403F, {0x8C, 0xBB, 0x0E, 0x43, 0x8B, 0xF6, 0xBC, 0xEA}};

struct ExpectedClass {
  const char* clsid;
  const char* prog_id;
  const char* threading_model;
};
const ExpectedClass kClasses[] = {
    {"{9DA6B0FC-011D-403f-8CBB-0E438BF6BCEA}", "MDTorvexServiceProvider.MDTorvexServiceProvider",
     "Both"},
    {"{BB0B2D96-ACBB-49F4-A8C6-438C22D64FEA}", "Torvex.MDSPEnumDevice", "Apartment"},
    {"{DB437D01-9012-4468-AED0-729D220C0D09}", "Torvex.MDSPDevice", "Apartment"},
    {"{88DAE92D-CC1C-4602-BC87-4ECBAAC6C587}", "Torvex.MDSPEnumStorage", "Apartment"},
    {"{3CB7662E-59D5-40BD-850D-3C1A3009C719}", "Torvex.MDSPStorage", "Apartment"},
    {"{EE43F319-21B8-491A-B4F2-1C8CA7BDA409}", "Torvex.MDSPStorageGlobals", "Apartment"},
};

// The DLL as this process sees it: the build's path on Wine's Z: drive.
std::string DllPath() {
  std::string path = std::string("Z:") + TORVEX_DLL_UNIX_PATH;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// The string value (name null: the default value), or "<missing>".
std::string ReadString(HKEY root, const std::string& key, const char* name) {
  char data[1024];
  DWORD size = sizeof(data);
  DWORD type = 0;
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
    return "<missing>";
  const LONG error =
      RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(handle);
  if (error != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
  return std::string(data, strnlen(data, size));
}

DWORD ReadDword(HKEY root, const std::string& key, const char* name) {
  DWORD value = 0xDEADBEEF;
  DWORD size = sizeof(value);
  DWORD type = 0;
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return value;
  if (RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD)
    value = 0xDEADBEEF;
  RegCloseKey(handle);
  return value;
}

// Runs regsvr32 from the prefix's system folder; returns its exit code.
DWORD RunRegsvr32(const std::string& options) {
  std::string command = "regsvr32.exe " + options + " \"" + DllPath() + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return 0xFFFFFFFF;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

using DllFunction = HRESULT(STDAPICALLTYPE*)();

class TorvexRegistrationTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    module_ = LoadLibraryA(DllPath().c_str());
  }
  static void TearDownTestSuite() { CoUninitialize(); }

  void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << DllPath(); }

  HRESULT Call(const char* name) {
    auto function =
        reinterpret_cast<DllFunction>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    return function ? function() : E_NOTIMPL;
  }

  void ExpectRegistered() {
    for (const ExpectedClass& c : kClasses) {
      SCOPED_TRACE(c.prog_id);
      const std::string clsid_key = std::string("CLSID\\") + c.clsid;
      const std::string versioned = std::string(c.prog_id) + ".1";
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid_key + "\\InprocServer32", nullptr),
                DllPath());
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid_key + "\\InprocServer32", "ThreadingModel"),
                c.threading_model);
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid_key + "\\TypeLib", nullptr), kLibId);
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid_key + "\\ProgID", nullptr), versioned);
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, clsid_key + "\\VersionIndependentProgID", nullptr),
                c.prog_id);
      EXPECT_STRCASEEQ(ReadString(HKEY_CLASSES_ROOT, versioned + "\\CLSID", nullptr).c_str(),
                       c.clsid);
      EXPECT_STRCASEEQ(ReadString(HKEY_CLASSES_ROOT, std::string(c.prog_id) + "\\CLSID", nullptr)
                           .c_str(),
                       c.clsid);
      EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(c.prog_id) + "\\CurVer", nullptr),
                versioned);
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibId));
    ExpectPluginKey();
  }

  void ExpectUnregistered() {
    for (const ExpectedClass& c : kClasses) {
      SCOPED_TRACE(c.prog_id);
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("CLSID\\") + c.clsid));
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, c.prog_id));
      EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(c.prog_id) + ".1"));
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibId));
    ExpectPluginKey();  // WMDM's plug-in key outlives unregistration
  }

  void ExpectPluginKey() {
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kPluginKey, "ProgID"),
              "MDTorvexServiceProvider.MDTorvexServiceProvider");
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kPluginKey, "PnPAware"), 1u);
  }

  static HMODULE module_;
};
HMODULE TorvexRegistrationTest::module_ = nullptr;

TEST_F(TorvexRegistrationTest, RegisterCreateThroughComAndUnregisterWithRegsvr32) {
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  ExpectRegistered();

  // The registered type library names all six classes.
  ITypeLib* library = nullptr;
  CLSID libid;
  CLSIDFromString(L"{60995317-6183-43F8-BD6C-9747A14700DB}", &libid);
  ASSERT_EQ(LoadRegTypeLib(libid, 1, 0, 0, &library), S_OK);
  for (const ExpectedClass& c : kClasses) {
    CLSID clsid;
    wchar_t wide[40];
    MultiByteToWideChar(CP_ACP, 0, c.clsid, -1, wide, 40);
    ASSERT_EQ(CLSIDFromString(wide, &clsid), S_OK);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(library->GetTypeInfoOfGuid(clsid, &info), S_OK) << c.prog_id;
    if (info) info->Release();
  }
  library->Release();

  // WMDM's way in: the CLSID through the registry, then the provider interface.
  IMDServiceProvider* provider = nullptr;
  ASSERT_EQ(CoCreateInstance(kProviderClsid, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMDServiceProvider, reinterpret_cast<void**>(&provider)),
            S_OK);
  DWORD count = 0;
  EXPECT_TRUE(SUCCEEDED(provider->GetDeviceCount(&count)));
  EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
  provider->Release();
  EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);

  ASSERT_EQ(RunRegsvr32("/s /u"), 0u);
  ExpectUnregistered();
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kProviderClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
}

TEST_F(TorvexRegistrationTest, Regsvr32RegistersAndRepeatedUnregistrationSucceeds) {
  ASSERT_EQ(RunRegsvr32("/s"), 0u);
  ExpectRegistered();
  // Registering again replaces what is there.
  ASSERT_EQ(RunRegsvr32("/s"), 0u);
  ExpectRegistered();

  EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
  ExpectUnregistered();
  EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
  ExpectUnregistered();
}

TEST_F(TorvexRegistrationTest, StaleClassKeyIsReplaced) {
  const std::string stale = std::string("CLSID\\") + kClasses[0].clsid + "\\Stale";
  HKEY handle;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, stale.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &handle, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(handle);
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, stale));
  ExpectRegistered();
  EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
  ExpectUnregistered();
}

}  // namespace

namespace {

// WMDM shows the icon that IMDSPDevice::GetDeviceIcon loads from the DLL's resource 201.
TEST_F(TorvexRegistrationTest, DllCarriesThePlayerIcon) {
  HMODULE module = GetModuleHandleA(DllPath().c_str());
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(201), MAKEINTRESOURCEA(14)), nullptr);
}

}  // namespace
