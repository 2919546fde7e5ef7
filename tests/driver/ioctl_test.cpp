// The I/O control codes against their buffer lengths, in started and stopped devices.
#include "driver/driver_fixture.h"
#include "driver/mirrin_ioctl.h"

extern "C" void* KsubAllocateLow(size_t size);
extern "C" void KsubFreeLow(void* memory);

namespace {

using ::testing::ElementsAre;

constexpr ULONG kConfigLength = 9 + 9 + 7 + 7;
constexpr ULONG kInterfaceInfoLength =
    offsetof(USBD_INTERFACE_INFORMATION, Pipes) + 2 * sizeof(USBD_PIPE_INFORMATION);

std::vector<uint8_t> VendorRecord(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                                  uint16_t length, uint32_t address) {
  return {type,
          request,
          static_cast<uint8_t>(value),
          static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(index),
          static_cast<uint8_t>(index >> 8),
          static_cast<uint8_t>(length),
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(address),
          static_cast<uint8_t>(address >> 8),
          static_cast<uint8_t>(address >> 16),
          static_cast<uint8_t>(address >> 24)};
}

class IoctlTest : public DriverFixture {
 protected:
  struct Outcome {
    NTSTATUS status;
    ULONG_PTR information;
  };

  Outcome Call(File* file, ULONG code, std::vector<uint8_t> input, ULONG output_length,
               std::vector<uint8_t>* output = nullptr, bool caller_is_32bit = false) {
    std::vector<uint8_t> out(output_length, 0xAA);
    auto request = host_->Control(file, code, input.data(), static_cast<ULONG>(input.size()),
                                  out.data(), output_length, caller_is_32bit);
    EXPECT_TRUE(request->Wait());
    if (output) *output = out;
    return {request->status(), request->information()};
  }
};

struct IoctlCase {
  const char* what;
  ULONG code;
  ULONG input_length;
  ULONG output_length;
  NTSTATUS started;
  ULONG_PTR information;
};

TEST_F(IoctlTest, EveryCodeAgainstBufferLengthsAndState) {
  const IoctlCase cases[] = {
      {"config, no output", MIRRIN_IOCTL_GET_CONFIG_DESCRIPTOR, 0, 0, STATUS_BUFFER_TOO_SMALL, 0},
      {"config, one short", MIRRIN_IOCTL_GET_CONFIG_DESCRIPTOR, 0, kConfigLength - 1,
       STATUS_BUFFER_TOO_SMALL, 0},
      {"config, whole", MIRRIN_IOCTL_GET_CONFIG_DESCRIPTOR, 0, kConfigLength, STATUS_SUCCESS,
       kConfigLength},
      {"config, room to spare", MIRRIN_IOCTL_GET_CONFIG_DESCRIPTOR, 0, 4096, STATUS_SUCCESS,
       kConfigLength},
      {"port check", MIRRIN_IOCTL_CHECK_PORT, 0, 0, STATUS_SUCCESS, 0},
      {"pipe reset on the device handle", MIRRIN_IOCTL_RESET_PIPE, 0, 0,
       STATUS_INVALID_PARAMETER, 0},
      {"device descriptor, 17", MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR, 0, 17,
       STATUS_BUFFER_TOO_SMALL, 0},
      {"device descriptor, 18", MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR, 0, 18, STATUS_SUCCESS, 18},
      {"interface, one short", MIRRIN_IOCTL_GET_INTERFACE_INFO, 0, kInterfaceInfoLength - 1,
       STATUS_BUFFER_TOO_SMALL, 0},
      {"interface, whole", MIRRIN_IOCTL_GET_INTERFACE_INFO, 16384, 16384, STATUS_SUCCESS,
       kInterfaceInfoLength},
      {"vendor, short record", MIRRIN_IOCTL_VENDOR_REQUEST, 11, 12, STATUS_INVALID_PARAMETER,
       0},
      {"vendor, IN without output", MIRRIN_IOCTL_VENDOR_REQUEST, 12, 0,
       STATUS_INVALID_PARAMETER, 0},
      {"vendor, IN", MIRRIN_IOCTL_VENDOR_REQUEST, 12, 12, STATUS_SUCCESS, 12},
      {"vendor at address, short record", MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS, 11, 0,
       STATUS_INVALID_PARAMETER, 0},
      {"unknown code", 0x220024, 0, 0, STATUS_INVALID_DEVICE_REQUEST, 0},
      {"unknown code, other device type", 0x2D0000, 0, 0, STATUS_INVALID_DEVICE_REQUEST, 0},
  };
  bus_->vendor_reply.data.assign(12, 0x5A);
  StartPlayer();
  auto device = Open(L"");
  for (const auto& c : cases) {
    std::vector<uint8_t> input = VendorRecord(0xC0, 100, 0, 0, 12, 0);
    input.resize(c.input_length);
    const Outcome outcome = Call(device.get(), c.code, input, c.output_length);
    EXPECT_EQ(outcome.status, c.started) << c.what;
    EXPECT_EQ(outcome.information, c.information) << c.what;
  }
  // Stopped: every code, whatever its buffers, is refused until the next start.
  ASSERT_EQ(host_->Pnp(IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS);
  ASSERT_EQ(host_->Pnp(IRP_MN_STOP_DEVICE), STATUS_SUCCESS);
  for (const auto& c : cases) {
    std::vector<uint8_t> input = VendorRecord(0xC0, 100, 0, 0, 12, 0);
    input.resize(c.input_length);
    EXPECT_EQ(Call(device.get(), c.code, input, c.output_length).status,
              STATUS_INVALID_DEVICE_STATE)
        << c.what;
  }
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, DescriptorsComeBackAsTheDeviceSentThem) {
  StartPlayer();
  auto device = Open(L"");
  std::vector<uint8_t> out;
  ASSERT_EQ(Call(device.get(), MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR, {}, 18, &out).status,
            STATUS_SUCCESS);
  EXPECT_EQ(out, bus_->device_descriptor);
  ASSERT_EQ(Call(device.get(), MIRRIN_IOCTL_GET_CONFIG_DESCRIPTOR, {}, kConfigLength, &out)
                .status,
            STATUS_SUCCESS);
  EXPECT_EQ(out, bus_->config_descriptor);
  ASSERT_EQ(Call(device.get(), MIRRIN_IOCTL_GET_INTERFACE_INFO, {}, 16384, &out).status,
            STATUS_SUCCESS);
  const auto* info = reinterpret_cast<const USBD_INTERFACE_INFORMATION*>(out.data());
  EXPECT_EQ(info->NumberOfPipes, 2u);
  EXPECT_EQ(info->Pipes[0].EndpointAddress, 0x81);
  EXPECT_EQ(info->Pipes[1].EndpointAddress, 0x02);
  EXPECT_EQ(info->Pipes[0].MaximumTransferSize, 0x40000u);
  EXPECT_EQ(info->Pipes[1].PipeType, UsbdPipeTypeBulk);
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, A32BitCallerGetsTheInterfaceInformationIn32BitLayout) {
  StartPlayer();
  auto device = Open(L"");
  std::vector<uint8_t> out;
  const Outcome outcome =
      Call(device.get(), MIRRIN_IOCTL_GET_INTERFACE_INFO, {}, 16384, &out, true);
  ASSERT_EQ(outcome.status, STATUS_SUCCESS);
  // USBD_INTERFACE_INFORMATION of 32-bit Windows: pipe count at 12, pipes of 20 bytes from
  // 16, each with its maximum transfer size at 12.
  EXPECT_EQ(outcome.information, 16u + 2 * 20u);
  EXPECT_EQ(out[0] | out[1] << 8, 56);
  EXPECT_EQ(out[12], 2);
  EXPECT_EQ(out[16 + 2], 0x81);
  EXPECT_EQ(out[16 + 4], UsbdPipeTypeBulk);
  EXPECT_EQ(out[16 + 12] | out[16 + 13] << 8 | out[16 + 14] << 16, 0x40000);
  EXPECT_EQ(out[36 + 2], 0x02);
  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_GET_INTERFACE_INFO, {}, 55, nullptr, true).status,
            STATUS_BUFFER_TOO_SMALL);
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, ADeviceDescriptorClaimingMoreThan18BytesGivesOnly18) {
  bus_->device_descriptor[0] = 0xFF;
  StartPlayer();
  auto device = Open(L"");
  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR, {}, 255).information, 18u);
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, PortCheckResetsAConnectedPortThatIsNotEnabled) {
  StartPlayer();
  auto device = Open(L"");
  bus_->port_status = USBD_PORT_CONNECTED;
  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_CHECK_PORT, {}, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(bus_->port_resets, 1);
  bus_->port_status = 0;
  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_CHECK_PORT, {}, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(bus_->port_resets, 1) << "nothing connected: nothing to reset";
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, PipeResetGoesToTheHandlesPipe) {
  StartPlayer();
  auto write = Open(L"\\PIPE01");
  EXPECT_EQ(Call(write.get(), MIRRIN_IOCTL_RESET_PIPE, {}, 0).status, STATUS_SUCCESS);
  EXPECT_THAT(bus_->PipeRequests(),
              ElementsAre(std::make_pair(USHORT{URB_FUNCTION_RESET_PIPE}, 1)));
  host_->Close(std::move(write));
}

TEST_F(IoctlTest, VendorRequestInReturnsWhatTheDeviceSent) {
  bus_->vendor_reply.data = {1, 2, 3, 4, 5};
  StartPlayer();
  auto device = Open(L"");
  std::vector<uint8_t> out;
  const Outcome outcome = Call(device.get(), MIRRIN_IOCTL_VENDOR_REQUEST,
                               VendorRecord(0xC0, 0x61, 0x1234, 0xABCD, 12, 0), 12, &out);
  EXPECT_EQ(outcome.status, STATUS_SUCCESS);
  EXPECT_EQ(outcome.information, 5u);
  EXPECT_THAT(std::vector<uint8_t>(out.begin(), out.begin() + 5), ElementsAre(1, 2, 3, 4, 5));
  const auto sent = bus_->VendorRequests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].function, URB_FUNCTION_VENDOR_DEVICE);
  EXPECT_EQ(sent[0].request, 0x61);
  EXPECT_EQ(sent[0].value, 0x1234);
  EXPECT_EQ(sent[0].index, 0xABCD);
  EXPECT_TRUE(sent[0].in);
  EXPECT_EQ(sent[0].length, 12u) << "the output buffer's length, not the record's";
  EXPECT_EQ(sent[0].reserved_bits, 0);
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, VendorRequestOutSendsTheInput) {
  StartPlayer();
  auto device = Open(L"");
  std::vector<uint8_t> input = VendorRecord(0x40, 0x62, 1, 2, 0, 0);
  input.push_back(0x77);
  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_VENDOR_REQUEST, input, 0).status, STATUS_SUCCESS);
  const auto sent = bus_->VendorRequests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].in);
  EXPECT_EQ(sent[0].out_data, input);
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, VendorRequestTimesOutAfter5000ms) {
  bus_->vendor_reply.hold = true;
  StartPlayer();
  auto device = Open(L"");
  const Outcome outcome = Call(device.get(), MIRRIN_IOCTL_VENDOR_REQUEST,
                               VendorRecord(0xC0, 100, 0, 0, 12, 0), 12);
  EXPECT_EQ(outcome.status, STATUS_IO_TIMEOUT);
  EXPECT_EQ(outcome.information, 0u);
  EXPECT_THAT(ksub::RequestedTimeoutsMs(), ::testing::Contains(5000));
  EXPECT_EQ(bus_->Held(), 0u) << "the timed-out request was cancelled";
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, VendorRequestAtAddressOnlyFor32BitCallers) {
  bus_->vendor_reply.data = {9, 8, 7};
  StartPlayer();
  auto device = Open(L"");
  auto* reply = static_cast<uint8_t*>(KsubAllocateLow(4096));
  ASSERT_NE(reply, nullptr);
  const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(reply));
  const auto record = VendorRecord(0xC0, 0x63, 5, 6, 12, address);

  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS, record, 0).status,
            STATUS_NOT_SUPPORTED)
      << "a 64-bit caller's buffer has no 32-bit address";
  EXPECT_TRUE(bus_->VendorRequests().empty());

  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS, record, 0, nullptr, true)
                .status,
            STATUS_SUCCESS);
  EXPECT_THAT(std::vector<uint8_t>(reply, reply + 3), ElementsAre(9, 8, 7));
  ASSERT_EQ(bus_->VendorRequests().size(), 1u);
  EXPECT_EQ(bus_->VendorRequests()[0].length, 12u);

  // No address: the request goes without a data stage.
  EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS,
                 VendorRecord(0xC0, 0x63, 5, 6, 12, 0), 0, nullptr, true)
                .status,
            STATUS_SUCCESS);
  EXPECT_EQ(bus_->VendorRequests()[1].length, 0u);
  KsubFreeLow(reply);
  host_->Close(std::move(device));
}

TEST_F(IoctlTest, AnAddressThatFaultsEndsTheRequestWithTheFault) {
  StartPlayer();
  auto device = Open(L"");
  // Addresses in the first 64 KiB are never mapped.
  for (uint32_t address : {0x1000u, 0x2000u}) {
    EXPECT_EQ(Call(device.get(), MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS,
                   VendorRecord(0xC0, 0x63, 0, 0, 12, address), 0, nullptr, true)
                  .status,
              STATUS_ACCESS_VIOLATION);
  }
  EXPECT_TRUE(bus_->VendorRequests().empty()) << "nothing is sent for a bad buffer";
  EXPECT_EQ(ksub::LiveMdls(), 0u);
  host_->Close(std::move(device));
}

}  // namespace
