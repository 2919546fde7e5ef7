/* System and device power, and waking the system through the device. */
#include "driver.h"

static NTSTATUS PassPowerDown(PMIRRIN_EXTENSION ext, PIRP irp) {
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(ext->LowerDevice, irp);
}

static NTSTATUS FailPower(PIRP irp, NTSTATUS status) {
  PoStartNextPowerIrp(irp);
  return MirrinCompleteRequest(irp, status, 0);
}

/* A state deeper than the device could wake the system from. */
static NTSTATUS RefuseTooDeep(PMIRRIN_EXTENSION ext, PIRP irp) {
  MirrinIoDecrement(ext);
  return FailPower(irp, STATUS_INVALID_DEVICE_STATE);
}

/* ---- device power ---- */

static NTSTATUS NTAPI DevicePowerDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  PMIRRIN_EXTENSION ext = context;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  if (stack->MinorFunction == IRP_MN_SET_POWER) {
    if (NT_SUCCESS(irp->IoStatus.Status)) {
      ext->DevicePower = stack->Parameters.Power.State.DeviceState;
      PoSetPowerState(ext->Self, DevicePowerState, stack->Parameters.Power.State);
    }
    /* Awake again, or still awake after a sleep the bus refused: requests are served. */
    if (ext->DevicePower == PowerDeviceD0 &&
        MirrinSetQueueStateIfStarted(ext, MIRRIN_QUEUE_PASS)) {
      MirrinProcessQueueLater(ext);
    }
  }
  PoStartNextPowerIrp(irp);
  MirrinIoDecrement(ext);
  return STATUS_CONTINUE_COMPLETION;
}

static void SendDevicePowerDown(PMIRRIN_EXTENSION ext, PIRP irp) {
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, DevicePowerDone, ext, TRUE, TRUE, TRUE);
  PoCallDriver(ext->LowerDevice, irp);
}

/* Lets the I/O in flight end before a deeper state is set or queried. */
static void WaitIdleThenSend(PMIRRIN_EXTENSION ext, void* context) {
  /* The request's own count stays dropped while we wait, else we would wait for ourselves. */
  MirrinWaitForIdle(ext);
  MirrinIoIncrement(ext);
  SendDevicePowerDown(ext, context);
}

static NTSTATUS SendWhenIdle(PMIRRIN_EXTENSION ext, PIRP irp) {
  IoMarkIrpPending(irp);
  if (!MirrinQueueWork(ext, WaitIdleThenSend, irp)) {
    MirrinIoDecrement(ext);
    FailPower(irp, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_PENDING;
  }
  MirrinIoDecrement(ext);
  return STATUS_PENDING;
}

static NTSTATUS DevicePower(PMIRRIN_EXTENSION ext, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
  if (stack->MinorFunction == IRP_MN_QUERY_POWER) {
    /* A bus that names no device wake state leaves nothing to refuse. */
    const DEVICE_POWER_STATE wake = ext->Capabilities.DeviceWake;
    if (ext->RemoteWakeup && wake != PowerDeviceUnspecified && state > wake) {
      return RefuseTooDeep(ext, irp);
    }
    if (state >= ext->DevicePower) return SendWhenIdle(ext, irp);
  } else {
    if (state > ext->DevicePower && ext->DevicePower == PowerDeviceD0) {
      MirrinSetQueueStateIfStarted(ext, MIRRIN_QUEUE_HOLD);
      return SendWhenIdle(ext, irp);
    }
    IoMarkIrpPending(irp);
    SendDevicePowerDown(ext, irp);
    return STATUS_PENDING;
  }
  const NTSTATUS status = PassPowerDown(ext, irp);
  MirrinIoDecrement(ext);
  return status;
}

/* ---- system power ---- */

/* The system request keeps the status the bus gave it: a device that could not follow it
 * must not fail the system's change of state. */
static void NTAPI DeviceRequestDone(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                    PVOID context, PIO_STATUS_BLOCK io_status) {
  PIRP system_irp = context;
  PoStartNextPowerIrp(system_irp);
  IoCompleteRequest(system_irp, IO_NO_INCREMENT);
}

static NTSTATUS NTAPI SystemPowerDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  PMIRRIN_EXTENSION ext = context;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const NTSTATUS status = irp->IoStatus.Status;
  if (NT_SUCCESS(status) && stack->MinorFunction == IRP_MN_SET_POWER) {
    const SYSTEM_POWER_STATE system = stack->Parameters.Power.State.SystemState;
    ext->SystemPower = system;
    POWER_STATE device_state;
    device_state.DeviceState = system < PowerSystemMaximum
                                   ? ext->Capabilities.DeviceState[system]
                                   : PowerDeviceD3;
    if (device_state.DeviceState == PowerDeviceUnspecified) {
      device_state.DeviceState = system == PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
    }
    /* The device request waits for idle before a deeper state: this request must not
     * count while it waits for that one. */
    MirrinIoDecrement(ext);
    if (NT_SUCCESS(PoRequestPowerIrp(ext->Pdo, IRP_MN_SET_POWER, device_state,
                                     DeviceRequestDone, irp, NULL))) {
      return STATUS_MORE_PROCESSING_REQUIRED;
    }
    MirrinIoIncrement(ext);
  }
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  PoStartNextPowerIrp(irp);
  MirrinIoDecrement(ext);
  return STATUS_CONTINUE_COMPLETION;
}

/* The system state the device can wake the system from; PowerSystemUnspecified when it cannot
 * wake it at all (no remote wakeup, or a bus that names no such state). */
static SYSTEM_POWER_STATE SystemWakeState(PMIRRIN_EXTENSION ext) {
  const SYSTEM_POWER_STATE wake = ext->Capabilities.SystemWake;
  return ext->RemoteWakeup && wake > PowerSystemWorking && wake < PowerSystemMaximum
             ? wake
             : PowerSystemUnspecified;
}

/* A system sleep deeper than the device can wake the system from is refused while it is only
 * asked about: the power manager then chooses another state or stays awake. Once the system
 * sets a state, no driver may refuse it. */
static NTSTATUS SystemPower(PMIRRIN_EXTENSION ext, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const SYSTEM_POWER_STATE state = stack->Parameters.Power.State.SystemState;
  const SYSTEM_POWER_STATE wake = SystemWakeState(ext);
  if (wake != PowerSystemUnspecified && state > wake) {
    if (stack->MinorFunction == IRP_MN_QUERY_POWER) return RefuseTooDeep(ext, irp);
  } else if (wake != PowerSystemUnspecified && stack->MinorFunction == IRP_MN_SET_POWER &&
             state > ext->SystemPower) {
    MirrinArmWaitWake(ext);
  }
  IoMarkIrpPending(irp);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, SystemPowerDone, ext, TRUE, TRUE, TRUE);
  PoCallDriver(ext->LowerDevice, irp);
  return STATUS_PENDING;
}

/* ---- wait-wake ---- */

static NTSTATUS NTAPI WaitWakeDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  PMIRRIN_EXTENSION ext = context;
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  /* Whoever clears the pointer first owns the request's end. */
  if (InterlockedExchangePointer((PVOID volatile*)&ext->WaitWakeIrp, NULL)) {
    PoStartNextPowerIrp(irp);
    return STATUS_CONTINUE_COMPLETION;
  }
  if (InterlockedExchange(&ext->WaitWakeCancelled, 1)) {
    PoStartNextPowerIrp(irp);
    return STATUS_CONTINUE_COMPLETION;
  }
  /* The canceller still uses the request; it completes it. */
  return STATUS_MORE_PROCESSING_REQUIRED;
}

/* True once surprise removal or removal has begun: no new wait-wake may start then. Called
 * under the state lock. */
static BOOLEAN GoingAwayLocked(PMIRRIN_EXTENSION ext) {
  return ext->PnpState == MIRRIN_SURPRISE_REMOVED || ext->PnpState == MIRRIN_REMOVED;
}

/* A wait-wake request stays with the bus for as long as the device sleeps: it is not
 * outstanding I/O, or no stop and no deeper power state could wait for idle. Removal
 * cancels it before the device goes; one that arrives after removal began fails, since
 * nothing would cancel it. */
static NTSTATUS WaitWake(PMIRRIN_EXTENSION ext, PIRP irp) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  const BOOLEAN going = GoingAwayLocked(ext);
  if (!going) {
    InterlockedExchange(&ext->WaitWakeCancelled, 0);
    InterlockedExchangePointer((PVOID volatile*)&ext->WaitWakeIrp, irp);
  }
  KeReleaseSpinLock(&ext->StateLock, irql);
  MirrinIoDecrement(ext);
  if (going) return FailPower(irp, STATUS_DELETE_PENDING);
  IoMarkIrpPending(irp);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, WaitWakeDone, ext, TRUE, TRUE, TRUE);
  PoStartNextPowerIrp(irp);
  PoCallDriver(ext->LowerDevice, irp);
  return STATUS_PENDING;
}

/* One of our wait-wake requests has ended. Setting the event for a waiting removal is the
 * last use of the extension: removal may delete the device as soon as it is set. */
static void WaitWakeRequestEnded(PMIRRIN_EXTENSION ext) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  const BOOLEAN removal_waits = --ext->WaitWakeRequests == 0 && ext->WaitWakeAwaited;
  KeReleaseSpinLock(&ext->StateLock, irql);
  if (removal_waits) KeSetEvent(&ext->WaitWakeEnded, IO_NO_INCREMENT, FALSE);
}

static void NTAPI WokenUp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state, PVOID context,
                          PIO_STATUS_BLOCK io_status) {
  PMIRRIN_EXTENSION ext = context;
  InterlockedExchange(&ext->WaitWakeArmed, 0);
  if (NT_SUCCESS(io_status->Status)) {
    if (ext->DevicePower != PowerDeviceD0) {
      POWER_STATE d0;
      d0.DeviceState = PowerDeviceD0;
      PoRequestPowerIrp(ext->Pdo, IRP_MN_SET_POWER, d0, NULL, NULL, NULL);
    }
    MirrinArmWaitWake(ext);
  }
  WaitWakeRequestEnded(ext);
}

NTSTATUS MirrinArmWaitWake(PMIRRIN_EXTENSION ext) {
  POWER_STATE wake;
  wake.SystemState = SystemWakeState(ext);
  if (wake.SystemState == PowerSystemUnspecified) return STATUS_NOT_SUPPORTED;
  if (InterlockedExchange(&ext->WaitWakeArmed, 1)) return STATUS_DEVICE_BUSY;
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  const BOOLEAN going = GoingAwayLocked(ext);
  if (!going) ++ext->WaitWakeRequests;
  KeReleaseSpinLock(&ext->StateLock, irql);
  if (going) {
    InterlockedExchange(&ext->WaitWakeArmed, 0);
    return STATUS_DELETE_PENDING;
  }
  const NTSTATUS status =
      PoRequestPowerIrp(ext->Pdo, IRP_MN_WAIT_WAKE, wake, WokenUp, ext, NULL);
  if (!NT_SUCCESS(status)) {
    InterlockedExchange(&ext->WaitWakeArmed, 0);
    WaitWakeRequestEnded(ext);
  }
  return status;
}

void MirrinWaitForWaitWakeEnd(PMIRRIN_EXTENSION ext) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  const BOOLEAN pending = ext->WaitWakeRequests != 0;
  ext->WaitWakeAwaited = pending;
  KeReleaseSpinLock(&ext->StateLock, irql);
  if (pending) KeWaitForSingleObject(&ext->WaitWakeEnded, Executive, KernelMode, FALSE, NULL);
}

void MirrinCancelWaitWake(PMIRRIN_EXTENSION ext) {
  PIRP irp = InterlockedExchangePointer((PVOID volatile*)&ext->WaitWakeIrp, NULL);
  if (!irp) return;
  IoCancelIrp(irp);
  if (InterlockedExchange(&ext->WaitWakeCancelled, 1)) {
    /* The completion routine ran first and left the request to us. */
    PoStartNextPowerIrp(irp);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
}

NTSTATUS NTAPI MirrinDispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  if (MirrinPnpState(ext) == MIRRIN_REMOVED) return FailPower(irp, STATUS_DELETE_PENDING);
  MirrinIoIncrement(ext);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MinorFunction) {
    case IRP_MN_SET_POWER:
    case IRP_MN_QUERY_POWER:
      return stack->Parameters.Power.Type == SystemPowerState ? SystemPower(ext, irp)
                                                              : DevicePower(ext, irp);
    case IRP_MN_WAIT_WAKE:
      return WaitWake(ext, irp);
    default: {
      const NTSTATUS status = PassPowerDown(ext, irp);
      MirrinIoDecrement(ext);
      return status;
    }
  }
}
