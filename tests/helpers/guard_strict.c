/* Test-only: control-flow guard's pointers as a strict check of our own, in
 * place of the frame's (frame/guard_cf.c), so that Wine, which enforces no
 * guard, shows it at work in a program built like the shipped ones. A call
 * target inside the image must be a function start that the image's own
 * GuardCFFunctionTable lists, as its load configuration names it, or the
 * process ends with STATUS_STACK_BUFFER_OVERRUN (0xC0000409), as Windows'
 * check ends it. Targets outside the image are other modules': not judged. */
#include <stdint.h>
#include <windows.h>

#include "load_config.h"

static int Listed(uintptr_t target) {
  const BYTE* base = (const BYTE*)GetModuleHandleA(NULL);
  const IMAGE_NT_HEADERS* nt =
      (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
  if (target < (uintptr_t)base || target - (uintptr_t)base >= nt->OptionalHeader.SizeOfImage) {
    return 1;
  }
  const struct LoadConfig* config = &_load_config_used;
  const BYTE* table = config->GuardCFFunctionTable;
  /* Each entry a relative address, then as many bytes of flags as the top
   * four bits of GuardFlags say. */
  const size_t stride = 4 + ((uint32_t)config->GuardFlags >> 28);
  for (uintptr_t i = 0; i < config->GuardCFFunctionCount; ++i) {
    if ((uintptr_t)base + *(const DWORD*)(table + i * stride) == target) {
      return 1;
    }
  }
  return 0;
}

/* Called from the assembly below, every register saved around it. */
void GuardStrictCheck(uintptr_t target) {
  if (!Listed(target)) {
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  }
}

#ifdef _WIN64
/* The check, with the target in rcx; the dispatch, with it in rax, goes on
 * to it. The caller's arguments (rcx, rdx, r8, r9, xmm0-xmm3) stay. */
__attribute__((naked)) void CheckStrict(void) {
  __asm__(
      "push %rax\n push %rcx\n push %rdx\n push %r8\n push %r9\n push %r10\n push %r11\n"
      "sub $96, %rsp\n"
      "movdqu %xmm0, 32(%rsp)\n movdqu %xmm1, 48(%rsp)\n"
      "movdqu %xmm2, 64(%rsp)\n movdqu %xmm3, 80(%rsp)\n"
      "call GuardStrictCheck\n"
      "movdqu 32(%rsp), %xmm0\n movdqu 48(%rsp), %xmm1\n"
      "movdqu 64(%rsp), %xmm2\n movdqu 80(%rsp), %xmm3\n"
      "add $96, %rsp\n"
      "pop %r11\n pop %r10\n pop %r9\n pop %r8\n pop %rdx\n pop %rcx\n pop %rax\n"
      "ret");
}

__attribute__((naked)) void DispatchStrict(void) {
  __asm__(
      "push %rcx\n mov %rax, %rcx\n call CheckStrict\n pop %rcx\n"
      "jmp *%rax");
}
#else
/* The check, with the target in ecx. */
__attribute__((naked)) void CheckStrict(void) {
  __asm__(
      "pushal\n push %ecx\n call _GuardStrictCheck\n add $4, %esp\n popal\n"
      "ret");
}
#endif

/* NOLINTBEGIN(bugprone-reserved-identifier): the names the compiler uses */
__attribute__((section(".00cfg"), used)) GuardFunction const __guard_check_icall_fptr = CheckStrict;
#ifdef _WIN64
__attribute__((section(".00cfg"), used)) GuardFunction const __guard_dispatch_icall_fptr =
    DispatchStrict;
#endif
/* NOLINTEND(bugprone-reserved-identifier) */
