// Result codes shared by the support layer and everything above it.
// Every operation returns a 32-bit HRESULT-style code: 0 success, negative failure.
#pragma once

#include <cstdint>

typedef int32_t Result;

namespace rc {

constexpr Result kOk = 0;
constexpr Result kEndOfData = 1;  // only from Stream::Read

constexpr Result kNotImplemented = static_cast<Result>(0x80004001);  // E_NOTIMPL
constexpr Result kFail = static_cast<Result>(0x80004005);            // E_FAIL
constexpr Result kOutOfMemory = static_cast<Result>(0x8007000E);     // E_OUTOFMEMORY
constexpr Result kInvalidArg = static_cast<Result>(0x80070057);      // E_INVALIDARG
constexpr Result kCrtErrorBase = static_cast<Result>(0x80041000);    // | (errno & 0xFFF)

constexpr Result kNotFound = static_cast<Result>(0xC0040002);
constexpr Result kBadIndex = static_cast<Result>(0xC004000A);
constexpr Result kTimeout = static_cast<Result>(0xC004000B);
constexpr Result kShortTransfer = static_cast<Result>(0xC004000C);
constexpr Result kBadData = static_cast<Result>(0xC0040013);

inline bool Failed(Result r) { return r < 0; }
inline bool Succeeded(Result r) { return r >= 0; }

// C-runtime failure: 0x80041000 | (errno & 0xFFF).
inline Result FromErrno(int err) { return kCrtErrorBase | (err & 0xFFF); }

// Win32 error as HRESULT_FROM_WIN32: (error & 0xFFFF) | 0x80070000 when positive, else unchanged.
inline Result FromWin32(uint32_t error) {
  return static_cast<int32_t>(error) <= 0 ? static_cast<Result>(error)
                                          : static_cast<Result>((error & 0xFFFF) | 0x80070000u);
}

}  // namespace rc
