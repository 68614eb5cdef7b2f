#pragma once

#include <windows.h>

#include <cstdint>

class Report;

// The account the check runs as, and what follows from it for the launchers
// it checks: the decisions as functions of the facts Windows gives, so that
// each can be checked as it compiles where no run under Wine can stage it.

// The well-known service accounts, by their one subauthority under NT
// AUTHORITY (S-1-5-18, S-1-5-19, S-1-5-20); null for any other account.
[[nodiscard]] constexpr const wchar_t* ServiceAccountName(const BYTE (&authority)[6],
                                                          BYTE subAuthorities, DWORD first) {
  constexpr BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  for (int i = 0; i < 6; ++i) {
    if (authority[i] != kNtAuthority[i]) {
      return nullptr;
    }
  }
  if (subAuthorities != 1) {
    return nullptr;
  }
  switch (first) {
    case SECURITY_LOCAL_SYSTEM_RID:
      return L"LocalSystem";
    case SECURITY_LOCAL_SERVICE_RID:
      return L"LocalService";
    case SECURITY_NETWORK_SERVICE_RID:
      return L"NetworkService";
    default:
      return nullptr;
  }
}

// What Windows decides the x86 launcher's registry view from, read from the
// check's own token: the launcher is started by the user, not elevated.
struct TokenFacts {
  DWORD windowsMajor;  // GetVersion's: 5 on XP, 6 from Vista to 8.1, and on 10 without a manifest
  bool allowed;        // the token's TokenVirtualizationAllowed
  // TokenElevationTypeFull: an administrator's elevated token, whose linked
  // token is the limited one the same administrator starts the launcher with.
  bool elevatedFull;
  bool linkedAllowed;  // the linked token's TokenVirtualizationAllowed
};

// This user's virtual store of the machine-wide Mappings key, where Windows
// would virtualize the x86 launcher's registry (from Vista on, for a token
// that allows it), as the launcher sees the machine-wide key: under
// WOW6432Node on 64-bit Windows. Null where Windows would not.
[[nodiscard]] constexpr const char* LauncherVirtualStore(const TokenFacts& token, bool wow64) {
  const bool allowed = token.elevatedFull ? token.linkedAllowed : token.allowed;
  if (token.windowsMajor < 6 || !allowed) {
    return nullptr;
  }
  return wow64 ? "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\"
                 "Connection Manager\\Mappings"
               : "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\Microsoft\\Connection "
                 "Manager\\Mappings";
}

// What to say of the account the check runs as, against the user signed in
// to its session, as their SIDs compare: names do not tell accounts apart
// (CORP\admin and PC\admin are two), and case folded by a locale can call
// one account two (the Turkish I). A service account has a note of its own
// instead (the check's flow).
enum class SessionNote : std::uint8_t {
  kNone,
  kOtherAccount,  // another account's (an administrator's credentials typed into the prompt)
  kNoUser,        // no user in the session (session 0, a task run whether or not one is signed in)
};
[[nodiscard]] constexpr SessionNote NotesOtherAccount(bool sessionRead, bool sessionHasUser,
                                                      bool sameSid) {
  if (!sessionRead) {
    return SessionNote::kNone;
  }
  if (!sessionHasUser) {
    return SessionNote::kNoUser;
  }
  return sameSid ? SessionNote::kNone : SessionNote::kOtherAccount;
}

// The service account the check runs as (LocalSystem, LocalService or
// NetworkService), or null.
[[nodiscard]] const wchar_t* ServiceAccount();
// The facts of the check's own token, as LauncherVirtualStore takes them.
[[nodiscard]] TokenFacts ReadTokenFacts();
// A NOTE where the check runs as another account than its session's user,
// naming both, or where its session has no user. It loads the session
// library from the system folder: only where no DLL can come from the
// check's own folder. Not for a service account, which has its own note.
void NoteSessionAccount(Report& report);
