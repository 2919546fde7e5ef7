// The four exports of Torvex.dll. Built into the DLL only, not into the wmdm library.
#include <windows.h>

#include "wmdm/class_factory.h"
#include "wmdm/registration.h"

namespace {
HMODULE g_module = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  return GetTorvexClassObject(clsid, riid, object);
}

STDAPI DllCanUnloadNow() { return CanUnloadTorvex(); }

STDAPI DllRegisterServer() { return RegisterTorvexServer(g_module); }

STDAPI DllUnregisterServer() { return UnregisterTorvexServer(g_module); }
