#include "wmdm/registration.h"

#include <olectl.h>
#include <oleauto.h>

#include <string>

#include "support/text_convert.h"
#include "wmdm/torvex_classes.h"
#include "wmdm/wmdm_conventions.h"

namespace {

std::string GuidText(const GUID& guid) {
  wchar_t wide[40];
  StringFromGUID2(guid, wide, 40);
  return WideToAnsi(wide);
}

// Writes a string value (name null: the default value), creating the key.
LONG SetStringValue(HKEY root, const std::string& key, const char* name,
                    const std::string& value) {
  HKEY handle;
  LONG error = RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                               &handle, nullptr);
  if (error != ERROR_SUCCESS) return error;
  error = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
  return error;
}

LONG SetDwordValue(HKEY root, const std::string& key, const char* name, DWORD value) {
  HKEY handle;
  LONG error = RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                               &handle, nullptr);
  if (error != ERROR_SUCCESS) return error;
  error = RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value));
  RegCloseKey(handle);
  return error;
}

// Deletes a key with everything below it (RegDeleteKey of the NT family leaves keys that have
// subkeys). A missing key counts as deleted.
LONG DeleteKeyTree(HKEY root, const std::string& key) {
  HKEY handle;
  LONG error = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE, &handle);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  char child[256];
  for (;;) {
    DWORD length = sizeof(child);
    error = RegEnumKeyExA(handle, 0, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS) break;
    error = DeleteKeyTree(handle, child);
    if (error != ERROR_SUCCESS) break;
  }
  RegCloseKey(handle);
  if (error != ERROR_NO_MORE_ITEMS) return error;
  error = RegDeleteKeyA(root, key.c_str());
  return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

LONG RegisterComClass(const TorvexClassInfo& info, const std::string& module_path) {
  const std::string clsid = GuidText(*info.clsid);
  const std::string prog_id = info.prog_id;
  const std::string versioned = prog_id + ".1";
  const std::string clsid_key = "CLSID\\" + clsid;
  LONG error = DeleteKeyTree(HKEY_CLASSES_ROOT, clsid_key);
  struct Value {
    std::string key;
    const char* name;
    std::string value;
  };
  const Value values[] = {
      {versioned, nullptr, info.description},
      {versioned + "\\CLSID", nullptr, clsid},
      {prog_id, nullptr, info.description},
      {prog_id + "\\CLSID", nullptr, clsid},
      {prog_id + "\\CurVer", nullptr, versioned},
      {clsid_key, nullptr, info.description},
      {clsid_key + "\\ProgID", nullptr, versioned},
      {clsid_key + "\\VersionIndependentProgID", nullptr, prog_id},
      {clsid_key + "\\InprocServer32", nullptr, module_path},
      {clsid_key + "\\InprocServer32", "ThreadingModel", info.threading_model},
      {clsid_key + "\\TypeLib", nullptr, GuidText(LIBID_Torvex)},
  };
  for (const Value& value : values) {
    if (error != ERROR_SUCCESS) return error;
    error = SetStringValue(HKEY_CLASSES_ROOT, value.key, value.name, value.value);
  }
  if (error == ERROR_SUCCESS && info.plugin_entry)
    error = SetDwordValue(HKEY_LOCAL_MACHINE, kWmdmPluginKey, "PnPAware", 1);
  return error;
}

LONG UnregisterComClass(const TorvexClassInfo& info) {
  const std::string prog_id = info.prog_id;
  LONG error = DeleteKeyTree(HKEY_CLASSES_ROOT, prog_id + ".1");
  if (error == ERROR_SUCCESS) error = DeleteKeyTree(HKEY_CLASSES_ROOT, prog_id);
  if (error == ERROR_SUCCESS)
    error = DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(*info.clsid));
  return error;
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
}

// LoadTypeLibEx loads without registering. It is bound by name: no document places it in the
// OLE Automation library of Windows 98, where LoadTypeLib stands in; whatever that registers
// on the way is registered or removed by the caller next anyway.
HRESULT LoadModuleTypeLib(const std::string& module_path, ITypeLib** library) {
  using LoadTypeLibExFunction = HRESULT(WINAPI*)(LPCOLESTR, REGKIND, ITypeLib**);
  const std::wstring path = AnsiToWideString(module_path);
  const HMODULE automation = GetModuleHandleA("oleaut32.dll");
  const auto load_unregistered = automation ? reinterpret_cast<LoadTypeLibExFunction>(
      reinterpret_cast<void*>(GetProcAddress(automation, "LoadTypeLibEx"))) : nullptr;
  if (load_unregistered) return load_unregistered(path.c_str(), REGKIND_NONE, library);
  return LoadTypeLib(path.c_str(), library);
}

HRESULT RegisterServerChecked(HMODULE module) {
  const std::string module_path = ModulePath(module);
  if (module_path.empty()) return HResultFromWin32(GetLastError());

  HKEY plugin;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kWmdmPluginKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &plugin, nullptr) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  const std::string provider_prog_id = kTorvexClasses[0].prog_id;
  const LONG error =
      RegSetValueExA(plugin, "ProgID", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(provider_prog_id.c_str()),
                     static_cast<DWORD>(provider_prog_id.size() + 1));
  RegCloseKey(plugin);
  if (error != ERROR_SUCCESS) return SELFREG_E_CLASS;

  for (const TorvexClassInfo& info : kTorvexClasses) {
    const LONG class_error = RegisterComClass(info, module_path);
    if (class_error != ERROR_SUCCESS) return HResultFromWin32(class_error);
  }

  ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleTypeLib(module_path, &library);
  if (FAILED(hr)) return hr;
  std::wstring wide_path = AnsiToWideString(module_path);
  hr = RegisterTypeLib(library, &wide_path[0], nullptr);
  library->Release();
  return hr;
}

HRESULT UnregisterServerChecked(HMODULE module) {
  HRESULT result = S_OK;
  for (const TorvexClassInfo& info : kTorvexClasses) {
    const LONG error = UnregisterComClass(info);
    if (error != ERROR_SUCCESS && SUCCEEDED(result)) result = HResultFromWin32(error);
  }

  // The registration's version and system kind are those of the embedded library.
  ITypeLib* library = nullptr;
  HRESULT hr = LoadModuleTypeLib(ModulePath(module), &library);
  if (SUCCEEDED(hr)) {
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
      // Never registered, or removed before: nothing to undo.
      BSTR registered_path = nullptr;
      if (SUCCEEDED(QueryPathOfRegTypeLib(attributes->guid, attributes->wMajorVerNum,
                                          attributes->wMinorVerNum, attributes->lcid,
                                          &registered_path))) {
        SysFreeString(registered_path);
        hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                               attributes->wMinorVerNum, attributes->lcid, attributes->syskind);
      }
      library->ReleaseTLibAttr(attributes);
    }
    library->Release();
  }
  return FAILED(result) ? result : hr;
}

}  // namespace

HRESULT RegisterTorvexServer(HMODULE module) {
  try {
    return RegisterServerChecked(module);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterTorvexServer(HMODULE module) {
  try {
    return UnregisterServerChecked(module);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
