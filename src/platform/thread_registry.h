// The process-wide registry of platform threads: creation with a priority byte and a name,
// resume, priority, name and state queries. Results: 1 success, 2 unknown thread, 0 failure.
#pragma once

#include <cstdint>

typedef void (*ThreadEntry)(void* argument);

// Platform priority: one byte, lower is more urgent.
int PriorityToWin32(uint8_t priority);
uint8_t PriorityFromWin32(int win32_priority);

bool RegistryStart();
// Waits up to 1000 ms for the registered threads to end, then terminates those still
// registered. At process exit, when the threads are already gone, pass false.
void RegistryDestroy(bool wait_for_threads);

constexpr uint32_t kCreateSuspended = 1;
// Thread id, or 0. Bit 0 of flags keeps the thread suspended until RegistryResume.
uint32_t RegistryCreateThread(ThreadEntry entry, void* argument, uint32_t stack_size,
                              uint8_t priority, uint32_t flags, const char* name);
int RegistryResume(uint32_t id);
int RegistrySetPriority(uint32_t id, uint8_t priority);
uint8_t RegistryGetPriority(uint32_t id);
uint32_t RegistryCurrentThread();
constexpr int kThreadSuspended = 1;
constexpr int kThreadOther = 4;
int RegistryState(uint32_t id);
// The name given at creation, or "[unknown]".
const char* RegistryName(uint32_t id);
uint32_t RegistryCount();
