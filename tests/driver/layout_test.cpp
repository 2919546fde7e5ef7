// The kernel substitute lays out what the driver touches as the 64-bit kernel does, so the
// driver's code is tested against the real offsets. The numbers are the documented ones.
#include <gtest/gtest.h>

#include "kernel/mirrin_kernel.h"

namespace {

static_assert(sizeof(void*) == 8, "the substitute stands for the 64-bit kernel");

static_assert(sizeof(IRP) == 0xD0);
static_assert(offsetof(IRP, MdlAddress) == 0x08);
static_assert(offsetof(IRP, AssociatedIrp) == 0x18);
static_assert(offsetof(IRP, IoStatus) == 0x30);
static_assert(offsetof(IRP, RequestorMode) == 0x40);
static_assert(offsetof(IRP, PendingReturned) == 0x41);
static_assert(offsetof(IRP, StackCount) == 0x42);
static_assert(offsetof(IRP, CurrentLocation) == 0x43);
static_assert(offsetof(IRP, Cancel) == 0x44);
static_assert(offsetof(IRP, CancelIrql) == 0x45);
static_assert(offsetof(IRP, CancelRoutine) == 0x68);
static_assert(offsetof(IRP, UserBuffer) == 0x70);
static_assert(offsetof(IRP, Tail.Overlay.DriverContext) == 0x78);
static_assert(offsetof(IRP, Tail.Overlay.ListEntry) == 0xA8);
static_assert(offsetof(IRP, Tail.Overlay.CurrentStackLocation) == 0xB8);
static_assert(offsetof(IRP, Tail.Overlay.OriginalFileObject) == 0xC0);

static_assert(sizeof(IO_STACK_LOCATION) == 0x48);
static_assert(offsetof(IO_STACK_LOCATION, Parameters) == 0x08);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.InputBufferLength) == 0x10);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.IoControlCode) == 0x18);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.Power.Type) == 0x10);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.Power.State) == 0x18);
static_assert(offsetof(IO_STACK_LOCATION, DeviceObject) == 0x28);
static_assert(offsetof(IO_STACK_LOCATION, FileObject) == 0x30);
static_assert(offsetof(IO_STACK_LOCATION, CompletionRoutine) == 0x38);
static_assert(offsetof(IO_STACK_LOCATION, Context) == 0x40);

static_assert(sizeof(DEVICE_OBJECT) == 0x150);
static_assert(offsetof(DEVICE_OBJECT, AttachedDevice) == 0x18);
static_assert(offsetof(DEVICE_OBJECT, Flags) == 0x30);
static_assert(offsetof(DEVICE_OBJECT, DeviceExtension) == 0x40);
static_assert(offsetof(DEVICE_OBJECT, StackSize) == 0x4C);
static_assert(sizeof(DRIVER_OBJECT) == 0x150);
static_assert(offsetof(DRIVER_OBJECT, DriverExtension) == 0x30);
static_assert(offsetof(DRIVER_OBJECT, DriverUnload) == 0x68);
static_assert(offsetof(DRIVER_OBJECT, MajorFunction) == 0x70);
static_assert(sizeof(FILE_OBJECT) == 0xD8);
static_assert(offsetof(FILE_OBJECT, FsContext) == 0x18);
static_assert(offsetof(FILE_OBJECT, FileName) == 0x58);

static_assert(sizeof(MDL) == 0x30);
static_assert(sizeof(KEVENT) == 0x18);
static_assert(sizeof(DEVICE_CAPABILITIES) == 64);
static_assert(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12);

static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9);
static_assert(sizeof(USBD_PIPE_INFORMATION) == 24);
static_assert(offsetof(USBD_PIPE_INFORMATION, PipeHandle) == 8);
static_assert(offsetof(USBD_PIPE_INFORMATION, MaximumTransferSize) == 16);
static_assert(offsetof(USBD_INTERFACE_INFORMATION, NumberOfPipes) == 16);
static_assert(offsetof(USBD_INTERFACE_INFORMATION, Pipes) == 24);
static_assert(sizeof(struct _URB_HEADER) == 0x18);
static_assert(offsetof(struct _URB_BULK_OR_INTERRUPT_TRANSFER, TransferBufferLength) == 0x24);
static_assert(offsetof(struct _URB_BULK_OR_INTERRUPT_TRANSFER, TransferBufferMDL) == 0x30);
static_assert(offsetof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST, Request) == 0x81);
static_assert(offsetof(struct _URB_CONTROL_DESCRIPTOR_REQUEST, DescriptorType) == 0x83);
static_assert(offsetof(struct _URB_SELECT_CONFIGURATION, Interface) == 0x28);

TEST(KernelLayoutTest, StackLocationsFollowTheRequest) {
  // IoAllocateIrp places the stack locations right after the request, the last one first
  // in use.
  PIRP irp = IoAllocateIrp(3, FALSE);
  EXPECT_EQ(irp->CurrentLocation, 4);
  EXPECT_EQ(reinterpret_cast<char*>(IoGetNextIrpStackLocation(irp)),
            reinterpret_cast<char*>(irp) + sizeof(IRP) + 2 * sizeof(IO_STACK_LOCATION));
  IoFreeIrp(irp);
}

}  // namespace
