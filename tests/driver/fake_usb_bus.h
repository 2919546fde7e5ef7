// The bus driver under Mirrin in the test program: one player's physical device object that
// answers USB request blocks from its descriptors and scripted replies, holds transfers when
// told to, and handles plug-and-play and power requests the way a USB hub's child does.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "kernel/mirrin_kernel.h"

class FakeUsbBus {
 public:
  struct Endpoint {
    uint8_t address;     // bit 7: IN
    uint8_t attributes;  // 2 bulk, 3 interrupt
    uint16_t max_packet;
  };
  // What an IN transfer or an IN vendor request gets: `data` (a transfer moves at most what
  // it asked for), or a failure, or nothing until the test releases it or it is cancelled.
  struct Reply {
    std::vector<uint8_t> data;
    NTSTATUS status = STATUS_SUCCESS;
    bool hold = false;
  };
  struct Transfer {
    int pipe;
    bool in;
    ULONG length;  // asked for
    ULONG flags;
    ULONG moved;
  };
  struct VendorRequest {
    uint8_t request;
    uint16_t value;
    uint16_t index;
    bool in;
    ULONG length;
    uint8_t reserved_bits;
    USHORT function;
    std::vector<uint8_t> out_data;
  };

  FakeUsbBus(uint16_t product_id, std::vector<Endpoint> endpoints, bool remote_wakeup = false);
  ~FakeUsbBus();
  FakeUsbBus(const FakeUsbBus&) = delete;
  FakeUsbBus& operator=(const FakeUsbBus&) = delete;

  PDEVICE_OBJECT pdo() const { return pdo_; }

  // Descriptors as the device reports them; tests may damage them before the start.
  std::vector<uint8_t> device_descriptor;
  std::vector<uint8_t> config_descriptor;
  bool fail_descriptor_reads = false;

  // Replies of IN transfers, per pipe index, in order; with none queued a transfer gets a
  // full buffer of a counting pattern.
  void QueueReply(int pipe, Reply reply);
  // OUT transfers move at most this many bytes each (0: all), or are held.
  ULONG out_limit = 0;
  bool hold_writes = false;
  std::vector<uint8_t> Written(int pipe);
  std::vector<Transfer> Transfers();
  std::vector<std::pair<USHORT, int>> PipeRequests();  // (URB function, pipe index)

  // Vendor requests: IN requests get this reply (cut to their length) or are held.
  Reply vendor_reply;
  std::vector<VendorRequest> VendorRequests();

  // Held transfers and vendor requests end when released, cancelled or aborted.
  size_t Held();
  bool WaitForHeld(size_t count, int timeout_ms);
  void ReleaseHeld(NTSTATUS status = STATUS_SUCCESS);
  // When false, aborting a pipe leaves its held transfers to be released later.
  bool abort_ends_held = true;
  // When true, a cancelled request is not completed in its cancel routine but later, when the
  // test calls CompleteCancelled, as a bus that finishes cancels on its own schedule does.
  bool complete_cancels_later = false;
  size_t CancelledPending();
  void CompleteCancelled();

  // What a pipe reset answers.
  NTSTATUS reset_pipe_status = STATUS_SUCCESS;
  ULONG port_status = USBD_PORT_CONNECTED | USBD_PORT_ENABLED;
  int port_resets = 0;
  bool configured = false;
  // Every request block fails as on a device that has gone.
  bool unplugged = false;
  // Largest MaximumTransferSize the bus accepts for a pipe.
  ULONG max_transfer_limit = 0x100000;

  // Power: the capabilities it reports, the wait-wake request it holds, what it answers a
  // device SET_POWER.
  DEVICE_CAPABILITIES capabilities = {};
  NTSTATUS device_power_status = STATUS_SUCCESS;
  bool WaitWakePending();
  void Wake();
  std::vector<std::pair<POWER_STATE_TYPE, ULONG>> PowerRequests();

  static NTSTATUS NTAPI DispatchInternal(PDEVICE_OBJECT device, PIRP irp);
  static NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp);
  static NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp);
  static NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT device, PIRP irp);
  static void NTAPI CancelHeld(PDEVICE_OBJECT device, PIRP irp);

 private:
  struct HeldRequest {
    PIRP irp;
    int pipe;  // -1 for a vendor request or wait-wake
    bool wait_wake;
  };
  NTSTATUS HandleUrb(PIRP irp, PURB urb);
  NTSTATUS Bulk(PIRP irp, PURB urb);
  NTSTATUS Vendor(PIRP irp, PURB urb);
  NTSTATUS SelectConfiguration(PURB urb);
  NTSTATUS Hold(PIRP irp, int pipe, bool wait_wake);
  int PipeIndex(USBD_PIPE_HANDLE handle);
  void EndHeld(std::deque<HeldRequest>::iterator it, NTSTATUS status);
  static void CompleteAtDispatch(PIRP irp, NTSTATUS status);
  static FakeUsbBus* Of(PDEVICE_OBJECT device);

  DRIVER_OBJECT driver_ = {};
  DRIVER_EXTENSION driver_extension_ = {};
  PDEVICE_OBJECT pdo_ = nullptr;
  std::vector<Endpoint> endpoints_;
  std::vector<uint8_t> pipe_handles_;  // their addresses are the pipe handles
  uint8_t interface_handle_ = 0;
  uint8_t config_handle_ = 0;

  std::recursive_mutex lock_;
  std::condition_variable_any held_changed_;
  std::vector<std::deque<Reply>> replies_;
  std::vector<std::vector<uint8_t>> written_;
  std::vector<Transfer> transfers_;
  std::vector<std::pair<USHORT, int>> pipe_requests_;
  std::vector<VendorRequest> vendor_requests_;
  std::deque<HeldRequest> held_;
  std::vector<PIRP> cancelled_;  // cancelled, their completion put off
  std::vector<std::pair<POWER_STATE_TYPE, ULONG>> power_requests_;
};

// The two-endpoint bulk interface of the players: pipe 0 IN 0x81, pipe 1 OUT 0x02.
std::vector<FakeUsbBus::Endpoint> PlayerEndpoints();
