// The I/O manager and the plug-and-play manager of the test program: loads the driver, adds
// its device over a FakeUsbBus, and sends it requests built as the system builds them
// (buffered I/O control codes, direct I/O reads and writes, file objects with names).
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/fake_usb_bus.h"
#include "kernel/mirrin_kernel.h"

class DriverHost {
 public:
  // One request in flight from user mode or from the managers.
  class Request {
   public:
    // True once the request has come back and, for one from the managers, their call to the
    // driver has returned too (as the plug-and-play manager goes on only then); waits at most
    // timeout_ms.
    bool Wait(int timeout_ms = 10000);
    NTSTATUS status();
    ULONG_PTR information();
    // As CancelIo would: IoCancelIrp while the request is still out.
    void Cancel();
    // Runs `callback` once the request has come back (at once when it has), on the thread that
    // completed it.
    void WhenDone(std::function<void()> callback);

   private:
    friend class DriverHost;
    std::mutex lock_;
    std::condition_variable done_changed_;
    bool done_ = false;
    bool call_returned_ = true;
    std::function<void()> when_done_;
    PIRP irp_ = nullptr;
    IO_STATUS_BLOCK result_ = {};
    std::vector<uint8_t> system_buffer_;
    void* user_output_ = nullptr;
    ULONG output_length_ = 0;
  };
  using RequestPtr = std::shared_ptr<Request>;

  struct File {
    FILE_OBJECT object = {};
    std::wstring name;
  };

  explicit DriverHost(FakeUsbBus& bus);
  ~DriverHost();
  DriverHost(const DriverHost&) = delete;
  DriverHost& operator=(const DriverHost&) = delete;

  NTSTATUS AddDevice();
  // QUERY_CAPABILITIES, then START_DEVICE.
  NTSTATUS Start();
  NTSTATUS Pnp(UCHAR minor);
  RequestPtr SendPnp(UCHAR minor);
  // Set or query power of the given kind, as the power manager sends it to the stack's top.
  RequestPtr SendPower(UCHAR minor, POWER_STATE_TYPE type, ULONG state);
  PDEVICE_OBJECT fdo() const { return fdo_; }
  bool removed() const { return removed_; }

  // Opens the device with a file name (L"" for none); the file is valid on success only.
  NTSTATUS Open(const std::wstring& name, std::unique_ptr<File>* file);
  // Cleanup then close.
  void Close(std::unique_ptr<File> file);
  RequestPtr Read(File* file, void* buffer, ULONG length);
  RequestPtr Write(File* file, const void* buffer, ULONG length);
  RequestPtr Control(File* file, ULONG code, const void* input, ULONG input_length,
                     void* output, ULONG output_length, bool caller_is_32bit = false);

 private:
  PIRP NewIrp();
  PIRP NewManagerIrp(UCHAR major, UCHAR minor);
  // Plug-and-play and power requests come from a thread of the managers, as the system's
  // do: their dispatch may wait for the test to release transfers.
  RequestPtr Send(PIRP irp, RequestPtr request, bool from_manager_thread = false);
  RequestPtr Transfer(File* file, UCHAR major, void* buffer, ULONG length);

  FakeUsbBus& bus_;
  DRIVER_OBJECT driver_ = {};
  DRIVER_EXTENSION extension_ = {};
  PDEVICE_OBJECT fdo_ = nullptr;
  bool removed_ = false;
  std::vector<std::thread> manager_threads_;
};
