#pragma once

#include <windows.h>

#include <utility>

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
