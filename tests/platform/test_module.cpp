// A loadable platform module for the module-loading tests, built once per name with:
//   MODULE_NAME  the module's name (its exports are KVX_<name>_Module_Genesis/Armageddon)
//   MODULE_KIND  0 an ordinary module, 1 one that stays loaded, 2 one whose Genesis fails,
//                3 a proxy that answers PROXY_ANSWER from its LoadKind
// The counters of each library are read by the tests through TestModuleCounters.
#include <cstdint>

#include "platform/platform_interface.h"

#define KVX_JOIN(a, b, c) a##b##c
#define KVX_NAME(prefix, name, suffix) KVX_JOIN(prefix, name, suffix)

namespace {

struct Counters {
  int32_t genesis;
  int32_t armageddon;
  int32_t calls;
  int32_t load_kind_questions;
};
Counters counters = {0, 0, 0, 0};

class Module : public ModuleProxy {
 public:
  Result Call(void* argument) override {
    ++counters.calls;
    return static_cast<Result>(0x1000 + reinterpret_cast<intptr_t>(argument));
  }
  void Destroy() override {}
  int32_t LoadKind() override {
    ++counters.load_kind_questions;
#ifdef PROXY_ANSWER
    return PROXY_ANSWER;
#else
    return 0;
#endif
  }
};
Module the_module;

}  // namespace

extern "C" __declspec(dllexport) Counters* TestModuleCounters() { return &counters; }

extern "C" __declspec(dllexport) PlatformInterface* KVX_NAME(KVX_, MODULE_NAME, _Module_Genesis)(
    void* platform, uint8_t* stay_loaded) {
  ++counters.genesis;
  if (MODULE_KIND == 1) *stay_loaded = 1;
  if (MODULE_KIND == 2) return nullptr;
  return &the_module;
}

extern "C" __declspec(dllexport) void KVX_NAME(KVX_, MODULE_NAME, _Module_Armageddon)() {
  ++counters.armageddon;
}
