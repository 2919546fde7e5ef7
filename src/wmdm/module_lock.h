// The count of live COM objects and class-factory locks of the DLL: DllCanUnloadNow lets COM
// unload it only at zero.
#pragma once

#include <windows.h>

void ModuleAddRef();
void ModuleRelease();
LONG ModuleRefCount();

// A member of every COM object class: keeps the DLL loaded while the object lives.
class ModuleReference {
 public:
  ModuleReference() { ModuleAddRef(); }
  ModuleReference(const ModuleReference&) { ModuleAddRef(); }
  ModuleReference& operator=(const ModuleReference&) = default;
  ~ModuleReference() { ModuleRelease(); }
};
