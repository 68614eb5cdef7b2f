// Test-only: the answers of Windows that Wine cannot give as Windows would,
// as a test row scripts them, for a build of the check that is never
// shipped. It is linked in place of those calls (--wrap, tests/CMakeLists.txt);
// everything else is the shipped check's own code, run under Wine. From the
// environment:
//   SCRIPT_MISSING      kernel32 functions GetProcAddress does not find:
//                       SetDefaultDllDirectories (XP SP3, Vista and 7 without
//                       KB2533623), and SetDllDirectoryA too (XP before SP1)
//   SCRIPT_FOLDERS      the error every search for DLLs ends with (5: denied)
//   SCRIPT_TOKEN        "TYPE OWN LINKED": the token's elevation type (1, 2
//                       full, 3 limited), whether its registry virtualization
//                       is allowed, and its linked token's
//   SCRIPT_ACCOUNT      the token's user, S-1-5-N: 18, 19 or 20
//   SCRIPT_SESSION      "DOMAIN\user" signed in to the session, "-": none, or
//                       "self": the check's own account, as named by its SID
//   SCRIPT_SESSION_ID   the session the process runs in
//   SCRIPT_SESSION_SID  the SID of the session's account, by its name as
//                       SCRIPT_SESSION gives it: "self", the check's own,
//                       "other", or "none": its domain out of reach
// It logs to SCRIPT_LOG what the rows look at: the calls that set the DLL
// search, every search for DLLs, every library the check loads.
#include <windows.h>
// windows.h first: these headers need its types.
#include <winternl.h>
#include <wtsapi32.h>

#include <initializer_list>

#include "standin.h"

extern "C" NTSTATUS NTAPI LdrGetProcedureAddress(HMODULE module, const ANSI_STRING* name,
                                                 ULONG ordinal, PVOID* address);

namespace {

// A function as its library exports it, past the wrapping: the __real_ of a
// function imported from a DLL would reach the wrapper again.
FARPROC Exported(HMODULE module, const char* name) {
  ANSI_STRING text;
  RtlInitAnsiString(&text, name);
  PVOID address = nullptr;
  return LdrGetProcedureAddress(module, &text, 0, &address) == 0
             ? reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(address))
             : nullptr;
}
template <typename Function>
Function Real(const char* library, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(Exported(GetModuleHandleA(library), name)));
}

void Log(const char* event, const char* field, const void* text, size_t size) {
  static char line[4200], hex[4100];
  snprintf(line, sizeof line, "%s %s=%s", event, field, Hex(hex, sizeof hex, text, size));
  AppendLine("SCRIPT_LOG", line);
}

// A variable's value, false where the test set none.
bool Script(const char* name, char (&value)[512]) {
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value;
}

bool Listed(const char* name, const char* list) {
  const size_t length = strlen(name);
  for (const char* at = strstr(list, name); at != nullptr; at = strstr(at + 1, name)) {
    if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) {
      return true;
    }
  }
  return false;
}

template <typename Function>
FARPROC Address(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}
template <typename Function>
Function Call(FARPROC function) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(function));
}

void SessionAccount(wchar_t (&account)[256]);

FARPROC setDefaultDllDirectories;
FARPROC setDllDirectory;

BOOL WINAPI LoggedSetDefaultDllDirectories(DWORD flags) {
  Log("dlls", "call", "SetDefaultDllDirectories", 24);
  return Call<BOOL(WINAPI*)(DWORD)>(setDefaultDllDirectories)(flags);
}

BOOL WINAPI LoggedSetDllDirectoryA(LPCSTR folder) {
  Log("dlls", "call", "SetDllDirectoryA", 16);
  return Call<BOOL(WINAPI*)(LPCSTR)>(setDllDirectory)(folder);
}

BOOL WINAPI ScriptedSessionId(DWORD process, DWORD* session) {
  (void)process;
  *session = static_cast<DWORD>(EnvNumber("SCRIPT_SESSION_ID"));
  return TRUE;
}

// The session's domain or user, as the session library gives it: in memory
// of its own, freed by WTSFreeMemory.
BOOL WINAPI ScriptedSessionInformation(HANDLE server, DWORD session, WTS_INFO_CLASS kind,
                                       LPWSTR* text, DWORD* bytes) {
  (void)server;
  (void)session;
  wchar_t account[256];
  SessionAccount(account);
  wchar_t* const slash = wcschr(account, L'\\');
  const wchar_t* part = L"";
  if (wcscmp(account, L"-") != 0 && kind == WTSUserName) {
    part = slash != nullptr ? slash + 1 : account;
  } else if (slash != nullptr && kind == WTSDomainName) {
    *slash = L'\0';
    part = account;
  }
  *bytes = static_cast<DWORD>((wcslen(part) + 1) * sizeof(wchar_t));
  *text = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, *bytes));
  memcpy(*text, part, *bytes);
  return TRUE;
}

void WINAPI ScriptedFreeMemory(PVOID memory) { LocalFree(memory); }

// A SID under NT AUTHORITY, S-1-5-first-rest..., into room.
PSID NtSid(BYTE* room, DWORD first, std::initializer_list<DWORD> rest = {}) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  const PSID sid = room;
  InitializeSid(sid, &nt, static_cast<BYTE>(1 + rest.size()));
  *GetSidSubAuthority(sid, 0) = first;
  DWORD at = 1;
  for (const DWORD part : rest) {
    *GetSidSubAuthority(sid, at++) = part;
  }
  return sid;
}

HANDLE linkedToken;  // the linked token handed out, answered for as such

// The check's own account, as its token tells, into room (a TOKEN_USER).
bool OwnUser(BYTE (&room)[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)]) {
  HANDLE token = nullptr;
  DWORD bytes = 0;
  const bool read = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                    Real<decltype(&GetTokenInformation)>("advapi32.dll", "GetTokenInformation")(
                        token, TokenUser, room, sizeof room, &bytes);
  if (token != nullptr) {
    CloseHandle(token);
  }
  return read;
}

// The session's DOMAIN\user as the test scripts it.
void SessionAccount(wchar_t (&account)[256]) {
  account[0] = L'\0';
  GetEnvironmentVariableW(L"SCRIPT_SESSION", account, 256);
  BYTE room[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  wchar_t name[128];
  DWORD nameSize = 128;
  DWORD domainSize = 120;
  SID_NAME_USE use = SidTypeUnknown;
  if (wcscmp(account, L"self") == 0 && OwnUser(room) &&
      LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(room)->User.Sid, name, &nameSize,
                        account, &domainSize, &use)) {
    wcscat(wcscat(account, L"\\"), name);
  }
}

}  // namespace

extern "C" {

FARPROC WINAPI __wrap_GetProcAddress(HMODULE module, LPCSTR name) {
  char value[512];
  if (IS_INTRESOURCE(name) || (Script("SCRIPT_MISSING", value) && Listed(name, value))) {
    return IS_INTRESOURCE(name) ? Exported(module, name) : nullptr;
  }
  const bool session = Script("SCRIPT_SESSION", value);
  if (strcmp(name, "SetDefaultDllDirectories") == 0) {
    setDefaultDllDirectories = Exported(module, name);
    return setDefaultDllDirectories != nullptr ? Address(LoggedSetDefaultDllDirectories) : nullptr;
  }
  if (strcmp(name, "SetDllDirectoryA") == 0) {
    setDllDirectory = Exported(module, name);
    return setDllDirectory != nullptr ? Address(LoggedSetDllDirectoryA) : nullptr;
  }
  if (strcmp(name, "ProcessIdToSessionId") == 0 && Script("SCRIPT_SESSION_ID", value)) {
    return Address(ScriptedSessionId);
  }
  if (strcmp(name, "WTSQuerySessionInformationW") == 0 && session) {
    return Address(ScriptedSessionInformation);
  }
  if (strcmp(name, "WTSFreeMemory") == 0 && session) {
    return Address(ScriptedFreeMemory);
  }
  return Exported(module, name);
}

BOOL WINAPI __wrap_GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID data,
                                       DWORD size, PDWORD used) {
  char value[512];
  if (kind == TokenUser && Script("SCRIPT_ACCOUNT", value)) {
    auto* const user = static_cast<TOKEN_USER*>(data);
    user->User.Sid = NtSid(static_cast<BYTE*>(data) + sizeof *user, strtoul(value, nullptr, 10));
    user->User.Attributes = 0;
    return TRUE;
  }
  unsigned type = 0, own = 0, linked = 0;
  if (!Script("SCRIPT_TOKEN", value) || sscanf(value, "%u %u %u", &type, &own, &linked) != 3) {
    return Real<decltype(&GetTokenInformation)>("advapi32.dll", "GetTokenInformation")(
        token, kind, data, size, used);
  }
  switch (kind) {
    case TokenElevationType:
      *static_cast<TOKEN_ELEVATION_TYPE*>(data) = static_cast<TOKEN_ELEVATION_TYPE>(type);
      return TRUE;
    case TokenLinkedToken:
      DuplicateHandle(GetCurrentProcess(), token, GetCurrentProcess(), &linkedToken, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
      static_cast<TOKEN_LINKED_TOKEN*>(data)->LinkedToken = linkedToken;
      return TRUE;
    case TokenVirtualizationAllowed:
      *static_cast<DWORD*>(data) = linkedToken != nullptr && token == linkedToken ? linked : own;
      return TRUE;
    default:
      return Real<decltype(&GetTokenInformation)>("advapi32.dll", "GetTokenInformation")(
          token, kind, data, size, used);
  }
}

BOOL WINAPI __wrap_LookupAccountNameW(LPCWSTR system, LPCWSTR name, PSID sid, LPDWORD sidSize,
                                      LPWSTR domain, LPDWORD domainSize, PSID_NAME_USE use) {
  // The session's account, named as the session names it.
  char value[512];
  wchar_t session[256];
  SessionAccount(session);
  if (!Script("SCRIPT_SESSION_SID", value) || wcscmp(name, session) != 0) {
    return Real<decltype(&LookupAccountNameW)>("advapi32.dll", "LookupAccountNameW")(
        system, name, sid, sidSize, domain, domainSize, use);
  }
  if (strcmp(value, "none") == 0) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  BYTE room[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  PSID answer = NtSid(room, 21, {1, 2, 3, 1001});
  if (strcmp(value, "self") == 0 && OwnUser(room)) {
    answer = reinterpret_cast<TOKEN_USER*>(room)->User.Sid;
  }
  CopySid(*sidSize, sid, answer);
  *sidSize = GetLengthSid(answer);
  domain[0] = L'\0';
  *domainSize = 0;
  *use = SidTypeUser;
  return TRUE;
}

HANDLE WINAPI __wrap_FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
  char utf8[2048];
  const int length = WideCharToMultiByte(CP_UTF8, 0, pattern, -1, utf8, sizeof utf8, NULL, NULL);
  Log("search", "pattern", utf8, length > 0 ? static_cast<size_t>(length - 1) : 0);
  const auto error = static_cast<DWORD>(EnvNumber("SCRIPT_FOLDERS"));
  if (error != 0) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return Real<decltype(&FindFirstFileW)>("kernel32.dll", "FindFirstFileW")(pattern, found);
}

HMODULE WINAPI __wrap_LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  const char* const slash = strrchr(name, '\\');
  const char* const base = slash != nullptr ? slash + 1 : name;
  Log("load", "library", base, strlen(base));
  return Real<decltype(&LoadLibraryExA)>("kernel32.dll", "LoadLibraryExA")(name, file, flags);
}

}  // extern "C"
