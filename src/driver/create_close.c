/* Handles: one per pipe file, and one device handle without a pipe name. */
#include "driver.h"

/* FsContext of a pipe handle holds its index plus one; 0 marks the device handle. */
#define PIPE_CONTEXT(index) ((PVOID)(ULONG_PTR)((index) + 1))

BOOLEAN MirrinParsePipeIndex(PCUNICODE_STRING name, ULONG* index) {
  const USHORT count = name->Length / sizeof(WCHAR);
  USHORT end = count;
  while (end > 0 && !(name->Buffer[end - 1] >= L'0' && name->Buffer[end - 1] <= L'9')) --end;
  if (end == 0) return FALSE;
  USHORT start = end;
  while (start > 0 && name->Buffer[start - 1] >= L'0' && name->Buffer[start - 1] <= L'9') {
    --start;
  }
  /* Saturates: a long run of digits is too big, never a small index after overflow. */
  ULONG value = 0;
  for (USHORT i = start; i < end; ++i) {
    value = value * 10 + (ULONG)(name->Buffer[i] - L'0');
    if (value >= MIRRIN_MAX_NAMED_PIPES) return FALSE;
  }
  *index = value;
  return TRUE;
}

static ULONG PipeCount(PMIRRIN_EXTENSION ext) {
  return ext->InterfaceInfo ? ext->InterfaceInfo->NumberOfPipes : 0;
}

PUSBD_PIPE_INFORMATION MirrinHandlePipe(PMIRRIN_EXTENSION ext, PFILE_OBJECT file) {
  if (!file || !file->FsContext) return NULL;
  const ULONG index = (ULONG)(ULONG_PTR)file->FsContext - 1;
  if (index >= PipeCount(ext)) return NULL;
  return &ext->InterfaceInfo->Pipes[index];
}

NTSTATUS NTAPI MirrinDispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  MirrinIoIncrement(ext);
  NTSTATUS status = STATUS_SUCCESS;
  if (MirrinPnpState(ext) != MIRRIN_STARTED || !ext->InterfaceInfo) {
    status = STATUS_INVALID_DEVICE_STATE;
  } else if (file->FileName.Length != 0) {
    ULONG index;
    if (!MirrinParsePipeIndex(&file->FileName, &index) || index >= PipeCount(ext)) {
      status = STATUS_INVALID_PARAMETER;
    } else if (InterlockedCompareExchange(&ext->Pipes[index].Open, 1, 0) != 0) {
      status = STATUS_DEVICE_BUSY;
    } else {
      InterlockedIncrement(&ext->Pipes[index].OpenCount);
      file->FsContext = PIPE_CONTEXT(index);
    }
  } else if (InterlockedCompareExchange(&ext->DeviceOpen, 1, 0) != 0) {
    status = STATUS_DEVICE_BUSY;
  } else {
    file->FsContext = NULL;
  }
  if (NT_SUCCESS(status)) InterlockedIncrement(&ext->OpenHandles);
  MirrinCompleteRequest(irp, status, 0);
  MirrinIoDecrement(ext);
  return status;
}

NTSTATUS NTAPI MirrinDispatchClose(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  MirrinIoIncrement(ext);
  if (file->FsContext) {
    const ULONG index = (ULONG)(ULONG_PTR)file->FsContext - 1;
    InterlockedDecrement(&ext->Pipes[index].OpenCount);
    InterlockedExchange(&ext->Pipes[index].Open, 0);
  } else {
    InterlockedExchange(&ext->DeviceOpen, 0);
  }
  InterlockedDecrement(&ext->OpenHandles);
  MirrinCompleteRequest(irp, STATUS_SUCCESS, 0);
  MirrinIoDecrement(ext);
  return STATUS_SUCCESS;
}
