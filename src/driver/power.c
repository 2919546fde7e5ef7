/* System and device power, and waking the system through the device. */
#include "driver.h"

typedef struct {
  PMIRRIN_EXTENSION Ext;
  PIRP Irp;
  PIO_WORKITEM Item;
} POWER_WORK;

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
  if (NT_SUCCESS(irp->IoStatus.Status) && stack->MinorFunction == IRP_MN_SET_POWER) {
    const DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
    ext->DevicePower = state;
    PoSetPowerState(ext->Self, DevicePowerState, stack->Parameters.Power.State);
    if (state == PowerDeviceD0 && MirrinPnpState(ext) == MIRRIN_STARTED) {
      MirrinSetQueueState(ext, MIRRIN_QUEUE_PASS);
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
static void NTAPI WaitIdleThenSend(PDEVICE_OBJECT device, PVOID context) {
  POWER_WORK* work = context;
  PMIRRIN_EXTENSION ext = work->Ext;
  PIRP irp = work->Irp;
  IoFreeWorkItem(work->Item);
  MirrinFree(work);
  /* The request's own count stays dropped while we wait, else we would wait for ourselves. */
  MirrinWaitForIdle(ext);
  MirrinIoIncrement(ext);
  SendDevicePowerDown(ext, irp);
}

static NTSTATUS SendWhenIdle(PMIRRIN_EXTENSION ext, PIRP irp) {
  POWER_WORK* work = MirrinAllocate(sizeof(POWER_WORK));
  PIO_WORKITEM item = work ? IoAllocateWorkItem(ext->Self) : NULL;
  if (!item) {
    if (work) MirrinFree(work);
    MirrinIoDecrement(ext);
    return FailPower(irp, STATUS_INSUFFICIENT_RESOURCES);
  }
  work->Ext = ext;
  work->Irp = irp;
  work->Item = item;
  IoMarkIrpPending(irp);
  MirrinIoDecrement(ext);
  IoQueueWorkItem(item, WaitIdleThenSend, DelayedWorkQueue, work);
  return STATUS_PENDING;
}

static NTSTATUS DevicePower(PMIRRIN_EXTENSION ext, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const DEVICE_POWER_STATE state = stack->Parameters.Power.State.DeviceState;
  if (stack->MinorFunction == IRP_MN_QUERY_POWER) {
    if (ext->RemoteWakeup && state > ext->Capabilities.DeviceWake) {
      return RefuseTooDeep(ext, irp);
    }
    if (state >= ext->DevicePower) return SendWhenIdle(ext, irp);
  } else {
    if (state > ext->DevicePower && ext->DevicePower == PowerDeviceD0) {
      if (MirrinPnpState(ext) == MIRRIN_STARTED) MirrinSetQueueState(ext, MIRRIN_QUEUE_HOLD);
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

static void NTAPI DeviceRequestDone(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                    PVOID context, PIO_STATUS_BLOCK io_status) {
  PIRP system_irp = context;
  system_irp->IoStatus.Status = io_status->Status;
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

static NTSTATUS SystemPower(PMIRRIN_EXTENSION ext, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const SYSTEM_POWER_STATE state = stack->Parameters.Power.State.SystemState;
  if (stack->MinorFunction == IRP_MN_SET_POWER) {
    if (ext->RemoteWakeup && state > ext->Capabilities.SystemWake) {
      return RefuseTooDeep(ext, irp);
    }
    if (ext->RemoteWakeup && state > ext->SystemPower) MirrinArmWaitWake(ext);
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

/* A wait-wake request stays with the bus for as long as the device sleeps: it is not
 * outstanding I/O, or no stop and no deeper power state could wait for idle. Removal
 * cancels it before the device goes. */
static NTSTATUS WaitWake(PMIRRIN_EXTENSION ext, PIRP irp) {
  MirrinIoDecrement(ext);
  InterlockedExchange(&ext->WaitWakeCancelled, 0);
  InterlockedExchangePointer((PVOID volatile*)&ext->WaitWakeIrp, irp);
  IoMarkIrpPending(irp);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, WaitWakeDone, ext, TRUE, TRUE, TRUE);
  PoStartNextPowerIrp(irp);
  PoCallDriver(ext->LowerDevice, irp);
  return STATUS_PENDING;
}

static void NTAPI WokenUp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state, PVOID context,
                          PIO_STATUS_BLOCK io_status) {
  PMIRRIN_EXTENSION ext = context;
  InterlockedExchange(&ext->WaitWakeArmed, 0);
  if (!NT_SUCCESS(io_status->Status)) return;
  if (ext->DevicePower != PowerDeviceD0) {
    POWER_STATE d0;
    d0.DeviceState = PowerDeviceD0;
    PoRequestPowerIrp(ext->Pdo, IRP_MN_SET_POWER, d0, NULL, NULL, NULL);
  }
  MirrinArmWaitWake(ext);
}

NTSTATUS MirrinArmWaitWake(PMIRRIN_EXTENSION ext) {
  if (InterlockedExchange(&ext->WaitWakeArmed, 1)) return STATUS_DEVICE_BUSY;
  POWER_STATE wake;
  wake.SystemState = ext->Capabilities.SystemWake;
  const NTSTATUS status =
      PoRequestPowerIrp(ext->Pdo, IRP_MN_WAIT_WAKE, wake, WokenUp, ext, NULL);
  if (!NT_SUCCESS(status)) InterlockedExchange(&ext->WaitWakeArmed, 0);
  return status;
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
