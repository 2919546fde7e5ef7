// The driver host as user mode reaches it: files opened by name and requests that come back
// with an NT status. Plain C++ on purpose: the kernel substitute's declarations and the Win32
// headers cannot meet in one file, and this is where the two sides of a test meet.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class DriverHost;

class DriverPort {
 public:
  class Call {
   public:
    virtual ~Call() = default;
    // True once the request has come back; waits at most timeout_ms.
    virtual bool Wait(int timeout_ms) = 0;
    virtual int32_t Status() = 0;  // an NTSTATUS
    virtual uint64_t Information() = 0;
    virtual void Cancel() = 0;
    // Runs `callback` once the request has come back, at once when it has.
    virtual void WhenDone(std::function<void()> callback) = 0;
  };
  using CallPtr = std::shared_ptr<Call>;
  class File;

  virtual ~DriverPort() = default;
  // The status of the create request; *file is set on success only.
  virtual int32_t Open(const std::wstring& name, File** file) = 0;
  // Cleanup and close.
  virtual void Close(File* file) = 0;
  virtual CallPtr Read(File* file, void* buffer, uint32_t length) = 0;
  virtual CallPtr Write(File* file, const void* buffer, uint32_t length) = 0;
  virtual CallPtr Control(File* file, uint32_t code, const void* input, uint32_t input_length,
                          void* output, uint32_t output_length) = 0;
  // The symbolic links of the device interfaces the driver has enabled, as it registered them
  // ("\??\..." ).
  virtual std::vector<std::wstring> EnabledInterfaces() = 0;

  static std::unique_ptr<DriverPort> Over(DriverHost& host);
};
