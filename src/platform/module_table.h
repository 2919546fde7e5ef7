// The platform's table of loaded modules. A module is a library "<name>.dll" exporting
// "KVX_<name>_Module_Genesis" (and optionally "KVX_<name>_Module_Armageddon"); a proxy module
// "<name>_Proxy" can steer its loading. Entries are found by name and by interface pointer.
#pragma once

#include "platform/platform_interface.h"

class IRPlatform;

// Start entry point: (platform, stay-loaded flag that starts at 0) -> interface or null.
typedef PlatformInterface* (*ModuleGenesis)(IRPlatform* platform, uint8_t* stay_loaded);
typedef void (*ModuleArmageddon)();

constexpr size_t kModuleKeyLength = 47;

bool ModuleTableCreate();
void ModuleTableDestroy();
// Counted: each interface is given back with ModuleTableRelease.
PlatformInterface* ModuleTableGet(IRPlatform* platform, const char* name);
void ModuleTableRelease(PlatformInterface* interface_pointer);
// Calls every loaded module's exit entry point and empties the table.
void ModuleTableUnloadAll();
