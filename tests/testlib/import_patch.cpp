#include "testlib/import_patch.h"

#include <cstring>

namespace {

template <typename T>
T* At(HMODULE module, DWORD offset) {
  return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

void Store(void** slot, void* value) {
  DWORD old_protection = 0;
  VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old_protection);
  *slot = value;
  VirtualProtect(slot, sizeof(*slot), old_protection, &old_protection);
}

// The import-address slot of `function_name` from `dll_name`, or null.
void** FindSlot(HMODULE module, const char* dll_name, const char* function_name) {
  const auto* dos = At<IMAGE_DOS_HEADER>(module, 0);
  const auto* nt = At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (lstrcmpiA(At<char>(module, entry->Name), dll_name) != 0) continue;
    auto* names = At<IMAGE_THUNK_DATA>(module, entry->OriginalFirstThunk);
    auto* slots = At<IMAGE_THUNK_DATA>(module, entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name =
          At<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function_name) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

}  // namespace

ImportPatch::ImportPatch(HMODULE module, const char* dll_name, const char* function_name,
                         const void* replacement)
    : slot_(FindSlot(module, dll_name, function_name)) {
  if (!slot_) return;
  original_ = *slot_;
  Store(slot_, const_cast<void*>(replacement));
}

ImportPatch::~ImportPatch() {
  if (slot_) Store(slot_, original_);
}
