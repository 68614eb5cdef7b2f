/* Control-flow guard's two pointers. Code compiled with -mguard=cf makes
 * every indirect call through one of them: on x86 it calls the check with
 * the target in ecx first; on x64 it jumps through the dispatch with the
 * target in rax. They lie in .00cfg, which lld puts among the read-only
 * data, and the load configuration names them (load_config.c). Where
 * Windows enforces the guard, its loader points them at its own check of
 * the process's valid targets before any code runs: the check pointer from
 * Windows 8.1 on, the dispatch pointer from Windows 10 on (8.1's x64 load
 * configuration still calls that field Reserved2). Where it does not, they
 * stay as set here, at functions that check nothing: there code calls them
 * straight through the pointer, which needs no valid target.
 *
 * So the do-nothing functions must never be valid targets: the dispatch,
 * a bare jump to rax, would let any guarded call go anywhere. They and the
 * pointers are assembly, their symbols not typed as functions and this
 * file's guard data naming none of them, so lld leaves them out of the
 * table. Both keep every register: the check returns, the dispatch goes on
 * to the target. */
#include "load_config.h"

#ifdef _WIN64
__asm__(
    ".section .00cfg,\"dr\"\n"
    ".p2align 3\n"
    ".globl __guard_check_icall_fptr\n"
    "__guard_check_icall_fptr: .quad CheckNothing\n"
    ".globl __guard_dispatch_icall_fptr\n"
    "__guard_dispatch_icall_fptr: .quad DispatchNothing\n"
    ".text\n"
    "CheckNothing: ret\n"
    "DispatchNothing: jmp *%rax\n");
#else
__asm__(
    ".section .00cfg,\"dr\"\n"
    ".p2align 2\n"
    ".globl ___guard_check_icall_fptr\n"
    "___guard_check_icall_fptr: .long CheckNothing\n"
    ".text\n"
    "CheckNothing: ret\n");
#endif
