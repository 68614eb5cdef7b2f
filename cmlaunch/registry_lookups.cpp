#include "registry_lookups.h"

#include <cstring>
#include <utility>

#include "connection_entry.h"

namespace {

constexpr char kAppPathsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe";
constexpr char kMappingsKey[] = "Software\\Microsoft\\Connection Manager\\Mappings";

// Owns one registry key opened for reading values, or nothing. The key is
// closed when its owner goes, so every path out of a lookup closes it right
// after its one query.
class OpenedKey {
 public:
  // The key at path under hive, opened to query values; empty if it cannot be.
  [[nodiscard]] static OpenedKey Open(HKEY hive, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
      return OpenedKey(nullptr);
    }
    return OpenedKey(key);
  }

  OpenedKey(OpenedKey&& other) noexcept : key_(other.Release()) {}
  // The key this owner held is closed at once, not when the other goes.
  OpenedKey& operator=(OpenedKey&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  ~OpenedKey() { Reset(nullptr); }

  [[nodiscard]] explicit operator bool() const { return key_ != nullptr; }
  [[nodiscard]] HKEY Get() const { return key_; }

 private:
  explicit OpenedKey(HKEY key) : key_(key) {}

  HKEY Release() { return std::exchange(key_, nullptr); }
  void Reset(HKEY key) {
    if (key_ != nullptr && key_ != key) {
      RegCloseKey(key_);
    }
    key_ = key;
  }

  HKEY key_;
};

// Reads a value (null name: the default value) as text, whatever its type.
[[nodiscard]] bool QueryText(const OpenedKey& key, const char* name, char (&text)[MAX_PATH]) {
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

}  // namespace

int QueryConnectionManagerPath(char (&path)[MAX_PATH]) {
  const OpenedKey key = OpenedKey::Open(HKEY_LOCAL_MACHINE, kAppPathsKey);
  return key && QueryText(key, nullptr, path) ? 0 : 1;
}

int QueryProfileMapping(char (&profile)[MAX_PATH]) {
  // The hive is settled by opening the key alone: once the machine-wide key
  // is open, a missing value there ends the lookup.
  OpenedKey key = OpenedKey::Open(HKEY_LOCAL_MACHINE, kMappingsKey);
  if (!key) {
    key = OpenedKey::Open(HKEY_CURRENT_USER, kMappingsKey);
  }
  return key && QueryText(key, kConnectionEntryName, profile) ? 0 : 1;
}
