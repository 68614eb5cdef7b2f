/* The process entry of every program: no start-up code of the C runtime
 * runs, so everything Windows calls in a program is compiled with the
 * guard, and is a valid target in its table.
 *
 * In order: the stack cookie, before any function that checks it; static
 * initialisation, which constructs the application object and registers
 * its destruction; the program's logic; the registered destruction, last
 * registered first; the end of the process with the program's status.
 * There is no TLS directory, no initializer table for msvcrt.dll to run
 * and no handler handed to it: msvcrt.dll sets itself up when it is loaded,
 * and the functions taken from it are called directly. */
#include <windows.h>

#include "start.h"

typedef void (*Function)(void);

/* NOLINTBEGIN(bugprone-reserved-identifier): the names the toolchain uses */
/* lld's, for the MinGW targets: the static initialisers the compiler emits
 * (.ctors), after a first entry of -1 and up to a last of 0. */
extern const Function __CTOR_LIST__[];

/* Room for what the programs register: the destruction of each object with
 * a destructor at namespace scope. One more fails, as the C runtime's own
 * may, and that object is then not destroyed. */
static Function exitFunctions[8];
static int exitCount;

/* Where the compiler's static initialisers register a destruction. */
int atexit(Function function) {
  if (exitCount == (int)(sizeof exitFunctions / sizeof *exitFunctions)) {
    return -1;
  }
  exitFunctions[exitCount++] = function;
  return 0;
}
/* NOLINTEND(bugprone-reserved-identifier) */

/* Not itself guarded by the cookie: it sets it. */
__attribute__((noreturn, no_stack_protector)) void ProcessStart(void) {
  InitStackCookie();
  /* As GCC's runtime runs them: the last first. */
  int count = 0;
  while (__CTOR_LIST__[count + 1] != 0) {
    ++count;
  }
  for (; count > 0; --count) {
    __CTOR_LIST__[count]();
  }
  const int status = RunProgram();
  while (exitCount > 0) {
    exitFunctions[--exitCount]();
  }
  ExitProcess((UINT)status);
}
