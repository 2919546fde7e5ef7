// Command packets to the firmware of a hard-disk player's USB bridge: one command packet, then
// polls until the player has an answer. Shares the bulk pipes with the disk's mass-storage
// transfers; the player-disk object is its only user.
#pragma once

#include <cstdint>
#include <memory>

#include "devices/usb_hardware.h"

// What a caller fills: the command code and its 32 argument bytes.
struct Fx2Command {
  uint8_t code = 0;
  uint8_t arguments[32] = {};
};

// What a caller gets back: the player's result word and its reply data. The data is handed
// out with one NUL after the player's 505 bytes, so it can always be read as a text.
struct Fx2Reply {
  static constexpr uint32_t kDataSize = 505;
  uint32_t result_word = 0;
  char data[kDataSize + 1] = {};
};

// Time source of the polling loop; tests replace it to run long time-outs at once.
class Fx2Clock {
 public:
  virtual ~Fx2Clock() = default;
  // Microseconds since 1970 (UTC).
  virtual int64_t NowMicroseconds() = 0;
  virtual void SleepMilliseconds(uint32_t ms) = 0;
};

// The system time and Sleep.
Fx2Clock* SystemFx2Clock();

class Fx2IoHost {
 public:
  static constexpr uint32_t kPacketSize = 40;
  static constexpr uint32_t kReplyPacketSize = 512;
  static constexpr uint32_t kTransferTimeoutMs = 2000;
  static constexpr uint32_t kPollIntervalMs = 200;
  static constexpr uint8_t kAck = 0xF0;
  static constexpr uint8_t kNak = 0x0F;

  // The transport is not owned. Null clock: the system clock and Sleep.
  static Result Create(UsbHardware* transport, std::unique_ptr<Fx2IoHost>* host,
                       Fx2Clock* clock = nullptr);
  virtual ~Fx2IoHost() = default;

  // Send, then Wait; the process-wide sequence number advances afterwards in every case.
  // Result: the transfer's failure, else the player's result word.
  virtual Result Exchange(const Fx2Command& command, Fx2Reply* reply, uint32_t timeout_ms);
  // Writes the command packet and reads the player's acknowledgement.
  virtual Result Send(const Fx2Command& command);
  // Polls every 200 ms until the player answers or the time-out has passed (rc::kTimeout).
  virtual Result Wait(Fx2Reply* reply, uint32_t timeout_ms);

  static uint16_t SequenceNumber();
  static void SetSequenceNumberForTest(uint16_t value);

 private:
  Fx2IoHost(UsbHardware* transport, Fx2Clock* clock) : transport_(transport), clock_(clock) {}

  UsbHardware* transport_;
  Fx2Clock* clock_;
};
