// Test-only stand-in for the platform's dial dialog library. Wine's own
// rasdlg.dll does not implement RasDialDlgA, so the tests install this one in
// the test prefix. It writes what it was handed to the file named by
// RASDLG_STANDIN_LOG, one line per event, and answers what the test asks for:
//   RASDLG_STANDIN_RESULT    the dialog's return value (default 0)
//   RASDLG_STANDIN_HOLD      a file: the dialog stays "open" until it exists
//   RASDLG_STANDIN_ERRORMODE error mode to set before the program starts
#define _WIN32_WINNT 0x0600  // GetErrorMode
#include <windows.h>
// windows.h first: the dial dialog's header needs its types.
#include <rasdlg.h>
#include <stdio.h>

#include "standin.h"

static DWORD mainThread;
static void* lastRecord;

static void Log(const char* line) { AppendLine("RASDLG_STANDIN_LOG", line); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    // Loaded as a static import: this is the main thread, before the
    // program's own start-up.
    mainThread = GetCurrentThreadId();
    UINT preset = (UINT)EnvNumber("RASDLG_STANDIN_ERRORMODE");
    if (preset != 0) SetErrorMode(preset);
  } else if (reason == DLL_PROCESS_DETACH && lastRecord != NULL) {
    // A fixed global block (GPTR) is a block of the process heap, on Windows
    // and in Wine alike: the heap still validates it if it was not freed.
    Log(HeapValidate(GetProcessHeap(), 0, lastRecord) ? "exit record=live" : "exit record=freed");
  }
  return TRUE;
}

BOOL WINAPI RasDialDlgA(LPSTR phonebook, LPSTR entry, LPSTR phoneNumber, LPRASDIALDLG info) {
  static char line[4096], book[1024], name[1024], phone[1024], bytes[128];
  lastRecord = info;
  BOOL result = (BOOL)EnvNumber("RASDLG_STANDIN_RESULT");
  snprintf(line, sizeof line,
           "call main_thread=%d phonebook=%s entry=%s phone=%s size=%lu bytes=%s fixed=%d "
           "global_size=%lu error_mode=0x%x pid=%lu",
           GetCurrentThreadId() == mainThread,
           Hex(book, sizeof book, phonebook, phonebook ? strlen(phonebook) : 0),
           Hex(name, sizeof name, entry, entry ? strlen(entry) : 0),
           Hex(phone, sizeof phone, phoneNumber, phoneNumber ? strlen(phoneNumber) : 0),
           info ? info->dwSize : 0, Hex(bytes, sizeof bytes, info, info ? sizeof *info : 0),
           info && GlobalHandle(info) == (HGLOBAL)info, info ? (unsigned long)GlobalSize(info) : 0,
           GetErrorMode(), GetCurrentProcessId());
  Log(line);
  HoldUntilReleased("RASDLG_STANDIN_HOLD");
  Log("return");
  return result;
}
