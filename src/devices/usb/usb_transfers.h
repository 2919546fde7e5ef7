// Whole-buffer transfers over a UsbHardware, whose single Read and Write calls move at most the
// transport's maximum transfer size.
#pragma once

#include <cstdint>

#include "devices/usb_hardware.h"

// Calls Read (Write) with the rest of the buffer, the same time-out each time, until the whole
// buffer has moved. The first failure is returned as it is; a call that succeeds but leaves
// bytes behind, or a few successive calls that move nothing, give rc::kShortTransfer.
Result ReadFully(UsbHardware& hardware, void* buffer, uint32_t length, uint32_t timeout_ms);
Result WriteFully(UsbHardware& hardware, const void* buffer, uint32_t length,
                  uint32_t timeout_ms);
