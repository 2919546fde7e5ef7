#include "platform/module_table.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/win32_sync.h"
#include "support/assertions.h"

using namespace win32sync;

namespace {

struct PlatformModule {
  std::string name;         // the key: the first 47 characters
  std::string full_name;    // what the library and its entry points are named after
  std::string pointer_key;
  HMODULE library = nullptr;
  PlatformInterface* interface_pointer = nullptr;
  uint32_t use_count = 0;
  uint8_t stay_loaded = 0;
  int32_t kind = 0;
};

Handle table_mutex = nullptr;
// Every entry stands here under its name and, with an interface, under the pointer's text.
std::map<std::string, PlatformModule*>* table = nullptr;
bool proxy_question_under_way = false;

std::string PointerKey(const void* pointer) {
  char text[2 * sizeof(void*) + 1];
  snprintf(text, sizeof text, "%llx",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
  return text;
}

PlatformModule* Find(const std::string& key) {
  auto found = table->find(key);
  return found == table->end() ? nullptr : found->second;
}

template <typename Function>
Function EntryPoint(HMODULE library, const char* format, const std::string& name) {
  std::string symbol(name.size() + 32, '\0');
  snprintf(&symbol[0], symbol.size(), format, name.c_str());
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(library, symbol.c_str())));
}

void CallArmageddon(const PlatformModule& module) {
  if (!module.library) return;
  if (auto exit = EntryPoint<ModuleArmageddon>(module.library, "KVX_%s_Module_Armageddon",
                                               module.full_name))
    exit();
}

void Forget(PlatformModule* module) {
  table->erase(module->name);
  if (!module->pointer_key.empty()) table->erase(module->pointer_key);
  delete module;
}

int32_t AskProxy(IRPlatform* platform, const std::string& name) {
  if (proxy_question_under_way || name.size() >= 45) return 0;
  proxy_question_under_way = true;
  PlatformInterface* proxy = platform->GetInterface((name + "_Proxy").c_str());
  proxy_question_under_way = false;
  if (!proxy) return 0;
  int32_t kind = static_cast<ModuleProxy*>(proxy)->LoadKind();
  platform->ReleaseInterface(proxy);
  return kind;
}

}  // namespace

bool ModuleTableCreate() {
  if (!table_mutex) table_mutex = MutexCreate();
  if (!table_mutex) return false;
  if (!table) table = new std::map<std::string, PlatformModule*>;
  return true;
}

void ModuleTableDestroy() {
  if (table) ModuleTableUnloadAll();
  delete table;
  table = nullptr;
  if (table_mutex) HandleClose(table_mutex);
  table_mutex = nullptr;
}

PlatformInterface* ModuleTableGet(IRPlatform* platform, const char* name) {
  if (!table) return nullptr;
  std::string full_name = name;
  std::string key = full_name.substr(0, kModuleKeyLength);
  // Held while entry points run; the same thread may enter again (proxies, nested lookups).
  MutexHold hold(table_mutex);
  if (PlatformModule* module = Find(key)) {
    ++module->use_count;
    return module->interface_pointer;
  }
  int32_t kind = AskProxy(platform, full_name);
  if (kind == ModuleProxy::kAbsent) {
    PlatformModule* absent = new PlatformModule;
    absent->name = key;
    absent->use_count = 1;
    absent->stay_loaded = 1;
    absent->kind = kind;
    (*table)[key] = absent;
    return nullptr;
  }
  if (kind != ModuleProxy::kLoad) return nullptr;

  HMODULE library = LoadLibraryA((full_name + ".dll").c_str());
  if (!library) return nullptr;
  auto genesis = EntryPoint<ModuleGenesis>(library, "KVX_%s_Module_Genesis", full_name);
  uint8_t stay_loaded = 0;
  PlatformInterface* started = genesis ? genesis(platform, &stay_loaded) : nullptr;
  if (!started) {
    FreeLibrary(library);
    return nullptr;
  }
  PlatformModule* module = new PlatformModule;
  module->name = key;
  module->full_name = full_name;
  module->pointer_key = PointerKey(started);
  module->library = library;
  module->interface_pointer = started;
  module->use_count = 1;
  module->stay_loaded = stay_loaded;
  (*table)[key] = module;
  (*table)[module->pointer_key] = module;
  return started;
}

void ModuleTableRelease(PlatformInterface* interface_pointer) {
  if (!table) return;
  MutexHold hold(table_mutex);
  PlatformModule* module = Find(PointerKey(interface_pointer));
  TORVEX_ASSERT(module != nullptr && Find(module->name) == module);
  TORVEX_ASSERT(module->use_count > 0);
  --module->use_count;
  if (module->stay_loaded) ++module->use_count;
  if (module->use_count != 0) return;
  // The library stays in the process: code of it may still be on a caller's stack.
  CallArmageddon(*module);
  Forget(module);
}

void ModuleTableUnloadAll() {
  if (!table) return;
  MutexHold hold(table_mutex);
  while (!table->empty()) {
    PlatformModule* module = table->begin()->second;
    CallArmageddon(*module);
    Forget(module);
  }
}
