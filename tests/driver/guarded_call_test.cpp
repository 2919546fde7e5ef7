// The exception guard around probing a caller's buffer, through the system's own exception
// dispatch and unwinding.
#include <gtest/gtest.h>

extern "C" {
#include "driver.h"
}

extern "C" void KsubRaiseAccessViolation();

namespace {

NTSTATUS ReturnsItsContext(void* context) { return *static_cast<NTSTATUS*>(context); }

NTSTATUS Raises(void* context) {
  ++*static_cast<int*>(context);
  KsubRaiseAccessViolation();
  ++*static_cast<int*>(context);  // never reached
  return STATUS_SUCCESS;
}

NTSTATUS ReadsUnmappedMemory(void* context) {
  volatile uintptr_t address = 0x10;  // the first page is never mapped
  return *reinterpret_cast<volatile const int*>(address);
}

// Runs a guarded routine from a frame deeper down, so the unwinding has frames to cross.
NTSTATUS Nested(MIRRIN_GUARDED_ROUTINE routine, void* context, int depth) {
  if (depth == 0) return MirrinGuardedCall(routine, context);
  volatile NTSTATUS status = Nested(routine, context, depth - 1);
  return status;
}

TEST(GuardedCallTest, ARoutineThatReturnsGivesItsResult) {
  for (NTSTATUS value : {STATUS_SUCCESS, STATUS_PENDING, STATUS_INVALID_PARAMETER}) {
    EXPECT_EQ(MirrinGuardedCall(ReturnsItsContext, &value), value);
  }
}

TEST(GuardedCallTest, ARaisedExceptionEndsTheRoutineWithItsCode) {
  int steps = 0;
  EXPECT_EQ(Nested(Raises, &steps, 3), STATUS_ACCESS_VIOLATION);
  EXPECT_EQ(steps, 1);
  // The guard leaves nothing behind: it works again, and so does an ordinary return.
  EXPECT_EQ(MirrinGuardedCall(Raises, &steps), STATUS_ACCESS_VIOLATION);
  NTSTATUS value = 7;
  EXPECT_EQ(MirrinGuardedCall(ReturnsItsContext, &value), 7);
}

TEST(GuardedCallTest, AMemoryFaultIsCaughtToo) {
  EXPECT_EQ(MirrinGuardedCall(ReadsUnmappedMemory, nullptr), STATUS_ACCESS_VIOLATION);
}

}  // namespace
