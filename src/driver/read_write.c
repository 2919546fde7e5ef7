/* Bulk reads and writes, sent to the bus in stages over partial MDLs of the caller's buffer. */
#include "driver.h"

typedef struct {
  PMIRRIN_EXTENSION Ext;
  PURB Urb;
  PMDL StageMdl;
  USBD_PIPE_HANDLE Pipe;
  ULONG TransferFlags;
  PUCHAR NextAddress; /* in the caller's buffer, as its MDL maps it */
  ULONG Remaining;
  ULONG StageLength;
  ULONG Moved;
} TRANSFER;

static IO_COMPLETION_ROUTINE StageDone;

/* Builds the next stage into the request's next stack location. */
static void PrepareStage(TRANSFER* transfer, PIRP irp) {
  transfer->StageLength =
      transfer->Remaining < MIRRIN_STAGE_SIZE ? transfer->Remaining : MIRRIN_STAGE_SIZE;
  MmPrepareMdlForReuse(transfer->StageMdl);
  IoBuildPartialMdl(irp->MdlAddress, transfer->StageMdl, transfer->NextAddress,
                    transfer->StageLength);
  UsbBuildInterruptOrBulkTransferRequest(
      transfer->Urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), transfer->Pipe, NULL,
      transfer->StageMdl, transfer->StageLength, transfer->TransferFlags, NULL);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
  next->Parameters.Others.Argument1 = transfer->Urb;
  IoSetCompletionRoutine(irp, StageDone, transfer, TRUE, TRUE, TRUE);
}

static void FreeTransfer(TRANSFER* transfer) {
  if (transfer->StageMdl) IoFreeMdl(transfer->StageMdl);
  if (transfer->Urb) MirrinFree(transfer->Urb);
  MirrinFree(transfer);
}

static NTSTATUS NTAPI StageDone(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  TRANSFER* transfer = context;
  PMIRRIN_EXTENSION ext = transfer->Ext;
  const NTSTATUS status = irp->IoStatus.Status;
  if (NT_SUCCESS(status)) {
    ULONG moved = transfer->Urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
    if (moved > transfer->StageLength) moved = transfer->StageLength;
    transfer->Moved += moved;
    transfer->Remaining -= moved;
    transfer->NextAddress += moved;
    if (moved == transfer->StageLength && transfer->Remaining != 0) {
      PrepareStage(transfer, irp);
      IoCallDriver(ext->LowerDevice, irp);
      return STATUS_MORE_PROCESSING_REQUIRED;
    }
  }
  irp->IoStatus.Information = NT_SUCCESS(status) ? transfer->Moved : 0;
  FreeTransfer(transfer);
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  MirrinIoDecrement(ext);
  return status;
}

/* The pipe a read or write of this handle goes to; null when it has none it can use. */
static PUSBD_PIPE_INFORMATION TransferPipe(PMIRRIN_EXTENSION ext, PIRP irp, BOOLEAN read) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PUSBD_PIPE_INFORMATION pipe;
  if (ext->SinglePipeMode) {
    const ULONG index = read ? 0 : 1;
    pipe = index < ext->InterfaceInfo->NumberOfPipes ? &ext->InterfaceInfo->Pipes[index] : NULL;
  } else {
    pipe = MirrinHandlePipe(ext, stack->FileObject);
  }
  return pipe && pipe->PipeType == UsbdPipeTypeBulk ? pipe : NULL;
}

static NTSTATUS StartTransfer(PMIRRIN_EXTENSION ext, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const BOOLEAN read = stack->MajorFunction == IRP_MJ_READ;
  const ULONG length = read ? stack->Parameters.Read.Length : stack->Parameters.Write.Length;
  if (MirrinPnpState(ext) != MIRRIN_STARTED || !ext->InterfaceInfo) {
    return MirrinCompleteRequest(irp, STATUS_INVALID_DEVICE_STATE, 0);
  }
  PUSBD_PIPE_INFORMATION pipe = TransferPipe(ext, irp, read);
  if (!pipe) return MirrinCompleteRequest(irp, STATUS_INVALID_HANDLE, 0);
  if (length == 0) return MirrinCompleteRequest(irp, STATUS_SUCCESS, 0);
  if (!irp->MdlAddress || MmGetMdlByteCount(irp->MdlAddress) < length) {
    return MirrinCompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
  }

  TRANSFER* transfer = MirrinAllocate(sizeof(TRANSFER));
  if (!transfer) return MirrinCompleteRequest(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  RtlZeroMemory(transfer, sizeof(*transfer));
  transfer->Ext = ext;
  transfer->Pipe = pipe->PipeHandle;
  transfer->TransferFlags = USBD_SHORT_TRANSFER_OK | (read ? USBD_TRANSFER_DIRECTION_IN : 0);
  transfer->NextAddress = MmGetMdlVirtualAddress(irp->MdlAddress);
  transfer->Remaining = length;
  transfer->Urb = MirrinAllocate(sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER));
  transfer->StageMdl = IoAllocateMdl(transfer->NextAddress,
                                     length < MIRRIN_STAGE_SIZE ? length : MIRRIN_STAGE_SIZE,
                                     FALSE, FALSE, NULL);
  if (!transfer->Urb || !transfer->StageMdl) {
    FreeTransfer(transfer);
    return MirrinCompleteRequest(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  }

  /* The request's own count now belongs to the transfer; this one keeps the device while
   * the dispatch routine still uses it after the request may have ended. */
  MirrinIoIncrement(ext);
  const USBD_PIPE_HANDLE pipe_handle = pipe->PipeHandle;
  PrepareStage(transfer, irp);
  IoMarkIrpPending(irp);
  const NTSTATUS status = IoCallDriver(ext->LowerDevice, irp);
  if (!NT_SUCCESS(status) && status != STATUS_CANCELLED &&
      status != STATUS_DEVICE_NOT_CONNECTED) {
    if (!NT_SUCCESS(MirrinResetPipe(ext, pipe_handle))) MirrinCheckPort(ext);
  }
  MirrinIoDecrement(ext);
  return STATUS_PENDING;
}

NTSTATUS NTAPI MirrinDispatchReadWrite(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  MirrinIoIncrement(ext);
  NTSTATUS status;
  if (!MirrinAdmitRequest(ext, irp, &status)) {
    MirrinIoDecrement(ext);
    return status;
  }
  status = StartTransfer(ext, irp);
  /* A request that ended here gives its count back; a pending one does so at its end. */
  if (status != STATUS_PENDING) MirrinIoDecrement(ext);
  return status;
}
