// Result codes of the network players' transport and request protocol.
#pragma once

#include "support/result_codes.h"

namespace rc {

// A non-blocking socket call that has not finished yet: a success code, never data.
constexpr Result kWouldBlock = static_cast<Result>(0x00040004);
// Sockets could not be started once in this process; no second attempt is made.
constexpr Result kSocketsUnavailable = static_cast<Result>(0x8004D014);
// The player speaks an older (below 2) or a newer (above 2) protocol.
constexpr Result kPlayerProtocolOlder = static_cast<Result>(0x80040029);
constexpr Result kPlayerProtocolNewer = static_cast<Result>(0x8004002A);
// A player's file list holds more records than the client accepts
// (RemoteProtocolClient::kMaxListRecords).
constexpr Result kListTooLong = static_cast<Result>(0x8004D015);
}  // namespace rc
