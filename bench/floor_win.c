// The floor for brannostelwin: the same platform calls with the same resources
// and nothing else, in plain C. Only the benchmark builds it.
#include <string.h>
#include <windows.h>
#include <shellapi.h>

static int Query(HKEY hive, const char* path, const char* name, char* text) {
  HKEY key;
  if (RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
  DWORD size = MAX_PATH;
  LONG result = RegQueryValueExA(key, name, NULL, NULL, (BYTE*)text, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return 1;
  if (memchr(text, 0, size) == NULL) {
    if (size == MAX_PATH) return 1;
    text[size] = 0;
  }
  return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args, (void)show;
  static const char mappings[] = "Software\\Microsoft\\Connection Manager\\Mappings";
  static const char entry[] = "Conexion a Zel Servicios IP";
  char program[MAX_PATH], profile[MAX_PATH];
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  if (Query(HKEY_LOCAL_MACHINE,
            "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe", NULL,
            program) != 0)
    return 0;
  int found = Query(HKEY_LOCAL_MACHINE, mappings, entry, profile);
  if (found < 0) found = Query(HKEY_CURRENT_USER, mappings, entry, profile);
  if (found == 0) ShellExecuteA(NULL, "open", program, profile, NULL, SW_SHOW);
  return 0;
}
