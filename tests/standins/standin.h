// What the stand-ins share: reading a number the test put in the environment,
// appending one line to the log file the test named there, and staying until
// the test says so.
#pragma once
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static inline unsigned long EnvNumber(const char* name) {
  char text[32];
  DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
  return n > 0 && n < sizeof text ? strtoul(text, NULL, 0) : 0;
}

// Each line is appended by its own open and close, so that a line logged at
// process exit is not lost and two processes may share one log.
static inline void AppendLine(const char* logVariable, const char* line) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA(logVariable, path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
  WriteFile(file, "\n", 1, &written, NULL);
  CloseHandle(file);
}

// Waits until the file named by holdVariable exists, if the test named one:
// the test creates it once it has seen what it waits for. Bounded, so that a
// test that failed before releasing leaves nothing running for long.
static inline void HoldUntilReleased(const char* holdVariable) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA(holdVariable, path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  for (int waited = 0; waited < 120000; waited += 50) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(50);
  }
}
