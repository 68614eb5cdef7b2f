// Test-only helper: puts the registry of the test prefix into one scenario in
// a single process. Each argument is one step:
//   del|HIVE\path                     remove the key and all below it
//   set|HIVE\path|name|type|hexbytes  store exactly these bytes ("" name: the
//                                     default value; type as a number)
//   deny|HIVE\path                    deny everyone, this user included,
//                                     reading the key; deleting it stays allowed
// HIVE is HKLM or HKCU; paths name the 64-bit view on 64-bit Windows, whatever
// this helper's own architecture (Software\WOW6432Node\... is the 32-bit
// one). Exits 1 on the first step that fails.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <sddl.h>

static HKEY Hive(char** path) {
  HKEY hive = strncmp(*path, "HKLM\\", 5) == 0   ? HKEY_LOCAL_MACHINE
              : strncmp(*path, "HKCU\\", 5) == 0 ? HKEY_CURRENT_USER
                                                 : NULL;
  *path += 5;
  return hive;
}

static LONG Step(char* step) {
  char* fields[6] = {0};
  int count = 0;
  for (char* p = step; p && count < 6; ++count) {
    fields[count] = p;
    p = strchr(p, '|');
    if (p) *p++ = '\0';
  }
  char* path = fields[1];
  HKEY hive = path ? Hive(&path) : NULL;
  if (hive == NULL) return ERROR_INVALID_PARAMETER;
  if (strcmp(fields[0], "del") == 0 && count == 2) {
    HKEY key;
    LONG result = RegOpenKeyExA(hive, path, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key);
    if (result == ERROR_SUCCESS) {
      result = RegDeleteTreeA(key, NULL);
      RegCloseKey(key);
    }
    // A key no one may read, as "deny" leaves it, can still be deleted; it has no subkeys.
    if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED) {
      result = RegDeleteKeyExA(hive, path, KEY_WOW64_64KEY, 0);
    }
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
  }
  if (strcmp(fields[0], "deny") == 0 && count == 2) {
    PSECURITY_DESCRIPTOR sd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(D;;KR;;;WD)(A;;KA;;;WD)",
                                                              SDDL_REVISION_1, &sd, NULL)) {
      return (LONG)GetLastError();
    }
    HKEY key;
    LONG result = RegOpenKeyExA(hive, path, 0, WRITE_DAC | KEY_WOW64_64KEY, &key);
    if (result == ERROR_SUCCESS) {
      result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
      RegCloseKey(key);
    }
    LocalFree(sd);
    return result;
  }
  if (strcmp(fields[0], "set") != 0 || count != 5) return ERROR_INVALID_PARAMETER;
  size_t size = strlen(fields[4]) / 2;
  BYTE* data = malloc(size + 1);
  for (size_t i = 0; i < size; ++i) {
    unsigned byte;
    sscanf(fields[4] + 2 * i, "%2x", &byte);
    data[i] = (BYTE)byte;
  }
  HKEY key;
  LONG result =
      RegCreateKeyExA(hive, path, 0, NULL, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, NULL, &key, NULL);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(key, fields[2][0] ? fields[2] : NULL, 0, strtoul(fields[3], NULL, 0),
                            data, (DWORD)size);
    RegCloseKey(key);
  }
  free(data);
  return result;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    LONG result = Step(argv[i]);
    if (result != ERROR_SUCCESS) {
      fprintf(stderr, "regset: step %d failed with %ld\n", i, result);
      return 1;
    }
  }
  return 0;
}
