// A DLL that stands in for a service provider: its registration entries append "register" or
// "unregister" to the file named like the DLL plus ".calls", so tests see which calls the
// installation made, and in which order.
#include <windows.h>

#include <string>

namespace {

HMODULE self_module = nullptr;

HRESULT Record(const char* call) {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(self_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  const std::string log = std::string(path, length) + ".calls";
  HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return E_FAIL;
  const std::string line = std::string(call) + "\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  return S_OK;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) self_module = instance;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Record("register"); }
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return Record("unregister"); }
