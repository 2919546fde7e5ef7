/* The I/O control codes: descriptors, pipe and port resets, vendor requests. */
#include "driver.h"

static USHORT Le16(const UCHAR* bytes) { return (USHORT)(bytes[0] | bytes[1] << 8); }
static ULONG Le32(const UCHAR* bytes) { return Le16(bytes) | (ULONG)Le16(bytes + 2) << 16; }
static void PutLe16(UCHAR* bytes, ULONG value) {
  bytes[0] = (UCHAR)value;
  bytes[1] = (UCHAR)(value >> 8);
}
static void PutLe32(UCHAR* bytes, ULONG value) {
  PutLe16(bytes, value & 0xFFFF);
  PutLe16(bytes + 2, value >> 16);
}

/* USBD interface information as a 32-bit process lays it out: a 16-byte head, then 20 bytes
 * a pipe, handles cut to 32 bits (no caller uses them). */
#define INTERFACE_INFO_32_HEAD 16u
#define PIPE_INFO_32_SIZE 20u

/* Copies a descriptor or record of `length` bytes into the request's output. */
static NTSTATUS CopyOut(PIRP irp, const void* source, ULONG length, ULONG_PTR* information) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (!source) return STATUS_UNSUCCESSFUL;
  if (stack->Parameters.DeviceIoControl.OutputBufferLength < length) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, source, length);
  *information = length;
  return STATUS_SUCCESS;
}

static NTSTATUS CopyInterfaceInfo(PMIRRIN_EXTENSION ext, PIRP irp, ULONG_PTR* information) {
  PUSBD_INTERFACE_INFORMATION info = ext->InterfaceInfo;
  /* A 32-bit caller of a 64-bit driver reads the record with its own layout. */
  if (!info || sizeof(void*) == 4 || !MIRRIN_CALLER_IS_32BIT(irp)) {
    return CopyOut(irp, info, info ? info->Length : 0, information);
  }
  const ULONG pipes = info->NumberOfPipes;
  const ULONG length = INTERFACE_INFO_32_HEAD + (pipes ? pipes : 1) * PIPE_INFO_32_SIZE;
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength <
      length) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  UCHAR* out = irp->AssociatedIrp.SystemBuffer;
  RtlZeroMemory(out, length);
  PutLe16(out, length);
  out[2] = info->InterfaceNumber;
  out[3] = info->AlternateSetting;
  out[4] = info->Class;
  out[5] = info->SubClass;
  out[6] = info->Protocol;
  PutLe32(out + 8, (ULONG)(ULONG_PTR)info->InterfaceHandle);
  PutLe32(out + 12, pipes);
  for (ULONG i = 0; i < pipes; ++i) {
    const PUSBD_PIPE_INFORMATION pipe = &info->Pipes[i];
    UCHAR* entry = out + INTERFACE_INFO_32_HEAD + i * PIPE_INFO_32_SIZE;
    PutLe16(entry, pipe->MaximumPacketSize);
    entry[2] = pipe->EndpointAddress;
    entry[3] = pipe->Interval;
    PutLe32(entry + 4, (ULONG)pipe->PipeType);
    PutLe32(entry + 8, (ULONG)(ULONG_PTR)pipe->PipeHandle);
    PutLe32(entry + 12, pipe->MaximumTransferSize);
    PutLe32(entry + 16, pipe->PipeFlags);
  }
  *information = length;
  return STATUS_SUCCESS;
}

static void BuildVendorRequest(PURB urb, const UCHAR* record, PVOID buffer, PMDL mdl,
                               ULONG length) {
  const BOOLEAN in = (record[MIRRIN_VENDOR_RECORD_REQUEST_TYPE] &
                      MIRRIN_VENDOR_DEVICE_TO_HOST) != 0;
  UsbBuildVendorRequest(urb, URB_FUNCTION_VENDOR_DEVICE,
                        sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                        in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0, 0,
                        record[MIRRIN_VENDOR_RECORD_REQUEST],
                        Le16(record + MIRRIN_VENDOR_RECORD_VALUE),
                        Le16(record + MIRRIN_VENDOR_RECORD_INDEX), buffer, mdl, length, NULL);
}

/* The data stage in the request's own buffer: the reply of an IN request comes back at its
 * start; an OUT request sends the whole input, the record included. */
static NTSTATUS VendorRequest(PMIRRIN_EXTENSION ext, PIRP irp, ULONG_PTR* information) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
  if (in_length < MIRRIN_VENDOR_RECORD_SIZE || !buffer) return STATUS_INVALID_PARAMETER;
  UCHAR record[MIRRIN_VENDOR_RECORD_SIZE];
  RtlCopyMemory(record, buffer, sizeof(record));
  const BOOLEAN in = (record[MIRRIN_VENDOR_RECORD_REQUEST_TYPE] &
                      MIRRIN_VENDOR_DEVICE_TO_HOST) != 0;
  if (in && out_length == 0) return STATUS_INVALID_PARAMETER;
  const ULONG length = in ? out_length : in_length;
  /* Longer than the setup packet can announce: the device would see another length. */
  if (length > MIRRIN_VENDOR_MAX_DATA) return STATUS_INVALID_PARAMETER;

  PURB urb = MirrinAllocate(sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
  if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
  BuildVendorRequest(urb, record, buffer, NULL, length);
  const NTSTATUS status = MirrinSubmitUrb(ext, urb, MIRRIN_VENDOR_REQUEST_TIMEOUT_MS);
  if (NT_SUCCESS(status) && in) {
    const ULONG received = urb->UrbControlVendorClassRequest.TransferBufferLength;
    *information = received < length ? received : length;
  }
  MirrinFree(urb);
  return status;
}

typedef struct {
  PMDL Mdl;
} PROBE;

static NTSTATUS ProbeAndLock(void* context) {
  MmProbeAndLockPages(((PROBE*)context)->Mdl, UserMode, IoModifyAccess);
  return STATUS_SUCCESS;
}

/* The data stage in the caller's memory at the address the record names. */
static NTSTATUS VendorRequestAtAddress(PMIRRIN_EXTENSION ext, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
  if (stack->Parameters.DeviceIoControl.InputBufferLength < MIRRIN_VENDOR_RECORD_SIZE ||
      !buffer) {
    return STATUS_INVALID_PARAMETER;
  }
  /* A 32-bit address names nothing in a 64-bit caller's memory. */
  if (!MIRRIN_CALLER_IS_32BIT(irp)) return STATUS_NOT_SUPPORTED;
  UCHAR record[MIRRIN_VENDOR_RECORD_SIZE];
  RtlCopyMemory(record, buffer, sizeof(record));
  const ULONG length = Le16(record + MIRRIN_VENDOR_RECORD_LENGTH);
  PVOID address = (PVOID)(ULONG_PTR)Le32(record + MIRRIN_VENDOR_RECORD_ADDRESS);

  PROBE probe = {NULL};
  if (length != 0 && address != NULL) {
    probe.Mdl = IoAllocateMdl(address, length, FALSE, FALSE, NULL);
    if (!probe.Mdl) return STATUS_UNSUCCESSFUL;
    const NTSTATUS status = MirrinGuardedCall(ProbeAndLock, &probe);
    if (!NT_SUCCESS(status)) {
      IoFreeMdl(probe.Mdl);
      return status;
    }
  }
  PURB urb = MirrinAllocate(sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  if (urb) {
    BuildVendorRequest(urb, record, NULL, probe.Mdl, probe.Mdl ? length : 0);
    status = MirrinSubmitUrb(ext, urb, 0);
    MirrinFree(urb);
  }
  if (probe.Mdl) {
    MmUnlockPages(probe.Mdl);
    IoFreeMdl(probe.Mdl);
  }
  return status;
}

static NTSTATUS ResetHandlePipe(PMIRRIN_EXTENSION ext, PIRP irp) {
  PUSBD_PIPE_INFORMATION pipe =
      MirrinHandlePipe(ext, IoGetCurrentIrpStackLocation(irp)->FileObject);
  return pipe ? MirrinResetPipe(ext, pipe->PipeHandle) : STATUS_INVALID_PARAMETER;
}

static NTSTATUS DeviceControl(PMIRRIN_EXTENSION ext, PIRP irp, ULONG_PTR* information) {
  if (MirrinPnpState(ext) != MIRRIN_STARTED) return STATUS_INVALID_DEVICE_STATE;
  switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case MIRRIN_IOCTL_GET_CONFIG_DESCRIPTOR:
      return CopyOut(irp, ext->ConfigDescriptor, ext->ConfigDescriptorLength, information);
    case MIRRIN_IOCTL_CHECK_PORT:
      return MirrinCheckPort(ext);
    case MIRRIN_IOCTL_RESET_PIPE:
      return ResetHandlePipe(ext, irp);
    case MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS:
      return VendorRequestAtAddress(ext, irp);
    case MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR: {
      /* The device's own length byte, but never past the 18 bytes we hold. */
      const PUSB_DEVICE_DESCRIPTOR descriptor = ext->DeviceDescriptor;
      ULONG length = descriptor ? descriptor->bLength : 0;
      if (length > sizeof(USB_DEVICE_DESCRIPTOR)) length = sizeof(USB_DEVICE_DESCRIPTOR);
      return CopyOut(irp, descriptor, length, information);
    }
    case MIRRIN_IOCTL_VENDOR_REQUEST:
      return VendorRequest(ext, irp, information);
    case MIRRIN_IOCTL_GET_INTERFACE_INFO:
      return CopyInterfaceInfo(ext, irp, information);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

NTSTATUS NTAPI MirrinDispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  MirrinIoIncrement(ext);
  /* Not held while the device stops: a caller waiting for a reply learns the state now. */
  ULONG_PTR information = 0;
  const NTSTATUS status = MirrinQueueFailing(ext) ? STATUS_DELETE_PENDING
                                                  : DeviceControl(ext, irp, &information);
  MirrinCompleteRequest(irp, status, information);
  MirrinIoDecrement(ext);
  return status;
}
