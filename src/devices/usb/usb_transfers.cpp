#include "devices/usb/usb_transfers.h"

namespace {

// Zero-byte successes in a row before the transfer counts as short: a transport that keeps
// moving nothing must not hold the caller for ever.
constexpr int kMaxEmptyCalls = 3;

template <typename Byte, typename Transfer>
Result TransferFully(Byte* buffer, uint32_t length, Transfer transfer) {
  Result result = rc::kOk;
  int empty_calls = 0;
  while (length > 0 && empty_calls < kMaxEmptyCalls) {
    uint32_t done = 0;
    result = transfer(buffer, length, &done);
    if (rc::Failed(result)) return result;
    if (done > length) done = length;
    buffer += done;
    length -= done;
    empty_calls = done == 0 ? empty_calls + 1 : 0;
    if (result != rc::kOk) break;
  }
  return length == 0 ? result : rc::kShortTransfer;
}

}  // namespace

Result ReadFully(UsbHardware& hardware, void* buffer, uint32_t length, uint32_t timeout_ms) {
  return TransferFully(static_cast<uint8_t*>(buffer), length,
                       [&](uint8_t* at, uint32_t rest, uint32_t* done) {
                         return hardware.Read(at, rest, done, timeout_ms);
                       });
}

Result WriteFully(UsbHardware& hardware, const void* buffer, uint32_t length,
                  uint32_t timeout_ms) {
  return TransferFully(static_cast<const uint8_t*>(buffer), length,
                       [&](const uint8_t* at, uint32_t rest, uint32_t* done) {
                         return hardware.Write(at, rest, done, timeout_ms);
                       });
}
