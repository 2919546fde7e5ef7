/* The kernel's own declarations for the driver build: the WDM and USB headers of the ddk.
 * The test program puts a header of the same name from its kernel substitute in this one's
 * place, so the driver's sources name only what both provide. */
#pragma once

#include <ddk/wdm.h>
#include <usb.h>
#include <usbioctl.h>
#include <ddk/usbdlib.h>

/* Kernel mode on 64-bit Windows asks which kind of process sent a request. */
#if defined(_WIN64)
#define MIRRIN_CALLER_IS_32BIT(irp) IoIs32bitProcess(irp)
#else
#define MIRRIN_CALLER_IS_32BIT(irp) TRUE
#endif

/* The driver loads on Windows 98 as well as on the NT family, so it imports no routine that
 * only the NT kernel exports: interlocked operations are the processor's own instructions, and
 * a spin lock starts as the zero it is. */
#include "mirrin_interlocked.h"
#undef KeInitializeSpinLock
#define KeInitializeSpinLock(lock) ((void)(*(lock) = 0))
