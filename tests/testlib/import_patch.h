// Points one import of a module at a function of the test's own while it lives, as an older
// Windows would answer that call (a stub that fails, say). A module that does not import the
// function is left alone: nothing it runs can reach the name.
#pragma once

#include <windows.h>

class ImportPatch {
 public:
  ImportPatch(HMODULE module, const char* dll_name, const char* function_name,
              const void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  // Whether the module imports the function, and so was patched.
  bool applied() const { return slot_ != nullptr; }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};
