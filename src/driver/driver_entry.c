/* The entry point and the creation of a device object for each player. */
#include "driver.h"

static const GUID kOwnInterface = MIRRIN_INTERFACE_GUID_INIT;

/* A copy of the service's registry path, kept while the driver is loaded. */
static UNICODE_STRING g_registry_path;

static void NTAPI MirrinUnload(PDRIVER_OBJECT driver) {
  if (g_registry_path.Buffer) MirrinFree(g_registry_path.Buffer);
  g_registry_path.Buffer = NULL;
  g_registry_path.Length = g_registry_path.MaximumLength = 0;
}

static NTSTATUS NTAPI MirrinDispatchSystemControl(PDEVICE_OBJECT device, PIRP irp) {
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  MirrinIoIncrement(ext);
  const NTSTATUS status = MirrinPassDown(ext, irp);
  MirrinIoDecrement(ext);
  return status;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  const USHORT size = registry_path->Length + sizeof(WCHAR);
  g_registry_path.Buffer = MirrinAllocate(size);
  if (!g_registry_path.Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  g_registry_path.Length = 0;
  g_registry_path.MaximumLength = size;
  RtlCopyUnicodeString(&g_registry_path, registry_path);

  driver->MajorFunction[IRP_MJ_CREATE] = MirrinDispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = MirrinDispatchClose;
  driver->MajorFunction[IRP_MJ_READ] = MirrinDispatchReadWrite;
  driver->MajorFunction[IRP_MJ_WRITE] = MirrinDispatchReadWrite;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = MirrinDispatchDeviceControl;
  driver->MajorFunction[IRP_MJ_CLEANUP] = MirrinDispatchCleanup;
  driver->MajorFunction[IRP_MJ_POWER] = MirrinDispatchPower;
  driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = MirrinDispatchSystemControl;
  driver->MajorFunction[IRP_MJ_PNP] = MirrinDispatchPnp;
  driver->DriverUnload = MirrinUnload;
  driver->DriverExtension->AddDevice = MirrinAddDevice;
  return STATUS_SUCCESS;
}

/* Reads a REG_SZ value of the device's hardware key into a pool copy without its ending
 * zero. */
static NTSTATUS ReadStringValue(HANDLE key, PCWSTR name, PKEY_VALUE_PARTIAL_INFORMATION* out) {
  UNICODE_STRING value_name;
  RtlInitUnicodeString(&value_name, name);
  ULONG needed = 0;
  NTSTATUS status =
      ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, NULL, 0, &needed);
  if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) {
    return NT_SUCCESS(status) ? STATUS_INVALID_PARAMETER : status;
  }
  PKEY_VALUE_PARTIAL_INFORMATION info = MirrinAllocate(needed);
  if (!info) return STATUS_INSUFFICIENT_RESOURCES;
  status = ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, info, needed, &needed);
  if (NT_SUCCESS(status) && info->Type != REG_SZ) status = STATUS_INVALID_PARAMETER;
  if (!NT_SUCCESS(status)) {
    MirrinFree(info);
    return status;
  }
  *out = info;
  return STATUS_SUCCESS;
}

static NTSTATUS GuidFromValue(PKEY_VALUE_PARTIAL_INFORMATION info, GUID* guid) {
  ULONG length = info->DataLength & ~1u;
  const WCHAR* text = (const WCHAR*)info->Data;
  while (length >= sizeof(WCHAR) && text[length / sizeof(WCHAR) - 1] == 0) {
    length -= sizeof(WCHAR);
  }
  if (length > 0xFFFE) return STATUS_INVALID_PARAMETER;
  UNICODE_STRING string;
  string.Buffer = (PWSTR)text;
  string.Length = string.MaximumLength = (USHORT)length;
  return NT_SUCCESS(RtlGUIDFromString(&string, guid)) ? STATUS_SUCCESS
                                                       : STATUS_INVALID_PARAMETER;
}

/* The product's interface GUID from "DeviceGUID", and single-pipe mode from the presence of
 * "VeltoStylePipes". */
static NTSTATUS ReadDeviceSettings(PMIRRIN_EXTENSION ext, GUID* product_interface) {
  HANDLE key;
  NTSTATUS status = IoOpenDeviceRegistryKey(ext->Pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
  if (!NT_SUCCESS(status)) return status;
  PKEY_VALUE_PARTIAL_INFORMATION info = NULL;
  status = ReadStringValue(key, L"DeviceGUID", &info);
  if (NT_SUCCESS(status)) {
    status = GuidFromValue(info, product_interface);
    MirrinFree(info);
  }
  if (NT_SUCCESS(status)) {
    /* Its content is never read: any answer but "no such value" means it exists. */
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"VeltoStylePipes");
    ULONG needed = 0;
    const NTSTATUS probe =
        ZwQueryValueKey(key, &name, KeyValuePartialInformation, NULL, 0, &needed);
    ext->SinglePipeMode = probe != STATUS_OBJECT_NAME_NOT_FOUND;
    if (probe == STATUS_INSUFFICIENT_RESOURCES) status = probe;
  }
  ZwClose(key);
  return status;
}

static ULONG WdmVersionClass(void) {
  if (IoIsWdmVersionAvailable(1, 0x20)) return MIRRIN_WDM_132;
  if (IoIsWdmVersionAvailable(1, 0x10)) return MIRRIN_WDM_116;
  if (IoIsWdmVersionAvailable(1, 0x05)) return MIRRIN_WDM_105;
  return MIRRIN_WDM_100;
}

static void FreeInterfaceNames(PMIRRIN_EXTENSION ext) {
  RtlFreeUnicodeString(&ext->OwnInterfaceName);
  RtlFreeUnicodeString(&ext->ProductInterfaceName);
}

NTSTATUS NTAPI MirrinAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device;
  NTSTATUS status = IoCreateDevice(driver, sizeof(MIRRIN_EXTENSION), NULL, FILE_DEVICE_UNKNOWN,
                                   FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  PMIRRIN_EXTENSION ext = MIRRIN_EXT(device);
  RtlZeroMemory(ext, sizeof(*ext));
  ext->Self = device;
  ext->Pdo = pdo;
  KeInitializeSpinLock(&ext->StateLock);
  KeInitializeSpinLock(&ext->IoCountLock);
  InitializeListHead(&ext->Queue);
  KeInitializeEvent(&ext->RemoveEvent, NotificationEvent, FALSE);
  KeInitializeEvent(&ext->StopEvent, NotificationEvent, TRUE);
  KeInitializeEvent(&ext->WaitWakeEnded, NotificationEvent, FALSE);
  ext->OutstandingIo = 1;
  ext->PnpState = ext->PreviousPnpState = MIRRIN_NOT_STARTED;
  ext->QueueState = MIRRIN_QUEUE_HOLD;
  ext->SystemPower = PowerSystemWorking;
  ext->DevicePower = PowerDeviceD0;
  device->Flags |= DO_DIRECT_IO;

  ext->LowerDevice = IoAttachDeviceToDeviceStack(device, pdo);
  if (!ext->LowerDevice) {
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  if (ext->LowerDevice->Flags & DO_POWER_PAGABLE) device->Flags |= DO_POWER_PAGABLE;

  status = IoRegisterDeviceInterface(pdo, &kOwnInterface, NULL, &ext->OwnInterfaceName);
  GUID product_interface;
  if (NT_SUCCESS(status)) status = ReadDeviceSettings(ext, &product_interface);
  if (NT_SUCCESS(status)) {
    status = IoRegisterDeviceInterface(pdo, &product_interface, NULL,
                                       &ext->ProductInterfaceName);
  }
  if (!NT_SUCCESS(status)) {
    FreeInterfaceNames(ext);
    IoDetachDevice(ext->LowerDevice);
    IoDeleteDevice(device);
    return status;
  }
  ext->WdmVersion = WdmVersionClass();
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
