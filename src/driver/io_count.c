/* Counting of outstanding I/O: the stop and remove protocols wait on it. */
#include "driver.h"

void MirrinIoIncrement(PMIRRIN_EXTENSION ext) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->IoCountLock, &irql);
  if (++ext->OutstandingIo == 2) KeClearEvent(&ext->StopEvent);
  KeReleaseSpinLock(&ext->IoCountLock, irql);
}

void MirrinIoDecrement(PMIRRIN_EXTENSION ext) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->IoCountLock, &irql);
  const LONG count = --ext->OutstandingIo;
  if (count == 1) KeSetEvent(&ext->StopEvent, IO_NO_INCREMENT, FALSE);
  KeReleaseSpinLock(&ext->IoCountLock, irql);
  /* Nothing counts again after 0, and removal may delete the device once the event is set:
   * it is set after the lock is released, as the last use of the extension. */
  if (count == 0) KeSetEvent(&ext->RemoveEvent, IO_NO_INCREMENT, FALSE);
}

void MirrinWaitForIdle(PMIRRIN_EXTENSION ext) {
  KeWaitForSingleObject(&ext->StopEvent, Executive, KernelMode, FALSE, NULL);
}

NTSTATUS MirrinCompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}
