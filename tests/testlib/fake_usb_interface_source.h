// A USB interface source with scripted interface paths per product id, making counting
// transports. Like SetupAPI's walk, it stops at the first negative callback result.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_enumerator.h"
#include "devices/usb/setup_api_binding.h"
#include "devices/usb/usb_interface_guids.h"
#include "testlib/counting_usb_hardware.h"

class FakeUsbInterfaceSource : public UsbInterfaceSource {
 public:
  explicit FakeUsbInterfaceSource(std::shared_ptr<TransportCounts> counts)
      : counts_(std::move(counts)) {}

  Result EnumerateInterfaces(const GUID* interface_class,
                             DevicePathCallback& callback) override {
    const uint32_t id = ProductOf(*interface_class);
    asked.push_back(id);
    if (failing.count(id)) return failing[id];
    for (const std::string& path : paths[id]) {
      const Result result = callback.OnDevicePath(path);
      callback_results.push_back(result);
      if (rc::Failed(result)) return result;
    }
    return rc::kOk;
  }
  UsbHardware* CreateTransport(const std::string& path, uint32_t product_id) override {
    if (out_of_memory) return nullptr;
    return new CountingUsbHardware(counts_, path, product_id);
  }
  Result ReadProductId(const std::string& path, uint32_t* product_id) override {
    read_paths.push_back(path);
    const auto found = product_ids.find(path);
    if (found == product_ids.end()) return rc::FromWin32(ERROR_FILE_NOT_FOUND);
    *product_id = found->second;
    return rc::kOk;
  }

  // --- script ---
  std::map<uint32_t, std::vector<std::string>> paths;  // by the interface class's product id
  std::map<uint32_t, Result> failing;                   // the walk of that class fails
  bool out_of_memory = false;
  std::map<std::string, uint32_t> product_ids;  // device descriptors by interface path
  // --- record ---
  std::vector<uint32_t> asked;  // product ids of the interface classes asked, in order
  std::vector<Result> callback_results;
  std::vector<std::string> read_paths;  // paths whose descriptor was read

 private:
  static uint32_t ProductOf(const GUID& interface_class) {
    for (const UsbInterfaceGuidRow& row : UsbInterfaceGuidTable)
      if (IsEqualGUID(row.interface_class, interface_class)) return row.product_id;
    ADD_FAILURE() << "an interface class outside the table";
    return 0;
  }
  std::shared_ptr<TransportCounts> counts_;
};
