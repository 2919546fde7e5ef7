// Result codes of the device library (players, transports, channels).
#pragma once

#include "support/result_codes.h"

namespace rc {

// A listing stopped because the caller's list or visitor answered false.
constexpr Result kEnumerationStopped = static_cast<Result>(0xC0004006);
constexpr Result kPlayerBusy = static_cast<Result>(0xC0004007);
constexpr Result kWin32Busy = static_cast<Result>(0x800700AA);  // ERROR_BUSY as HRESULT
constexpr Result kPlayerFull = static_cast<Result>(0xC0049002);
constexpr Result kWrongReplySize = static_cast<Result>(0xC0049003);
constexpr Result kNotOffered = static_cast<Result>(0xC0049004);
constexpr Result kNoDeviceDescriptor = static_cast<Result>(0xC004900B);
constexpr Result kPlayerNotReady = static_cast<Result>(0xC0049014);
constexpr Result kBadStorageBlock = static_cast<Result>(0xC0049016);
constexpr Result kBadStatusBlock = static_cast<Result>(0xC0049017);
constexpr Result kChecksumFailure = static_cast<Result>(0xC0049018);
constexpr Result kUnexpectedStatus = static_cast<Result>(0xC0049019);
constexpr Result kFirmwareRejected = static_cast<Result>(0xC004901A);
constexpr Result kAccessDenied = static_cast<Result>(0xC004901B);
constexpr Result kUnknownProduct = static_cast<Result>(0xC004901C);
constexpr Result kUnknownRequest = static_cast<Result>(0xC004901E);
constexpr Result kNoDatabase = static_cast<Result>(0xC0049024);
constexpr Result kPlayerGone = static_cast<Result>(0xC0049026);
constexpr Result kGenerationChanged = static_cast<Result>(0xC0049028);
constexpr Result kPlayerError = static_cast<Result>(0xC0049029);
constexpr Result kBadInfoAnswer = static_cast<Result>(0xC004902A);
constexpr Result kSizeMismatch = static_cast<Result>(0xC004902B);
constexpr Result kProtocolError = static_cast<Result>(0xC0049013);  // status word 0, -1 or unknown

constexpr Result kNoSuchStorage = static_cast<Result>(0xC0049006);

}  // namespace rc
