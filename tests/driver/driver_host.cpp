#include "driver/driver_host.h"

#include <chrono>
#include <cstring>

#include "driver/kernel_substitute.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path);

namespace {

NTSTATUS NTAPI NoDispatch(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_INVALID_DEVICE_REQUEST;
}

}  // namespace

bool DriverHost::Request::Wait(int timeout_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  return done_changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                                [this] { return done_ && call_returned_; });
}

NTSTATUS DriverHost::Request::status() {
  std::lock_guard<std::mutex> guard(lock_);
  return done_ ? result_.Status : STATUS_PENDING;
}

ULONG_PTR DriverHost::Request::information() {
  std::lock_guard<std::mutex> guard(lock_);
  return result_.Information;
}

void DriverHost::Request::WhenDone(std::function<void()> callback) {
  std::unique_lock<std::mutex> guard(lock_);
  if (!done_) {
    when_done_ = std::move(callback);
    return;
  }
  guard.unlock();
  callback();
}

void DriverHost::Request::Cancel() {
  std::unique_lock<std::mutex> guard(lock_);
  if (done_ || !irp_) return;
  // The I/O manager keeps the request alive while it cancels it: so do we, by cancelling
  // under our lock only the flag, then calling out.
  PIRP irp = irp_;
  guard.unlock();
  IoCancelIrp(irp);
}

DriverHost::DriverHost(FakeUsbBus& bus) : bus_(bus) {
  driver_.Type = 4;
  driver_.Size = sizeof(DRIVER_OBJECT);
  driver_.DriverExtension = &extension_;
  extension_.DriverObject = &driver_;
  for (auto& dispatch : driver_.MajorFunction) dispatch = NoDispatch;
  UNICODE_STRING path;
  RtlInitUnicodeString(&path, L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Mirrin");
  if (!NT_SUCCESS(DriverEntry(&driver_, &path))) ksub::Violation("DriverEntry failed");
}

DriverHost::~DriverHost() {
  if (fdo_ && !removed_) Pnp(IRP_MN_REMOVE_DEVICE);
  for (auto& thread : manager_threads_) thread.join();
  ksub::DrainWorkItems();
  if (driver_.DeviceObject) ksub::Violation("driver unloaded with a device object left");
  if (driver_.DriverUnload) driver_.DriverUnload(&driver_);
}

NTSTATUS DriverHost::AddDevice() {
  const NTSTATUS status = extension_.AddDevice(&driver_, bus_.pdo());
  if (NT_SUCCESS(status)) {
    fdo_ = bus_.pdo()->AttachedDevice;
    if (!fdo_ || (fdo_->Flags & DO_DEVICE_INITIALIZING)) {
      ksub::Violation("AddDevice left no initialised device on the stack");
    }
  } else if (bus_.pdo()->AttachedDevice) {
    ksub::Violation("a failed AddDevice left its device attached");
  }
  return status;
}

PIRP DriverHost::NewIrp() {
  ksub::HarnessAllocation system_side;
  PIRP irp = IoAllocateIrp(ksub::TopOfStack(bus_.pdo())->StackSize, FALSE);
  irp->RequestorMode = UserMode;
  return irp;
}

DriverHost::RequestPtr DriverHost::Send(PIRP irp, RequestPtr request,
                                        bool from_manager_thread) {
  request->irp_ = irp;
  ksub::SetRequestOwner(irp, [request](PIRP done) {
    PMDL mdl = done->MdlAddress;
    if (mdl) {
      MmUnlockPages(mdl);
      IoFreeMdl(mdl);
    }
    std::function<void()> when_done;
    {
      std::lock_guard<std::mutex> guard(request->lock_);
      request->result_ = done->IoStatus;
      // Buffered output goes back unless the request failed.
      if (request->user_output_ && (ULONG)done->IoStatus.Status < 0xC0000000u) {
        const ULONG_PTR count = done->IoStatus.Information;
        if (count > request->output_length_) {
          ksub::Violation("a buffered request returned more bytes than its output holds");
        }
        memcpy(request->user_output_, request->system_buffer_.data(),
               std::min<ULONG_PTR>(count, request->output_length_));
      }
      request->irp_ = nullptr;
      request->done_ = true;
      request->done_changed_.notify_all();
      when_done.swap(request->when_done_);
      IoFreeIrp(done);
    }
    if (when_done) when_done();
  });
  PDEVICE_OBJECT top = ksub::TopOfStack(bus_.pdo());
  auto dispatch = [top, irp] {
    if (IoGetNextIrpStackLocation(irp)->MajorFunction == IRP_MJ_POWER) {
      PoCallDriver(top, irp);
    } else {
      IoCallDriver(top, irp);
    }
  };
  if (from_manager_thread) {
    request->call_returned_ = false;
    manager_threads_.emplace_back([dispatch, request] {
      dispatch();
      std::lock_guard<std::mutex> guard(request->lock_);
      request->call_returned_ = true;
      request->done_changed_.notify_all();
    });
  } else {
    dispatch();
  }
  return request;
}

NTSTATUS DriverHost::Start() {
  DEVICE_CAPABILITIES capabilities = {};
  capabilities.Size = sizeof(capabilities);
  capabilities.Version = 1;
  capabilities.Address = capabilities.UINumber = 0xFFFFFFFF;
  PIRP irp = NewManagerIrp(IRP_MJ_PNP, IRP_MN_QUERY_CAPABILITIES);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->Parameters.DeviceCapabilities.Capabilities = &capabilities;
  RequestPtr request = Send(irp, std::make_shared<Request>());
  if (!request->Wait()) return STATUS_TIMEOUT;
  if (!NT_SUCCESS(request->status())) return request->status();
  return Pnp(IRP_MN_START_DEVICE);
}

// The managers' requests start as "not supported", which a driver that does not handle
// them passes on unchanged.
PIRP DriverHost::NewManagerIrp(UCHAR major, UCHAR minor) {
  PIRP irp = NewIrp();
  irp->RequestorMode = KernelMode;
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = major;
  next->MinorFunction = minor;
  return irp;
}

DriverHost::RequestPtr DriverHost::SendPnp(UCHAR minor) {
  PIRP irp = NewManagerIrp(IRP_MJ_PNP, minor);
  if (minor == IRP_MN_REMOVE_DEVICE) removed_ = true;
  return Send(irp, std::make_shared<Request>(), true);
}

NTSTATUS DriverHost::Pnp(UCHAR minor) {
  RequestPtr request = SendPnp(minor);
  return request->Wait() ? request->status() : STATUS_TIMEOUT;
}

DriverHost::RequestPtr DriverHost::SendPower(UCHAR minor, POWER_STATE_TYPE type, ULONG state) {
  PIRP irp = NewManagerIrp(IRP_MJ_POWER, minor);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->Parameters.Power.Type = type;
  if (type == SystemPowerState) {
    next->Parameters.Power.State.SystemState = static_cast<SYSTEM_POWER_STATE>(state);
  } else {
    next->Parameters.Power.State.DeviceState = static_cast<DEVICE_POWER_STATE>(state);
  }
  return Send(irp, std::make_shared<Request>(), true);
}

NTSTATUS DriverHost::Open(const std::wstring& name, std::unique_ptr<File>* file) {
  auto opened = std::make_unique<File>();
  opened->name = name;
  opened->object.Type = 5;
  opened->object.Size = sizeof(FILE_OBJECT);
  opened->object.DeviceObject = fdo_;
  opened->object.FileName.Buffer = opened->name.empty() ? nullptr : &opened->name[0];
  opened->object.FileName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  opened->object.FileName.MaximumLength = opened->object.FileName.Length;
  PIRP irp = NewIrp();
  irp->Tail.Overlay.OriginalFileObject = &opened->object;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_CREATE;
  next->FileObject = &opened->object;
  RequestPtr request = Send(irp, std::make_shared<Request>());
  if (!request->Wait()) return STATUS_TIMEOUT;
  if (NT_SUCCESS(request->status())) *file = std::move(opened);
  return request->status();
}

void DriverHost::Close(std::unique_ptr<File> file) {
  for (UCHAR major : {IRP_MJ_CLEANUP, IRP_MJ_CLOSE}) {
    PIRP irp = NewIrp();
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = major;
    next->FileObject = &file->object;
    RequestPtr request = Send(irp, std::make_shared<Request>());
    if (!request->Wait()) ksub::Violation("a close did not come back");
  }
}

DriverHost::RequestPtr DriverHost::Transfer(File* file, UCHAR major, void* buffer,
                                            ULONG length) {
  PIRP irp = NewIrp();
  if (length != 0) {
    // Direct I/O: the caller's buffer locked and described by an MDL.
    ksub::HarnessAllocation system_side;
    irp->MdlAddress = IoAllocateMdl(buffer, length, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(irp->MdlAddress, UserMode, major == IRP_MJ_READ ? IoWriteAccess
                                                                         : IoReadAccess);
  }
  irp->Tail.Overlay.OriginalFileObject = &file->object;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = major;
  next->FileObject = &file->object;
  next->Parameters.Read.Length = length;
  return Send(irp, std::make_shared<Request>());
}

DriverHost::RequestPtr DriverHost::Read(File* file, void* buffer, ULONG length) {
  return Transfer(file, IRP_MJ_READ, buffer, length);
}

DriverHost::RequestPtr DriverHost::Write(File* file, const void* buffer, ULONG length) {
  return Transfer(file, IRP_MJ_WRITE, const_cast<void*>(buffer), length);
}

DriverHost::RequestPtr DriverHost::Control(File* file, ULONG code, const void* input,
                                           ULONG input_length, void* output,
                                           ULONG output_length, bool caller_is_32bit) {
  auto request = std::make_shared<Request>();
  // Buffered: one system buffer as long as the longer of the two, holding the input.
  request->system_buffer_.assign(std::max(input_length, output_length), 0);
  if (input_length) memcpy(request->system_buffer_.data(), input, input_length);
  request->user_output_ = output;
  request->output_length_ = output_length;
  PIRP irp = NewIrp();
  irp->AssociatedIrp.SystemBuffer =
      request->system_buffer_.empty() ? nullptr : request->system_buffer_.data();
  irp->Tail.Overlay.OriginalFileObject = &file->object;
  ksub::SetCallerIs32Bit(irp, caller_is_32bit);
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
  next->FileObject = &file->object;
  next->Parameters.DeviceIoControl.IoControlCode = code;
  next->Parameters.DeviceIoControl.InputBufferLength = input_length;
  next->Parameters.DeviceIoControl.OutputBufferLength = output_length;
  return Send(irp, request);
}
