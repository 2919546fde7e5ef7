/* The kernel substitute's declarations: what the driver's sources use of the kernel and the
 * HAL, and the USB bus's requests, laid out as the 64-bit kernel lays them out, so that the
 * driver compiles unchanged into a user-mode test program. Written from the documented
 * contracts; the harness implements them in kernel_substitute.cpp and fake_usb_bus.cpp. */
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#define NTAPI __stdcall
#define IN
#define OUT
#define OPTIONAL

typedef unsigned char UCHAR, *PUCHAR, BOOLEAN, KIRQL, *PKIRQL;
typedef char CHAR, CCHAR, *PCHAR;
typedef short CSHORT;
typedef unsigned short USHORT;
typedef wchar_t WCHAR, *PWSTR;
typedef const wchar_t* PCWSTR;
typedef int32_t LONG;
typedef uint32_t ULONG, *PULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR, SIZE_T, KSPIN_LOCK, *PKSPIN_LOCK;
typedef void VOID, *PVOID, *HANDLE, **PHANDLE;
typedef LONG NTSTATUS;
typedef CCHAR KPROCESSOR_MODE;
typedef ULONG ACCESS_MASK;

#define TRUE 1
#define FALSE 0
#define NT_SUCCESS(status) ((NTSTATUS)(status) >= 0)
#define CONTAINING_RECORD(address, type, field) \
  ((type*)((PCHAR)(address) - offsetof(type, field)))

#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_CONTINUE_COMPLETION STATUS_SUCCESS
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102)
#define STATUS_PENDING ((NTSTATUS)0x00000103)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005)
#define STATUS_DEVICE_BUSY ((NTSTATUS)0x80000011)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001)
#define STATUS_ACCESS_VIOLATION ((NTSTATUS)0xC0000005)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000E)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010)
#define STATUS_MORE_PROCESSING_REQUIRED ((NTSTATUS)0xC0000016)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034)
#define STATUS_DELETE_PENDING ((NTSTATUS)0xC0000056)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009A)
#define STATUS_DEVICE_DATA_ERROR ((NTSTATUS)0xC000009C)
#define STATUS_DEVICE_NOT_CONNECTED ((NTSTATUS)0xC000009D)
#define STATUS_IO_TIMEOUT ((NTSTATUS)0xC00000B5)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BB)
#define STATUS_CANCELLED ((NTSTATUS)0xC0000120)
#define STATUS_INVALID_DEVICE_STATE ((NTSTATUS)0xC0000184)

#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define KernelMode 0
#define UserMode 1
#define IO_NO_INCREMENT 0

/* ---- lists, strings, numbers ---- */

typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY* Flink;
  struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

static inline void InitializeListHead(PLIST_ENTRY head) { head->Flink = head->Blink = head; }
static inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) { return head->Flink == head; }
static inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  PLIST_ENTRY next = entry->Flink, prev = entry->Blink;
  prev->Flink = next;
  next->Blink = prev;
  return next == prev;
}
static inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY last = head->Blink;
  entry->Flink = head;
  entry->Blink = last;
  last->Flink = entry;
  head->Blink = entry;
}

typedef struct _UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

typedef union _LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

typedef struct _IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

#define RtlZeroMemory(destination, length) memset((destination), 0, (length))
#define RtlCopyMemory(destination, source, length) memcpy((destination), (source), (length))

#include "mirrin_interlocked.h" /* the driver's own, as in its real build */

/* ---- dispatcher objects, spin locks, IRQL ---- */

typedef struct _DISPATCHER_HEADER {
  UCHAR Type; /* 0 notification event, 1 synchronization event */
  UCHAR Absolute;
  UCHAR Size;
  UCHAR Inserted;
  volatile LONG SignalState;
  LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER;

typedef struct _KEVENT {
  DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT;

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _KWAIT_REASON { Executive = 0 } KWAIT_REASON;

void NTAPI KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG NTAPI KeSetEvent(PKEVENT event, LONG increment, BOOLEAN wait);
void NTAPI KeClearEvent(PKEVENT event);
NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode,
                                     BOOLEAN alertable, PLARGE_INTEGER timeout);
void NTAPI KeInitializeSpinLock(PKSPIN_LOCK lock);
void NTAPI KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL old_irql);
void NTAPI KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL new_irql);
KIRQL NTAPI KeGetCurrentIrql(void);

/* ---- pool ---- */

typedef enum _POOL_TYPE { NonPagedPool = 0, PagedPool = 1 } POOL_TYPE;
PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T size, ULONG tag);
void NTAPI ExFreePool(PVOID block);

/* ---- memory descriptor lists ---- */

typedef struct _MDL {
  struct _MDL* Next;
  CSHORT Size;
  CSHORT MdlFlags;
  PVOID Process;
  PVOID MappedSystemVa;
  PVOID StartVa;
  ULONG ByteCount;
  ULONG ByteOffset;
} MDL, *PMDL;

#define MDL_MAPPED_TO_SYSTEM_VA 0x0001
#define MDL_PAGES_LOCKED 0x0002
#define MDL_PARTIAL 0x0010
#define MDL_PARTIAL_HAS_BEEN_MAPPED 0x0020

typedef enum _LOCK_OPERATION { IoReadAccess, IoWriteAccess, IoModifyAccess } LOCK_OPERATION;

#define MmGetMdlVirtualAddress(mdl) ((PVOID)((PCHAR)(mdl)->StartVa + (mdl)->ByteOffset))
#define MmGetMdlByteCount(mdl) ((mdl)->ByteCount)
/* A partial MDL that was never mapped is ready for reuse as it is. */
#define MmPrepareMdlForReuse(mdl) MmSubstitutePrepareMdlForReuse(mdl)
void MmSubstitutePrepareMdlForReuse(PMDL mdl);

/* ---- driver, device and file objects, requests ---- */

struct _IRP;
struct _DEVICE_OBJECT;
struct _DRIVER_OBJECT;

typedef NTSTATUS NTAPI DRIVER_DISPATCH(struct _DEVICE_OBJECT* device, struct _IRP* irp);
typedef DRIVER_DISPATCH* PDRIVER_DISPATCH;
typedef NTSTATUS NTAPI DRIVER_ADD_DEVICE(struct _DRIVER_OBJECT* driver,
                                         struct _DEVICE_OBJECT* pdo);
typedef DRIVER_ADD_DEVICE* PDRIVER_ADD_DEVICE;
typedef void NTAPI DRIVER_UNLOAD(struct _DRIVER_OBJECT* driver);
typedef DRIVER_UNLOAD* PDRIVER_UNLOAD;
typedef void NTAPI DRIVER_CANCEL(struct _DEVICE_OBJECT* device, struct _IRP* irp);
typedef DRIVER_CANCEL* PDRIVER_CANCEL;
typedef NTSTATUS NTAPI IO_COMPLETION_ROUTINE(struct _DEVICE_OBJECT* device, struct _IRP* irp,
                                             PVOID context);
typedef IO_COMPLETION_ROUTINE* PIO_COMPLETION_ROUTINE;

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_READ 0x03
#define IRP_MJ_WRITE 0x04
#define IRP_MJ_DEVICE_CONTROL 0x0E
#define IRP_MJ_INTERNAL_DEVICE_CONTROL 0x0F
#define IRP_MJ_CLEANUP 0x12
#define IRP_MJ_POWER 0x16
#define IRP_MJ_SYSTEM_CONTROL 0x17
#define IRP_MJ_PNP 0x1B
#define IRP_MJ_MAXIMUM_FUNCTION 0x1B

#define IRP_MN_START_DEVICE 0x00
#define IRP_MN_QUERY_REMOVE_DEVICE 0x01
#define IRP_MN_REMOVE_DEVICE 0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE 0x03
#define IRP_MN_STOP_DEVICE 0x04
#define IRP_MN_QUERY_STOP_DEVICE 0x05
#define IRP_MN_CANCEL_STOP_DEVICE 0x06
#define IRP_MN_QUERY_CAPABILITIES 0x09
#define IRP_MN_SURPRISE_REMOVAL 0x17

#define IRP_MN_WAIT_WAKE 0x00
#define IRP_MN_POWER_SEQUENCE 0x01
#define IRP_MN_SET_POWER 0x02
#define IRP_MN_QUERY_POWER 0x03

#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

#define DO_BUFFERED_IO 0x00000004
#define DO_DIRECT_IO 0x00000010
#define DO_DEVICE_INITIALIZING 0x00000080
#define DO_POWER_PAGABLE 0x00002000

#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_AUTOGENERATED_DEVICE_NAME 0x00000080

typedef struct _DRIVER_EXTENSION {
  struct _DRIVER_OBJECT* DriverObject;
  PDRIVER_ADD_DEVICE AddDevice;
  ULONG Count;
  UNICODE_STRING ServiceKeyName;
} DRIVER_EXTENSION, *PDRIVER_EXTENSION;

typedef struct _DRIVER_OBJECT {
  CSHORT Type;
  CSHORT Size;
  struct _DEVICE_OBJECT* DeviceObject;
  ULONG Flags;
  PVOID DriverStart;
  ULONG DriverSize;
  PVOID DriverSection;
  PDRIVER_EXTENSION DriverExtension;
  UNICODE_STRING DriverName;
  PUNICODE_STRING HardwareDatabase;
  PVOID FastIoDispatch;
  PVOID DriverInit;
  PVOID DriverStartIo;
  PDRIVER_UNLOAD DriverUnload;
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

typedef struct __attribute__((aligned(16))) _DEVICE_OBJECT {
  CSHORT Type;
  USHORT Size;
  LONG ReferenceCount;
  struct _DRIVER_OBJECT* DriverObject;
  struct _DEVICE_OBJECT* NextDevice;
  struct _DEVICE_OBJECT* AttachedDevice;
  struct _IRP* CurrentIrp;
  PVOID Timer;
  ULONG Flags;
  ULONG Characteristics;
  PVOID Vpb;
  PVOID DeviceExtension;
  ULONG DeviceType;
  CCHAR StackSize;
  UCHAR Queue[0x48] __attribute__((aligned(8)));
  ULONG AlignmentRequirement;
  UCHAR DeviceQueue[0x28] __attribute__((aligned(8)));
  UCHAR Dpc[0x40] __attribute__((aligned(8)));
  ULONG ActiveThreadCount;
  PVOID SecurityDescriptor;
  KEVENT DeviceLock;
  USHORT SectorSize;
  USHORT Spare1;
  PVOID DeviceObjectExtension;
  PVOID Reserved;
} DEVICE_OBJECT, *PDEVICE_OBJECT;

typedef struct _FILE_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;
  PVOID Vpb;
  PVOID FsContext;
  PVOID FsContext2;
  PVOID SectionObjectPointer;
  PVOID PrivateCacheMap;
  NTSTATUS FinalStatus;
  struct _FILE_OBJECT* RelatedFileObject;
  BOOLEAN LockOperation;
  BOOLEAN DeletePending;
  BOOLEAN ReadAccess;
  BOOLEAN WriteAccess;
  BOOLEAN DeleteAccess;
  BOOLEAN SharedRead;
  BOOLEAN SharedWrite;
  BOOLEAN SharedDelete;
  ULONG Flags;
  UNICODE_STRING FileName;
  LARGE_INTEGER CurrentByteOffset;
  UCHAR Rest[0x68];
} FILE_OBJECT, *PFILE_OBJECT;

/* ---- power ---- */

typedef enum _SYSTEM_POWER_STATE {
  PowerSystemUnspecified = 0,
  PowerSystemWorking,
  PowerSystemSleeping1,
  PowerSystemSleeping2,
  PowerSystemSleeping3,
  PowerSystemHibernate,
  PowerSystemShutdown,
  PowerSystemMaximum
} SYSTEM_POWER_STATE;

typedef enum _DEVICE_POWER_STATE {
  PowerDeviceUnspecified = 0,
  PowerDeviceD0,
  PowerDeviceD1,
  PowerDeviceD2,
  PowerDeviceD3,
  PowerDeviceMaximum
} DEVICE_POWER_STATE;

typedef enum _POWER_STATE_TYPE { SystemPowerState = 0, DevicePowerState } POWER_STATE_TYPE;

typedef union _POWER_STATE {
  SYSTEM_POWER_STATE SystemState;
  DEVICE_POWER_STATE DeviceState;
} POWER_STATE;

typedef struct _DEVICE_CAPABILITIES {
  USHORT Size;
  USHORT Version;
  ULONG DeviceD1 : 1;
  ULONG DeviceD2 : 1;
  ULONG LockSupported : 1;
  ULONG EjectSupported : 1;
  ULONG Removable : 1;
  ULONG DockDevice : 1;
  ULONG UniqueID : 1;
  ULONG SilentInstall : 1;
  ULONG RawDeviceOK : 1;
  ULONG SurpriseRemovalOK : 1;
  ULONG WakeFromD0 : 1;
  ULONG WakeFromD1 : 1;
  ULONG WakeFromD2 : 1;
  ULONG WakeFromD3 : 1;
  ULONG HardwareDisabled : 1;
  ULONG NonDynamic : 1;
  ULONG WarmEjectSupported : 1;
  ULONG NoDisplayInUI : 1;
  ULONG Reserved1 : 1;
  ULONG WakeFromInterrupt : 1;
  ULONG SecureDevice : 1;
  ULONG ChildOfVgaEnabledBridge : 1;
  ULONG DecodeIoOnBoot : 1;
  ULONG Reserved : 9;
  ULONG Address;
  ULONG UINumber;
  DEVICE_POWER_STATE DeviceState[PowerSystemMaximum];
  SYSTEM_POWER_STATE SystemWake;
  DEVICE_POWER_STATE DeviceWake;
  ULONG D1Latency;
  ULONG D2Latency;
  ULONG D3Latency;
} DEVICE_CAPABILITIES, *PDEVICE_CAPABILITIES;

/* ---- requests ---- */

typedef struct _IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      ULONG Length;
      ULONG POINTER_PAD0;
      ULONG Key;
      ULONG POINTER_PAD1;
      LARGE_INTEGER ByteOffset;
    } Read;
    struct {
      ULONG Length;
      ULONG POINTER_PAD0;
      ULONG Key;
      ULONG POINTER_PAD1;
      LARGE_INTEGER ByteOffset;
    } Write;
    struct {
      ULONG OutputBufferLength;
      ULONG POINTER_PAD0;
      ULONG InputBufferLength;
      ULONG POINTER_PAD1;
      ULONG IoControlCode;
      ULONG POINTER_PAD2;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
    struct {
      PDEVICE_CAPABILITIES Capabilities;
    } DeviceCapabilities;
    struct {
      SYSTEM_POWER_STATE PowerState;
    } WaitWake;
    struct {
      ULONG SystemContext;
      ULONG POINTER_PAD0;
      POWER_STATE_TYPE Type;
      ULONG POINTER_PAD1;
      POWER_STATE State;
      ULONG POINTER_PAD2;
      ULONG ShutdownType;
      ULONG POINTER_PAD3;
    } Power;
    struct {
      PVOID Argument1;
      PVOID Argument2;
      PVOID Argument3;
      PVOID Argument4;
    } Others;
  } Parameters;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PIO_COMPLETION_ROUTINE CompletionRoutine;
  PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

typedef struct _IRP {
  CSHORT Type;
  USHORT Size;
  PMDL MdlAddress;
  ULONG Flags;
  union {
    struct _IRP* MasterIrp;
    LONG IrpCount;
    PVOID SystemBuffer;
  } AssociatedIrp;
  LIST_ENTRY ThreadListEntry;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CHAR StackCount;
  CHAR CurrentLocation;
  BOOLEAN Cancel;
  KIRQL CancelIrql;
  CCHAR ApcEnvironment;
  UCHAR AllocationFlags;
  PIO_STATUS_BLOCK UserIosb;
  PKEVENT UserEvent;
  union {
    struct {
      PVOID UserApcRoutine;
      PVOID UserApcContext;
    } AsynchronousParameters;
    LARGE_INTEGER AllocationSize;
  } Overlay;
  PDRIVER_CANCEL volatile CancelRoutine;
  PVOID UserBuffer;
  union {
    struct {
      PVOID DriverContext[4];
      PVOID Thread;
      PCHAR AuxiliaryBuffer;
      LIST_ENTRY ListEntry;
      struct _IO_STACK_LOCATION* CurrentStackLocation;
      PFILE_OBJECT OriginalFileObject;
    } Overlay;
    UCHAR Apc[0x58];
    PVOID CompletionKey;
  } Tail;
} IRP, *PIRP;

static inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation;
}
static inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation - 1;
}
static inline void IoSkipCurrentIrpStackLocation(PIRP irp) {
  irp->CurrentLocation++;
  irp->Tail.Overlay.CurrentStackLocation++;
}
static inline void IoSetNextIrpStackLocation(PIRP irp) {
  irp->CurrentLocation--;
  irp->Tail.Overlay.CurrentStackLocation--;
}
static inline void IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}
static inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine,
                                          PVOID context, BOOLEAN on_success, BOOLEAN on_error,
                                          BOOLEAN on_cancel) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->CompletionRoutine = routine;
  next->Context = context;
  next->Control = 0;
  if (on_success) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (on_error) next->Control |= SL_INVOKE_ON_ERROR;
  if (on_cancel) next->Control |= SL_INVOKE_ON_CANCEL;
}
static inline void IoMarkIrpPending(PIRP irp) {
  IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
}
static inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine) {
  return (PDRIVER_CANCEL)InterlockedExchangePointer((PVOID volatile*)&irp->CancelRoutine,
                                                    (PVOID)routine);
}

NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT driver, ULONG extension_size,
                              PUNICODE_STRING name, ULONG type, ULONG characteristics,
                              BOOLEAN exclusive, PDEVICE_OBJECT* device);
void NTAPI IoDeleteDevice(PDEVICE_OBJECT device);
PDEVICE_OBJECT NTAPI IoAttachDeviceToDeviceStack(PDEVICE_OBJECT source, PDEVICE_OBJECT target);
void NTAPI IoDetachDevice(PDEVICE_OBJECT target);
PIRP NTAPI IoAllocateIrp(CCHAR stack_size, BOOLEAN charge_quota);
void NTAPI IoFreeIrp(PIRP irp);
NTSTATUS NTAPI IoCallDriver(PDEVICE_OBJECT device, PIRP irp);
void NTAPI IoCompleteRequest(PIRP irp, CCHAR boost);
BOOLEAN NTAPI IoCancelIrp(PIRP irp);
void NTAPI IoAcquireCancelSpinLock(PKIRQL irql);
void NTAPI IoReleaseCancelSpinLock(KIRQL irql);
BOOLEAN NTAPI IoIs32bitProcess(PIRP irp);
BOOLEAN NTAPI IoIsWdmVersionAvailable(UCHAR major, UCHAR minor);
PMDL NTAPI IoAllocateMdl(PVOID address, ULONG length, BOOLEAN secondary, BOOLEAN charge_quota,
                         PIRP irp);
void NTAPI IoFreeMdl(PMDL mdl);
void NTAPI IoBuildPartialMdl(PMDL source, PMDL target, PVOID address, ULONG length);
void NTAPI MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE mode, LOCK_OPERATION operation);
void NTAPI MmUnlockPages(PMDL mdl);

/* ---- executive work items, object references ---- */

typedef enum _WORK_QUEUE_TYPE { CriticalWorkQueue, DelayedWorkQueue } WORK_QUEUE_TYPE;
typedef void NTAPI WORKER_THREAD_ROUTINE(PVOID parameter);
typedef WORKER_THREAD_ROUTINE* PWORKER_THREAD_ROUTINE;
typedef struct _WORK_QUEUE_ITEM {
  LIST_ENTRY List;
  PWORKER_THREAD_ROUTINE WorkerRoutine;
  PVOID Parameter;
} WORK_QUEUE_ITEM, *PWORK_QUEUE_ITEM;
#define ExInitializeWorkItem(item, routine, parameter) \
  ((item)->WorkerRoutine = (routine), (item)->Parameter = (parameter), (item)->List.Flink = NULL)
void NTAPI ExQueueWorkItem(PWORK_QUEUE_ITEM item, WORK_QUEUE_TYPE queue);
/* Only device objects here. */
void NTAPI ObReferenceObject(PVOID object);
void NTAPI ObDereferenceObject(PVOID object);

/* ---- power manager ---- */

typedef void NTAPI REQUEST_POWER_COMPLETE(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                          PVOID context, PIO_STATUS_BLOCK io_status);
typedef REQUEST_POWER_COMPLETE* PREQUEST_POWER_COMPLETE;
void NTAPI PoStartNextPowerIrp(PIRP irp);
NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS NTAPI PoRequestPowerIrp(PDEVICE_OBJECT device, UCHAR minor, POWER_STATE state,
                                 PREQUEST_POWER_COMPLETE completion, PVOID context,
                                 PIRP* irp);
POWER_STATE NTAPI PoSetPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type,
                                  POWER_STATE state);

/* ---- device interfaces, registry, run-time library ---- */

#define PLUGPLAY_REGKEY_DEVICE 1
#define KEY_READ 0x20019
#define REG_SZ 1
typedef enum _KEY_VALUE_INFORMATION_CLASS {
  KeyValueBasicInformation,
  KeyValueFullInformation,
  KeyValuePartialInformation
} KEY_VALUE_INFORMATION_CLASS;
typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;

NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT pdo, const GUID* interface_class,
                                         PUNICODE_STRING reference, PUNICODE_STRING link);
NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING link, BOOLEAN enable);
NTSTATUS NTAPI IoOpenDeviceRegistryKey(PDEVICE_OBJECT device, ULONG which, ACCESS_MASK access,
                                       PHANDLE key);
NTSTATUS NTAPI ZwQueryValueKey(HANDLE key, PUNICODE_STRING name,
                               KEY_VALUE_INFORMATION_CLASS kind, PVOID information,
                               ULONG length, PULONG result_length);
NTSTATUS NTAPI ZwClose(HANDLE handle);
void NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
void NTAPI RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
void NTAPI RtlFreeUnicodeString(PUNICODE_STRING string);
NTSTATUS NTAPI RtlGUIDFromString(PCUNICODE_STRING string, GUID* guid);

/* ---- USB ---- */

#pragma pack(push, 1)
typedef struct _USB_DEVICE_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdUSB;
  UCHAR bDeviceClass;
  UCHAR bDeviceSubClass;
  UCHAR bDeviceProtocol;
  UCHAR bMaxPacketSize0;
  USHORT idVendor;
  USHORT idProduct;
  USHORT bcdDevice;
  UCHAR iManufacturer;
  UCHAR iProduct;
  UCHAR iSerialNumber;
  UCHAR bNumConfigurations;
} USB_DEVICE_DESCRIPTOR, *PUSB_DEVICE_DESCRIPTOR;

typedef struct _USB_CONFIGURATION_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT wTotalLength;
  UCHAR bNumInterfaces;
  UCHAR bConfigurationValue;
  UCHAR iConfiguration;
  UCHAR bmAttributes;
  UCHAR MaxPower;
} USB_CONFIGURATION_DESCRIPTOR, *PUSB_CONFIGURATION_DESCRIPTOR;

typedef struct _USB_INTERFACE_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bInterfaceNumber;
  UCHAR bAlternateSetting;
  UCHAR bNumEndpoints;
  UCHAR bInterfaceClass;
  UCHAR bInterfaceSubClass;
  UCHAR bInterfaceProtocol;
  UCHAR iInterface;
} USB_INTERFACE_DESCRIPTOR, *PUSB_INTERFACE_DESCRIPTOR;
#pragma pack(pop)

#define USB_DEVICE_DESCRIPTOR_TYPE 0x01
#define USB_CONFIGURATION_DESCRIPTOR_TYPE 0x02
#define USB_INTERFACE_DESCRIPTOR_TYPE 0x04
#define USB_ENDPOINT_DESCRIPTOR_TYPE 0x05

typedef PVOID USBD_PIPE_HANDLE, USBD_CONFIGURATION_HANDLE, USBD_INTERFACE_HANDLE;
typedef LONG USBD_STATUS;
typedef enum _USBD_PIPE_TYPE {
  UsbdPipeTypeControl,
  UsbdPipeTypeIsochronous,
  UsbdPipeTypeBulk,
  UsbdPipeTypeInterrupt
} USBD_PIPE_TYPE;

typedef struct _USBD_PIPE_INFORMATION {
  USHORT MaximumPacketSize;
  UCHAR EndpointAddress;
  UCHAR Interval;
  USBD_PIPE_TYPE PipeType;
  USBD_PIPE_HANDLE PipeHandle;
  ULONG MaximumTransferSize;
  ULONG PipeFlags;
} USBD_PIPE_INFORMATION, *PUSBD_PIPE_INFORMATION;

typedef struct _USBD_INTERFACE_INFORMATION {
  USHORT Length;
  UCHAR InterfaceNumber;
  UCHAR AlternateSetting;
  UCHAR Class;
  UCHAR SubClass;
  UCHAR Protocol;
  UCHAR Reserved;
  USBD_INTERFACE_HANDLE InterfaceHandle;
  ULONG NumberOfPipes;
  USBD_PIPE_INFORMATION Pipes[1];
} USBD_INTERFACE_INFORMATION, *PUSBD_INTERFACE_INFORMATION;

#define URB_FUNCTION_SELECT_CONFIGURATION 0x0000
#define URB_FUNCTION_ABORT_PIPE 0x0002
#define URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER 0x0009
#define URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE 0x000B
#define URB_FUNCTION_VENDOR_DEVICE 0x0017
#define URB_FUNCTION_RESET_PIPE 0x001E

#define USBD_TRANSFER_DIRECTION_IN 0x00000001
#define USBD_SHORT_TRANSFER_OK 0x00000002

#define IOCTL_INTERNAL_USB_SUBMIT_URB 0x00220003
#define IOCTL_INTERNAL_USB_RESET_PORT 0x00220007
#define IOCTL_INTERNAL_USB_GET_PORT_STATUS 0x00220013
#define USBD_PORT_ENABLED 0x00000001
#define USBD_PORT_CONNECTED 0x00000002

struct _URB;

struct _URB_HEADER {
  USHORT Length;
  USHORT Function;
  USBD_STATUS Status;
  PVOID UsbdDeviceHandle;
  ULONG UsbdFlags;
};

struct _URB_HCD_AREA {
  PVOID Reserved8[8];
};

struct _URB_SELECT_CONFIGURATION {
  struct _URB_HEADER Hdr;
  PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor;
  USBD_CONFIGURATION_HANDLE ConfigurationHandle;
  USBD_INTERFACE_INFORMATION Interface;
};

struct _URB_PIPE_REQUEST {
  struct _URB_HEADER Hdr;
  USBD_PIPE_HANDLE PipeHandle;
  ULONG Reserved;
};

struct _URB_BULK_OR_INTERRUPT_TRANSFER {
  struct _URB_HEADER Hdr;
  USBD_PIPE_HANDLE PipeHandle;
  ULONG TransferFlags;
  ULONG TransferBufferLength;
  PVOID TransferBuffer;
  PMDL TransferBufferMDL;
  struct _URB* UrbLink;
  struct _URB_HCD_AREA hca;
};

struct _URB_CONTROL_DESCRIPTOR_REQUEST {
  struct _URB_HEADER Hdr;
  PVOID Reserved;
  ULONG Reserved0;
  ULONG TransferBufferLength;
  PVOID TransferBuffer;
  PMDL TransferBufferMDL;
  struct _URB* UrbLink;
  struct _URB_HCD_AREA hca;
  USHORT Reserved1;
  UCHAR Index;
  UCHAR DescriptorType;
  USHORT LanguageId;
  USHORT Reserved2;
};

struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST {
  struct _URB_HEADER Hdr;
  PVOID Reserved;
  ULONG TransferFlags;
  ULONG TransferBufferLength;
  PVOID TransferBuffer;
  PMDL TransferBufferMDL;
  struct _URB* UrbLink;
  struct _URB_HCD_AREA hca;
  UCHAR RequestTypeReservedBits;
  UCHAR Request;
  USHORT Value;
  USHORT Index;
  USHORT Reserved1;
};

typedef struct _URB {
  union {
    struct _URB_HEADER UrbHeader;
    struct _URB_SELECT_CONFIGURATION UrbSelectConfiguration;
    struct _URB_PIPE_REQUEST UrbPipeRequest;
    struct _URB_BULK_OR_INTERRUPT_TRANSFER UrbBulkOrInterruptTransfer;
    struct _URB_CONTROL_DESCRIPTOR_REQUEST UrbControlDescriptorRequest;
    struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST UrbControlVendorClassRequest;
  };
} URB, *PURB;

static inline void UsbBuildInterruptOrBulkTransferRequest(PURB urb, USHORT length,
                                                          USBD_PIPE_HANDLE pipe, PVOID buffer,
                                                          PMDL mdl, ULONG buffer_length,
                                                          ULONG flags, PURB link) {
  urb->UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
  urb->UrbHeader.Length = length;
  urb->UrbBulkOrInterruptTransfer.PipeHandle = pipe;
  urb->UrbBulkOrInterruptTransfer.TransferFlags = flags;
  urb->UrbBulkOrInterruptTransfer.TransferBufferLength = buffer_length;
  urb->UrbBulkOrInterruptTransfer.TransferBufferMDL = mdl;
  urb->UrbBulkOrInterruptTransfer.TransferBuffer = buffer;
  urb->UrbBulkOrInterruptTransfer.UrbLink = link;
}

static inline void UsbBuildGetDescriptorRequest(PURB urb, USHORT length, UCHAR type,
                                                UCHAR index, USHORT language, PVOID buffer,
                                                PMDL mdl, ULONG buffer_length, PURB link) {
  urb->UrbHeader.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
  urb->UrbHeader.Length = length;
  urb->UrbControlDescriptorRequest.TransferBufferLength = buffer_length;
  urb->UrbControlDescriptorRequest.TransferBufferMDL = mdl;
  urb->UrbControlDescriptorRequest.TransferBuffer = buffer;
  urb->UrbControlDescriptorRequest.DescriptorType = type;
  urb->UrbControlDescriptorRequest.Index = index;
  urb->UrbControlDescriptorRequest.LanguageId = language;
  urb->UrbControlDescriptorRequest.UrbLink = link;
}

static inline void UsbBuildVendorRequest(PURB urb, USHORT function, USHORT length, ULONG flags,
                                         UCHAR reserved_bits, UCHAR request, USHORT value,
                                         USHORT index, PVOID buffer, PMDL mdl,
                                         ULONG buffer_length, PURB link) {
  urb->UrbHeader.Function = function;
  urb->UrbHeader.Length = length;
  urb->UrbControlVendorClassRequest.TransferBufferLength = buffer_length;
  urb->UrbControlVendorClassRequest.TransferBufferMDL = mdl;
  urb->UrbControlVendorClassRequest.TransferBuffer = buffer;
  urb->UrbControlVendorClassRequest.RequestTypeReservedBits = reserved_bits;
  urb->UrbControlVendorClassRequest.Request = request;
  urb->UrbControlVendorClassRequest.Value = value;
  urb->UrbControlVendorClassRequest.Index = index;
  urb->UrbControlVendorClassRequest.TransferFlags = flags;
  urb->UrbControlVendorClassRequest.UrbLink = link;
}

static inline void UsbBuildSelectConfigurationRequest(PURB urb, USHORT length,
                                                      PUSB_CONFIGURATION_DESCRIPTOR config) {
  urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
  urb->UrbHeader.Length = length;
  urb->UrbSelectConfiguration.ConfigurationDescriptor = config;
}


/* The 64-bit kernel asks which kind of process sent a request. */
#define MIRRIN_CALLER_IS_32BIT(irp) IoIs32bitProcess(irp)

#ifdef __cplusplus
}
#endif
