#include "devices/usb/win32_usb_hardware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_results.h"
#include "support/debug_trace.h"
#include "testlib/fake_clock.h"
#include "testlib/fake_win32_usb_api.h"
#include "testlib/trace_capture.h"

namespace {

using Step = FakeWin32UsbApi::Step;

const char kPath[] = "\\\\?\\usb#vid_0e21&pid_5003#0001#{2683a321-6a0c-11d4-8a88-0000e82fdaa9}";
const std::string kReadPipe = std::string(kPath) + "\\PIPE00";
const std::string kWritePipe = std::string(kPath) + "\\PIPE01";
constexpr bool k64Bit = sizeof(void*) == 8;

class Win32UsbHardwareTest : public ::testing::Test {
 protected:
  void OpenOrFail() { ASSERT_EQ(hardware_.Open(), rc::kOk); }

  FakeWin32UsbApi api_;
  FakeClock clock_;
  Win32UsbHardware hardware_{kPath, 0x5003, &api_, &clock_};
};

// --- open, close and the cross-process lock ---

TEST_F(Win32UsbHardwareTest, OpensReadPipeWritePipeAndDeviceOverlappedAndClosesAll) {
  OpenOrFail();
  EXPECT_EQ(api_.opened, (std::vector<std::string>{kReadPipe, kWritePipe, kPath}));
  for (DWORD flags : api_.open_flags) EXPECT_EQ(flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
  ASSERT_EQ(api_.semaphore_names.size(), 1u);
  EXPECT_EQ(api_.semaphore_names[0], Win32UsbHardware::LockName(kPath));
  EXPECT_EQ(api_.OpenHandleCount(), 5u);  // three files, the semaphore, the event

  EXPECT_EQ(hardware_.Close(), rc::kOk);
  EXPECT_EQ(api_.OpenHandleCount(), 0u);
  EXPECT_EQ(hardware_.Close(), rc::kOk);
}

TEST_F(Win32UsbHardwareTest, CloseOfANeverOpenedTransportDoesNothing) {
  EXPECT_EQ(hardware_.Close(), rc::kOk);
  EXPECT_TRUE(api_.opened.empty());
  EXPECT_TRUE(api_.semaphore_names.empty());
}

TEST_F(Win32UsbHardwareTest, SecondOpenOfAnOpenTransportKeepsItsLock) {
  OpenOrFail();
  EXPECT_EQ(hardware_.Open(), rc::kOk);
  EXPECT_EQ(api_.OpenHandleCount(), 5u);
  std::unique_ptr<UsbHardware> clone(hardware_.Clone());
  EXPECT_EQ(clone->Open(), rc::kPlayerBusy);
}

TEST(Win32UsbHardwareLockTest, LockNameHoldsNoBackslash) {
  EXPECT_EQ(Win32UsbHardware::LockName("\\\\?\\usb#a\\b"),
            "velto: qelcom device open:__?_usb#a_b");
}

struct OpenFailureCase {
  const char* what;
  std::string failing_file;  // empty: the event fails
  DWORD error;
  Result expected;
};

// Whatever fails, nothing stays open, the lock is given back and a later Open works.
TEST_F(Win32UsbHardwareTest, FailedOpenLeavesNothingOpen) {
  const OpenFailureCase cases[] = {
      {"read pipe missing", kReadPipe, ERROR_FILE_NOT_FOUND, static_cast<Result>(0x80070002)},
      {"write pipe busy", kWritePipe, ERROR_BUSY, rc::kPlayerBusy},
      {"device busy", kPath, ERROR_BUSY, rc::kPlayerBusy},
      {"device access denied", kPath, ERROR_ACCESS_DENIED, static_cast<Result>(0x80070005)},
      {"failure without an error code", kReadPipe, 0, rc::kFail},
      {"event not created", "", ERROR_NOT_ENOUGH_MEMORY, static_cast<Result>(0x80070008)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeWin32UsbApi api;
    if (c.failing_file.empty()) {
      api.event_error = c.error;
    } else {
      api.open_errors[c.failing_file] = c.error;
    }
    Win32UsbHardware hardware(kPath, 0x5003, &api, &clock_);
    EXPECT_EQ(hardware.Open(), c.expected);
    EXPECT_EQ(api.OpenHandleCount(), 0u);
    api.open_errors.clear();
    api.event_error = 0;
    EXPECT_EQ(hardware.Open(), rc::kOk);
  }
}

TEST_F(Win32UsbHardwareTest, CloneIsRefusedWhileTheFirstHoldsThePlayer) {
  OpenOrFail();
  std::unique_ptr<UsbHardware> clone(hardware_.Clone());
  ASSERT_TRUE(clone);
  const size_t files_opened = api_.opened.size();
  EXPECT_EQ(clone->Open(), rc::kPlayerBusy);
  EXPECT_EQ(api_.opened.size(), files_opened);  // no pipe was touched
  EXPECT_EQ(api_.OpenHandleCount(), 5u);        // its semaphore handle is closed again

  hardware_.Close();
  EXPECT_EQ(clone->Open(), rc::kOk);
}

TEST_F(Win32UsbHardwareTest, OpenGoesOnWhenTheSemaphoreCannotBeMade) {
  TraceCapture trace;
  api_.semaphore_error = ERROR_INVALID_NAME;
  OpenOrFail();
  EXPECT_NE(trace.lines.find("CreateSemaphore failed outright: 0x8007007b.\n"), std::string::npos);
  EXPECT_EQ(hardware_.Close(), rc::kOk);
  EXPECT_EQ(api_.OpenHandleCount(), 0u);
}

// The lock is the system's named semaphore: another holder's semaphore refuses the player.
TEST(Win32UsbHardwareRealLockTest, NamedSemaphoreRefusesASecondHolder) {
  FakeWin32UsbApi api;
  api.real_semaphores = true;
  FakeClock clock;
  const std::string path = "\\\\?\\usb#torvex-lock-test#" + std::to_string(GetCurrentProcessId());
  Win32UsbHardware first(path, 0x5001, &api, &clock);
  Win32UsbHardware second(path, 0x5001, &api, &clock);
  ASSERT_EQ(first.Open(), rc::kOk);
  EXPECT_EQ(second.Open(), rc::kPlayerBusy);

  // Another process's holder looks the same: a semaphore of that name exists.
  first.Close();
  const HANDLE other = ::CreateSemaphoreA(nullptr, 0, 1, Win32UsbHardware::LockName(path).c_str());
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(second.Open(), rc::kPlayerBusy);
  ::CloseHandle(other);
  EXPECT_EQ(second.Open(), rc::kOk);
  second.Close();
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

// --- vendor requests ---

TEST(VendorRecordTest, EncodesLittleEndianFieldsByteByByte) {
  uint8_t record[MIRRIN_VENDOR_RECORD_SIZE];
  ASSERT_TRUE(EncodeVendorRecord(0x85, 0x1234, 0xBEEF, 12, 0x89ABCDEF, record));
  const uint8_t expected[] = {0xC0, 0x85, 0x34, 0x12, 0xEF, 0xBE,
                              0x0C, 0x00, 0xEF, 0xCD, 0xAB, 0x89};
  EXPECT_EQ(std::memcmp(record, expected, sizeof expected), 0);
}

TEST(VendorRecordTest, AReplyLongerThanASetupPacketCanAnnounceIsRefused) {
  uint8_t record[MIRRIN_VENDOR_RECORD_SIZE] = {};
  ASSERT_TRUE(EncodeVendorRecord(1, 0, 0, 0xFFFF, 0, record));
  EXPECT_EQ(record[6], 0xFF);
  EXPECT_EQ(record[7], 0xFF);
  uint8_t untouched[MIRRIN_VENDOR_RECORD_SIZE] = {};
  EXPECT_FALSE(EncodeVendorRecord(1, 0, 0, 0x10000, 0, untouched));
  EXPECT_EQ(std::count(untouched, untouched + sizeof untouched, 0), 12);
}

TEST_F(Win32UsbHardwareTest, ControlRequestSendsTheRecordToTheDeviceAndTakesTheReply) {
  OpenOrFail();
  api_.on_ioctl = [](const FakeWin32UsbApi::IoctlCall&, uint8_t* out) {
    for (int i = 0; i < 12; ++i) out[i] = static_cast<uint8_t>(0xA0 + i);
    return FakeWin32UsbApi::Done(12);
  };
  uint8_t reply[UsbHardware::kReplySize] = {};
  ASSERT_EQ(hardware_.ControlRequest(0x85, 0x1234, 0xBEEF, reply), rc::kOk);
  ASSERT_EQ(api_.ioctls.size(), 1u);
  const auto& call = api_.ioctls[0];
  EXPECT_EQ(call.target, kPath);
  EXPECT_EQ(call.code, MIRRIN_IOCTL_VENDOR_REQUEST);
  EXPECT_EQ(call.out_size, 12u);
  EXPECT_TRUE(call.overlapped);
  ASSERT_EQ(call.input.size(), 12u);
  const std::vector<uint8_t> head(call.input.begin(), call.input.begin() + 8);
  EXPECT_EQ(head, (std::vector<uint8_t>{0xC0, 0x85, 0x34, 0x12, 0xEF, 0xBE, 0x0C, 0x00}));
  EXPECT_EQ(reply[0], 0xA0);
  EXPECT_EQ(reply[11], 0xAB);
}

struct ControlFailureCase {
  const char* what;
  Step answer;
  Result expected;
};

TEST_F(Win32UsbHardwareTest, ControlRequestFailuresMapToTheirCodes) {
  const ControlFailureCase cases[] = {
      {"general failure: player gone", FakeWin32UsbApi::Fail(ERROR_GEN_FAILURE), rc::kPlayerGone},
      {"device not connected", FakeWin32UsbApi::Fail(ERROR_DEVICE_NOT_CONNECTED),
       rc::kPlayerGone},
      {"driver time-out", FakeWin32UsbApi::Fail(ERROR_SEM_TIMEOUT), rc::kTimeout},
      {"other Win32 error", FakeWin32UsbApi::Fail(ERROR_ACCESS_DENIED),
       static_cast<Result>(0x80070005)},
      {"negative error passes", FakeWin32UsbApi::Fail(0xE0000203),
       static_cast<Result>(0xE0000203)},
      {"failure without an error code", FakeWin32UsbApi::Fail(0), rc::kFail},
      {"short reply", FakeWin32UsbApi::Done(8), rc::kWrongReplySize},
      {"empty reply", FakeWin32UsbApi::Done(0), rc::kWrongReplySize},
  };
  OpenOrFail();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    api_.on_ioctl = [&](const FakeWin32UsbApi::IoctlCall&, uint8_t*) { return c.answer; };
    uint8_t reply[UsbHardware::kReplySize];
    EXPECT_EQ(hardware_.ControlRequest(1, 0, 0, reply), c.expected);
  }
  // None of them made the transport give up the current request code.
  for (DWORD code : api_.IoctlCodes()) EXPECT_EQ(code, MIRRIN_IOCTL_VENDOR_REQUEST);
}

// A driver that does not know the current code is served with the older one for good; a
// 64-bit process cannot hand the driver a 32-bit reply address and fails cleanly instead.
TEST_F(Win32UsbHardwareTest, InvalidParameterFallsBackToTheOlderRequestForGood) {
  OpenOrFail();
  api_.on_ioctl = [](const FakeWin32UsbApi::IoctlCall& call, uint8_t*) {
    return call.code == MIRRIN_IOCTL_VENDOR_REQUEST ? FakeWin32UsbApi::Fail(ERROR_INVALID_PARAMETER)
                                            : FakeWin32UsbApi::Done(0);
  };
  uint8_t reply[UsbHardware::kReplySize];
  const Result expected = k64Bit ? rc::kNotImplemented : rc::kOk;
  EXPECT_EQ(hardware_.ControlRequest(1, 0, 0, reply), expected);
  EXPECT_EQ(hardware_.ControlRequest(2, 0, 0, reply), expected);
  std::vector<DWORD> sent = {MIRRIN_IOCTL_VENDOR_REQUEST};
  if (!k64Bit) sent.insert(sent.end(), {MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS, MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS});
  EXPECT_EQ(api_.IoctlCodes(), sent);

  // A clone starts again with the current code.
  hardware_.Close();
  std::unique_ptr<UsbHardware> clone(hardware_.Clone());
  ASSERT_EQ(clone->Open(), rc::kOk);
  api_.ioctls.clear();
  api_.on_ioctl = nullptr;
  EXPECT_EQ(clone->ControlRequest(3, 0, 0, reply), rc::kOk);
  EXPECT_EQ(api_.IoctlCodes(), std::vector<DWORD>{MIRRIN_IOCTL_VENDOR_REQUEST});
}

// The handles are opened for overlapped I/O: every control code goes with an OVERLAPPED and
// its event, and one the driver leaves pending is waited for and its result taken.
TEST_F(Win32UsbHardwareTest, ControlCodesLeftPendingAreAwaited) {
  struct {
    const char* what;
    Step overlapped_result;
    Result expected;
  } const cases[] = {
      {"whole reply", FakeWin32UsbApi::Done(12), rc::kOk},
      {"short reply", FakeWin32UsbApi::Done(5), rc::kWrongReplySize},
      {"player gone meanwhile", FakeWin32UsbApi::Fail(ERROR_DEVICE_NOT_CONNECTED),
       rc::kPlayerGone},
  };
  OpenOrFail();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    api_.ioctls.clear();
    api_.on_ioctl = [](const FakeWin32UsbApi::IoctlCall&, uint8_t* out) {
      std::memset(out, 0x5A, 12);
      return FakeWin32UsbApi::Pending();
    };
    api_.overlapped_results = {c.overlapped_result};
    uint8_t reply[UsbHardware::kReplySize] = {};
    EXPECT_EQ(hardware_.ControlRequest(7, 0, 0, reply), c.expected);
    EXPECT_EQ(api_.IoctlCodes(), std::vector<DWORD>{MIRRIN_IOCTL_VENDOR_REQUEST});
    EXPECT_TRUE(api_.overlapped_results.empty()) << "the pending request was not awaited";
  }
  EXPECT_EQ(api_.calls_without_overlapped, 0);
}

TEST_F(Win32UsbHardwareTest, NoControlCodeGoesWithoutAnOverlappedStructure) {
  OpenOrFail();
  api_.on_ioctl = [](const FakeWin32UsbApi::IoctlCall& call, uint8_t* out) {
    if (call.code == MIRRIN_IOCTL_VENDOR_REQUEST) return FakeWin32UsbApi::Fail(ERROR_INVALID_PARAMETER);
    return FakeWin32UsbApi::DefaultIoctl(call, out);
  };
  uint8_t reply[UsbHardware::kReplySize] = {};
  hardware_.ControlRequest(1, 0, 0, reply);  // the current code, then on 32 bits the older one
  uint8_t buffer[64];
  uint32_t done = 0;
  hardware_.Read(buffer, sizeof buffer, &done, 1000);  // asks the interface information first
  hardware_.Write(buffer, sizeof buffer, &done, 1000);
  uint32_t product_id = 0;
  ReadUsbProductId(kPath, &product_id, &api_);
  std::vector<DWORD> expected = {MIRRIN_IOCTL_VENDOR_REQUEST};
  if (!k64Bit) expected.push_back(MIRRIN_IOCTL_VENDOR_REQUEST_AT_ADDRESS);
  expected.insert(expected.end(),
                  {MIRRIN_IOCTL_GET_INTERFACE_INFO, MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR});
  EXPECT_EQ(api_.IoctlCodes(), expected);
  for (const auto& call : api_.ioctls) EXPECT_TRUE(call.overlapped) << std::hex << call.code;
  EXPECT_EQ(api_.calls_without_overlapped, 0);
}

// --- bulk transfers ---

// Interface information as the driver copies it: pipe count and the first pipe's maximum
// transfer size at the offsets of this process's layout of the USB stack's record.
FakeWin32UsbApi::IoctlHandler InterfaceInfo(uint32_t pipes, uint32_t max_transfer,
                                            DWORD returned) {
  const size_t pipes_at = k64Bit ? 16 : 12;
  const size_t max_transfer_at = k64Bit ? 40 : 28;
  return [=](const FakeWin32UsbApi::IoctlCall& call, uint8_t* out) {
    if (call.code != MIRRIN_IOCTL_GET_INTERFACE_INFO) return FakeWin32UsbApi::DefaultIoctl(call, out);
    std::memcpy(out + pipes_at, &pipes, 4);
    std::memcpy(out + max_transfer_at, &max_transfer, 4);
    return FakeWin32UsbApi::Done(returned);
  };
}

struct MaxTransferCase {
  const char* what;
  FakeWin32UsbApi::IoctlHandler driver;
  DWORD expected;
};

TEST_F(Win32UsbHardwareTest, TransfersAreClampedToThePipesMaximumAskedOnce) {
  const DWORD whole = k64Bit ? 48 : 36;
  const MaxTransferCase cases[] = {
      {"driver's maximum", InterfaceInfo(2, 4096, whole), 4096},
      {"no pipes", InterfaceInfo(0, 4096, whole), 0x10000},
      {"record cut short", InterfaceInfo(2, 4096, whole - 1), 0x10000},
      {"request fails", nullptr, 0x10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeWin32UsbApi api;
    api.on_ioctl = c.driver;
    Win32UsbHardware hardware(kPath, 0x5003, &api, &clock_);
    ASSERT_EQ(hardware.Open(), rc::kOk);
    std::vector<uint8_t> buffer(0x20000);
    uint32_t done = 0;
    EXPECT_EQ(hardware.Read(buffer.data(), 0x20000, &done, 1000), rc::kOk);
    EXPECT_EQ(done, c.expected);
    EXPECT_EQ(hardware.Write(buffer.data(), 0x20000, &done, 1000), rc::kOk);
    EXPECT_EQ(done, c.expected);
    EXPECT_EQ(api.read_lengths, std::vector<DWORD>{c.expected});
    EXPECT_EQ(api.write_lengths, std::vector<DWORD>{c.expected});
    EXPECT_EQ(api.IoctlCodes(), std::vector<DWORD>{MIRRIN_IOCTL_GET_INTERFACE_INFO});
  }
}

TEST_F(Win32UsbHardwareTest, ReadCompletedAtOnceReportsItsCount) {
  OpenOrFail();
  api_.reads = {FakeWin32UsbApi::Done(37)};
  uint8_t buffer[64];
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Read(buffer, sizeof buffer, &done, 1000), rc::kOk);
  EXPECT_EQ(done, 37u);
  EXPECT_TRUE(api_.wait_timeouts.empty());
}

TEST_F(Win32UsbHardwareTest, PendingReadWaitsAtLeast100Ms) {
  OpenOrFail();
  const uint32_t timeouts[] = {0, 1, 100, 101, 5000};
  for (uint32_t timeout : timeouts) {
    SCOPED_TRACE(timeout);
    api_.wait_timeouts.clear();
    api_.reads = {FakeWin32UsbApi::Pending()};
    api_.overlapped_results = {FakeWin32UsbApi::Done(20)};
    uint8_t buffer[64];
    uint32_t done = 0;
    EXPECT_EQ(hardware_.Read(buffer, sizeof buffer, &done, timeout), rc::kOk);
    EXPECT_EQ(done, 20u);
    EXPECT_EQ(api_.wait_timeouts, std::vector<DWORD>{timeout < 100 ? 100 : timeout});
  }
  EXPECT_EQ(api_.cancels, 0);
}

TEST_F(Win32UsbHardwareTest, ReadTimeOutCancelsAndReportsWhatArrived) {
  OpenOrFail();
  api_.reads = {FakeWin32UsbApi::Pending()};
  api_.waits = {WAIT_TIMEOUT, WAIT_OBJECT_0};  // the transfer, then its cancellation
  api_.overlapped_results = {FakeWin32UsbApi::Fail(ERROR_OPERATION_ABORTED, 512)};
  uint8_t buffer[1024];
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Read(buffer, sizeof buffer, &done, 2000), rc::kTimeout);
  EXPECT_EQ(done, 512u);
  EXPECT_EQ(api_.cancels, 1);
  EXPECT_EQ(api_.wait_timeouts.front(), 2000u);
}

// The driver saying "not finished" after signalling used to end in an empty success, on which
// ReadFully looped for ever. It is a time-out after ten tries, 500 ms apart.
TEST_F(Win32UsbHardwareTest, ReadThatNeverCompletesIsATimeOut) {
  OpenOrFail();
  for (int i = 0; i < 20; ++i) {
    api_.reads.push_back(FakeWin32UsbApi::Pending());
    api_.overlapped_results.push_back(FakeWin32UsbApi::Fail(ERROR_IO_INCOMPLETE));
    api_.waits.push_back(WAIT_OBJECT_0);
    api_.waits.push_back(WAIT_TIMEOUT);  // the cancelled transfer hands nothing back
  }
  uint8_t buffer[64];
  uint32_t done = 99;
  EXPECT_EQ(hardware_.Read(buffer, sizeof buffer, &done, 1000), rc::kTimeout);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(api_.read_lengths.size(), 10u);
  EXPECT_EQ(clock_.SleepCount(), 9u);
  EXPECT_EQ(clock_.TotalSlept(), 9u * 500);
}

TEST_F(Win32UsbHardwareTest, IncompleteReadIsTriedAgain) {
  OpenOrFail();
  api_.reads = {FakeWin32UsbApi::Pending(), FakeWin32UsbApi::Done(64)};
  api_.overlapped_results = {FakeWin32UsbApi::Fail(ERROR_IO_INCOMPLETE)};
  api_.waits = {WAIT_OBJECT_0, WAIT_TIMEOUT};
  uint8_t buffer[64];
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Read(buffer, sizeof buffer, &done, 1000), rc::kOk);
  EXPECT_EQ(done, 64u);
  EXPECT_EQ(clock_.TotalSlept(), 500u);
}

struct ReadFailureCase {
  const char* what;
  Step read;
  DWORD wait;
  Step overlapped;
  Result expected;
};

TEST_F(Win32UsbHardwareTest, ReadFailuresReturnTheirCodes) {
  const Step pending = FakeWin32UsbApi::Pending();
  const Step unused = FakeWin32UsbApi::Done(0);
  const ReadFailureCase cases[] = {
      {"refused at once", FakeWin32UsbApi::Fail(ERROR_GEN_FAILURE), WAIT_OBJECT_0, unused,
       static_cast<Result>(0x8007001F)},
      {"refused without a code", FakeWin32UsbApi::Fail(0), WAIT_OBJECT_0, unused, rc::kFail},
      {"transfer failed", pending, WAIT_OBJECT_0,
       FakeWin32UsbApi::Fail(ERROR_DEVICE_NOT_CONNECTED), static_cast<Result>(0x8007048F)},
      {"wait abandoned", pending, WAIT_ABANDONED, unused, rc::kFail},
  };
  OpenOrFail();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    api_.reads = {c.read};
    api_.waits = {c.wait, WAIT_TIMEOUT};
    api_.overlapped_results = {c.overlapped};
    uint8_t buffer[64];
    uint32_t done = 0;
    EXPECT_EQ(hardware_.Read(buffer, sizeof buffer, &done, 1000), c.expected);
    EXPECT_EQ(done, 0u);
  }
}

TEST_F(Win32UsbHardwareTest, ReadOnAClosedTransportFails) {
  uint8_t buffer[64];
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Read(buffer, sizeof buffer, &done, 1000),
            static_cast<Result>(0x80070006));  // ERROR_INVALID_HANDLE
}

TEST_F(Win32UsbHardwareTest, WriteGoesOnUntilTheWholeLengthHasGone) {
  OpenOrFail();
  api_.writes = {FakeWin32UsbApi::Done(100), FakeWin32UsbApi::Pending()};
  api_.overlapped_results = {FakeWin32UsbApi::Done(150)};
  uint8_t buffer[500] = {};
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Write(buffer, sizeof buffer, &done, 1000), rc::kOk);
  EXPECT_EQ(done, 500u);
  EXPECT_EQ(api_.write_lengths, (std::vector<DWORD>{500, 400, 250}));
}

TEST_F(Win32UsbHardwareTest, WriteTimeOutResetsTheWritePipeAndReportsTheBytesSent) {
  OpenOrFail();
  api_.writes = {FakeWin32UsbApi::Done(100), FakeWin32UsbApi::Pending()};
  api_.waits = {WAIT_TIMEOUT, WAIT_TIMEOUT};  // the transfer, then its cancellation
  uint8_t buffer[500] = {};
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Write(buffer, sizeof buffer, &done, 0), rc::kTimeout);
  EXPECT_EQ(done, 100u);
  EXPECT_EQ(api_.wait_timeouts.front(), 100u);
  EXPECT_EQ(api_.cancels, 1);
  ASSERT_FALSE(api_.ioctls.empty());
  const auto& reset = api_.ioctls.back();
  EXPECT_EQ(reset.code, MIRRIN_IOCTL_RESET_PIPE);
  EXPECT_EQ(reset.target, kWritePipe);
  EXPECT_TRUE(reset.overlapped);
  EXPECT_TRUE(reset.input.empty());
}

TEST_F(Win32UsbHardwareTest, PendingPipeResetIsAwaitedBounded) {
  OpenOrFail();
  api_.writes = {FakeWin32UsbApi::Pending()};
  api_.waits = {WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT, WAIT_TIMEOUT};
  api_.on_ioctl = [](const FakeWin32UsbApi::IoctlCall& call, uint8_t* out) {
    return call.code == MIRRIN_IOCTL_RESET_PIPE ? FakeWin32UsbApi::Pending()
                                        : FakeWin32UsbApi::DefaultIoctl(call, out);
  };
  uint8_t buffer[10] = {};
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Write(buffer, sizeof buffer, &done, 1000), rc::kTimeout);
  // transfer, its cancellation, the reset (1000 ms), the reset's cancellation
  EXPECT_EQ(api_.wait_timeouts, (std::vector<DWORD>{1000, 1000, 1000, 1000}));
  EXPECT_EQ(api_.cancels, 2);
}

// A driver that keeps accepting nothing used to hold the writer for ever.
TEST_F(Win32UsbHardwareTest, WriteThatMovesNothingEndsInATimeOut) {
  OpenOrFail();
  for (int i = 0; i < 50; ++i) api_.writes.push_back(FakeWin32UsbApi::Done(0));
  uint8_t buffer[10] = {};
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Write(buffer, sizeof buffer, &done, 1000), rc::kTimeout);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(api_.write_lengths.size(), 10u);
}

TEST_F(Win32UsbHardwareTest, IncompleteWriteIsTriedAgainAfterAPause) {
  OpenOrFail();
  api_.writes = {FakeWin32UsbApi::Pending(), FakeWin32UsbApi::Done(10)};
  api_.overlapped_results = {FakeWin32UsbApi::Fail(ERROR_IO_INCOMPLETE)};
  api_.waits = {WAIT_OBJECT_0, WAIT_TIMEOUT};
  uint8_t buffer[10] = {};
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Write(buffer, sizeof buffer, &done, 1000), rc::kOk);
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(clock_.TotalSlept(), 500u);
}

TEST_F(Win32UsbHardwareTest, WriteFailureStopsWithTheBytesSentSoFar) {
  OpenOrFail();
  api_.writes = {FakeWin32UsbApi::Done(4), FakeWin32UsbApi::Fail(ERROR_DEVICE_NOT_CONNECTED)};
  uint8_t buffer[10] = {};
  uint32_t done = 0;
  EXPECT_EQ(hardware_.Write(buffer, sizeof buffer, &done, 1000),
            static_cast<Result>(0x8007048F));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(api_.write_lengths.size(), 2u);
}

// --- identity ---

TEST_F(Win32UsbHardwareTest, CloneIsClosedAndNamesTheSamePlayer) {
  OpenOrFail();
  std::unique_ptr<UsbHardware> clone(hardware_.Clone());
  ASSERT_TRUE(clone);
  std::string text;
  uint32_t product_id = 0;
  EXPECT_EQ(clone->GetPath(&text), rc::kOk);
  EXPECT_EQ(text, kPath);
  EXPECT_EQ(clone->GetName(&text), rc::kOk);
  EXPECT_EQ(text, std::string("Win32@") + kPath);
  EXPECT_EQ(clone->GetProductId(&product_id), rc::kOk);
  EXPECT_EQ(product_id, 0x5003u);
  uint8_t reply[UsbHardware::kReplySize];
  EXPECT_EQ(clone->ControlRequest(1, 0, 0, reply), static_cast<Result>(0x80070006));
}

struct DescriptorCase {
  const char* what;
  Step answer;
  Result expected;
};

TEST(ReadUsbProductIdTest, TakesIdProductOfTheWholeDescriptorAndClosesTheHandle) {
  const DescriptorCase cases[] = {
      {"whole descriptor", FakeWin32UsbApi::Done(18), rc::kOk},
      {"descriptor cut short", FakeWin32UsbApi::Done(17), rc::kNoDeviceDescriptor},
      {"player gone", FakeWin32UsbApi::Fail(ERROR_DEVICE_NOT_CONNECTED), rc::kNoDeviceDescriptor},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeWin32UsbApi api;
    api.on_ioctl = [&](const FakeWin32UsbApi::IoctlCall& call, uint8_t* out) {
      EXPECT_EQ(call.code, MIRRIN_IOCTL_GET_DEVICE_DESCRIPTOR);
      EXPECT_EQ(call.out_size, 18u);
      const uint8_t descriptor[18] = {18, 1, 0x10, 0x01, 0, 0, 0, 64, 0x21, 0x0E, 0x10, 0x50};
      std::memcpy(out, descriptor, sizeof descriptor);
      return c.answer;
    };
    uint32_t product_id = 7;
    EXPECT_EQ(ReadUsbProductId(kPath, &product_id, &api), c.expected);
    EXPECT_EQ(product_id, c.expected == rc::kOk ? 0x5010u : 7u);
    EXPECT_EQ(api.opened, std::vector<std::string>{kPath});
    EXPECT_EQ(api.OpenHandleCount(), 0u);
    EXPECT_EQ(api.calls_without_overlapped, 0);
  }
}

TEST(ReadUsbProductIdTest, ADescriptorLeftPendingIsAwaited) {
  FakeWin32UsbApi api;
  api.on_ioctl = [](const FakeWin32UsbApi::IoctlCall&, uint8_t* out) {
    const uint8_t descriptor[18] = {18, 1, 0x10, 0x01, 0, 0, 0, 64, 0x21, 0x0E, 0x03, 0x50};
    std::memcpy(out, descriptor, sizeof descriptor);
    return FakeWin32UsbApi::Pending();
  };
  api.overlapped_results = {FakeWin32UsbApi::Done(18)};
  uint32_t product_id = 0;
  EXPECT_EQ(ReadUsbProductId(kPath, &product_id, &api), rc::kOk);
  EXPECT_EQ(product_id, 0x5003u);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

TEST(ReadUsbProductIdTest, NoEventMeansNoRequest) {
  FakeWin32UsbApi api;
  api.event_error = ERROR_NOT_ENOUGH_MEMORY;
  uint32_t product_id = 0;
  EXPECT_EQ(ReadUsbProductId(kPath, &product_id, &api), static_cast<Result>(0x80070008));
  EXPECT_TRUE(api.ioctls.empty());
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

TEST(ReadUsbProductIdTest, PathThatDoesNotOpenGivesItsError) {
  FakeWin32UsbApi api;
  api.open_errors[kPath] = ERROR_FILE_NOT_FOUND;
  uint32_t product_id = 0;
  EXPECT_EQ(ReadUsbProductId(kPath, &product_id, &api), static_cast<Result>(0x80070002));
}

}  // namespace
