// The one place of the kernel substitute that calls the system: it raises a real exception,
// as the kernel does when probing a bad user buffer, so the driver's handler meets the
// system's own exception dispatch and unwinding.
#include <windows.h>

extern "C" void KsubRaiseAccessViolation() {
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
}
