// Self-registration of Torvex.dll: the COM classes under HKEY_CLASSES_ROOT, WMDM's plug-in key
// under HKEY_LOCAL_MACHINE, and the type library embedded in the module.
#pragma once

#include <windows.h>

// DllRegisterServer. Writes the plug-in key with "ProgID" (failure: SELFREG_E_CLASS), then
// every class's ProgIDs and CLSID key (replacing any old one) with InprocServer32 = the path of
// module, then registers the type library.
HRESULT RegisterTorvexServer(HMODULE module);

// DllUnregisterServer. Removes the class keys and the type library registration; WMDM's
// plug-in key and its values stay. Keys that are already gone count as removed.
HRESULT UnregisterTorvexServer(HMODULE module);
