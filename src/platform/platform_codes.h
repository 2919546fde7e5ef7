// Result codes of the platform layer (time service, threads, sync objects, block devices, log).
#pragma once

#include "support/result_codes.h"

namespace prc {

constexpr Result kOk = 0;
constexpr Result kTimeout = static_cast<Result>(0x80000001);  // also the normal end of a sleep
constexpr Result kOutOfMemory = static_cast<Result>(0x80000002);

constexpr Result kSetConfigRefused = static_cast<Result>(0x80640002);
constexpr Result kUnknownProperty = static_cast<Result>(0x80640004);  // or buffer too small
constexpr Result kBadPropertyForm = static_cast<Result>(0x80640005);

constexpr Result kBadTimeValue = static_cast<Result>(0x80780003);
constexpr Result kNoSuchTimer = static_cast<Result>(0x80780004);

constexpr Result kEventWaitFailed = static_cast<Result>(0x80C80001);
constexpr Result kMutexFailed = static_cast<Result>(0x80DC0001);
constexpr Result kMutexMissing = static_cast<Result>(0x80DC0002);
// A sent message whose queue was destroyed before a receiver finished it (E_ABORT).
constexpr Result kMessageDropped = static_cast<Result>(0x80004004);

constexpr Result kThreadFailed = static_cast<Result>(0x80E60001);
constexpr Result kThreadUnknown = static_cast<Result>(0x80E60002);
constexpr Result kThreadNotStarted = static_cast<Result>(0x80E60003);
constexpr Result kThreadAlreadyStarted = static_cast<Result>(0x80E60004);
constexpr Result kThreadNotCaller = static_cast<Result>(0x80E60005);
constexpr Result kThreadJoinsItself = static_cast<Result>(0x80E60006);

constexpr Result kDeviceFailed = static_cast<Result>(0x806E0001);
constexpr Result kNullDevice = static_cast<Result>(0x806E0002);
constexpr Result kNoSuchDevice = static_cast<Result>(0x806E0003);
constexpr Result kDeviceBufferTooSmall = static_cast<Result>(0x806E0004);
constexpr Result kNoMoreDevices = static_cast<Result>(0x806E0005);
constexpr Result kDeviceStatus2 = static_cast<Result>(0x806E0006);
constexpr Result kDeviceStatus5 = static_cast<Result>(0x806E0007);
constexpr Result kDeviceIoError = static_cast<Result>(0x806E0008);
constexpr Result kNoNameBuffer = static_cast<Result>(0x806E0009);

constexpr Result kPathTooLong = static_cast<Result>(0x80820014);

constexpr Result kRecordTooLarge = static_cast<Result>(0x94640001);

}  // namespace prc
