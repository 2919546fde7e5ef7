/* MirrinGuardedCall(routine, context) for i686: an exception registration on the fs:[0]
 * chain whose handler unwinds the frames above it and resumes on the return path with the
 * exception code as the result, which is what a __try/__except around routine(context)
 * would do. */
        .text
        .globl  _MirrinGuardedCall
_MirrinGuardedCall:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        pushl   $_GuardHandler                  /* registration: handler, at -16(%ebp) */
        pushl   %fs:0                           /* registration: next, at -20(%ebp) */
        movl    %esp, %fs:0
        pushl   12(%ebp)
        call    *8(%ebp)
        addl    $4, %esp
.LResume:
        movl    -20(%ebp), %ecx
        movl    %ecx, %fs:0
        leal    -12(%ebp), %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret

/* EXCEPTION_DISPOSITION __cdecl _GuardHandler(record, registration, context, dispatcher) */
_GuardHandler:
        movl    4(%esp), %eax
        testl   $6, 4(%eax)                     /* EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND */
        jnz     .LSearch
        movl    8(%esp), %ecx
        pushl   $0                              /* ReturnValue */
        pushl   %eax                            /* ExceptionRecord */
        pushl   $0                              /* TargetIp: come back here */
        pushl   %ecx                            /* TargetFrame: our registration */
        call    *__imp__RtlUnwind@16
        movl    12(%esp), %edx                  /* CONTEXT */
        movl    8(%esp), %ecx                   /* registration, at -20 from the frame */
        movl    4(%esp), %eax
        movl    (%eax), %eax                    /* ExceptionCode */
        movl    %eax, 0xB0(%edx)                /* Eax */
        movl    %ecx, 0xC4(%edx)                /* Esp */
        leal    20(%ecx), %ecx
        movl    %ecx, 0xB4(%edx)                /* Ebp */
        movl    $.LResume, 0xB8(%edx)           /* Eip */
        xorl    %eax, %eax                      /* ExceptionContinueExecution */
        ret
.LSearch:
        movl    $1, %eax                        /* ExceptionContinueSearch */
        ret
