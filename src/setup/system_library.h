// Loads a DLL of Windows from the System folder only, never from the program's own folder or
// the search path, and finds its entry points by name.
#pragma once

#include <windows.h>

#include <string>

HMODULE LoadSystemLibrary(const char* name);

template <typename Function>
bool BindEntry(HMODULE module, const char* name, Function* entry) {
  *entry = module ? reinterpret_cast<Function>(
                        reinterpret_cast<void*>(GetProcAddress(module, name)))
                  : nullptr;
  return *entry != nullptr;
}
