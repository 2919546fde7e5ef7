#include "devices/harddisk/fx2io_host.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "devices/usb/usb_transfers.h"
#include "support/debug_trace.h"

namespace {

// One counter for the whole process: every packet of one exchange carries it.
uint16_t g_sequence = 0;

constexpr char kMagic[4] = {'Q', 'E', 'L', 'P'};
constexpr uint8_t kPollMarker = 0x80;
constexpr uint32_t kResultOffset = 1;
constexpr uint32_t kDataOffset = 7;

class SystemTimeClock : public Fx2Clock {
 public:
  int64_t NowMicroseconds() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kTicksTo1970 = 116444736000000000ull;
    return static_cast<int64_t>((ticks - kTicksTo1970) / 10);
  }
  void SleepMilliseconds(uint32_t ms) override { Sleep(ms); }
};

SystemTimeClock g_system_clock;

void BuildPacket(uint8_t packet[Fx2IoHost::kPacketSize], uint8_t kind, uint8_t code) {
  std::memset(packet, 0, Fx2IoHost::kPacketSize);
  std::memcpy(packet, kMagic, sizeof kMagic);
  packet[4] = kind;
  packet[5] = code;
  packet[6] = static_cast<uint8_t>(g_sequence);
  packet[7] = static_cast<uint8_t>(g_sequence >> 8);
}

}  // namespace

Result Fx2IoHost::Create(UsbHardware* transport, std::unique_ptr<Fx2IoHost>* host,
                         Fx2Clock* clock) {
  host->reset(new (std::nothrow) Fx2IoHost(transport, clock ? clock : &g_system_clock));
  return *host ? rc::kOk : rc::kOutOfMemory;
}

Fx2Clock* SystemFx2Clock() { return &g_system_clock; }

uint16_t Fx2IoHost::SequenceNumber() { return g_sequence; }
void Fx2IoHost::SetSequenceNumberForTest(uint16_t value) { g_sequence = value; }

Result Fx2IoHost::Exchange(const Fx2Command& command, Fx2Reply* reply, uint32_t timeout_ms) {
  Result result = Send(command);
  if (rc::Succeeded(result)) result = Wait(reply, timeout_ms);
  if (rc::Succeeded(result)) result = static_cast<Result>(reply->result_word);
  ++g_sequence;
  return result;
}

Result Fx2IoHost::Send(const Fx2Command& command) {
  uint8_t buffer[kReplyPacketSize];
  BuildPacket(buffer, 0x00, command.code);
  std::memcpy(buffer + 8, command.arguments, sizeof command.arguments);
  Result result = WriteFully(*transport_, buffer, kPacketSize, kTransferTimeoutMs);
  if (rc::Failed(result)) return result;
  result = ReadFully(*transport_, buffer, kReplyPacketSize, kTransferTimeoutMs);
  if (rc::Failed(result)) return result;
  if (buffer[0] != kAck) {
    TORVEX_TRACE("Packet not acknowledged by device.\n");
    return rc::kFail;
  }
  return rc::kOk;
}

Result Fx2IoHost::Wait(Fx2Reply* reply, uint32_t timeout_ms) {
  const int64_t deadline = clock_->NowMicroseconds() +
                           static_cast<int64_t>(timeout_ms / 1000) * 1000000 +
                           static_cast<int64_t>(timeout_ms % 1000) * 1000;
  for (;;) {
    uint8_t packet[kPacketSize];
    BuildPacket(packet, kPollMarker, 0);
    Result result = WriteFully(*transport_, packet, kPacketSize, kTransferTimeoutMs);
    if (rc::Failed(result)) return result;

    uint8_t answer[kReplyPacketSize];
    result = ReadFully(*transport_, answer, kReplyPacketSize, kTransferTimeoutMs);
    if (rc::Failed(result)) {
      TORVEX_TRACE("Device did not respond at all to command (not even a NAK): 0x%x\n",
                   static_cast<unsigned>(result));
    } else if (answer[0] == kAck) {
      reply->result_word = static_cast<uint32_t>(answer[kResultOffset]) |
                           static_cast<uint32_t>(answer[kResultOffset + 1]) << 8 |
                           static_cast<uint32_t>(answer[kResultOffset + 2]) << 16 |
                           static_cast<uint32_t>(answer[kResultOffset + 3]) << 24;
      std::memcpy(reply->data, answer + kDataOffset, Fx2Reply::kDataSize);
      reply->data[Fx2Reply::kDataSize] = '\0';
      return rc::kOk;
    } else if (answer[0] != kNak) {
      return rc::kFail;
    }
    clock_->SleepMilliseconds(kPollIntervalMs);
    if (clock_->NowMicroseconds() > deadline) return rc::kTimeout;
  }
}
