// The exception guard the driver puts around probing a caller's buffer, alone in a program of
// each build and driven by the system's own exception dispatch: the 32-bit dispatch (the
// shipped driver's) resumes a handler's "continue" only for a continuable exception, while
// the kernel raises a failed probe as a noncontinuable one.
#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdint>

extern "C" {
#include "guarded_call.h"
NTSYSAPI VOID NTAPI RtlRaiseStatus(NTSTATUS status);
}

namespace {

constexpr NTSTATUS kPending = 0x00000103;
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kAccessViolation = static_cast<NTSTATUS>(0xC0000005);
constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kInvalidUserBuffer = static_cast<NTSTATUS>(0xC00000E8);
constexpr NTSTATUS kInsufficientResources = static_cast<NTSTATUS>(0xC000009A);

struct Outcome {
  NTSTATUS value = 0;  // what a routine returns or raises
  // How far it got; volatile, so that no step moves across a fault the compiler cannot see.
  volatile int steps = 0;
};

NTSTATUS Returns(void* context) {
  Outcome* run = static_cast<Outcome*>(context);
  run->steps = run->steps + 1;
  return run->value;
}

NTSTATUS RaisesContinuable(void* context) {
  Outcome* run = static_cast<Outcome*>(context);
  run->steps = run->steps + 1;
  RaiseException(static_cast<DWORD>(run->value), 0, 0, nullptr);
  run->steps = run->steps + 1;
  return 0;
}

NTSTATUS RaisesNoncontinuable(void* context) {
  Outcome* run = static_cast<Outcome*>(context);
  run->steps = run->steps + 1;
  RaiseException(static_cast<DWORD>(run->value), EXCEPTION_NONCONTINUABLE, 0, nullptr);
  run->steps = run->steps + 1;
  return 0;
}

NTSTATUS ReadsUnmappedMemory(void* context) {
  Outcome* run = static_cast<Outcome*>(context);
  run->steps = run->steps + 1;
  volatile uintptr_t address = 0x10;  // the first page is never mapped
  run->value = *reinterpret_cast<volatile const NTSTATUS*>(address);
  run->steps = run->steps + 1;
  return 0;
}

NTSTATUS RaisesStatus(void* context) {  // how the kernel's ExRaiseStatus raises
  Outcome* run = static_cast<Outcome*>(context);
  run->steps = run->steps + 1;
  RtlRaiseStatus(run->value);
  run->steps = run->steps + 1;
  return 0;
}

// The head of the thread's exception registrations: the first word of its information block
// (64-bit Windows keeps the word but dispatches by tables, so it stays as it is).
void* ExceptionListHead() {
  void* head;
#if defined(__i386__)
  asm volatile("movl %%fs:0, %0" : "=r"(head));
#else
  asm volatile("movq %%gs:0, %0" : "=r"(head));
#endif
  return head;
}

struct Case {
  const char* name;
  MIRRIN_GUARDED_ROUTINE routine;
  NTSTATUS value;
  NTSTATUS expected;
};

const Case kCases[] = {
    {"routine returns success", Returns, 0, 0},
    {"routine returns pending", Returns, kPending, kPending},
    {"routine returns a failure", Returns, kInvalidParameter, kInvalidParameter},
    {"continuable raise", RaisesContinuable, kAccessDenied, kAccessDenied},
    {"noncontinuable raise", RaisesNoncontinuable, kInvalidUserBuffer, kInvalidUserBuffer},
    {"page fault", ReadsUnmappedMemory, 0, kAccessViolation},
    {"RtlRaiseStatus", RaisesStatus, kInsufficientResources, kInsufficientResources},
};

// Calls from a frame deeper down, so the unwinding has frames of the caller's to cross.
NTSTATUS CallNested(const Case& c, Outcome* run, int depth) {
  if (depth == 0) return MirrinGuardedCall(c.routine, run);
  volatile NTSTATUS status = CallNested(c, run, depth - 1);
  return status;
}

TEST(GuardDispatchTest, EachWayOutGivesTheResultOrTheExceptionCode) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    void* const head = ExceptionListHead();
    for (int attempt = 0; attempt < 2; ++attempt) {  // the second call finds nothing left over
      Outcome run;
      run.value = c.value;
      EXPECT_EQ(CallNested(c, &run, 3), c.expected);
      EXPECT_EQ(run.steps, 1) << "the routine went on past its exception";
      EXPECT_EQ(ExceptionListHead(), head);
    }
    Outcome plain;
    plain.value = kPending;
    EXPECT_EQ(MirrinGuardedCall(Returns, &plain), kPending);
  }
}

// A guarded routine that itself guards a call: the inner guard takes its own exception, and
// the outer one still takes one raised after it.
struct Nesting {
  Outcome inner;
  NTSTATUS inner_result = 0;
  void* head_inside = nullptr;
};

NTSTATUS GuardsAndThenRaises(void* context) {
  Nesting* nesting = static_cast<Nesting*>(context);
  nesting->inner_result = MirrinGuardedCall(RaisesStatus, &nesting->inner);
  nesting->head_inside = ExceptionListHead();
  RaiseException(static_cast<DWORD>(kAccessDenied), EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return 0;
}

TEST(GuardDispatchTest, AGuardInsideAGuardedRoutineKeepsTheChainInOrder) {
  void* const head = ExceptionListHead();
  Nesting nesting;
  nesting.inner.value = kInvalidUserBuffer;
  EXPECT_EQ(MirrinGuardedCall(GuardsAndThenRaises, &nesting), kAccessDenied);
  EXPECT_EQ(nesting.inner_result, kInvalidUserBuffer);
  EXPECT_EQ(ExceptionListHead(), head);
#if defined(__i386__)
  // Inside the outer guard its own registration heads the chain again.
  EXPECT_NE(nesting.head_inside, head);
#endif
}

#if defined(__i386__)
// A registration between the guard and the raise, as a compiled __try/__finally makes: the
// guard's unwind must call it to unwind and take it off the chain before resuming.
struct Registration {
  Registration* next;
  void* handler;
};

int g_unwind_calls;
int g_search_calls;

extern "C" EXCEPTION_DISPOSITION __cdecl CountingHandler(EXCEPTION_RECORD* record, void*,
                                                         CONTEXT*, void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    ++g_unwind_calls;
  } else {
    ++g_search_calls;
  }
  return ExceptionContinueSearch;
}

void SetExceptionListHead(volatile Registration* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

NTSTATUS RaisesUnderARegistration(void* context) {
  volatile Registration registration = {static_cast<Registration*>(ExceptionListHead()),
                                         reinterpret_cast<void*>(CountingHandler)};
  SetExceptionListHead(&registration);
  RaisesStatus(context);
  SetExceptionListHead(registration.next);  // never reached
  return 0;
}

TEST(GuardDispatchTest, TheFramesBetweenAreUnwoundOnce) {
  void* const head = ExceptionListHead();
  g_unwind_calls = g_search_calls = 0;
  Outcome run;
  run.value = kInvalidUserBuffer;
  EXPECT_EQ(MirrinGuardedCall(RaisesUnderARegistration, &run), kInvalidUserBuffer);
  EXPECT_EQ(g_search_calls, 1);
  EXPECT_EQ(g_unwind_calls, 1);
  EXPECT_EQ(ExceptionListHead(), head);
}
#endif

}  // namespace
