// brannostelcheck: tells, in one run and in the user's language, what each
// launcher is missing on this computer, and writes nothing. Its verdict on
// brannostelwin comes from the launcher's own registry lookups; the rest of
// what it reads only explains that verdict.
//
// Exit status: 0 both launchers have what they need; 1 brannostelwin would
// start nothing, or the Connection Manager on a file that is not there; 2
// brannostelxp lacks its dial dialog library or its phonebook entry (or the
// Remote Access library that looks the entry up, or the check may not load
// that library here: a DLL lies beside it where Windows cannot keep it out);
// 3 both.
#include <windows.h>

#include "account.h"
#include "checks.h"
#include "connection_entry.h"
#include "libraries.h"
#include "report.h"
#include "start.h"

namespace {

// Takes the check's own folder out of where DLLs are looked for by name,
// before any is: a copy mailed to a help desk runs from Downloads, where a
// DLL planted beside it would otherwise be loaded by any library that loads
// one later by name (the Remote Access library does). From System32 only
// where kernel32 can (8 and later, 7 and Vista with KB2533623); elsewhere
// (XP SP1 and later) at least not from the current folder, and the check
// then loads no library that runs code where its folder holds a DLL
// (LibrariesSafe). True where the search is restricted to System32.
[[nodiscard]] bool LoadDllsFromSystemOnly() {
  constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32, from 8 on
  const auto setDefaultDllDirectories =
      Kernel32Function<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories");
  if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(kSearchSystem32) != FALSE) {
    return true;
  }
  const auto setDllDirectory = Kernel32Function<BOOL(WINAPI*)(LPCSTR)>("SetDllDirectoryA");
  if (setDllDirectory != nullptr) {
    setDllDirectory("");
  }
  return false;
}

}  // namespace

// The check's logic, from the process start every program shares.
int RunProgram() {
  const bool restricted = LoadDllsFromSystemOnly();
  // As the launchers do: no system message box for a missing or bad file.
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  Report report;
  report.Heading(IDS_TITLE, {L"" BRANNOSTEL_VERSION, Text().Append(kConnectionEntryName).Get()});
  char folder[MAX_PATH];
  OwnFolder(folder);
  const bool librariesSafe = LibrariesSafe(restricted, FolderHoldsDll(folder));
  const wchar_t* const account = ServiceAccount();
  if (account != nullptr) {
    report.Line(Status::kNote, IDS_SERVICE_ACCOUNT, {account});
  } else if (librariesSafe) {
    NoteOtherAccount(report, false);
  }
  const bool winReady = CheckConnectionManagerLauncher(report);
  const bool xpReady = CheckDialDialogLauncher(report, librariesSafe);
  const int status = (winReady ? 0 : 1) | (xpReady ? 0 : 2);
  report.Heading(IDS_SUMMARY_0 + status);
  report.WaitIfSomeoneAnswers(status, account != nullptr);
  return status;
}
