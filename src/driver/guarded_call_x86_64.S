/* MirrinGuardedCall(routine, context) for x86_64: the function's unwind data names an
 * exception handler that unwinds to the return path with the exception code as the result,
 * which is what a __try/__except around routine(context) would do. */
        .text
        .globl  MirrinGuardedCall
        .def    MirrinGuardedCall; .scl 2; .type 32; .endef
        .seh_proc MirrinGuardedCall
        .seh_handler GuardHandler, @except
MirrinGuardedCall:
        subq    $40, %rsp
        .seh_stackalloc 40
        .seh_endprologue
        movq    %rcx, %rax
        movq    %rdx, %rcx
        callq   *%rax
        nop
.LResume:
        addq    $40, %rsp
        ret
        .seh_endproc

/* EXCEPTION_DISPOSITION GuardHandler(record, establisher frame, context, dispatcher context) */
        .def    GuardHandler; .scl 3; .type 32; .endef
        .seh_proc GuardHandler
GuardHandler:
        subq    $56, %rsp
        .seh_stackalloc 56
        .seh_endprologue
        /* Unwinding already (EXCEPTION_UNWINDING, EXIT_UNWIND, TARGET_UNWIND, COLLIDED). */
        testl   $0x66, 4(%rcx)
        jnz     .LSearch
        movq    %rcx, %r10
        movq    0x40(%r9), %rax                 /* dispatcher context: HistoryTable */
        movq    %rax, 40(%rsp)
        movq    %r8, 32(%rsp)                   /* ContextRecord */
        movl    (%r10), %r9d                    /* ReturnValue: ExceptionCode */
        movq    %r10, %r8                       /* ExceptionRecord */
        movq    %rdx, %rcx                      /* TargetFrame: our establisher frame */
        leaq    .LResume(%rip), %rdx            /* TargetIp */
        callq   *__imp_RtlUnwindEx(%rip)
.LSearch:
        movl    $1, %eax                        /* ExceptionContinueSearch */
        addq    $56, %rsp
        ret
        .seh_endproc
