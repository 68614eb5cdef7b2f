// Test-only stand-in for the Connection Manager program. It writes the
// command line it was started with (as hex, every byte exact) to the file
// named by CMMGR_STANDIN_LOG, then stays running for CMMGR_STANDIN_STAY
// milliseconds (default 0) and logs that it ended.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static void Log(const char* line) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("CMMGR_STANDIN_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
  WriteFile(file, "\n", 1, &written, NULL);
  CloseHandle(file);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance;
  (void)previous;
  (void)args;
  static char line[70000];
  const unsigned char* command = (const unsigned char*)GetCommandLineA();
  char* p = line + sprintf(line, "start show=%d command=", show);
  for (; *command && p < line + sizeof line - 3; ++command) p += sprintf(p, "%02x", *command);
  Log(line);
  char stay[32];
  DWORD n = GetEnvironmentVariableA("CMMGR_STANDIN_STAY", stay, sizeof stay);
  Sleep(n > 0 && n < sizeof stay ? strtoul(stay, NULL, 0) : 0);
  Log("end");
  return 0;
}
