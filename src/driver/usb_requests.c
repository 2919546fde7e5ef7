/* Requests of our own to the bus driver, each waited for at PASSIVE_LEVEL. */
#include "driver.h"

static NTSTATUS NTAPI SignalDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  /* The request is ours: the waiter reads its status and frees it. */
  return STATUS_MORE_PROCESSING_REQUIRED;
}

/* Sends an internal device control request with one argument down the stack. */
static NTSTATUS SubmitInternal(PMIRRIN_EXTENSION ext, ULONG code, PVOID argument,
                               ULONG timeout_ms) {
  PIRP irp = IoAllocateIrp(ext->LowerDevice->StackSize, FALSE);
  if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
  MirrinIoIncrement(ext);
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.IoControlCode = code;
  next->Parameters.Others.Argument1 = argument;
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);

  BOOLEAN timed_out = FALSE;
  if (IoCallDriver(ext->LowerDevice, irp) == STATUS_PENDING) {
    LARGE_INTEGER wait;
    wait.QuadPart = -(LONGLONG)timeout_ms * 10000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE,
                              timeout_ms ? &wait : NULL) == STATUS_TIMEOUT) {
      timed_out = TRUE;
      IoCancelIrp(irp);
      KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
    }
  }
  NTSTATUS status = irp->IoStatus.Status;
  if (timed_out && status == STATUS_CANCELLED) status = STATUS_IO_TIMEOUT;
  IoFreeIrp(irp);
  MirrinIoDecrement(ext);
  return status;
}

NTSTATUS MirrinSubmitUrb(PMIRRIN_EXTENSION ext, PURB urb, ULONG timeout_ms) {
  return SubmitInternal(ext, IOCTL_INTERNAL_USB_SUBMIT_URB, urb, timeout_ms);
}

static NTSTATUS PipeRequest(PMIRRIN_EXTENSION ext, USBD_PIPE_HANDLE pipe, USHORT function) {
  PURB urb = MirrinAllocate(sizeof(struct _URB_PIPE_REQUEST));
  if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
  RtlZeroMemory(urb, sizeof(struct _URB_PIPE_REQUEST));
  urb->UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
  urb->UrbHeader.Function = function;
  urb->UrbPipeRequest.PipeHandle = pipe;
  const NTSTATUS status = MirrinSubmitUrb(ext, urb, 0);
  MirrinFree(urb);
  return status;
}

NTSTATUS MirrinResetPipe(PMIRRIN_EXTENSION ext, USBD_PIPE_HANDLE pipe) {
  return PipeRequest(ext, pipe, URB_FUNCTION_RESET_PIPE);
}

NTSTATUS MirrinCheckPort(PMIRRIN_EXTENSION ext) {
  ULONG port_status = 0;
  NTSTATUS status = SubmitInternal(ext, IOCTL_INTERNAL_USB_GET_PORT_STATUS, &port_status, 0);
  if (NT_SUCCESS(status) && (port_status & USBD_PORT_CONNECTED) &&
      !(port_status & USBD_PORT_ENABLED)) {
    status = SubmitInternal(ext, IOCTL_INTERNAL_USB_RESET_PORT, NULL, 0);
  }
  return status;
}

static void AbortEveryPipe(PMIRRIN_EXTENSION ext, BOOLEAN close_handles) {
  PUSBD_INTERFACE_INFORMATION info = ext->InterfaceInfo;
  if (!info) return;
  /* Every pipe: in single-pipe mode a handle's transfers run on a pipe it did not open. */
  for (ULONG i = 0; i < info->NumberOfPipes; ++i) {
    const NTSTATUS status = PipeRequest(ext, info->Pipes[i].PipeHandle, URB_FUNCTION_ABORT_PIPE);
    if (close_handles && NT_SUCCESS(status) && i < MIRRIN_MAX_NAMED_PIPES) {
      InterlockedExchange(&ext->Pipes[i].Open, 0);
    }
  }
}

void MirrinAbortPipes(PMIRRIN_EXTENSION ext) { AbortEveryPipe(ext, TRUE); }

void MirrinAbortTransfers(PMIRRIN_EXTENSION ext) { AbortEveryPipe(ext, FALSE); }

NTSTATUS MirrinForwardAndWait(PMIRRIN_EXTENSION ext, PIRP irp) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
  if (IoCallDriver(ext->LowerDevice, irp) == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
  }
  return irp->IoStatus.Status;
}

NTSTATUS MirrinPassDown(PMIRRIN_EXTENSION ext, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(ext->LowerDevice, irp);
}
