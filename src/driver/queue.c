/* The queue that holds requests while the device stops, goes to sleep or is removed. */
#include "driver.h"

void MirrinSetQueueState(PMIRRIN_EXTENSION ext, MIRRIN_QUEUE_STATE state) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  ext->QueueState = state;
  KeReleaseSpinLock(&ext->StateLock, irql);
}

BOOLEAN MirrinSetQueueStateIfStarted(PMIRRIN_EXTENSION ext, MIRRIN_QUEUE_STATE state) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  const BOOLEAN started = ext->PnpState == MIRRIN_STARTED;
  if (started) ext->QueueState = state;
  KeReleaseSpinLock(&ext->StateLock, irql);
  return started;
}

static void NTAPI CancelHeldRequest(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&ext->StateLock, irql);
  MirrinCompleteRequest(irp, STATUS_CANCELLED, 0);
}

/* Takes the request into the queue under the state lock, which the caller holds. */
static NTSTATUS HoldLocked(PMIRRIN_EXTENSION ext, PIRP irp) {
  IoSetCancelRoutine(irp, CancelHeldRequest);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL)) return STATUS_CANCELLED;
  /* Either no cancel yet, or the cancel routine runs and takes it off the list. */
  IoMarkIrpPending(irp);
  InsertTailList(&ext->Queue, &irp->Tail.Overlay.ListEntry);
  return STATUS_PENDING;
}

BOOLEAN MirrinAdmitRequest(PMIRRIN_EXTENSION ext, PIRP irp, NTSTATUS* result) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  const MIRRIN_QUEUE_STATE queue = ext->QueueState;
  NTSTATUS status = STATUS_SUCCESS;
  if (queue == MIRRIN_QUEUE_HOLD) status = HoldLocked(ext, irp);
  KeReleaseSpinLock(&ext->StateLock, irql);
  if (queue == MIRRIN_QUEUE_PASS) return TRUE;
  if (queue == MIRRIN_QUEUE_FAIL) status = STATUS_DELETE_PENDING;
  if (status != STATUS_PENDING) MirrinCompleteRequest(irp, status, 0);
  *result = status;
  return FALSE;
}

BOOLEAN MirrinQueueFailing(PMIRRIN_EXTENSION ext) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  const BOOLEAN failing = ext->QueueState == MIRRIN_QUEUE_FAIL;
  KeReleaseSpinLock(&ext->StateLock, irql);
  return failing;
}

/* Takes the first held request whose cancel routine has not started. */
static PIRP TakeHeld(PMIRRIN_EXTENSION ext, PFILE_OBJECT only_file) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  PIRP taken = NULL;
  for (PLIST_ENTRY entry = ext->Queue.Flink; entry != &ext->Queue;) {
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    entry = entry->Flink;
    if (only_file && IoGetCurrentIrpStackLocation(irp)->FileObject != only_file) continue;
    /* A request whose cancel routine already runs belongs to that routine. */
    if (!IoSetCancelRoutine(irp, NULL)) continue;
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    taken = irp;
    break;
  }
  KeReleaseSpinLock(&ext->StateLock, irql);
  return taken;
}

void MirrinProcessQueue(PMIRRIN_EXTENSION ext) {
  PIRP irp;
  while ((irp = TakeHeld(ext, NULL)) != NULL) {
    KIRQL irql;
    KeAcquireSpinLock(&ext->StateLock, &irql);
    const MIRRIN_QUEUE_STATE queue = ext->QueueState;
    if (queue == MIRRIN_QUEUE_HOLD) {
      /* Held again while we worked: it waits for the next round. */
      const NTSTATUS status = HoldLocked(ext, irp);
      KeReleaseSpinLock(&ext->StateLock, irql);
      if (status == STATUS_CANCELLED) MirrinCompleteRequest(irp, status, 0);
      return;
    }
    KeReleaseSpinLock(&ext->StateLock, irql);
    if (irp->Cancel) {
      MirrinCompleteRequest(irp, STATUS_CANCELLED, 0);
    } else if (queue == MIRRIN_QUEUE_FAIL) {
      MirrinCompleteRequest(irp, STATUS_DELETE_PENDING, 0);
    } else {
      /* Served as if it came now: through the driver's own dispatch routine. */
      PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
      ext->Self->DriverObject->MajorFunction[stack->MajorFunction](ext->Self, irp);
    }
  }
}

static void ProcessQueueWork(PMIRRIN_EXTENSION ext, void* context) {
  MirrinProcessQueue(ext);
  MirrinIoDecrement(ext);
}

void MirrinProcessQueueLater(PMIRRIN_EXTENSION ext) {
  MirrinIoIncrement(ext);
  /* Without memory the requests wait for the next state change. */
  if (!MirrinQueueWork(ext, ProcessQueueWork, NULL)) MirrinIoDecrement(ext);
}

NTSTATUS NTAPI MirrinDispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  MirrinIoIncrement(ext);
  PIRP held;
  while ((held = TakeHeld(ext, file)) != NULL) MirrinCompleteRequest(held, STATUS_CANCELLED, 0);
  MirrinCompleteRequest(irp, STATUS_SUCCESS, 0);
  MirrinIoDecrement(ext);
  return STATUS_SUCCESS;
}
