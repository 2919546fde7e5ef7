#include "driver/driver_port.h"

#include "driver/driver_host.h"
#include "driver/kernel_substitute.h"

class DriverPort::File {
 public:
  std::unique_ptr<DriverHost::File> file;
};

namespace {

class HostCall : public DriverPort::Call {
 public:
  explicit HostCall(DriverHost::RequestPtr request) : request_(std::move(request)) {}
  bool Wait(int timeout_ms) override { return request_->Wait(timeout_ms); }
  int32_t Status() override { return request_->status(); }
  uint64_t Information() override { return request_->information(); }
  void Cancel() override { request_->Cancel(); }
  void WhenDone(std::function<void()> callback) override {
    request_->WhenDone(std::move(callback));
  }

 private:
  DriverHost::RequestPtr request_;
};

class HostPort : public DriverPort {
 public:
  explicit HostPort(DriverHost& host) : host_(host) {}

  int32_t Open(const std::wstring& name, File** file) override {
    auto opened = std::make_unique<File>();
    const NTSTATUS status = host_.Open(name, &opened->file);
    if (NT_SUCCESS(status)) *file = opened.release();
    return status;
  }
  void Close(File* file) override {
    host_.Close(std::move(file->file));
    delete file;
  }
  CallPtr Read(File* file, void* buffer, uint32_t length) override {
    return std::make_shared<HostCall>(host_.Read(file->file.get(), buffer, length));
  }
  CallPtr Write(File* file, const void* buffer, uint32_t length) override {
    return std::make_shared<HostCall>(host_.Write(file->file.get(), buffer, length));
  }
  CallPtr Control(File* file, uint32_t code, const void* input, uint32_t input_length,
                  void* output, uint32_t output_length) override {
    // The caller is a process of this program's own width.
    return std::make_shared<HostCall>(host_.Control(file->file.get(), code, input,
                                                    input_length, output, output_length,
                                                    sizeof(void*) == 4));
  }
  std::vector<std::wstring> EnabledInterfaces() override {
    std::vector<std::wstring> links;
    for (const auto& entry : ksub::Interfaces()) {
      if (entry.enabled) links.push_back(entry.link);
    }
    return links;
  }

 private:
  DriverHost& host_;
};

}  // namespace

std::unique_ptr<DriverPort> DriverPort::Over(DriverHost& host) {
  return std::make_unique<HostPort>(host);
}
