/* The runtime's central dispatcher, "theQuickTimeDispatcher" (x86-64).
 *
 * The bridge jumps here with the routine selector in EAX and the caller's
 * arguments, registers and stack, exactly as the caller made the call. The
 * selector is read before anything else runs; the matching routine is then
 * entered by a jump, so it finds the arguments where its own prototype
 * expects them and returns straight to the original caller. An unknown
 * selector returns paramErr (-50). */
#include "bridge/QtSelectors.h"

  .text
  .globl theQuickTimeDispatcher
  .type theQuickTimeDispatcher, @function
  .p2align 4
theQuickTimeDispatcher:
  .cfi_startproc
  endbr64
  cmpl $QT_SELECTOR_InitializeQTML, %eax
  je QtRt_InitializeQTML
  cmpl $QT_SELECTOR_TerminateQTML, %eax
  je QtRt_TerminateQTML
#define EMIT_CASE(name, selector) cmpl $selector, %eax; je QtRt_##name;
  QT_FORWARDED_ROUTINES(EMIT_CASE)
  movl $-50, %eax
  ret
  .cfi_endproc
  .size theQuickTimeDispatcher, . - theQuickTimeDispatcher

  .section .note.GNU-stack, "", @progbits
