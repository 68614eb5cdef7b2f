#include "registry_lookups.h"

#include "connection_entry.h"
#include "opened_key.h"

namespace {

// Ends the text that size stored bytes make in a buffer of capacity bytes:
// at the first zero among them, or right after them where there is room for
// one. A full buffer with no zero is refused, since cutting it short would
// name a file that was never stored. Whatever the buffer held before, as
// the launcher's buffer is not cleared, never becomes part of the text.
[[nodiscard]] constexpr bool EndText(char* text, DWORD size, DWORD capacity) {
  for (DWORD i = 0; i < size; ++i) {
    if (text[i] == '\0') {
      return true;
    }
  }
  if (size >= capacity) {
    return false;
  }
  text[size] = '\0';
  return true;
}

// The text stored bytes make in a 4-byte buffer that held garbage before
// ("" where they are refused). Reading a text left without its zero runs
// off the buffer, which no constant expression may: that fails to compile.
struct Ended {
  char text[4] = {'?', '?', '?', '?'};
};
constexpr Ended EndIn4(const char* stored, DWORD size) {
  Ended ended;
  for (DWORD i = 0; i < size; ++i) {
    ended.text[i] = stored[i];
  }
  if (!EndText(ended.text, size, sizeof ended.text)) {
    ended.text[0] = '\0';
  }
  return ended;
}
constexpr bool Same(const char* text, const char* expected) {
  for (; *text == *expected; ++text, ++expected) {
    if (*text == '\0') {
      return true;
    }
  }
  return false;
}
static_assert(Same(EndIn4("ab", 2).text, "ab"), "short, no zero: ended right after the bytes");
static_assert(Same(EndIn4("abc", 3).text, "abc"), "no zero, one byte of room");
static_assert(Same(EndIn4("ab\0", 3).text, "ab"), "zero-terminated");
static_assert(Same(EndIn4("abc\0", 4).text, "abc"), "a full buffer with its zero");
static_assert(Same(EndIn4("a\0b", 3).text, "a"), "a zero inside: the text ends there");
static_assert(Same(EndIn4("abcd", 4).text, ""), "a full buffer, no zero: refused");
static_assert(Same(EndIn4("", 0).text, ""), "empty");

}  // namespace

bool QueryText(const OpenedKey& key, const char* name, char (&text)[MAX_PATH]) {
  DWORD size = sizeof text;
  // No such value, or more than 260 bytes, fails the query.
  return RegQueryValueExA(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                          &size) == ERROR_SUCCESS &&
         EndText(text, size, sizeof text);
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
