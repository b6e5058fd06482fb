/* Dispatcher of the runtimes the bridge tests build: it keeps the selector it
 * was entered with and jumps to the recording routine of that selector with
 * the caller's registers and stack untouched. Built in variants that leave
 * out one of the three entry points. */
  .text
#ifndef TEST_OMIT_DISPATCHER
  .globl theQuickTimeDispatcher
  .type theQuickTimeDispatcher, @function
theQuickTimeDispatcher:
  movl %eax, gTestLastSelector(%rip)
  cmpl $0x001D0008, %eax
  je TestInitialize
  cmpl $0x001D0009, %eax
  je TestTerminate
  cmpl $0x0002007C, %eax
  je TestAddMediaSample
  cmpl $0x00030004, %eax
  je TestGetMaxCompressionSize
  cmpl $0x00100001, %eax
  je TestVariadic
  movl $-50, %eax
  ret
  .size theQuickTimeDispatcher, . - theQuickTimeDispatcher
#endif
  .section .note.GNU-stack, "", @progbits
