#include "platform/or_mutex.h"

#include "platform/platform_codes.h"
#include "platform/win32_sync.h"
#include "support/assertions.h"

using namespace win32sync;

ORMutexImpl::ORMutexImpl() : mutex_(MutexCreate()) { TORVEX_ASSERT(mutex_ != nullptr); }

ORMutexImpl::~ORMutexImpl() { TORVEX_ASSERT(HandleClose(mutex_) == kDone); }

void ORMutexImpl::Destroy() { delete this; }

Result ORMutexImpl::Lock() {
  TORVEX_ASSERT(MutexLock(mutex_) == kDone);
  return prc::kOk;
}

Result ORMutexImpl::Unlock() {
  TORVEX_ASSERT(MutexUnlock(mutex_) == kDone);
  return prc::kOk;
}

Result ORMutexImpl::TryLock() {
  switch (MutexTryLock(mutex_)) {
    case kDone: return prc::kOk;
    case kTimedOut: return prc::kTimeout;
    case kNullHandle: return prc::kMutexMissing;
    default: return prc::kMutexFailed;
  }
}
