// The four exports of Torvex.dll. Built into the DLL only, not into the wmdm library.
#include <windows.h>

#include "fs/ir_file_system.h"
#include "platform/platform.h"
#include "wmdm/class_factory.h"
#include "wmdm/registration.h"

namespace {
HMODULE g_module = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
    // The platform, made on first need, then has its file system.
    InstallPlatformFileSystem();
  } else if (reason == DLL_PROCESS_DETACH) {
    // At process exit the other threads are gone already: the shutdown must not wait for them.
    if (reserved) PlatformNoteProcessExit();
    PlatformRelease();
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  return GetTorvexClassObject(clsid, riid, object);
}

STDAPI DllCanUnloadNow() { return CanUnloadTorvex(); }

STDAPI DllRegisterServer() { return RegisterTorvexServer(g_module); }

STDAPI DllUnregisterServer() { return UnregisterTorvexServer(g_module); }
