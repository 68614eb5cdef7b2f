// brannostelwin's needs, from the launcher's own registry lookups: the
// Connection Manager's App Paths entry, the profile mapped to the connection
// entry, and the files both name.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "account.h"
#include "checks.h"
#include "connection_entry.h"
#include "libraries.h"
#include "opened_key.h"
#include "registry_lookups.h"

namespace {

[[nodiscard]] bool FileExists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

[[nodiscard]] Text Quoted(const char* text) { return Text(L"\"").Append(text).Append(L"\""); }

// The text without one pair of surrounding quotes: those belong to a command
// line, not to the file it names.
void Unquote(const char* text, char (&file)[MAX_PATH]) {
  const size_t length = std::strlen(text);
  const bool quoted = length >= 2 && text[0] == '"' && text[length - 1] == '"';
  std::memcpy(file, text + (quoted ? 1 : 0), length - (quoted ? 2 : 0));
  file[length - (quoted ? 2 : 0)] = '\0';
}

// The program file a value names, as SearchPathA finds it: one pair of
// quotes removed, .exe added where the name has no extension, a bare name
// looked for in the check's own folder, the current folder, the system
// folders and PATH. A full path, as the value should be, is found as the
// shell finds it; for a bare name the shell looks further (its App Paths
// entries, the other program extensions). False if there is none.
[[nodiscard]] bool FindProgram(const char* value, char (&found)[MAX_PATH]) {
  char name[MAX_PATH];
  Unquote(value, name);
  const DWORD length = SearchPathA(nullptr, name, ".exe", MAX_PATH, found, nullptr);
  return length > 0 && length < MAX_PATH && FileExists(found);
}

[[nodiscard]] Text TypeName(const Report& report, DWORD type) {
  static constexpr struct {
    DWORD type;
    const wchar_t* name;
  } kNames[] = {{REG_NONE, L"REG_NONE"},
                {REG_BINARY, L"REG_BINARY"},
                {REG_DWORD, L"REG_DWORD"},
                {REG_DWORD_BIG_ENDIAN, L"REG_DWORD_BIG_ENDIAN"},
                {REG_LINK, L"REG_LINK"},
                {REG_MULTI_SZ, L"REG_MULTI_SZ"},
                {REG_RESOURCE_LIST, L"REG_RESOURCE_LIST"},
                {REG_FULL_RESOURCE_DESCRIPTOR, L"REG_FULL_RESOURCE_DESCRIPTOR"},
                {REG_RESOURCE_REQUIREMENTS_LIST, L"REG_RESOURCE_REQUIREMENTS_LIST"},
                {REG_QWORD, L"REG_QWORD"}};
  for (const auto& known : kNames) {
    if (known.type == type) {
      return Text(known.name);
    }
  }
  return report.Message(IDS_TYPE_NUMBER, {Number(type).Get()});
}

// On 64-bit Windows a 32-bit program reads the 32-bit view of the machine's
// registry. IsWow64Process came with XP SP2.
[[nodiscard]] bool Is32BitOn64BitWindows() {
#ifdef _WIN64
  return false;
#else
  const auto isWow64Process = Kernel32Function<BOOL(WINAPI*)(HANDLE, PBOOL)>("IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) != FALSE &&
         wow64 != FALSE;
#endif
}

// A value the lookup read: what of it the launcher does not use as stored.
void NoteValueShape(Report& report, const OpenedKey& key, HKEY hive, const char* path,
                    const char* name, const Text& shown, bool isProgram) {
  const Text where = KeyName(hive, path);
  BYTE data[MAX_PATH];
  DWORD type = REG_NONE;
  DWORD size = sizeof data;
  if (RegQueryValueExA(key.Get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS) {
    return;
  }
  // The program's %variables% are judged where the program is looked for.
  if (type == REG_EXPAND_SZ && !isProgram) {
    report
        .Line(Status::kWarning, Finding::kMappingValueExpand, IDS_VALUE_EXPAND,
              {where.Get(), shown.Get()})
        .Key(hive, path)
        .Value(name);
  } else if (type != REG_SZ && type != REG_EXPAND_SZ) {
    const Text typeName = TypeName(report, type);
    report
        .Line(Status::kWarning,
              isProgram ? Finding::kAppPathsValueType : Finding::kMappingValueType, IDS_VALUE_TYPE,
              {where.Get(), shown.Get(), typeName.Get()})
        .Key(hive, path)
        .Value(name)
        .Data(typeName);
  }
  const auto* zero = static_cast<const BYTE*>(std::memchr(data, 0, size));
  if (zero != nullptr && zero + 1 < data + size) {
    report
        .Line(Status::kWarning,
              isProgram ? Finding::kAppPathsValueTrailing : Finding::kMappingValueTrailing,
              IDS_VALUE_TRAILING, {where.Get(), shown.Get()})
        .Key(hive, path)
        .Value(name);
  }
}

// A value the lookup refused, in a key it opened: missing, or longer than a
// path may be; with what to do about it.
void ExplainRefusedValue(Report& report, const OpenedKey& key, HKEY hive, const char* path,
                         const char* name, const Text& shown, UINT fix,
                         Report::Inserts fixInserts) {
  const Text where = KeyName(hive, path);
  const bool isProgram = name == nullptr;
  DWORD size = 0;
  const bool exists =
      RegQueryValueExA(key.Get(), name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
  const bool tooLong = exists && size > MAX_PATH;  // else a full buffer with no terminating zero
  const Finding finding =
      !exists ? (isProgram ? Finding::kAppPathsValueMissing : Finding::kMappingValueMissing)
      : tooLong
          ? (isProgram ? Finding::kAppPathsValueTooLong : Finding::kMappingValueTooLong)
          : (isProgram ? Finding::kAppPathsValueUnterminated : Finding::kMappingValueUnterminated);
  const Text bytes = Number(size);
  Raised line = report.Line(
      Status::kError, finding,
      !exists ? IDS_VALUE_MISSING : (tooLong ? IDS_VALUE_TOO_LONG : IDS_VALUE_UNTERMINATED),
      {where.Get(), shown.Get(), bytes.Get()});
  line.Key(hive, path).Value(name).Fix(fix, fixInserts);
  if (tooLong) {
    line.Data(bytes);
  }
}

// The App Paths entry: what the lookup found, or why it found nothing.
void ReportAppPaths(Report& report, const char* executable) {
  const Text where = KeyName(HKEY_LOCAL_MACHINE, kAppPathsKey);
  const Text shown = report.Message(IDS_DEFAULT_VALUE);
  const OpenedKey key = OpenedKey::Open(HKEY_LOCAL_MACHINE, kAppPathsKey);
  if (executable != nullptr) {
    const Text stored = Text().Append(executable);
    report
        .Line(Status::kOk, Finding::kAppPathsOk, IDS_APP_PATHS_OK,
              {where.Get(), shown.Get(), stored.Get()})
        .Key(HKEY_LOCAL_MACHINE, kAppPathsKey)
        .Value(nullptr)
        .Data(stored);
    NoteValueShape(report, key, HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, shown, true);
  } else if (!key) {
    report.Line(Status::kError, Finding::kAppPathsMissing, IDS_APP_PATHS_MISSING, {where.Get()})
        .Key(HKEY_LOCAL_MACHINE, kAppPathsKey)
        .Fix(IDS_FIX_APP_PATHS, {where.Get()});
    if (OpenedKey::Open(HKEY_CURRENT_USER, kAppPathsKey)) {
      report
          .Line(Status::kNote, Finding::kAppPathsUserIgnored, IDS_APP_PATHS_USER_IGNORED,
                {KeyName(HKEY_CURRENT_USER, kAppPathsKey).Get()})
          .Key(HKEY_CURRENT_USER, kAppPathsKey);
    }
  } else {
    ExplainRefusedValue(report, key, HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, shown,
                        IDS_FIX_APP_PATHS_VALUE, {where.Get()});
  }
}

// Under User Account Control, Windows virtualizes the registry for a 32-bit
// program whose file asks for no execution level, as the x86 launchers'
// files do not: its reads under HKEY_LOCAL_MACHINE\Software (but Classes,
// Microsoft\Windows and Microsoft\Windows NT) see this user's virtual store
// first. App Paths lies outside that; Mappings does not. The check asks for
// asInvoker, so it is never virtualized itself: it reads the store where
// the launcher would.
enum class MappingsRead : std::uint8_t { kMachine, kVirtualStore, kUser };

// Which key the launcher's lookup reads the entry from. Virtualized, a value
// in the store comes first, and a key there opens as the machine-wide key
// would, so that the per-user key is not read.
[[nodiscard]] constexpr MappingsRead LauncherReads(bool virtualized, bool storeKey, bool storeValue,
                                                   bool machineKey) {
  if (virtualized && storeValue) {
    return MappingsRead::kVirtualStore;
  }
  if (machineKey) {
    return MappingsRead::kMachine;
  }
  return virtualized && storeKey ? MappingsRead::kVirtualStore : MappingsRead::kUser;
}
// (virtualized, store key, store value, machine-wide key)
static_assert(LauncherReads(false, true, true, true) == MappingsRead::kMachine, "not virtualized");
static_assert(LauncherReads(false, true, true, false) == MappingsRead::kUser, "not virtualized");
static_assert(LauncherReads(true, true, true, true) == MappingsRead::kVirtualStore, "store first");
static_assert(LauncherReads(true, true, false, true) == MappingsRead::kMachine, "no store value");
static_assert(LauncherReads(true, true, false, false) == MappingsRead::kVirtualStore, "store key");
static_assert(LauncherReads(true, false, false, true) == MappingsRead::kMachine, "no store");
static_assert(LauncherReads(true, false, false, false) == MappingsRead::kUser, "no key at all");

// The Mappings key a lookup read (root null: none), and what it found there.
struct Mapping {
  HKEY root = nullptr;
  const char* path = kMappingsKey;
  bool inStore = false;  // this user's virtual store of the machine-wide key
  bool found = false;
  char profile[MAX_PATH] = "";
  // Where the launcher reads the virtual store: the machine-wide key's own
  // value, if it has one.
  bool machineFound = false;
  char machineProfile[MAX_PATH] = "";
};

// The mapping as the launcher reads it: its own lookup, and, where Windows
// would virtualize it, this user's virtual store of the machine-wide key
// first.
[[nodiscard]] Mapping ReadMapping(bool wow64) {
  Mapping mapping;
  mapping.found = QueryProfileMapping(mapping.profile, &mapping.root) == 0;
#ifdef _WIN64
  (void)wow64;
  const char* const store = nullptr;  // a 64-bit program's registry is never virtualized
#else
  const char* const store = LauncherVirtualStore(ReadTokenFacts(), wow64);
#endif
  if (store == nullptr) {
    return mapping;
  }
  const OpenedKey key = OpenedKey::Open(HKEY_CURRENT_USER, store);
  const bool storeValue = key && RegQueryValueExA(key.Get(), kConnectionEntryName, nullptr, nullptr,
                                                  nullptr, nullptr) == ERROR_SUCCESS;
  if (LauncherReads(true, static_cast<bool>(key), storeValue, mapping.root == HKEY_LOCAL_MACHINE) !=
      MappingsRead::kVirtualStore) {
    return mapping;
  }
  mapping.machineFound = mapping.found && mapping.root == HKEY_LOCAL_MACHINE;
  std::memcpy(mapping.machineProfile, mapping.profile, sizeof mapping.profile);
  mapping.root = HKEY_CURRENT_USER;
  mapping.path = store;
  mapping.inStore = true;
  mapping.found = QueryText(key, kConnectionEntryName, mapping.profile);
  return mapping;
}

// The profile mapping: where the lookup found it, or why it found nothing,
// in the key the lookup read.
void ReportMapping(Report& report, const Mapping& mapping) {
  const Text shown = Quoted(kConnectionEntryName);
  const Text machineWide = KeyName(HKEY_LOCAL_MACHINE, kMappingsKey);
  const Text perUser = KeyName(HKEY_CURRENT_USER, kMappingsKey);
  if (mapping.root == nullptr) {
    report
        .Line(Status::kError, Finding::kMappingsKeyMissing, IDS_MAPPINGS_MISSING,
              {machineWide.Get(), perUser.Get()})
        .Key(HKEY_LOCAL_MACHINE, kMappingsKey)
        .Fix(IDS_FIX_MAPPINGS, {shown.Get(), machineWide.Get()});
    return;
  }
  const bool isMachineWide = mapping.root == HKEY_LOCAL_MACHINE;
  const Text where = KeyName(mapping.root, mapping.path);
  const OpenedKey key = OpenedKey::Open(mapping.root, mapping.path);
  if (mapping.found) {
    const Text profile = Text().Append(mapping.profile);
    report
        .Line(Status::kOk, Finding::kMappingOk,
              isMachineWide || mapping.inStore ? IDS_MAPPING_OK : IDS_MAPPING_OK_USER,
              {where.Get(), shown.Get(), profile.Get()})
        .Key(mapping.root, mapping.path)
        .Value(kConnectionEntryName)
        .Data(profile);
    NoteValueShape(report, key, mapping.root, mapping.path, kConnectionEntryName, shown, false);
  } else {
    ExplainRefusedValue(report, key, mapping.root, mapping.path, kConnectionEntryName, shown,
                        IDS_FIX_MAPPING_VALUE, {shown.Get(), where.Get()});
  }
  if (mapping.inStore) {
    report
        .Line(Status::kNote, Finding::kMappingInVirtualStore, IDS_VIRTUAL_STORE,
              {machineWide.Get()})
        .Key(mapping.root, mapping.path);
    if (mapping.machineFound && mapping.found &&
        std::strcmp(mapping.machineProfile, mapping.profile) != 0) {
      const Text other = Text().Append(mapping.machineProfile);
      report
          .Line(Status::kNote, Finding::kVirtualStoreDiffers, IDS_VIRTUAL_STORE_DIFFERS,
                {machineWide.Get(), other.Get()})
          .Key(HKEY_LOCAL_MACHINE, kMappingsKey)
          .Value(kConnectionEntryName)
          .Data(other);
    }
  }
  if (mapping.found) {
    return;
  }
  const OpenedKey userKey = OpenedKey::Open(HKEY_CURRENT_USER, kMappingsKey);
  if (isMachineWide && userKey &&
      RegQueryValueExA(userKey.Get(), kConnectionEntryName, nullptr, nullptr, nullptr, nullptr) ==
          ERROR_SUCCESS) {
    report
        .Line(Status::kNote, Finding::kMappingUserIgnored, IDS_MAPPING_USER_IGNORED,
              {perUser.Get()})
        .Key(HKEY_CURRENT_USER, kMappingsKey)
        .Value(kConnectionEntryName);
  }
}

// What the Connection Manager would be started on: the profile file.
[[nodiscard]] bool CheckProfileFile(Report& report, const Mapping& mapping) {
  const char(&profile)[MAX_PATH] = mapping.profile;
  char file[MAX_PATH];
  Unquote(profile, file);
  const Text path = Text().Append(file);
  const bool exists = FileExists(file);
  if (exists) {
    report.Line(Status::kOk, Finding::kProfileFileOk, IDS_PROFILE_OK, {path.Get()}).Data(path);
  } else {
    report.Line(Status::kError, Finding::kProfileFileMissing, IDS_PROFILE_MISSING, {path.Get()})
        .Key(mapping.root, mapping.path)
        .Value(kConnectionEntryName)
        .Data(path)
        .Fix(IDS_FIX_PROFILE,
             {KeyName(mapping.root, mapping.path).Get(), Quoted(kConnectionEntryName).Get()});
  }
  if (std::strchr(profile, ' ') != nullptr && std::strchr(profile, '"') == nullptr) {
    report.Line(Status::kWarning, Finding::kProfilePathBlanks, IDS_PROFILE_BLANKS)
        .Key(mapping.root, mapping.path)
        .Value(kConnectionEntryName)
        .Data(Text().Append(profile))
        .Fix(IDS_FIX_PROFILE_BLANKS);
  }
  return exists;
}

// The program the shell would start: an error where it would find none.
// ShellExecuteA, which the launcher calls, takes the file name as it stands:
// only ShellExecuteEx expands %variables%, and only when asked to
// (SEE_MASK_DOENVSUBST). Wine's shell expands them all the same.
[[nodiscard]] bool CheckProgram(Report& report, const char (&executable)[MAX_PATH]) {
  const Text where = KeyName(HKEY_LOCAL_MACHINE, kAppPathsKey);
  const Text stored = Text().Append(executable);
  char found[MAX_PATH];
  if (FindProgram(executable, found)) {
    const Text path = Text().Append(found);
    report.Line(Status::kOk, Finding::kProgramOk, IDS_CMMGR_OK, {path.Get()}).Data(path);
    return true;
  }
  char expanded[MAX_PATH];
  const DWORD length = ExpandEnvironmentStringsA(executable, expanded, MAX_PATH);
  if (length == 0 || length > MAX_PATH || std::strcmp(expanded, executable) == 0) {
    report.Line(Status::kError, Finding::kProgramMissing, IDS_CMMGR_MISSING, {stored.Get()})
        .Key(HKEY_LOCAL_MACHINE, kAppPathsKey)
        .Value(nullptr)
        .Data(stored)
        .Fix(IDS_FIX_CMMGR, {where.Get()});
    return false;
  }
  // The path to store, where the expanded value names the program.
  const bool named = FindProgram(expanded, found);
  const Text path = Text().Append(found);
  Raised finding =
      report.Line(Status::kError, Finding::kProgramVariables, IDS_CMMGR_VARIABLES, {stored.Get()});
  finding.Key(HKEY_LOCAL_MACHINE, kAppPathsKey).Value(nullptr).Data(stored);
  if (named) {
    finding.Fix(IDS_FIX_CMMGR_EXPANDED, {where.Get(), path.Get()});
  } else {
    finding.Fix(IDS_FIX_CMMGR_VARIABLES, {where.Get()});
  }
  return false;
}

}  // namespace

// brannostelwin's needs. The verdict is its own lookups'; the rest explains it.
bool CheckConnectionManagerLauncher(Report& report) {
  report.Section(IDS_SECTION_WIN, L"brannostelwin");
  const bool wow64 = Is32BitOn64BitWindows();
  if (wow64) {
    report.Line(Status::kNote, Finding::kWow64Check, IDS_WOW64,
                {L"brannostel-" BRANNOSTEL_VERSION "-x64.msi"});
  }
  char executable[MAX_PATH];
  const bool found = QueryConnectionManagerPath(executable) == 0;
  const Mapping mapping = ReadMapping(wow64);
  ReportAppPaths(report, found ? executable : nullptr);
  ReportMapping(report, mapping);
  if (!found || !mapping.found) {
    report.Line(Status::kError, Finding::kWinStartsNothing, IDS_WIN_STARTS_NOTHING);
    return false;
  }
  const Text program = Text().Append(executable);
  const Text profile = Text().Append(mapping.profile);
  report.Line(Status::kOk, Finding::kWinStarts, IDS_WIN_STARTS, {program.Get(), profile.Get()});
  const bool started = CheckProgram(report, executable);
  return CheckProfileFile(report, mapping) && started;
}
