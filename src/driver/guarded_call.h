/* guarded_call_*.S: runs routine(context); an exception it raises ends it, and its code is
 * the result. The includer defines NTSTATUS (the kernel's headers, or winternl.h). */
#pragma once

typedef NTSTATUS (*MIRRIN_GUARDED_ROUTINE)(void* context);
NTSTATUS MirrinGuardedCall(MIRRIN_GUARDED_ROUTINE routine, void* context);
