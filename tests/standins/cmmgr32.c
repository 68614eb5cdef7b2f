// Test-only stand-in for the Connection Manager program. It writes the
// command line it was started with (as hex, every byte exact) to the file
// named by CMMGR_STANDIN_LOG, then stays running until the file named by
// CMMGR_STANDIN_HOLD exists (if one is named) and logs that it ended.
#include <stdio.h>

#include "standin.h"

static void Log(const char* line) { AppendLine("CMMGR_STANDIN_LOG", line); }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance;
  (void)previous;
  (void)args;
  static char line[70000];
  const unsigned char* command = (const unsigned char*)GetCommandLineA();
  char* p = line + sprintf(line, "start show=%d command=", show);
  for (; *command && p < line + sizeof line - 3; ++command) p += sprintf(p, "%02x", *command);
  Log(line);
  HoldUntilReleased("CMMGR_STANDIN_HOLD");
  Log("end");
  return 0;
}
