// The places of the kernel substitute that call the system. Raising a real exception, as the
// kernel does when probing a bad user buffer, lets the driver's handler meet the system's own
// exception dispatch and unwinding.
#include <windows.h>

#include <cstddef>
#include <cstdint>

// As the kernel raises a failed probe: through ExRaiseStatus, which raises a noncontinuable
// exception, so a handler can only take it by unwinding to its frame.
extern "C" void KsubRaiseAccessViolation() {
  RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

// Memory a 32-bit process could name: below 4 GiB. Null when none can be had.
extern "C" void* KsubAllocateLow(size_t size) {
  for (uintptr_t at = 0x20000000; at < 0xF0000000; at += 0x01000000) {
    void* memory = VirtualAlloc(reinterpret_cast<void*>(at), size, MEM_RESERVE | MEM_COMMIT,
                                PAGE_READWRITE);
    if (memory) return memory;
  }
  return nullptr;
}

extern "C" void KsubFreeLow(void* memory) { VirtualFree(memory, 0, MEM_RELEASE); }
