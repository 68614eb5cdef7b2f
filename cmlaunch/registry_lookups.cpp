#include "registry_lookups.h"

#include <cstring>

#include "connection_entry.h"
#include "opened_key.h"

bool QueryText(const OpenedKey& key, const char* name, char (&text)[MAX_PATH]) {
  DWORD size = sizeof text;
  if (RegQueryValueExA(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
      ERROR_SUCCESS) {
    return false;  // no such value, or more than 260 bytes
  }
  // The stored bytes need not end in a zero: the text ends at the first zero,
  // or right after the bytes when there is room for one. A full buffer with
  // no zero is refused, since cutting it short would name a file that was
  // never stored.
  if (std::memchr(text, '\0', size) == nullptr) {
    if (size == sizeof text) {
      return false;
    }
    text[size] = '\0';
  }
  return true;
}

int QueryConnectionManagerPath(char (&path)[MAX_PATH]) {
  const OpenedKey key = OpenedKey::Open(HKEY_LOCAL_MACHINE, kAppPathsKey);
  return key && QueryText(key, nullptr, path) ? 0 : 1;
}

int QueryProfileMapping(char (&profile)[MAX_PATH], HKEY* hive) {
  // The hive is settled by opening the key alone: once the machine-wide key
  // is open, a missing value there ends the lookup.
  HKEY read = HKEY_LOCAL_MACHINE;
  OpenedKey key = OpenedKey::Open(read, kMappingsKey);
  if (!key) {
    read = HKEY_CURRENT_USER;
    key = OpenedKey::Open(read, kMappingsKey);
  }
  if (hive != nullptr) {
    *hive = key ? read : nullptr;
  }
  return key && QueryText(key, kConnectionEntryName, profile) ? 0 : 1;
}
