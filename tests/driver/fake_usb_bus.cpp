#include "driver/fake_usb_bus.h"

#include <algorithm>
#include <chrono>

#include "driver/kernel_substitute.h"

namespace {

constexpr uint16_t kVendorId = 0x0E21;

void PutLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

std::vector<uint8_t> DeviceDescriptor(uint16_t product_id) {
  std::vector<uint8_t> bytes = {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0, 0, 0, 0, 0x00, 0x01, 1, 2,
                                3,  1};
  PutLe16(bytes, 8, kVendorId);
  PutLe16(bytes, 10, product_id);
  return bytes;
}

std::vector<uint8_t> ConfigDescriptor(const std::vector<FakeUsbBus::Endpoint>& endpoints,
                                      bool remote_wakeup) {
  std::vector<uint8_t> bytes = {9, 2, 0, 0, 1, 1, 0,
                                static_cast<uint8_t>(0x80 | (remote_wakeup ? 0x20 : 0)), 50};
  const uint8_t interface[] = {9, 4, 0, 0, static_cast<uint8_t>(endpoints.size()), 0xFF, 0, 0,
                               0};
  bytes.insert(bytes.end(), interface, interface + sizeof(interface));
  for (const auto& endpoint : endpoints) {
    const uint8_t descriptor[] = {7,
                                  5,
                                  endpoint.address,
                                  endpoint.attributes,
                                  static_cast<uint8_t>(endpoint.max_packet),
                                  static_cast<uint8_t>(endpoint.max_packet >> 8),
                                  0};
    bytes.insert(bytes.end(), descriptor, descriptor + sizeof(descriptor));
  }
  PutLe16(bytes, 2, static_cast<uint16_t>(bytes.size()));
  return bytes;
}

// Where a request block's data lives: its MDL, which must describe locked pages, or its
// buffer.
PUCHAR TransferData(PVOID buffer, PMDL mdl, ULONG length) {
  if (!mdl) return static_cast<PUCHAR>(buffer);
  if (!(mdl->MdlFlags & MDL_PAGES_LOCKED)) ksub::Violation("bus: transfer MDL not locked");
  if (mdl->ByteCount < length) ksub::Violation("bus: transfer longer than its MDL");
  return static_cast<PUCHAR>(MmGetMdlVirtualAddress(mdl));
}

// Plug-and-play and power requests end in the caller's context.
NTSTATUS CompleteHere(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

}  // namespace

std::vector<FakeUsbBus::Endpoint> PlayerEndpoints() {
  return {{0x81, 2, 64}, {0x02, 2, 64}};
}

FakeUsbBus::FakeUsbBus(uint16_t product_id, std::vector<Endpoint> endpoints, bool remote_wakeup)
    : device_descriptor(DeviceDescriptor(product_id)),
      config_descriptor(ConfigDescriptor(endpoints, remote_wakeup)),
      endpoints_(std::move(endpoints)),
      pipe_handles_(endpoints_.size()),
      replies_(endpoints_.size()),
      written_(endpoints_.size()) {
  driver_.Type = 4;
  driver_.DriverExtension = &driver_extension_;
  for (auto& dispatch : driver_.MajorFunction) dispatch = DispatchOther;
  driver_.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternal;
  driver_.MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver_.MajorFunction[IRP_MJ_POWER] = DispatchPower;
  IoCreateDevice(&driver_, sizeof(FakeUsbBus*), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &pdo_);
  *static_cast<FakeUsbBus**>(pdo_->DeviceExtension) = this;
  pdo_->Flags &= ~DO_DEVICE_INITIALIZING;
  pdo_->Flags |= DO_POWER_PAGABLE;
  wchar_t instance[64];
  swprintf(instance, 64, L"USB#VID_%04X&PID_%04X#0001", kVendorId, product_id);
  ksub::RegisterPdo(pdo_, instance);

  capabilities.Size = sizeof(DEVICE_CAPABILITIES);
  capabilities.Version = 1;
  capabilities.Removable = 1;
  capabilities.DeviceState[PowerSystemWorking] = PowerDeviceD0;
  for (int s = PowerSystemSleeping1; s < PowerSystemMaximum; ++s) {
    capabilities.DeviceState[s] = PowerDeviceD3;
  }
  capabilities.SystemWake = PowerSystemSleeping3;
  capabilities.DeviceWake = PowerDeviceD2;
}

FakeUsbBus::~FakeUsbBus() {
  CompleteCancelled();
  std::lock_guard<std::recursive_mutex> guard(lock_);
  while (!held_.empty()) EndHeld(held_.begin(), STATUS_CANCELLED);
}

FakeUsbBus* FakeUsbBus::Of(PDEVICE_OBJECT device) {
  return *static_cast<FakeUsbBus**>(device->DeviceExtension);
}

// A USB host controller completes from its interrupt handling, at DISPATCH_LEVEL.
void FakeUsbBus::CompleteAtDispatch(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  const KIRQL old = ksub::RaiseIrql(DISPATCH_LEVEL);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  ksub::LowerIrql(old);
}

void FakeUsbBus::QueueReply(int pipe, Reply reply) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  replies_.at(pipe).push_back(std::move(reply));
}

std::vector<uint8_t> FakeUsbBus::Written(int pipe) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return written_.at(pipe);
}

std::vector<FakeUsbBus::Transfer> FakeUsbBus::Transfers() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return transfers_;
}

std::vector<std::pair<USHORT, int>> FakeUsbBus::PipeRequests() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return pipe_requests_;
}

std::vector<FakeUsbBus::VendorRequest> FakeUsbBus::VendorRequests() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return vendor_requests_;
}

std::vector<std::pair<POWER_STATE_TYPE, ULONG>> FakeUsbBus::PowerRequests() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return power_requests_;
}

size_t FakeUsbBus::Held() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return std::count_if(held_.begin(), held_.end(), [](const auto& h) { return !h.wait_wake; });
}

bool FakeUsbBus::WaitForHeld(size_t count, int timeout_ms) {
  std::unique_lock<std::recursive_mutex> guard(lock_);
  return held_changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                                [&] { return Held() >= count; });
}

void FakeUsbBus::EndHeld(std::deque<HeldRequest>::iterator it, NTSTATUS status) {
  PIRP irp = it->irp;
  held_.erase(it);
  held_changed_.notify_all();
  // Whoever clears the cancel routine owns the request; a running cancel takes it instead.
  if (!IoSetCancelRoutine(irp, nullptr)) return;
  CompleteAtDispatch(irp, status);
}

void FakeUsbBus::ReleaseHeld(NTSTATUS status) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto it = std::find_if(held_.begin(), held_.end(), [](const auto& h) { return !h.wait_wake; });
  if (it != held_.end()) EndHeld(it, status);
}

bool FakeUsbBus::WaitWakePending() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return std::any_of(held_.begin(), held_.end(), [](const auto& h) { return h.wait_wake; });
}

void FakeUsbBus::Wake() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto it = std::find_if(held_.begin(), held_.end(), [](const auto& h) { return h.wait_wake; });
  if (it != held_.end()) EndHeld(it, STATUS_SUCCESS);
}

void NTAPI FakeUsbBus::CancelHeld(PDEVICE_OBJECT device, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  FakeUsbBus* bus = Of(device);
  {
    std::lock_guard<std::recursive_mutex> guard(bus->lock_);
    auto it = std::find_if(bus->held_.begin(), bus->held_.end(),
                           [irp](const auto& h) { return h.irp == irp; });
    if (it != bus->held_.end()) bus->held_.erase(it);
    bus->held_changed_.notify_all();
    if (bus->complete_cancels_later) {
      bus->cancelled_.push_back(irp);
      return;
    }
  }
  CompleteAtDispatch(irp, STATUS_CANCELLED);
}

size_t FakeUsbBus::CancelledPending() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return cancelled_.size();
}

void FakeUsbBus::CompleteCancelled() {
  std::vector<PIRP> cancelled;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    cancelled.swap(cancelled_);
  }
  for (PIRP irp : cancelled) CompleteAtDispatch(irp, STATUS_CANCELLED);
}

NTSTATUS FakeUsbBus::Hold(PIRP irp, int pipe, bool wait_wake) {
  IoMarkIrpPending(irp);
  held_.push_back(HeldRequest{irp, pipe, wait_wake});
  held_changed_.notify_all();
  IoSetCancelRoutine(irp, CancelHeld);
  if (irp->Cancel && IoSetCancelRoutine(irp, nullptr)) {
    held_.pop_back();
    CompleteAtDispatch(irp, STATUS_CANCELLED);
  }
  return STATUS_PENDING;
}

int FakeUsbBus::PipeIndex(USBD_PIPE_HANDLE handle) {
  for (size_t i = 0; i < pipe_handles_.size(); ++i) {
    if (handle == &pipe_handles_[i]) return configured ? static_cast<int>(i) : -1;
  }
  return -1;
}

NTSTATUS NTAPI FakeUsbBus::DispatchInternal(PDEVICE_OBJECT device, PIRP irp) {
  FakeUsbBus* bus = Of(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  std::lock_guard<std::recursive_mutex> guard(bus->lock_);
  NTSTATUS status;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB:
      status = bus->HandleUrb(irp, static_cast<PURB>(stack->Parameters.Others.Argument1));
      if (status == STATUS_PENDING) return status;
      break;
    case IOCTL_INTERNAL_USB_GET_PORT_STATUS:
      *static_cast<PULONG>(stack->Parameters.Others.Argument1) =
          bus->unplugged ? 0 : bus->port_status;
      status = STATUS_SUCCESS;
      break;
    case IOCTL_INTERNAL_USB_RESET_PORT:
      ++bus->port_resets;
      bus->port_status |= USBD_PORT_ENABLED;
      status = bus->unplugged ? STATUS_DEVICE_NOT_CONNECTED : STATUS_SUCCESS;
      break;
    default:
      status = STATUS_INVALID_DEVICE_REQUEST;
  }
  CompleteAtDispatch(irp, status);
  return status;
}

NTSTATUS FakeUsbBus::HandleUrb(PIRP irp, PURB urb) {
  if (unplugged) {
    urb->UrbHeader.Status = static_cast<USBD_STATUS>(0xC0000000);
    return STATUS_DEVICE_NOT_CONNECTED;
  }
  switch (urb->UrbHeader.Function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE: {
      auto& request = urb->UrbControlDescriptorRequest;
      if (urb->UrbHeader.Length < sizeof(request)) return STATUS_INVALID_PARAMETER;
      const std::vector<uint8_t>* source =
          request.DescriptorType == USB_DEVICE_DESCRIPTOR_TYPE          ? &device_descriptor
          : request.DescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE ? &config_descriptor
                                                                         : nullptr;
      if (!source || fail_descriptor_reads) return STATUS_UNSUCCESSFUL;
      const ULONG length =
          std::min<ULONG>(request.TransferBufferLength, static_cast<ULONG>(source->size()));
      memcpy(TransferData(request.TransferBuffer, request.TransferBufferMDL, length),
             source->data(), length);
      request.TransferBufferLength = length;
      return STATUS_SUCCESS;
    }
    case URB_FUNCTION_SELECT_CONFIGURATION:
      return SelectConfiguration(urb);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
      return Bulk(irp, urb);
    case URB_FUNCTION_VENDOR_DEVICE:
      return Vendor(irp, urb);
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_RESET_PIPE: {
      if (urb->UrbHeader.Length < sizeof(struct _URB_PIPE_REQUEST)) {
        return STATUS_INVALID_PARAMETER;
      }
      const int pipe = PipeIndex(urb->UrbPipeRequest.PipeHandle);
      if (pipe < 0) return STATUS_INVALID_PARAMETER;
      pipe_requests_.emplace_back(urb->UrbHeader.Function, pipe);
      if (urb->UrbHeader.Function == URB_FUNCTION_RESET_PIPE) return reset_pipe_status;
      if (urb->UrbHeader.Function == URB_FUNCTION_ABORT_PIPE && abort_ends_held) {
        for (auto it = held_.begin(); it != held_.end();) {
          if (it->pipe == pipe) {
            EndHeld(it, STATUS_CANCELLED);
            it = held_.begin();
          } else {
            ++it;
          }
        }
      }
      return STATUS_SUCCESS;
    }
    default:
      ksub::Violation("bus: URB function " + std::to_string(urb->UrbHeader.Function));
      return STATUS_INVALID_PARAMETER;
  }
}

NTSTATUS FakeUsbBus::SelectConfiguration(PURB urb) {
  auto& select = urb->UrbSelectConfiguration;
  if (!select.ConfigurationDescriptor) {
    configured = false;
    return STATUS_SUCCESS;
  }
  const auto* config = select.ConfigurationDescriptor;
  PUCHAR at = reinterpret_cast<PUCHAR>(&select.Interface);
  const PUCHAR end = reinterpret_cast<PUCHAR>(urb) + urb->UrbHeader.Length;
  for (UCHAR i = 0; i < config->bNumInterfaces; ++i) {
    auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(at);
    if (at + offsetof(USBD_INTERFACE_INFORMATION, Pipes) > end || at + info->Length > end) {
      ksub::Violation("bus: select-configuration request shorter than its interfaces");
      return STATUS_INVALID_PARAMETER;
    }
    if (info->NumberOfPipes != endpoints_.size() ||
        info->Length < offsetof(USBD_INTERFACE_INFORMATION, Pipes) +
                           info->NumberOfPipes * sizeof(USBD_PIPE_INFORMATION)) {
      return STATUS_INVALID_PARAMETER;
    }
    info->Class = 0xFF;
    info->InterfaceHandle = &interface_handle_;
    for (ULONG p = 0; p < info->NumberOfPipes; ++p) {
      auto& pipe = info->Pipes[p];
      if (pipe.MaximumTransferSize > max_transfer_limit) return STATUS_INVALID_PARAMETER;
      pipe.EndpointAddress = endpoints_[p].address;
      pipe.MaximumPacketSize = endpoints_[p].max_packet;
      pipe.Interval = 0;
      pipe.PipeType = static_cast<USBD_PIPE_TYPE>(endpoints_[p].attributes & 3);
      pipe.PipeHandle = &pipe_handles_[p];
    }
    at += info->Length;
  }
  select.ConfigurationHandle = &config_handle_;
  configured = true;
  return STATUS_SUCCESS;
}

NTSTATUS FakeUsbBus::Bulk(PIRP irp, PURB urb) {
  auto& transfer = urb->UrbBulkOrInterruptTransfer;
  if (urb->UrbHeader.Length < sizeof(transfer)) return STATUS_INVALID_PARAMETER;
  const int pipe = PipeIndex(transfer.PipeHandle);
  if (pipe < 0) return STATUS_INVALID_PARAMETER;
  const bool in = (endpoints_[pipe].address & 0x80) != 0;
  if (in != ((transfer.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0)) {
    ksub::Violation("bus: transfer direction differs from its endpoint's");
    return STATUS_INVALID_PARAMETER;
  }
  PUCHAR data =
      TransferData(transfer.TransferBuffer, transfer.TransferBufferMDL,
                   transfer.TransferBufferLength);
  Transfer record{pipe, in, transfer.TransferBufferLength, transfer.TransferFlags, 0};
  if (in) {
    Reply reply;
    if (!replies_[pipe].empty()) {
      reply = std::move(replies_[pipe].front());
      replies_[pipe].pop_front();
    } else {
      reply.data.resize(transfer.TransferBufferLength);
      for (size_t i = 0; i < reply.data.size(); ++i) reply.data[i] = static_cast<uint8_t>(i);
    }
    if (reply.hold) {
      transfers_.push_back(record);
      transfer.TransferBufferLength = 0;
      return Hold(irp, pipe, false);
    }
    if (!NT_SUCCESS(reply.status)) {
      transfers_.push_back(record);
      transfer.TransferBufferLength = 0;
      return reply.status;
    }
    const ULONG moved = std::min<ULONG>(transfer.TransferBufferLength,
                                        static_cast<ULONG>(reply.data.size()));
    if (moved < transfer.TransferBufferLength &&
        !(transfer.TransferFlags & USBD_SHORT_TRANSFER_OK)) {
      ksub::Violation("bus: short IN transfer without USBD_SHORT_TRANSFER_OK");
    }
    memcpy(data, reply.data.data(), moved);
    record.moved = transfer.TransferBufferLength = moved;
  } else if (hold_writes) {
    transfers_.push_back(record);
    transfer.TransferBufferLength = 0;
    return Hold(irp, pipe, false);
  } else {
    ULONG moved = transfer.TransferBufferLength;
    if (out_limit != 0) moved = std::min(moved, out_limit);
    written_[pipe].insert(written_[pipe].end(), data, data + moved);
    record.moved = transfer.TransferBufferLength = moved;
  }
  transfers_.push_back(record);
  return STATUS_SUCCESS;
}

NTSTATUS FakeUsbBus::Vendor(PIRP irp, PURB urb) {
  auto& request = urb->UrbControlVendorClassRequest;
  if (urb->UrbHeader.Length < sizeof(request)) return STATUS_INVALID_PARAMETER;
  const bool in = (request.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
  PUCHAR data = request.TransferBufferLength
                    ? TransferData(request.TransferBuffer, request.TransferBufferMDL,
                                   request.TransferBufferLength)
                    : nullptr;
  VendorRequest record{request.Request, request.Value, request.Index,
                       in,              request.TransferBufferLength,
                       request.RequestTypeReservedBits, urb->UrbHeader.Function, {}};
  if (!in && data) record.out_data.assign(data, data + request.TransferBufferLength);
  vendor_requests_.push_back(record);
  if (!in) return STATUS_SUCCESS;
  if (vendor_reply.hold) {
    request.TransferBufferLength = 0;
    return Hold(irp, -1, false);
  }
  if (!NT_SUCCESS(vendor_reply.status)) {
    request.TransferBufferLength = 0;
    return vendor_reply.status;
  }
  const ULONG moved = std::min<ULONG>(request.TransferBufferLength,
                                      static_cast<ULONG>(vendor_reply.data.size()));
  if (moved) memcpy(data, vendor_reply.data.data(), moved);
  request.TransferBufferLength = moved;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI FakeUsbBus::DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  FakeUsbBus* bus = Of(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status = irp->IoStatus.Status;
  switch (stack->MinorFunction) {
    case IRP_MN_QUERY_CAPABILITIES: {
      PDEVICE_CAPABILITIES out = stack->Parameters.DeviceCapabilities.Capabilities;
      const bool surprise_ok = out->SurpriseRemovalOK;
      *out = bus->capabilities;
      out->SurpriseRemovalOK = surprise_ok;
      status = STATUS_SUCCESS;
      break;
    }
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_REMOVE_DEVICE:
      status = STATUS_SUCCESS;
      break;
    default:
      break;
  }
  return CompleteHere(irp, status);
}

NTSTATUS NTAPI FakeUsbBus::DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  FakeUsbBus* bus = Of(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  PoStartNextPowerIrp(irp);
  std::lock_guard<std::recursive_mutex> guard(bus->lock_);
  NTSTATUS status = irp->IoStatus.Status;
  switch (stack->MinorFunction) {
    case IRP_MN_SET_POWER:
    case IRP_MN_QUERY_POWER:
      status = STATUS_SUCCESS;
      if (stack->MinorFunction == IRP_MN_SET_POWER) {
        bus->power_requests_.emplace_back(stack->Parameters.Power.Type,
                                          stack->Parameters.Power.State.DeviceState);
        if (stack->Parameters.Power.Type == DevicePowerState) {
          status = bus->device_power_status;
        }
      }
      break;
    case IRP_MN_WAIT_WAKE:
      if (bus->WaitWakePending()) {
        status = STATUS_DEVICE_BUSY;
        break;
      }
      return bus->Hold(irp, -1, true);
    default:
      break;
  }
  return CompleteHere(irp, status);
}

NTSTATUS NTAPI FakeUsbBus::DispatchOther(PDEVICE_OBJECT device, PIRP irp) {
  return CompleteHere(irp, irp->IoStatus.Status);
}
