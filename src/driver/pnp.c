/* Plug and play: start with configuration selection, the stop and remove protocols,
 * surprise removal and the device's capabilities. */
#include "driver.h"

#define DEVICE_DESCRIPTOR_SIZE 18u
#define CONFIG_HEADER_SIZE 9u
#define REMOTE_WAKEUP_ATTRIBUTE 0x20u
#define CAPABILITIES_SIZE 64u

static void SetPnpState(PMIRRIN_EXTENSION ext, MIRRIN_PNP_STATE state, BOOLEAN remember,
                        MIRRIN_QUEUE_STATE queue) {
  KIRQL irql;
  KeAcquireSpinLock(&ext->StateLock, &irql);
  if (remember) ext->PreviousPnpState = ext->PnpState;
  ext->PnpState = state;
  ext->QueueState = queue;
  KeReleaseSpinLock(&ext->StateLock, irql);
}

/* Reads a descriptor from the device into `buffer`; the count it moved comes back. */
static NTSTATUS ReadDescriptor(PMIRRIN_EXTENSION ext, UCHAR type, PVOID buffer, ULONG length,
                               ULONG* moved) {
  PURB urb = MirrinAllocate(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
  if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
  UsbBuildGetDescriptorRequest(urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, 0, 0,
                               buffer, NULL, length, NULL);
  const NTSTATUS status = MirrinSubmitUrb(ext, urb, 0);
  *moved = urb->UrbControlDescriptorRequest.TransferBufferLength;
  MirrinFree(urb);
  return status;
}

static NTSTATUS ReadDeviceDescriptor(PMIRRIN_EXTENSION ext) {
  PUSB_DEVICE_DESCRIPTOR descriptor = MirrinAllocate(DEVICE_DESCRIPTOR_SIZE);
  if (!descriptor) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG moved = 0;
  NTSTATUS status = ReadDescriptor(ext, USB_DEVICE_DESCRIPTOR_TYPE, descriptor,
                                   DEVICE_DESCRIPTOR_SIZE, &moved);
  if (NT_SUCCESS(status) && (moved != DEVICE_DESCRIPTOR_SIZE ||
                             descriptor->bDescriptorType != USB_DEVICE_DESCRIPTOR_TYPE)) {
    status = STATUS_DEVICE_DATA_ERROR;
  }
  if (!NT_SUCCESS(status)) {
    MirrinFree(descriptor);
    return status;
  }
  ext->DeviceDescriptor = descriptor;
  return STATUS_SUCCESS;
}

/* Every descriptor in the configuration lies whole inside it. */
static BOOLEAN DescriptorsFit(PUSB_CONFIGURATION_DESCRIPTOR config, ULONG length) {
  const UCHAR* bytes = (const UCHAR*)config;
  ULONG at = 0;
  while (at < length) {
    if (length - at < 2 || bytes[at] < 2 || bytes[at] > length - at) return FALSE;
    at += bytes[at];
  }
  return TRUE;
}

static NTSTATUS ReadConfigDescriptor(PMIRRIN_EXTENSION ext) {
  USB_CONFIGURATION_DESCRIPTOR header;
  ULONG moved = 0;
  NTSTATUS status = ReadDescriptor(ext, USB_CONFIGURATION_DESCRIPTOR_TYPE, &header,
                                   CONFIG_HEADER_SIZE, &moved);
  if (!NT_SUCCESS(status)) return status;
  if (moved != CONFIG_HEADER_SIZE ||
      header.bDescriptorType != USB_CONFIGURATION_DESCRIPTOR_TYPE ||
      header.wTotalLength < CONFIG_HEADER_SIZE) {
    return STATUS_DEVICE_DATA_ERROR;
  }
  const ULONG length = header.wTotalLength;
  PUSB_CONFIGURATION_DESCRIPTOR config = MirrinAllocate(length);
  if (!config) return STATUS_INSUFFICIENT_RESOURCES;
  status = ReadDescriptor(ext, USB_CONFIGURATION_DESCRIPTOR_TYPE, config, length, &moved);
  /* Descriptors are walked by their own lengths: only a whole one is kept. */
  if (NT_SUCCESS(status) && (moved != length || config->wTotalLength != length ||
                             !DescriptorsFit(config, length))) {
    status = STATUS_DEVICE_DATA_ERROR;
  }
  if (!NT_SUCCESS(status)) {
    MirrinFree(config);
    return status;
  }
  ext->ConfigDescriptor = config;
  ext->ConfigDescriptorLength = length;
  ext->RemoteWakeup = (config->bmAttributes & REMOTE_WAKEUP_ATTRIBUTE) != 0;
  return STATUS_SUCCESS;
}

/* Selects the configuration with alternate setting 0 of every interface, and keeps the
 * first interface's information with its pipes. */
static NTSTATUS SelectConfiguration(PMIRRIN_EXTENSION ext) {
  NTSTATUS status;
  PURB urb = MirrinBuildSelectConfiguration(ext->ConfigDescriptor, ext->ConfigDescriptorLength,
                                            &status);
  if (!urb) return status;
  PUSBD_INTERFACE_INFORMATION first = &urb->UrbSelectConfiguration.Interface;
  for (ULONG i = 0; i < first->NumberOfPipes; ++i) {
    first->Pipes[i].MaximumTransferSize = MIRRIN_STAGE_SIZE;
  }
  status = MirrinSubmitUrb(ext, urb, 0);
  if (NT_SUCCESS(status)) {
    ext->InterfaceInfo = MirrinAllocate(first->Length);
    if (ext->InterfaceInfo) {
      RtlCopyMemory(ext->InterfaceInfo, first, first->Length);
    } else {
      status = STATUS_INSUFFICIENT_RESOURCES;
    }
  }
  MirrinFree(urb);
  return status;
}

static void FreeConfiguration(PMIRRIN_EXTENSION ext) {
  if (ext->DeviceDescriptor) MirrinFree(ext->DeviceDescriptor);
  if (ext->ConfigDescriptor) MirrinFree(ext->ConfigDescriptor);
  if (ext->InterfaceInfo) MirrinFree(ext->InterfaceInfo);
  ext->DeviceDescriptor = NULL;
  ext->ConfigDescriptor = NULL;
  ext->ConfigDescriptorLength = 0;
  ext->InterfaceInfo = NULL;
}

static NTSTATUS Deconfigure(PMIRRIN_EXTENSION ext) {
  PURB urb = MirrinAllocate(sizeof(struct _URB_SELECT_CONFIGURATION));
  if (!urb) return STATUS_INSUFFICIENT_RESOURCES;
  UsbBuildSelectConfigurationRequest(urb, sizeof(struct _URB_SELECT_CONFIGURATION), NULL);
  const NTSTATUS status = MirrinSubmitUrb(ext, urb, 0);
  MirrinFree(urb);
  return status;
}

static void SetInterfaces(PMIRRIN_EXTENSION ext, BOOLEAN enable) {
  if (ext->OwnInterfaceName.Buffer) IoSetDeviceInterfaceState(&ext->OwnInterfaceName, enable);
  if (ext->ProductInterfaceName.Buffer) {
    IoSetDeviceInterfaceState(&ext->ProductInterfaceName, enable);
  }
}

static NTSTATUS StartDevice(PMIRRIN_EXTENSION ext) {
  FreeConfiguration(ext);
  NTSTATUS status = ReadDeviceDescriptor(ext);
  if (NT_SUCCESS(status)) status = ReadConfigDescriptor(ext);
  if (NT_SUCCESS(status)) status = SelectConfiguration(ext);
  if (!NT_SUCCESS(status)) {
    FreeConfiguration(ext);
    return status;
  }
  for (ULONG i = 0; i < MIRRIN_MAX_NAMED_PIPES; ++i) {
    if (ext->Pipes[i].OpenCount == 0) ext->Pipes[i].Open = 0;
  }
  SetInterfaces(ext, TRUE);
  SetPnpState(ext, MIRRIN_STARTED, FALSE, MIRRIN_QUEUE_PASS);
  InterlockedExchange(&ext->WaitWakeArmed, 0);
  InterlockedExchange(&ext->WaitWakeCancelled, 0);
  if (ext->RemoteWakeup) MirrinArmWaitWake(ext);
  MirrinProcessQueue(ext);
  return STATUS_SUCCESS;
}

/* QUERY_STOP and QUERY_REMOVE: hold new requests and let those in flight end. */
static NTSTATUS QueryStopOrRemove(PMIRRIN_EXTENSION ext, PIRP irp, MIRRIN_PNP_STATE state) {
  SetPnpState(ext, state, TRUE, MIRRIN_QUEUE_HOLD);
  /* Our own count would keep the device busy for ever. */
  MirrinIoDecrement(ext);
  MirrinWaitForIdle(ext);
  irp->IoStatus.Status = STATUS_SUCCESS;
  return MirrinPassDown(ext, irp);
}

static NTSTATUS CancelStopOrRemove(PMIRRIN_EXTENSION ext, PIRP irp, MIRRIN_PNP_STATE pending) {
  if (MirrinPnpState(ext) != pending) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    return MirrinPassDown(ext, irp);
  }
  NTSTATUS status = MirrinForwardAndWait(ext, irp);
  if (NT_SUCCESS(status)) {
    KIRQL irql;
    KeAcquireSpinLock(&ext->StateLock, &irql);
    ext->PnpState = ext->PreviousPnpState;
    ext->QueueState = MIRRIN_QUEUE_PASS;
    KeReleaseSpinLock(&ext->StateLock, irql);
    MirrinProcessQueue(ext);
  }
  return MirrinCompleteRequest(irp, status, irp->IoStatus.Information);
}

/* Windows 98 and ME also stop a device to disable it, and after a failed start, without asking
 * first: requests fail, the interfaces go away until the next start, and transfers in flight
 * end before the configuration they use is freed. On the NT family a stop only rebalances
 * resources: requests wait for the start that follows. */
static NTSTATUS StopDevice(PMIRRIN_EXTENSION ext, PIRP irp, BOOLEAN* count_dropped) {
  MirrinCancelWaitWake(ext);
  if (MirrinStopDisables(ext)) {
    SetPnpState(ext, MIRRIN_STOPPED, FALSE, MIRRIN_QUEUE_FAIL);
    MirrinProcessQueue(ext);
    SetInterfaces(ext, FALSE);
    MirrinAbortTransfers(ext);
    *count_dropped = TRUE;
    MirrinIoDecrement(ext);
    MirrinWaitForIdle(ext);
  } else {
    SetPnpState(ext, MIRRIN_STOPPED, FALSE, MIRRIN_QUEUE_HOLD);
  }
  Deconfigure(ext);
  FreeConfiguration(ext);
  /* A stop may not fail: a device that cannot be deconfigured is stopped all the same. */
  irp->IoStatus.Status = STATUS_SUCCESS;
  return MirrinPassDown(ext, irp);
}

/* What surprise removal and removal share: fail every request and let go of the device. */
static void ShutDownIo(PMIRRIN_EXTENSION ext) {
  MirrinCancelWaitWake(ext);
  MirrinSetQueueState(ext, MIRRIN_QUEUE_FAIL);
  MirrinProcessQueue(ext);
  SetInterfaces(ext, FALSE);
  RtlFreeUnicodeString(&ext->OwnInterfaceName);
  RtlFreeUnicodeString(&ext->ProductInterfaceName);
  MirrinAbortPipes(ext);
}

static NTSTATUS SurpriseRemoval(PMIRRIN_EXTENSION ext, PIRP irp) {
  SetPnpState(ext, MIRRIN_SURPRISE_REMOVED, FALSE, MIRRIN_QUEUE_FAIL);
  ShutDownIo(ext);
  irp->IoStatus.Status = STATUS_SUCCESS;
  return MirrinPassDown(ext, irp);
}

static NTSTATUS RemoveDevice(PMIRRIN_EXTENSION ext, PIRP irp) {
  const BOOLEAN surprise_removed = MirrinPnpState(ext) == MIRRIN_SURPRISE_REMOVED;
  SetPnpState(ext, MIRRIN_REMOVED, FALSE, MIRRIN_QUEUE_FAIL);
  if (!surprise_removed) ShutDownIo(ext);
  /* Requests held after a surprise removal's own draining fail now. */
  MirrinProcessQueue(ext);
  /* Our own count and the device's: then the count reaches 0 once every request has ended. */
  MirrinIoDecrement(ext);
  MirrinIoDecrement(ext);
  KeWaitForSingleObject(&ext->RemoveEvent, Executive, KernelMode, FALSE, NULL);
  MirrinWaitForWaitWakeEnd(ext);
  FreeConfiguration(ext);
  irp->IoStatus.Status = STATUS_SUCCESS;
  PDEVICE_OBJECT lower = ext->LowerDevice;
  const NTSTATUS status = MirrinPassDown(ext, irp);
  IoDetachDevice(lower);
  IoDeleteDevice(ext->Self);
  return status;
}

static NTSTATUS QueryCapabilities(PMIRRIN_EXTENSION ext, PIRP irp) {
  PDEVICE_CAPABILITIES capabilities =
      IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceCapabilities.Capabilities;
  if (capabilities->Size < CAPABILITIES_SIZE || capabilities->Version < 1) {
    return MirrinCompleteRequest(irp, STATUS_UNSUCCESSFUL, 0);
  }
  capabilities->SurpriseRemovalOK = TRUE;
  const NTSTATUS status = MirrinForwardAndWait(ext, irp);
  if (NT_SUCCESS(status)) {
    RtlCopyMemory(&ext->Capabilities, capabilities, sizeof(ext->Capabilities));
    capabilities->SurpriseRemovalOK = TRUE;
  }
  return MirrinCompleteRequest(irp, status, irp->IoStatus.Information);
}

static NTSTATUS DispatchMinor(PMIRRIN_EXTENSION ext, PIRP irp, BOOLEAN* count_dropped) {
  switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      NTSTATUS status = MirrinForwardAndWait(ext, irp);
      if (NT_SUCCESS(status)) status = StartDevice(ext);
      return MirrinCompleteRequest(irp, status, 0);
    }
    case IRP_MN_QUERY_STOP_DEVICE:
      *count_dropped = TRUE;
      return QueryStopOrRemove(ext, irp, MIRRIN_STOP_PENDING);
    case IRP_MN_CANCEL_STOP_DEVICE:
      return CancelStopOrRemove(ext, irp, MIRRIN_STOP_PENDING);
    case IRP_MN_STOP_DEVICE:
      return StopDevice(ext, irp, count_dropped);
    case IRP_MN_QUERY_REMOVE_DEVICE:
      *count_dropped = TRUE;
      return QueryStopOrRemove(ext, irp, MIRRIN_REMOVE_PENDING);
    case IRP_MN_CANCEL_REMOVE_DEVICE:
      return CancelStopOrRemove(ext, irp, MIRRIN_REMOVE_PENDING);
    case IRP_MN_SURPRISE_REMOVAL:
      return SurpriseRemoval(ext, irp);
    case IRP_MN_REMOVE_DEVICE:
      *count_dropped = TRUE;
      return RemoveDevice(ext, irp);
    case IRP_MN_QUERY_CAPABILITIES:
      return QueryCapabilities(ext, irp);
    default:
      return MirrinPassDown(ext, irp);
  }
}

NTSTATUS NTAPI MirrinDispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  if (MirrinPnpState(ext) == MIRRIN_REMOVED) {
    return MirrinCompleteRequest(irp, STATUS_DELETE_PENDING, 0);
  }
  MirrinIoIncrement(ext);
  BOOLEAN count_dropped = FALSE;
  const NTSTATUS status = DispatchMinor(ext, irp, &count_dropped);
  if (!count_dropped) MirrinIoDecrement(ext);
  return status;
}
