// A transport double that talks to nothing but keeps count, across all its clones, of how
// many exist and how many are open, so tests can check that no failure path leaves a
// transport behind or a player held.
#pragma once

#include <memory>
#include <string>

#include "devices/usb_hardware.h"

struct TransportCounts {
  int alive = 0;
  int open = 0;
  int opens = 0;    // successful Open calls
  int clones = 0;
  Result open_result = 0;        // answer of Open
  Result product_id_result = 0;  // answer of GetProductId
  bool clone_fails = false;      // Clone answers null (out of memory)
};

class CountingUsbHardware : public UsbHardware {
 public:
  CountingUsbHardware(std::shared_ptr<TransportCounts> counts, std::string path,
                      uint32_t product_id)
      : counts_(std::move(counts)), path_(std::move(path)), product_id_(product_id) {
    ++counts_->alive;
  }
  ~CountingUsbHardware() override {
    if (open_) --counts_->open;
    --counts_->alive;
  }

  Result Open() override {
    if (open_) return 0;
    if (counts_->open_result < 0) return counts_->open_result;
    open_ = true;
    ++counts_->open;
    ++counts_->opens;
    return 0;
  }
  Result Close() override {
    if (open_) --counts_->open;
    open_ = false;
    return 0;
  }
  Result ControlRequest(uint8_t, uint16_t, uint16_t, uint8_t[kReplySize]) override {
    return rc::kNotImplemented;
  }
  Result Read(void*, uint32_t, uint32_t* done, uint32_t) override {
    *done = 0;
    return rc::kNotImplemented;
  }
  Result Write(const void*, uint32_t, uint32_t* done, uint32_t) override {
    *done = 0;
    return rc::kNotImplemented;
  }
  UsbHardware* Clone() override {
    if (counts_->clone_fails) return nullptr;
    ++counts_->clones;
    return new CountingUsbHardware(counts_, path_, product_id_);
  }
  Result GetProductId(uint32_t* product_id) override {
    *product_id = product_id_;
    return counts_->product_id_result;
  }
  Result GetName(std::string* name) override {
    *name = "Counting@" + path_;
    return 0;
  }
  Result GetPath(std::string* path) override {
    *path = path_;
    return 0;
  }

  bool is_open() const { return open_; }

 private:
  std::shared_ptr<TransportCounts> counts_;
  std::string path_;
  uint32_t product_id_;
  bool open_ = false;
};
