// What the stand-ins share: reading a number the test put in the environment,
// and appending one line to the log file the test named there.
#pragma once
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static unsigned long EnvNumber(const char* name) {
  char text[32];
  DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
  return n > 0 && n < sizeof text ? strtoul(text, NULL, 0) : 0;
}

// Each line is appended by its own open and close, so that a line logged at
// process exit is not lost and two processes may share one log.
static void AppendLine(const char* logVariable, const char* line) {
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
