/* The driver's device extension and the routines its files share. */
#pragma once

#include "mirrin_kernel.h"
#include "guarded_call.h"
#include "mirrin_ioctl.h"

/* Shows as "PAud" in pool listings. */
#define MIRRIN_POOL_TAG 0x64754150u

/* Bulk transfers go to the bus in stages of at most this many bytes. */
#define MIRRIN_STAGE_SIZE 0x40000u

typedef enum {
  MIRRIN_NOT_STARTED = 0,
  MIRRIN_STOPPED = 1,
  MIRRIN_STARTED = 2,
  MIRRIN_STOP_PENDING = 3,
  MIRRIN_REMOVE_PENDING = 4,
  MIRRIN_SURPRISE_REMOVED = 5,
  MIRRIN_REMOVED = 6
} MIRRIN_PNP_STATE;

typedef enum {
  MIRRIN_QUEUE_HOLD = 0, /* requests wait in the queue */
  MIRRIN_QUEUE_PASS = 1, /* requests are served */
  MIRRIN_QUEUE_FAIL = 2  /* requests fail with STATUS_DELETE_PENDING */
} MIRRIN_QUEUE_STATE;

typedef struct {
  volatile LONG Open; /* one handle a pipe, taken by compare-exchange */
  volatile LONG OpenCount;
} MIRRIN_PIPE;

/* WDM version classes. */
#define MIRRIN_WDM_132 0u
#define MIRRIN_WDM_116 1u
#define MIRRIN_WDM_105 2u
#define MIRRIN_WDM_100 3u

typedef struct {
  volatile LONG DeviceOpen; /* a handle opened without a pipe name */
  PDEVICE_OBJECT Self;
  PDEVICE_OBJECT Pdo;
  PDEVICE_OBJECT LowerDevice;
  UNICODE_STRING OwnInterfaceName;
  UNICODE_STRING ProductInterfaceName;

  /* Pool copies made at start; null while stopped. */
  PUSB_DEVICE_DESCRIPTOR DeviceDescriptor;
  PUSB_CONFIGURATION_DESCRIPTOR ConfigDescriptor;
  ULONG ConfigDescriptorLength;
  PUSBD_INTERFACE_INFORMATION InterfaceInfo;
  /* Open flags outlive a stop: a handle kept open across it still holds its pipe. */
  MIRRIN_PIPE Pipes[MIRRIN_MAX_NAMED_PIPES];

  /* State, previous state and queue state change under StateLock. */
  KSPIN_LOCK StateLock;
  MIRRIN_PNP_STATE PnpState;
  MIRRIN_PNP_STATE PreviousPnpState;
  MIRRIN_QUEUE_STATE QueueState;
  LIST_ENTRY Queue; /* held requests, linked through Tail.Overlay.ListEntry */

  /* Outstanding I/O: 1 while the device exists, plus one for every request being handled. */
  KSPIN_LOCK IoCountLock;
  LONG OutstandingIo;
  KEVENT RemoveEvent; /* set when the count reaches 0 */
  KEVENT StopEvent;   /* set when the count is back at 1 */

  volatile LONG OpenHandles;
  ULONG WdmVersion;
  BOOLEAN SinglePipeMode; /* reads on the first pipe, writes on the second */

  DEVICE_CAPABILITIES Capabilities;
  BOOLEAN RemoteWakeup;
  PIRP volatile WaitWakeIrp;
  volatile LONG WaitWakeArmed;
  volatile LONG WaitWakeCancelled;
  /* Wait-wake requests asked of the power manager and not yet ended, and whether removal
   * waits for them to end (both under StateLock); the event is set for it when they have. */
  LONG WaitWakeRequests;
  BOOLEAN WaitWakeAwaited;
  KEVENT WaitWakeEnded;
  SYSTEM_POWER_STATE SystemPower;
  DEVICE_POWER_STATE DevicePower;
} MIRRIN_EXTENSION, *PMIRRIN_EXTENSION;

#define MIRRIN_EXT(device) ((PMIRRIN_EXTENSION)(device)->DeviceExtension)

/* driver_entry.c */
DRIVER_ADD_DEVICE MirrinAddDevice;

/* io_count.c: every request and every submission to the bus is counted. */
void MirrinIoIncrement(PMIRRIN_EXTENSION ext);
void MirrinIoDecrement(PMIRRIN_EXTENSION ext);
/* Waits until only the device's own count is left. The caller holds no count of its own. */
void MirrinWaitForIdle(PMIRRIN_EXTENSION ext);
NTSTATUS MirrinCompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information);

/* queue.c */
DRIVER_DISPATCH MirrinDispatchCleanup;
/* Serves, fails or completes as cancelled every held request, as the queue state says. Runs
 * at PASSIVE_LEVEL; from higher levels use MirrinProcessQueueLater. */
void MirrinProcessQueue(PMIRRIN_EXTENSION ext);
void MirrinProcessQueueLater(PMIRRIN_EXTENSION ext);
/* Whether a read or write is served now (TRUE) or was held or failed as the queue state
 * says (FALSE; the dispatch routine returns *result). The caller's count on a held request
 * must be dropped after. */
BOOLEAN MirrinAdmitRequest(PMIRRIN_EXTENSION ext, PIRP irp, NTSTATUS* result);
void MirrinSetQueueState(PMIRRIN_EXTENSION ext, MIRRIN_QUEUE_STATE state);
/* Sets the queue state only while the device is started, in one step with the check, so that
 * a surprise removal meanwhile keeps its failing queue. TRUE when it was set. */
BOOLEAN MirrinSetQueueStateIfStarted(PMIRRIN_EXTENSION ext, MIRRIN_QUEUE_STATE state);
/* The device is going away: new requests fail with STATUS_DELETE_PENDING. */
BOOLEAN MirrinQueueFailing(PMIRRIN_EXTENSION ext);

/* work_item.c: runs routine(ext, context) on a worker thread; FALSE when no memory is left, and
 * then nothing is queued. */
typedef void (*MIRRIN_WORK_ROUTINE)(PMIRRIN_EXTENSION ext, void* context);
BOOLEAN MirrinQueueWork(PMIRRIN_EXTENSION ext, MIRRIN_WORK_ROUTINE routine, void* context);

/* usb_requests.c: synchronous requests to the bus driver, at PASSIVE_LEVEL. */
/* timeout_ms 0 waits without end; a request that runs out of time gives STATUS_IO_TIMEOUT. */
NTSTATUS MirrinSubmitUrb(PMIRRIN_EXTENSION ext, PURB urb, ULONG timeout_ms);
NTSTATUS MirrinResetPipe(PMIRRIN_EXTENSION ext, USBD_PIPE_HANDLE pipe);
NTSTATUS MirrinCheckPort(PMIRRIN_EXTENSION ext);
/* Aborts the transfers of every pipe and closes the open flags of those it aborted. */
void MirrinAbortPipes(PMIRRIN_EXTENSION ext);
/* Aborts the transfers of every pipe; handles keep their pipes. */
void MirrinAbortTransfers(PMIRRIN_EXTENSION ext);
/* Passes the request down and waits for it; the request is the caller's again afterwards. */
NTSTATUS MirrinForwardAndWait(PMIRRIN_EXTENSION ext, PIRP irp);
NTSTATUS MirrinPassDown(PMIRRIN_EXTENSION ext, PIRP irp);

/* create_close.c */
DRIVER_DISPATCH MirrinDispatchCreate;
DRIVER_DISPATCH MirrinDispatchClose;
/* The index of the pipe named by the last run of decimal digits; FALSE when there is none
 * or the index is MIRRIN_MAX_NAMED_PIPES or more. */
BOOLEAN MirrinParsePipeIndex(PCUNICODE_STRING name, ULONG* index);
/* The pipe a handle was opened on; null for a handle without one or a pipe the selected
 * interface lacks. */
PUSBD_PIPE_INFORMATION MirrinHandlePipe(PMIRRIN_EXTENSION ext, PFILE_OBJECT file);

/* read_write.c */
DRIVER_DISPATCH MirrinDispatchReadWrite;

/* ioctl.c */
DRIVER_DISPATCH MirrinDispatchDeviceControl;

/* configuration.c: a select-configuration request for alternate setting 0 of each interface
 * of the descriptor (length: the bytes read of it), every pipe sized a page; NULL with the
 * reason in *status. Freed with MirrinFree. */
PURB MirrinBuildSelectConfiguration(PUSB_CONFIGURATION_DESCRIPTOR config, ULONG length,
                                    NTSTATUS* status);

/* pnp.c */
DRIVER_DISPATCH MirrinDispatchPnp;

/* power.c */
DRIVER_DISPATCH MirrinDispatchPower;
NTSTATUS MirrinArmWaitWake(PMIRRIN_EXTENSION ext);
void MirrinCancelWaitWake(PMIRRIN_EXTENSION ext);
/* Waits until no wait-wake request of ours is out, cancelled ones included: their completion
 * still uses the extension. */
void MirrinWaitForWaitWakeEnd(PMIRRIN_EXTENSION ext);

/* Small helpers. */
static inline void* MirrinAllocate(SIZE_T size) {
  return ExAllocatePoolWithTag(NonPagedPool, size, MIRRIN_POOL_TAG);
}
/* Windows 98 has no ExFreePoolWithTag. */
static inline void MirrinFree(void* block) { ExFreePool(block); }
/* Windows 98 and ME (WDM before 1.10) send STOP_DEVICE to disable a device. */
static inline BOOLEAN MirrinStopDisables(PMIRRIN_EXTENSION ext) {
  return ext->WdmVersion == MIRRIN_WDM_105 || ext->WdmVersion == MIRRIN_WDM_100;
}
static inline MIRRIN_PNP_STATE MirrinPnpState(PMIRRIN_EXTENSION ext) {
  return *(volatile MIRRIN_PNP_STATE*)&ext->PnpState;
}
