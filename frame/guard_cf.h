/* Control-flow guard's check and dispatch pointers: the frame's
 * (guard_cf.c) in every program; a test program may bring its own. */
#pragma once

typedef void (*GuardFunction)(void);

/* NOLINTBEGIN(bugprone-reserved-identifier): the names the compiler uses */
extern GuardFunction const __guard_check_icall_fptr;
#ifdef _WIN64
extern GuardFunction const __guard_dispatch_icall_fptr;
#endif
/* NOLINTEND(bugprone-reserved-identifier) */
