// A loaded driver over one player on the fake bus; every test ends with the device removed,
// the driver unloaded and the substitute's checks: no fault it saw, nothing left in pool.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/driver_host.h"
#include "driver/fake_usb_bus.h"
#include "driver/kernel_substitute.h"

// The product interface the INF writes as "DeviceGUID" for product 0x5001.
constexpr GUID kProductInterface = {
    0x60641432, 0xCEBF, 0x11D3, {0xA2, 0x7B, 0x00, 0x80, 0xC8, 0xFD, 0x7F, 0x34}};
constexpr GUID kDriverInterface = {
    0xF33FDC04, 0xD1AC, 0x4E8E, {0x9A, 0x30, 0x19, 0xBB, 0xD4, 0xB1, 0x08, 0xAE}};

class DriverFixture : public ::testing::Test {
 protected:
  using File = DriverHost::File;

  explicit DriverFixture(std::vector<FakeUsbBus::Endpoint> endpoints = PlayerEndpoints(),
                         bool remote_wakeup = false)
      : endpoints_(std::move(endpoints)), remote_wakeup_(remote_wakeup) {}

  void SetUp() override {
    ksub::Reset();
    bus_ = std::make_unique<FakeUsbBus>(0x5001, endpoints_, remote_wakeup_);
    ksub::SetRegistryString(bus_->pdo(), L"DeviceGUID", ksub::GuidText(kProductInterface));
    host_ = std::make_unique<DriverHost>(*bus_);
    pool_before_add_ = ksub::LivePoolBlocks();
  }

  void TearDown() override {
    host_.reset();
    ksub::DrainWorkItems();
    EXPECT_THAT(ksub::Violations(), ::testing::IsEmpty());
    EXPECT_EQ(ksub::LivePoolBlocks(), 0u) << "pool left after the device was removed";
    EXPECT_EQ(ksub::LiveMdls(), 0u);
    EXPECT_EQ(ksub::LiveWorkItems(), 0u);
    EXPECT_EQ(ksub::HeldDeviceReferences(), 0u);
    EXPECT_EQ(ksub::OpenRegistryKeys(), 0u);
    bus_.reset();
    EXPECT_EQ(ksub::LiveIrps(), 0u);
  }

  void StartPlayer() {
    ASSERT_EQ(host_->AddDevice(), STATUS_SUCCESS);
    ASSERT_EQ(host_->Start(), STATUS_SUCCESS);
  }

  std::unique_ptr<File> Open(const std::wstring& name) {
    std::unique_ptr<File> file;
    const NTSTATUS status = host_->Open(name, &file);
    EXPECT_EQ(status, STATUS_SUCCESS) << "opening \"" << std::string(name.begin(), name.end())
                                      << "\"";
    return file;
  }

  // The status of a one-byte read or write on a new handle of `name`.
  NTSTATUS OneByteOn(const std::wstring& name, bool write) {
    auto file = Open(name);
    uint8_t byte = 0;
    auto request = write ? host_->Write(file.get(), &byte, 1) : host_->Read(file.get(), &byte, 1);
    const NTSTATUS status = request->Wait() ? request->status() : STATUS_TIMEOUT;
    host_->Close(std::move(file));
    return status;
  }

  std::vector<FakeUsbBus::Endpoint> endpoints_;
  bool remote_wakeup_;
  std::unique_ptr<FakeUsbBus> bus_;
  std::unique_ptr<DriverHost> host_;
  size_t pool_before_add_ = 0;  // what the loaded driver itself holds
};
