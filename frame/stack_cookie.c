/* Every program's stack cookie: the guard that code compiled with
 * -fstack-protector-strong saves on entering a function that holds a buffer
 * and compares on leaving it, and what a mismatch does.
 *
 * The guard starts as the platform's default value, and the load
 * configuration names it (SecurityCookie, load_config.c), so a loader that
 * knows the field replaces it with a per-process random value before any
 * code runs, as Windows' and Wine's loaders do for the platform's own
 * compiler's programs. Where the loader has left the default, the process
 * start (start.c) sets it from per-process entropy, as the platform's own C
 * runtime does, before any function that checks it runs. */
#include <stdint.h>
#include <windows.h>

#include "start.h"

#ifdef _WIN64
#define DEFAULT_COOKIE ((uintptr_t)0x00002B992DDFA232ULL)
#else
#define DEFAULT_COOKIE ((uintptr_t)0xBB40E64EUL)
#endif

/* The names the compiler's instrumentation uses. */
/* NOLINTNEXTLINE(bugprone-reserved-identifier) */
uintptr_t __stack_chk_guard = DEFAULT_COOKIE;

/* A clobbered cookie: the stack can no longer be trusted, so the process
 * ends at once, as the platform's own C runtime ends it: where Windows
 * handles the fail-fast interrupt (8 and later, as the processor feature
 * says), with __fastfail, which no handler of the program sees and which
 * Windows Error Reporting may record; elsewhere, where int 0x29 would be an
 * access violation that goes through the handlers, by terminating. Either
 * way the status is STATUS_STACK_BUFFER_OVERRUN, and nothing is shown. */
/* NOLINTNEXTLINE(bugprone-reserved-identifier) */
__attribute__((noreturn)) void __stack_chk_fail(void) {
  if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
  }
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

/* Not itself guarded: it changes the guard. */
__attribute__((no_stack_protector)) void InitStackCookie(void) {
  if (__stack_chk_guard != DEFAULT_COOKIE) {
    return; /* the loader has set it */
  }
  FILETIME now;
  LARGE_INTEGER counter;
  GetSystemTimeAsFileTime(&now);
  QueryPerformanceCounter(&counter);
  uintptr_t cookie = (uintptr_t)now.dwLowDateTime ^ now.dwHighDateTime ^ GetCurrentProcessId() ^
                     GetCurrentThreadId() ^ GetTickCount() ^ counter.LowPart ^ counter.HighPart;
#ifdef _WIN64
  cookie ^= (uintptr_t)counter.QuadPart << 24 ^ (uintptr_t)now.dwLowDateTime << 32;
  /* As the platform's own: the top 16 bits stay clear. */
  cookie &= 0x0000FFFFFFFFFFFFULL;
#endif
  __stack_chk_guard = cookie == DEFAULT_COOKIE || cookie == 0 ? DEFAULT_COOKIE + 1 : cookie;
}
