// Test-only stand-in for rasman.dll, one of the libraries the Remote Access
// library imports in turn, and for rastapi.dll, one it loads by name later.
// Installed in the system folder, and planted beside a copy of the check by
// the test that shows the check never loads them from there: on loading,
// each logs the file it was loaded from to the file named by
// RASAPI_STANDIN_LOG.
#include <stdio.h>

#include "standin.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    static char line[2 * MAX_PATH + 16], path[MAX_PATH], hex[2 * MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(instance, path, sizeof path);
    snprintf(line, sizeof line, "loaded from=%s", Hex(hex, sizeof hex, path, n < MAX_PATH ? n : 0));
    AppendLine("RASAPI_STANDIN_LOG", line);
  }
  return TRUE;
}

// What the Remote Access stand-in imports, so that loading it loads this.
void RasmanStandIn(void) {}
