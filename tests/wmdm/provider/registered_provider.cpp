#include "wmdm/provider/registered_provider.h"

#include <string>

#include "wmdm/torvex_classes.h"

namespace {

// The DLL as this process names it: the build's path on Wine's Z: drive.
std::string SeamedDllPath() {
  std::string path = std::string("Z:") + TORVEX_SEAMED_DLL_UNIX_PATH;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

// What regsvr32 does: load the DLL, call its DllRegisterServer, let it go.
HRESULT RegisterSeamedDll() {
  HMODULE module = LoadLibraryA(SeamedDllPath().c_str());
  if (!module) return HRESULT_FROM_WIN32(GetLastError());
  using Register = HRESULT(STDAPICALLTYPE*)();
  const auto function = Export<Register>(module, "DllRegisterServer");
  const HRESULT hr = function ? function() : E_NOTIMPL;
  FreeLibrary(module);
  return hr;
}

}  // namespace

RegisteredProvider::~RegisteredProvider() {
  if (!module_) return;
  if (const auto use = Export<TorvexUseTestSeamsFunction>(module_, kTorvexUseTestSeams)) use(nullptr);
  FreeLibrary(module_);
}

HRESULT RegisteredProvider::Create(const TorvexTestSeams& seams, IMDServiceProvider2** provider) {
  *provider = nullptr;
  static const HRESULT registered = RegisterSeamedDll();
  if (FAILED(registered)) return registered;
  IMDServiceProvider* created = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_MDTorvexServiceProvider, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IMDServiceProvider, reinterpret_cast<void**>(&created));
  if (FAILED(hr)) return hr;
  hr = created->QueryInterface(IID_IMDServiceProvider2, reinterpret_cast<void**>(provider));
  created->Release();
  if (FAILED(hr)) return hr;
  // The seams go to the module COM loaded, which must be this file; our own reference keeps
  // it until they are taken back.
  const std::string path = SeamedDllPath();
  if (!module_ && GetModuleHandleA(path.c_str())) module_ = LoadLibraryA(path.c_str());
  const auto use = Export<TorvexUseTestSeamsFunction>(module_, kTorvexUseTestSeams);
  if (!use) {
    (*provider)->Release();
    *provider = nullptr;
    return CO_E_DLLNOTFOUND;
  }
  use(&seams);
  return S_OK;
}

int32_t RegisteredProvider::BusyCount() const {
  const auto count = Export<TorvexBusyCountFunction>(module_, kTorvexBusyCount);
  return count ? count() : -1;
}
