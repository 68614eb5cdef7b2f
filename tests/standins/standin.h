// What the stand-ins share: reading a number the test put in the environment,
// appending one line to the log file the test named there, logging texts
// exactly, and staying until the test says so.
#pragma once
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static inline unsigned long EnvNumber(const char* name) {
  char text[32];
  DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
  return n > 0 && n < sizeof text ? strtoul(text, NULL, 0) : 0;
}

// Texts are logged as hex so that every byte arrives exactly; null as "-".
// What does not fit into out is left off, so a longer text than any test
// hands over is logged cut short, never written past the buffer.
static inline char* Hex(char* out, size_t outSize, const void* data, size_t size) {
  char* p = out;
  if (data == NULL) {
    *p++ = '-';
  } else {
    if (size > (outSize - 1) / 2) size = (outSize - 1) / 2;
    for (size_t i = 0; i < size; ++i) p += sprintf(p, "%02x", ((const unsigned char*)data)[i]);
  }
  *p = '\0';
  return out;
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
