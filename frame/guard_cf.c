/* Control-flow guard's two pointers. Code compiled with -mguard=cf makes
 * every indirect call through one of them: on x86 it calls the check with
 * the target in ecx first; on x64 it jumps through the dispatch with the
 * target in rax. They lie in .00cfg, which lld puts among the read-only
 * data, and the load configuration names them (load_config.c): where
 * Windows enforces the guard (8.1 and later), its loader points them at
 * its own check of the process's valid targets before any code runs. Where
 * it does not, they stay as set here: no check, as on any Windows without
 * the guard. Our own code is instrumented; the static runtime, compiled
 * without the guard, counts as having every function a valid target. */
#include "load_config.h"

/* Both keep every register: the check returns, the dispatch goes on to the
 * target. */
__attribute__((naked)) static void CheckNothing(void) { __asm__("ret"); }

/* NOLINTBEGIN(bugprone-reserved-identifier): the names the compiler uses */
__attribute__((section(".00cfg"), used)) GuardFunction const __guard_check_icall_fptr =
    CheckNothing;
#ifdef _WIN64
__attribute__((naked)) static void DispatchNothing(void) { __asm__("jmp *%rax"); }

__attribute__((section(".00cfg"), used)) GuardFunction const __guard_dispatch_icall_fptr =
    DispatchNothing;
#endif
/* NOLINTEND(bugprone-reserved-identifier) */
