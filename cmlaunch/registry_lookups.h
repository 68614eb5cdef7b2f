#pragma once

#include <windows.h>

// Where they read, in both hives (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).
inline constexpr char kAppPathsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe";
inline constexpr char kMappingsKey[] = "Software\\Microsoft\\Connection Manager\\Mappings";

class OpenedKey;

// A value of an open key (null name: the default value) as text, whatever
// its type, as both lookups read it: false where there is none, or more
// than 260 bytes.
[[nodiscard]] bool QueryText(const OpenedKey& key, const char* name, char (&text)[MAX_PATH]);

// The two registry lookups of brannostelwin. Each only reads: it fills a
// 260-byte buffer with zero-terminated text and returns 0, or returns 1.

// The Connection Manager's executable, from the machine-wide App Paths entry.
[[nodiscard]] int QueryConnectionManagerPath(char (&path)[MAX_PATH]);

// The profile mapped to the connection entry name: machine-wide, or per-user
// when the machine-wide mappings key cannot be opened. Where asked, it tells
// which hive's key it read (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER), found
// or not, or null when neither key could be opened.
[[nodiscard]] int QueryProfileMapping(char (&profile)[MAX_PATH], HKEY* hive = nullptr);
