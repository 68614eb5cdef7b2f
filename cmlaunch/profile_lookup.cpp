#include "profile_lookup.h"

#include <cstring>

#include "connection_entry.h"

namespace {

constexpr char kAppPathsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe";
constexpr char kMappingsKey[] = "Software\\Microsoft\\Connection Manager\\Mappings";

// Owns one registry key opened for reading values; closes it when it goes, so
// every path out of a lookup closes the key right after its one query.
class CRegKey {
 public:
  CRegKey() = default;
  ~CRegKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;

  // Only on an owner that holds no key yet.
  bool Open(HKEY hive, const char* path) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
      return false;
    }
    key_ = opened;
    return true;
  }

  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Reads a value (null name: the default value) as text, whatever its type.
int QueryText(const CRegKey& key, const char* name, char (&text)[MAX_PATH]) {
  DWORD size = sizeof text;
  if (RegQueryValueExA(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
      ERROR_SUCCESS) {
    return 1;  // no such value, or more than 260 bytes
  }
  // The stored bytes need not end in a zero: the text ends at the first zero,
  // or right after the bytes when there is room for one. A full buffer with
  // no zero is refused, since cutting it short would name a file that was
  // never stored.
  if (std::memchr(text, '\0', size) == nullptr) {
    if (size == sizeof text) {
      return 1;
    }
    text[size] = '\0';
  }
  return 0;
}

}  // namespace

int QueryConnectionManagerPath(char (&path)[MAX_PATH]) {
  CRegKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, kAppPathsKey)) {
    return 1;
  }
  return QueryText(key, nullptr, path);
}

int QueryProfileMapping(char (&profile)[MAX_PATH]) {
  // The hive is settled by opening the key alone: once the machine-wide key
  // is open, a missing value there ends the lookup.
  CRegKey key;
  if (!key.Open(HKEY_LOCAL_MACHINE, kMappingsKey) && !key.Open(HKEY_CURRENT_USER, kMappingsKey)) {
    return 1;
  }
  return QueryText(key, kConnectionEntryName, profile);
}
