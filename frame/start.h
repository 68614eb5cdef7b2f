/* The process start every program shares (start.c), and what it asks of
 * the program. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* The program's own logic, run once static initialisation is done: the
 * launchers' frame (winapp.cpp), the check's report. Its answer is the
 * process exit status. */
int RunProgram(void);

/* Sets the stack cookie where the loader has not (stack_cookie.c). */
void InitStackCookie(void);

#ifdef __cplusplus
}
#endif
