/* Work for the system's worker threads, at PASSIVE_LEVEL. Windows 98 has only the executive's
 * work queue items, which hold nothing of the driver: the item takes a reference on the device
 * object so that neither it nor the driver image goes away before the routine has run. Only
 * the routine's own return, after the reference is dropped, is left unguarded, as with every
 * executive work item. */
#include "driver.h"

typedef struct {
  WORK_QUEUE_ITEM Item;
  PMIRRIN_EXTENSION Ext;
  MIRRIN_WORK_ROUTINE Routine;
  void* Context;
} MIRRIN_WORK;

static void NTAPI RunWork(PVOID parameter) {
  MIRRIN_WORK* work = parameter;
  PDEVICE_OBJECT device = work->Ext->Self;
  work->Routine(work->Ext, work->Context);
  MirrinFree(work);
  ObDereferenceObject(device);
}

BOOLEAN MirrinQueueWork(PMIRRIN_EXTENSION ext, MIRRIN_WORK_ROUTINE routine, void* context) {
  MIRRIN_WORK* work = MirrinAllocate(sizeof(MIRRIN_WORK));
  if (!work) return FALSE;
  work->Ext = ext;
  work->Routine = routine;
  work->Context = context;
  ExInitializeWorkItem(&work->Item, RunWork, work);
  ObReferenceObject(ext->Self);
  ExQueueWorkItem(&work->Item, DelayedWorkQueue);
  return TRUE;
}
