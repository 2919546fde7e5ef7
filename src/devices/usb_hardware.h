// The transport beneath a USB player: the kernel driver's pipes and vendor requests, or a
// simulated player in tests. One owner; a channel owns its transport. Used by one thread at a
// time.
#pragma once

#include <cstdint>
#include <string>

#include "support/result_codes.h"

class UsbHardware {
 public:
  static constexpr uint32_t kReplySize = 12;

  virtual ~UsbHardware() = default;
  // rc::kPlayerBusy when another holder (in this or another process) has the player.
  virtual Result Open() = 0;
  // Harmless when already closed.
  virtual Result Close() = 0;
  // Vendor control request; the reply's first little-endian 32-bit word is the status word.
  virtual Result ControlRequest(uint8_t request, uint16_t value, uint16_t index,
                                uint8_t reply[kReplySize]) = 0;
  // One bulk transfer of at most the transport's maximum size; *done receives the bytes moved
  // (also on a time-out).
  virtual Result Read(void* buffer, uint32_t length, uint32_t* done, uint32_t timeout_ms) = 0;
  virtual Result Write(const void* buffer, uint32_t length, uint32_t* done,
                       uint32_t timeout_ms) = 0;
  // A new, closed transport for the same player; null when memory runs out.
  virtual UsbHardware* Clone() = 0;
  virtual Result GetProductId(uint32_t* product_id) = 0;
  virtual Result GetName(std::string* name) = 0;
  virtual Result GetPath(std::string* path) = 0;
};
