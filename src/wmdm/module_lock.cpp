#include "wmdm/module_lock.h"

#include <atomic>

namespace {
std::atomic<LONG> g_module_count{0};
}

void ModuleAddRef() { ++g_module_count; }
void ModuleRelease() { --g_module_count; }
LONG ModuleRefCount() { return g_module_count.load(); }
