// brannostelcheck: tells, in one run and in the user's language, what each
// launcher is missing on this computer, and writes nothing. Its verdict on
// brannostelwin comes from the launcher's own registry lookups; the rest of
// what it reads only explains that verdict.
//
// Exit status: 0 both launchers have what they need; 1 brannostelwin would
// start nothing, or the Connection Manager on a file that is not there; 2
// brannostelxp lacks its dial dialog library or its phonebook entry; 3 both.
#include <windows.h>
// windows.h first: the Remote Access headers need its types.
#include <ras.h>
#include <raserror.h>

#include <cstring>

#include "connection_entry.h"
#include "opened_key.h"
#include "registry_lookups.h"
#include "report.h"

namespace {

[[nodiscard]] bool FileExists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

[[nodiscard]] Text Quoted(const char* text) { return Text(L"\"").Append(text).Append(L"\""); }

[[nodiscard]] const wchar_t* TypeName(DWORD type) {
  switch (type) {
    case REG_BINARY:
      return L"REG_BINARY";
    case REG_DWORD:
      return L"REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return L"REG_DWORD_BIG_ENDIAN";
    case REG_MULTI_SZ:
      return L"REG_MULTI_SZ";
    case REG_QWORD:
      return L"REG_QWORD";
    default:
      return L"REG_NONE";
  }
}

// On 64-bit Windows a 32-bit program reads the 32-bit view of the machine's
// registry. IsWow64Process came with XP SP2: looked up, not imported.
[[nodiscard]] bool Is32BitOn64BitWindows() {
#ifdef _WIN64
  return false;
#else
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
  BOOL wow64 = FALSE;
  return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) != FALSE &&
         wow64 != FALSE;
#endif
}

// A value the lookup read: what of it the launcher does not use as stored.
void NoteValueShape(Report& report, const OpenedKey& key, const char* name, const Text& where,
                    const Text& shown) {
  BYTE data[MAX_PATH];
  DWORD type = REG_NONE;
  DWORD size = sizeof data;
  if (RegQueryValueExA(key.Get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS) {
    return;
  }
  if (type == REG_EXPAND_SZ) {
    report.Line(Status::kWarning, IDS_VALUE_EXPAND, {where.Get(), shown.Get()});
  } else if (type != REG_SZ) {
    report.Line(Status::kWarning, IDS_VALUE_TYPE, {where.Get(), shown.Get(), TypeName(type)});
  }
  const auto* zero = static_cast<const BYTE*>(std::memchr(data, 0, size));
  if (zero != nullptr && zero + 1 < data + size) {
    report.Line(Status::kWarning, IDS_VALUE_TRAILING, {where.Get(), shown.Get()});
  }
}

// A value the lookup refused, in a key it opened: missing, or longer than a
// path may be.
void ExplainRefusedValue(Report& report, const OpenedKey& key, const char* name, const Text& where,
                         const Text& shown) {
  DWORD size = 0;
  if (RegQueryValueExA(key.Get(), name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    report.Line(Status::kError, IDS_VALUE_MISSING, {where.Get(), shown.Get()});
  } else if (size > MAX_PATH) {
    report.Line(Status::kError, IDS_VALUE_TOO_LONG, {where.Get(), shown.Get(), Number(size).Get()});
  } else {  // a full buffer with no terminating zero
    report.Line(Status::kError, IDS_VALUE_UNTERMINATED, {where.Get(), shown.Get()});
  }
}

// The App Paths entry: what the lookup found, or why it found nothing.
void ReportAppPaths(Report& report, const char* executable) {
  const Text where = KeyName(HKEY_LOCAL_MACHINE, kAppPathsKey);
  const Text shown = report.Message(IDS_DEFAULT_VALUE);
  const OpenedKey key = OpenedKey::Open(HKEY_LOCAL_MACHINE, kAppPathsKey);
  if (executable != nullptr) {
    report.Line(Status::kOk, IDS_APP_PATHS_OK,
                {where.Get(), shown.Get(), Text().Append(executable).Get()});
    NoteValueShape(report, key, nullptr, where, shown);
  } else if (!key) {
    report.Line(Status::kError, IDS_APP_PATHS_MISSING, {where.Get()});
    if (OpenedKey::Open(HKEY_CURRENT_USER, kAppPathsKey)) {
      report.Line(Status::kNote, IDS_APP_PATHS_USER_IGNORED,
                  {KeyName(HKEY_CURRENT_USER, kAppPathsKey).Get()});
    }
    report.Fix(IDS_FIX_APP_PATHS, {where.Get()});
  } else {
    ExplainRefusedValue(report, key, nullptr, where, shown);
    report.Fix(IDS_FIX_APP_PATHS_VALUE, {where.Get()});
  }
}

// The profile mapping: where the lookup found it, or why it found nothing.
// Returns the hive the lookup read.
HKEY ReportMapping(Report& report, const char* profile) {
  const Text shown = Quoted(kConnectionEntryName);
  const Text machineWide = KeyName(HKEY_LOCAL_MACHINE, kMappingsKey);
  const Text perUser = KeyName(HKEY_CURRENT_USER, kMappingsKey);
  // The hive is settled as the lookup settles it: by opening the key alone.
  OpenedKey key = OpenedKey::Open(HKEY_LOCAL_MACHINE, kMappingsKey);
  const bool isMachineWide = static_cast<bool>(key);
  if (!isMachineWide) {
    key = OpenedKey::Open(HKEY_CURRENT_USER, kMappingsKey);
  }
  const Text& where = isMachineWide ? machineWide : perUser;
  if (profile != nullptr) {
    report.Line(Status::kOk, isMachineWide ? IDS_MAPPING_OK : IDS_MAPPING_OK_USER,
                {where.Get(), shown.Get(), Text().Append(profile).Get()});
    NoteValueShape(report, key, kConnectionEntryName, where, shown);
  } else if (!key) {
    report.Line(Status::kError, IDS_MAPPINGS_MISSING, {machineWide.Get(), perUser.Get()});
    report.Fix(IDS_FIX_MAPPINGS, {shown.Get(), machineWide.Get()});
  } else {
    ExplainRefusedValue(report, key, kConnectionEntryName, where, shown);
    const OpenedKey userKey = OpenedKey::Open(HKEY_CURRENT_USER, kMappingsKey);
    if (isMachineWide && userKey &&
        RegQueryValueExA(userKey.Get(), kConnectionEntryName, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS) {
      report.Line(Status::kNote, IDS_MAPPING_USER_IGNORED, {perUser.Get()});
    }
    report.Fix(IDS_FIX_MAPPING_VALUE, {shown.Get(), where.Get()});
  }
  return isMachineWide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// What the Connection Manager would be started on: the profile file.
[[nodiscard]] bool CheckProfileFile(Report& report, const char (&profile)[MAX_PATH], HKEY hive) {
  // One pair of surrounding quotes belongs to the command line, not the file.
  char file[MAX_PATH];
  const size_t length = std::strlen(profile);
  const bool quoted = length >= 2 && profile[0] == '"' && profile[length - 1] == '"';
  std::memcpy(file, profile + (quoted ? 1 : 0), length - (quoted ? 2 : 0));
  file[length - (quoted ? 2 : 0)] = '\0';
  const bool exists = FileExists(file);
  report.Line(exists ? Status::kOk : Status::kError, exists ? IDS_PROFILE_OK : IDS_PROFILE_MISSING,
              {Text().Append(file).Get()});
  if (!exists) {
    report.Fix(IDS_FIX_PROFILE,
               {KeyName(hive, kMappingsKey).Get(), Quoted(kConnectionEntryName).Get()});
  }
  if (std::strchr(profile, ' ') != nullptr && std::strchr(profile, '"') == nullptr) {
    report.Line(Status::kWarning, IDS_PROFILE_BLANKS);
    report.Fix(IDS_FIX_PROFILE_BLANKS);
  }
  return exists;
}

// brannostelwin's needs. The verdict is its own lookups'; the rest explains it.
[[nodiscard]] bool CheckConnectionManagerLauncher(Report& report) {
  report.Heading(IDS_SECTION_WIN);
  if (Is32BitOn64BitWindows()) {
    report.Line(Status::kNote, IDS_WOW64, {L"brannostel-" BRANNOSTEL_VERSION "-x64.msi"});
  }
  char executable[MAX_PATH];
  char profile[MAX_PATH];
  const bool found = QueryConnectionManagerPath(executable) == 0;
  const bool mapped = QueryProfileMapping(profile) == 0;
  ReportAppPaths(report, found ? executable : nullptr);
  const HKEY hive = ReportMapping(report, mapped ? profile : nullptr);
  if (!found || !mapped) {
    report.Line(Status::kError, IDS_WIN_STARTS_NOTHING);
    return false;
  }
  report.Line(Status::kOk, IDS_WIN_STARTS,
              {Text().Append(executable).Get(), Text().Append(profile).Get()});
  const bool program = FileExists(executable);
  report.Line(program ? Status::kOk : Status::kError, program ? IDS_CMMGR_OK : IDS_CMMGR_MISSING,
              {Text().Append(executable).Get()});
  if (!program) {
    report.Fix(IDS_FIX_CMMGR, {KeyName(HKEY_LOCAL_MACHINE, kAppPathsKey).Get()});
  }
  return CheckProfileFile(report, profile, hive) && program;
}

// The dial dialog library, loaded as brannostelxp loads it: from System32.
[[nodiscard]] bool CheckDialLibrary(Report& report) {
  char path[MAX_PATH] = "";
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length > 0 && length + sizeof "\\rasdlg.dll" <= MAX_PATH) {
    std::strcat(path, "\\rasdlg.dll");
  }
  const HMODULE library = LoadLibraryA(path);
  const bool loads = library != nullptr && GetProcAddress(library, "RasDialDlgA") != nullptr;
  const DWORD error = GetLastError();
  if (library != nullptr) {
    FreeLibrary(library);
  }
  report.Line(loads ? Status::kOk : Status::kError,
              loads ? IDS_DIAL_LIBRARY_OK : IDS_DIAL_LIBRARY_MISSING,
              {Text().Append(path).Get(), Number(error).Get()});
  if (!loads) {
    report.Fix(IDS_FIX_DIAL_LIBRARY);
  }
  return loads;
}

// The phonebook entry, looked up as the dial dialog looks it up when no
// phonebook is named, and the phonebook that holds it, where the Remote Access
// API tells.
[[nodiscard]] bool CheckPhonebookEntry(Report& report) {
  const Text entry = Text().Append(kConnectionEntryName);
  DWORD size = 0;
  const DWORD lookup =
      RasGetEntryPropertiesA(nullptr, kConnectionEntryName, nullptr, &size, nullptr, nullptr);
  if (lookup != ERROR_SUCCESS && lookup != ERROR_BUFFER_TOO_SMALL) {
    report.Line(Status::kError,
                lookup == ERROR_CANNOT_FIND_PHONEBOOK_ENTRY ? IDS_ENTRY_MISSING : IDS_ENTRY_UNKNOWN,
                {entry.Get(), Number(lookup).Get()});
    report.Fix(IDS_FIX_ENTRY, {entry.Get()});
    return false;
  }
  UINT found = IDS_ENTRY_FOUND;
  RASENTRYNAMEA names[32];
  names[0].dwSize = sizeof names[0];
  DWORD bytes = sizeof names;
  DWORD count = 0;
  if (RasEnumEntriesA(nullptr, nullptr, names, &bytes, &count) == ERROR_SUCCESS) {
    for (DWORD i = 0; i < count && i < 32; ++i) {
      if (std::strcmp(names[i].szEntryName, kConnectionEntryName) == 0) {
        found = (names[i].dwFlags & REN_AllUsers) != 0 ? IDS_ENTRY_ALL_USERS : IDS_ENTRY_USER;
      }
    }
  }
  report.Line(Status::kOk, found, {entry.Get()});
  return true;
}

// brannostelxp's needs: its dial dialog library and its phonebook entry.
[[nodiscard]] bool CheckDialDialogLauncher(Report& report) {
  report.Heading(IDS_SECTION_XP);
  const bool library = CheckDialLibrary(report);
  return CheckPhonebookEntry(report) && library;
}

}  // namespace

int main() {
  // As the launchers do: no system message box for a missing or bad file.
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  Report report;
  report.Heading(IDS_TITLE, {L"" BRANNOSTEL_VERSION, Text().Append(kConnectionEntryName).Get()});
  const bool winReady = CheckConnectionManagerLauncher(report);
  const bool xpReady = CheckDialDialogLauncher(report);
  const int status = (winReady ? 0 : 1) | (xpReady ? 0 : 2);
  report.Heading(IDS_SUMMARY_0 + status);
  report.WaitIfOwnConsole();
  return status;
}
