/* The 26 forwarding exports of Cinelink (x86-64, System V).
 *
 * Each stub runs the bind hook when one is set, puts its routine selector in
 * EAX and jumps to the current dispatcher entry. The jump leaves the
 * caller's return address and stack arguments where the caller put them, so
 * the dispatcher sees the call exactly as it was made and returns straight
 * to the caller. The stubs copy nothing and know no argument list.
 *
 * The hook is ordinary C and may use every call-clobbered register, so it is
 * called through CinelinkRunBindHook, which keeps every register that can
 * carry an argument: rdi, rsi, rdx, rcx, r8, r9, rax (AL counts the vector
 * arguments of a variadic call), r10 and xmm0-xmm7. It saves them below the
 * stack pointer, never touching the caller's stack arguments above it. */
#include "bridge/QtSelectors.h"

  .text
  .hidden QtDispatchTable

/* Offsets in QtDispatchTable. */
#define HOOK 0
#define DISPATCHER 8

  .globl CinelinkRunBindHook
  .hidden CinelinkRunBindHook
  .type CinelinkRunBindHook, @function
  .p2align 4
CinelinkRunBindHook:
  .cfi_startproc
  endbr64
  pushq %rbp
  .cfi_def_cfa_offset 16
  .cfi_offset %rbp, -16
  movq %rsp, %rbp
  .cfi_def_cfa_register %rbp
  subq $192, %rsp
  andq $-16, %rsp
  movq %rdi, 0(%rsp)
  movq %rsi, 8(%rsp)
  movq %rdx, 16(%rsp)
  movq %rcx, 24(%rsp)
  movq %r8, 32(%rsp)
  movq %r9, 40(%rsp)
  movq %rax, 48(%rsp)
  movq %r10, 56(%rsp)
  movaps %xmm0, 64(%rsp)
  movaps %xmm1, 80(%rsp)
  movaps %xmm2, 96(%rsp)
  movaps %xmm3, 112(%rsp)
  movaps %xmm4, 128(%rsp)
  movaps %xmm5, 144(%rsp)
  movaps %xmm6, 160(%rsp)
  movaps %xmm7, 176(%rsp)
  movq QtDispatchTable+HOOK(%rip), %r11
  testq %r11, %r11
  jz 1f
  call *%r11
1:
  movaps 176(%rsp), %xmm7
  movaps 160(%rsp), %xmm6
  movaps 144(%rsp), %xmm5
  movaps 128(%rsp), %xmm4
  movaps 112(%rsp), %xmm3
  movaps 96(%rsp), %xmm2
  movaps 80(%rsp), %xmm1
  movaps 64(%rsp), %xmm0
  movq 56(%rsp), %r10
  movq 48(%rsp), %rax
  movq 40(%rsp), %r9
  movq 32(%rsp), %r8
  movq 24(%rsp), %rcx
  movq 16(%rsp), %rdx
  movq 8(%rsp), %rsi
  movq 0(%rsp), %rdi
  leave
  .cfi_def_cfa %rsp, 8
  ret
  .cfi_endproc
  .size CinelinkRunBindHook, . - CinelinkRunBindHook

/* The dispatcher entry while nothing is bound. -2095 is an OSErr; for the
 * routines whose result is a pointer (NewHandle, NewMovieTrack,
 * NewTrackMedia) a number there would be a wild address, so they get NULL. */
  .globl UnboundEntry
  .hidden UnboundEntry
  .type UnboundEntry, @function
  .p2align 4
UnboundEntry:
  .cfi_startproc
  endbr64
  cmpl $0x00150008, %eax
  je 3f
  cmpl $0x00020188, %eax
  je 3f
  cmpl $0x0002018E, %eax
  je 3f
  movq $-2095, %rax
  ret
3:
  xorl %eax, %eax
  ret
  .cfi_endproc
  .size UnboundEntry, . - UnboundEntry

/* OSErr CinelinkCallDispatcher(void* entry, uint32_t selector, int32_t arg) */
  .globl CinelinkCallDispatcher
  .hidden CinelinkCallDispatcher
  .type CinelinkCallDispatcher, @function
  .p2align 4
CinelinkCallDispatcher:
  .cfi_startproc
  endbr64
  movq %rdi, %r11
  movl %edx, %edi
  movl %esi, %eax
  jmp *%r11
  .cfi_endproc
  .size CinelinkCallDispatcher, . - CinelinkCallDispatcher

.macro DISPATCH_STUB name, selector
  .globl \name
  .type \name, @function
  .p2align 4
\name:
  .cfi_startproc
  endbr64
  cmpq $0, QtDispatchTable+HOOK(%rip)
  jne 2f
  movl $\selector, %eax
  jmp *QtDispatchTable+DISPATCHER(%rip)
2:
  call CinelinkRunBindHook
  movl $\selector, %eax
  jmp *QtDispatchTable+DISPATCHER(%rip)
  .cfi_endproc
  .size \name, . - \name
.endm

#define EMIT_STUB(name, selector) DISPATCH_STUB name, selector;
QT_FORWARDED_ROUTINES(EMIT_STUB)

  .section .note.GNU-stack, "", @progbits
