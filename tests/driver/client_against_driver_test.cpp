// The service provider's USB transport against the driver's own request handling: the
// transport's Win32 calls go into the driver host over the fake bus, so both sides of the
// contract (control codes, records, pipe names, status and error codes) meet here.
#include <functional>

#include "devices/device_results.h"
#include "driver/client_transport.h"
#include "driver/driver_fixture.h"
#include "driver/mirrin_ioctl.h"

namespace {

using ::testing::Contains;
using ::testing::IsEmpty;

// Win32 errors, as the system reports the driver's statuses.
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kTimeoutMs = 200;

// Public: the table's cases reach into it.
class ClientAgainstDriverTest : public DriverFixture {
 public:
  void TearDown() override {
    transport_.reset();
    client_.reset();
    port_.reset();
    DriverFixture::TearDown();
  }

  void StartClient(ClientSettings settings = {}) {
    StartPlayer();
    port_ = DriverPort::Over(*host_);
    client_ = std::make_unique<ClientSide>(*port_, settings);
    path_ = client_->InterfacePath(ksub::GuidText(kProductInterface));
    transport_ = client_->NewTransport(path_, 0x5001);
  }

  Result OpenThen(const std::function<Result()>& then) {
    const Result opened = transport_->Open();
    return opened == rc::kOk ? then() : opened;
  }

  using DriverFixture::bus_;
  std::unique_ptr<DriverPort> port_;
  std::unique_ptr<ClientSide> client_;
  std::string path_;
  std::unique_ptr<UsbHardware> transport_;
  uint8_t reply_[UsbHardware::kReplySize] = {};
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(0x50000);
  uint32_t done_ = 0;
  uint32_t product_id_ = 0;
};

TEST_F(ClientAgainstDriverTest, TheTransportWorksThroughTheDriver) {
  using T = ClientAgainstDriverTest;
  const std::vector<uint8_t> written(100, 0x5A);
  const struct {
    const char* what;
    ClientSettings settings;
    std::function<void(T&)> arrange;
    std::function<Result(T&)> act;
    Result expected;
    std::function<void(T&)> check;
  } cases[] = {
      {"open, and a second transport finds the player held", {}, nullptr,
       [](T& t) { return t.transport_->Open(); }, rc::kOk,
       [](T& t) {
         auto second = t.client_->NewTransport(t.path_, 0x5001);
         EXPECT_EQ(second->Open(), rc::kPlayerBusy);
       }},
      {"a pipe another holder has open: the driver reports the player busy", {}, nullptr,
       [](T& t) {
         DriverPort::File* other = nullptr;
         EXPECT_EQ(t.port_->Open(L"\\PIPE01", &other), STATUS_SUCCESS);
         const Result result = t.transport_->Open();
         if (other) t.port_->Close(other);
         return result;
       },
       rc::kPlayerBusy,
       [](T& t) { EXPECT_EQ(t.transport_->Open(), rc::kOk) << "free again once it is closed"; }},
      {"device descriptor", {}, nullptr,
       [](T& t) { return t.client_->ReadProductId(t.path_, &t.product_id_); }, rc::kOk,
       [](T& t) { EXPECT_EQ(t.product_id_, 0x5001u); }},
      {"vendor request", {},
       [](T& t) {
         for (uint8_t i = 0; i < 12; ++i) t.bus_->vendor_reply.data.push_back(0xA0 + i);
       },
       [](T& t) {
         return t.OpenThen([&t] { return t.transport_->ControlRequest(0x12, 0x3456, 0x789A, t.reply_); });
       },
       rc::kOk,
       [](T& t) {
         const auto requests = t.bus_->VendorRequests();
         ASSERT_EQ(requests.size(), 1u);
         EXPECT_EQ(requests[0].request, 0x12);
         EXPECT_EQ(requests[0].value, 0x3456);
         EXPECT_EQ(requests[0].index, 0x789A);
         EXPECT_TRUE(requests[0].in);
         EXPECT_EQ(requests[0].length, 12u);
         EXPECT_EQ(requests[0].function, URB_FUNCTION_VENDOR_DEVICE);
         EXPECT_EQ(t.reply_[0], 0xA0);
         EXPECT_EQ(t.reply_[11], 0xAB);
       }},
      {"short vendor reply", {},
       [](T& t) { t.bus_->vendor_reply.data.assign(8, 1); },
       [](T& t) {
         return t.OpenThen([&t] { return t.transport_->ControlRequest(1, 0, 0, t.reply_); });
       },
       rc::kWrongReplySize, nullptr},
      // Only a 32-bit process can name its reply buffer in the older code's record.
      {"a first-generation driver: the older vendor request code", {true},
       [](T& t) { t.bus_->vendor_reply.data.assign(12, 7); },
       [](T& t) {
         return t.OpenThen([&t] { return t.transport_->ControlRequest(2, 0, 0, t.reply_); });
       },
       sizeof(void*) == 4 ? rc::kOk : rc::kNotImplemented,
       [](T& t) {
         EXPECT_EQ(t.bus_->VendorRequests().size(), sizeof(void*) == 4 ? 1u : 0u);
         if (sizeof(void*) == 4) {
           EXPECT_EQ(t.reply_[11], 7);
         }
       }},
      {"player gone", {}, nullptr,
       [](T& t) {
         return t.OpenThen([&t] {
           t.bus_->unplugged = true;
           return t.transport_->ControlRequest(1, 0, 0, t.reply_);
         });
       },
       rc::kPlayerGone, nullptr},
      {"bulk read", {}, nullptr,
       [](T& t) {
         return t.OpenThen(
             [&t] { return t.transport_->Read(t.buffer_.data(), 64, &t.done_, kTimeoutMs); });
       },
       rc::kOk,
       [](T& t) {
         EXPECT_EQ(t.done_, 64u);
         EXPECT_EQ(t.buffer_[63], 63);
       }},
      {"a read longer than the pipe's maximum transfer size", {}, nullptr,
       [](T& t) {
         return t.OpenThen([&t] {
           return t.transport_->Read(t.buffer_.data(), 0x50000, &t.done_, kTimeoutMs);
         });
       },
       rc::kOk,
       [](T& t) {
         EXPECT_EQ(t.done_, 0x40000u) << "the selected configuration's maximum";
         const auto transfers = t.bus_->Transfers();
         ASSERT_EQ(transfers.size(), 1u);
         EXPECT_EQ(transfers[0].length, 0x40000u);
       }},
      {"bulk write", {}, nullptr,
       [&written](T& t) {
         return t.OpenThen([&] {
           return t.transport_->Write(written.data(), 100, &t.done_, kTimeoutMs);
         });
       },
       rc::kOk,
       [&written](T& t) {
         EXPECT_EQ(t.done_, 100u);
         EXPECT_EQ(t.bus_->Written(1), written);
       }},
      {"a read time-out cancels the transfer", {},
       [](T& t) {
         FakeUsbBus::Reply hold;
         hold.hold = true;
         t.bus_->QueueReply(0, hold);
       },
       [](T& t) {
         return t.OpenThen(
             [&t] { return t.transport_->Read(t.buffer_.data(), 64, &t.done_, kTimeoutMs); });
       },
       rc::kTimeout,
       [](T& t) {
         EXPECT_EQ(t.done_, 0u);
         EXPECT_EQ(t.bus_->Held(), 0u) << "cancelled in the bus";
       }},
      {"a write time-out resets the write pipe", {},
       [](T& t) { t.bus_->hold_writes = true; },
       [&written](T& t) {
         return t.OpenThen([&] {
           return t.transport_->Write(written.data(), 100, &t.done_, kTimeoutMs);
         });
       },
       rc::kTimeout,
       [](T& t) {
         EXPECT_THAT(t.bus_->PipeRequests(),
                     Contains(std::make_pair(USHORT{URB_FUNCTION_RESET_PIPE}, 1)));
       }},
      {"a failed read resets the pipe and then the port", {},
       [](T& t) {
         FakeUsbBus::Reply failure;
         failure.status = STATUS_UNSUCCESSFUL;
         t.bus_->QueueReply(0, failure);
         t.bus_->reset_pipe_status = STATUS_UNSUCCESSFUL;
         t.bus_->port_status = USBD_PORT_CONNECTED;  // connected, not enabled
       },
       [](T& t) {
         return t.OpenThen(
             [&t] { return t.transport_->Read(t.buffer_.data(), 64, &t.done_, kTimeoutMs); });
       },
       rc::FromWin32(kErrorGenFailure),
       [](T& t) {
         EXPECT_THAT(t.bus_->PipeRequests(),
                     Contains(std::make_pair(USHORT{URB_FUNCTION_RESET_PIPE}, 0)));
         EXPECT_EQ(t.bus_->port_resets, 1);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    StartClient(c.settings);
    if (c.arrange) c.arrange(*this);
    EXPECT_EQ(c.act(*this), c.expected);
    if (c.check) c.check(*this);
  }
}

TEST_F(ClientAgainstDriverTest, TheDriverRefusesVendorDataLongerThanASetupPacketCanAnnounce) {
  const struct {
    const char* what;
    uint8_t request_type;
    uint32_t input_length;
    uint32_t output_length;
    uint32_t error;
  } cases[] = {
      {"IN, 0xFFFF bytes", 0xC0, 12, 0xFFFF, 0},
      {"IN, 0x10000 bytes", 0xC0, 12, 0x10000, kErrorInvalidParameter},
      {"OUT, 0xFFFF bytes", 0x40, 0xFFFF, 0, 0},
      {"OUT, 0x10000 bytes", 0x40, 0x10000, 0, kErrorInvalidParameter},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    StartClient();
    std::vector<uint8_t> input(c.input_length);
    input[MIRRIN_VENDOR_RECORD_REQUEST_TYPE] = c.request_type;
    std::vector<uint8_t> output(c.output_length);
    uint32_t returned = 0;
    EXPECT_EQ(client_->Control(path_, MIRRIN_IOCTL_VENDOR_REQUEST, input.data(), c.input_length,
                               output.data(), c.output_length, &returned),
              c.error);
    EXPECT_EQ(bus_->VendorRequests().size(), c.error ? 0u : 1u);
  }
}

}  // namespace
