/* MirrinGuardedCall(routine, context) for i686: an exception registration on the fs:[0]
 * chain whose handler does what a compiled __try/__except(EXCEPTION_EXECUTE_HANDLER) around
 * routine(context) does: it unwinds the registrations above its own, then takes back this
 * frame's stack and registers and goes on at the return path with the exception code as the
 * result. It never hands control back to the dispatcher, which resumes only a continuable
 * exception: the kernel raises a failed probe through ExRaiseStatus, a noncontinuable one.
 *
 * The unwind is the one the system's RtlUnwind does for a target frame: each registration
 * above ours, the dispatcher's own included, is called once with the record marked
 * EXCEPTION_UNWINDING (so a compiled frame runs its __finally blocks) and taken off the chain.
 * It is done here rather than through RtlUnwind so that the driver imports nothing that the
 * kernel of Windows 98 is not documented to export. */
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
.LResume:                                       /* %ebp is this frame's, %eax the result */
        movl    -20(%ebp), %ecx
        movl    %ecx, %fs:0
        leal    -12(%ebp), %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret

/* EXCEPTION_DISPOSITION __cdecl _GuardHandler(record, registration, context, dispatcher)
 * Called to unwind, it has nothing to undo. Called to search, it never returns: the callee-
 * saved registers it takes are restored from the guarded frame. */
_GuardHandler:
        movl    4(%esp), %eax                   /* ExceptionRecord */
        testl   $6, 4(%eax)                     /* EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND */
        jnz     .LSearch
        movl    %eax, %esi
        movl    8(%esp), %ebx                   /* our registration */
        movl    12(%esp), %edi                  /* ContextRecord */
        orl     $2, 4(%esi)                     /* EXCEPTION_UNWINDING */
.LUnwindNext:
        movl    %fs:0, %ebp
        cmpl    %ebx, %ebp
        je      .LUnwound
        cmpl    $-1, %ebp                       /* the end of the chain: nothing above us left */
        je      .LUnwound
        subl    $4, %esp                        /* the handler's dispatcher context */
        movl    %esp, %eax
        pushl   %eax
        pushl   %edi
        pushl   %ebp                            /* EstablisherFrame */
        pushl   %esi
        call    *4(%ebp)
        addl    $20, %esp
        movl    (%ebp), %eax                    /* unlinked: the next one heads the chain */
        movl    %eax, %fs:0
        jmp     .LUnwindNext
.LUnwound:
        movl    (%esi), %eax                    /* ExceptionCode: the result */
        movl    %ebx, %esp                      /* our registration is the top of our frame */
        leal    20(%esp), %ebp
        cld
        jmp     .LResume
.LSearch:
        movl    $1, %eax                        /* ExceptionContinueSearch */
        ret
