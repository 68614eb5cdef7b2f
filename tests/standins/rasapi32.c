// Test-only stand-in for the Remote Access API's phonebook lookups, which the
// check uses and Wine only pretends to have. It logs each lookup's phonebook
// and entry name to the file named by RASAPI_STANDIN_LOG, and answers as the
// test asks:
//   RASAPI_STANDIN_ENTRY  "all users" or "user": the entry "Conexion a Zel
//                         Servicios IP" is in that phonebook; unset: no entry
// It refuses what Windows refuses of the fields the check sets: a list whose
// first record's size is none Windows knows (ERROR_INVALID_SIZE), a lookup
// with nowhere to put the size. Each lookup logs the process's error mode.
#define _WIN32_WINNT 0x0600  // GetErrorMode
#include <windows.h>
// windows.h first: the Remote Access headers need its types.
#include <ras.h>
#include <raserror.h>
#include <stddef.h>

#include "standin.h"

static const char kEntry[] = "Conexion a Zel Servicios IP";

// From the rasman.dll stand-in: imported as the platform's library imports
// rasman.dll, so that the loader looks for it.
void RasmanStandIn(void);

// REN_AllUsers or REN_User for the phonebook the test named; -1 for none.
static int Phonebook(void) {
  char text[32];
  DWORD n = GetEnvironmentVariableA("RASAPI_STANDIN_ENTRY", text, sizeof text);
  if (n == 0 || n >= sizeof text) return -1;
  return strcmp(text, "user") == 0 ? REN_User : REN_AllUsers;
}

static void Log(const char* call, LPCSTR phonebook, LPCSTR entry) {
  static char line[2200], book[1024], name[1024];
  snprintf(line, sizeof line, "%s phonebook=%s entry=%s error_mode=0x%x", call,
           Hex(book, sizeof book, phonebook, phonebook ? strlen(phonebook) : 0),
           Hex(name, sizeof name, entry, entry ? strlen(entry) : 0), GetErrorMode());
  AppendLine("RASAPI_STANDIN_LOG", line);
}

DWORD APIENTRY RasGetEntryPropertiesA(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA properties,
                                      LPDWORD size, LPBYTE device, LPDWORD deviceSize) {
  (void)properties;
  (void)device;
  (void)deviceSize;
  RasmanStandIn();
  // As the platform's library loads its helpers: by name, at run time.
  LoadLibraryA("rastapi.dll");
  Log("lookup", phonebook, entry);
  if (size == NULL) return ERROR_INVALID_PARAMETER;
  if (Phonebook() < 0 || entry == NULL || strcmp(entry, kEntry) != 0) {
    return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  }
  // Asked for the size only, as the check asks.
  *size = sizeof(RASENTRYA);
  return ERROR_BUFFER_TOO_SMALL;
}

DWORD APIENTRY RasEnumEntriesA(LPCSTR reserved, LPCSTR phonebook, LPRASENTRYNAMEA names,
                               LPDWORD bytes, LPDWORD count) {
  (void)reserved;
  Log("list", phonebook, NULL);
  // The sizes Windows takes: this record's, and NT 4's, without the flags
  // and the phonebook's path.
  if (names == NULL ||
      (names->dwSize != sizeof *names && names->dwSize != offsetof(RASENTRYNAMEA, dwFlags))) {
    return ERROR_INVALID_SIZE;
  }
  *count = 0;
  if (Phonebook() < 0) return ERROR_SUCCESS;
  if (*bytes < sizeof *names) {
    *bytes = sizeof *names;
    return ERROR_BUFFER_TOO_SMALL;
  }
  memset(names, 0, sizeof *names);
  names->dwSize = sizeof *names;
  strcpy(names->szEntryName, kEntry);
  names->dwFlags = (DWORD)Phonebook();
  *count = 1;
  return ERROR_SUCCESS;
}
