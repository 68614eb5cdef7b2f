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
// 3 both; 16 the command line was not understood, and nothing was checked
// (a status of its own, which no rule reading 0 to 3, or their two bits,
// takes for a verdict).
#include <windows.h>

#include "account.h"
#include "checks.h"
#include "connection_entry.h"
#include "libraries.h"
#include "options.h"
#include "report.h"
#include "start.h"

namespace {

// Takes the check's own folder out of where DLLs are looked for by name,
// before any is: a copy mailed to a help desk runs from Downloads, where a
// DLL planted beside it would otherwise be loaded by any library that loads
// one later by name (the Remote Access library does, and on XP user32 does
// as it starts). From System32 only where kernel32 can (8 and later, 7 and
// Vista with KB2533623); elsewhere (XP SP1 and later) at least not from the
// current folder, and the check then loads no library that runs code unless
// the folders still searched hold no DLL (LibrariesSafe). Returns the facts
// of the search with the folders not yet looked at.
[[nodiscard]] DllSearchFacts LoadDllsFromSystemOnly() {
  constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32, from 8 on
  const auto setDefaultDllDirectories =
      Kernel32Function<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories");
  if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(kSearchSystem32) != FALSE) {
    return {true, false, ERROR_SUCCESS, ERROR_SUCCESS};
  }
  const auto setDllDirectory = Kernel32Function<BOOL(WINAPI*)(LPCSTR)>("SetDllDirectoryA");
  const bool currentOut = setDllDirectory != nullptr && setDllDirectory("") != FALSE;
  return {false, !currentOut, ERROR_SUCCESS, ERROR_SUCCESS};
}

// Each folder the loader would take DLLs from that may hold one: the
// check's own, and the current one where it is still searched (current).
void ReportDllFolders(Report& report, const DllFolder& own, const DllFolder* current) {
  for (const DllFolder* folder : {&own, current}) {
    if (folder == nullptr || folder->search == ERROR_FILE_NOT_FOUND ||
        (folder == current && lstrcmpiW(own.path, current->path) == 0)) {
      continue;
    }
    const Text path(folder->path);
    const bool found = folder->search == ERROR_SUCCESS;
    report
        .Line(Status::kError, found ? Finding::kDllFolder : Finding::kDllFolderUnknown,
              found ? IDS_DLL_FOLDER : IDS_DLL_FOLDER_UNKNOWN,
              {path.Get(), Number(folder->search).Get()})
        .Data(path)
        .Fix(IDS_FIX_DLL_FOLDER);
  }
}

}  // namespace

// The check's logic, from the process start every program shares.
int RunProgram() {
  DllSearchFacts search = LoadDllsFromSystemOnly();
  // As the launchers do: no system message box for a missing or bad file.
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const Options options = ParseCommandLine(GetCommandLineW());
  if (options.bad != nullptr || options.usage) {
    constexpr int kNotUnderstood = 16;
    Report usage(Format::kList, false, options.bad != nullptr);
    if (options.bad != nullptr) {
      usage.Plain(IDS_BAD_ARGUMENT,
                  {Text().Append(options.bad, static_cast<size_t>(options.badLength)).Get()});
    }
    usage.Plain(IDS_USAGE);
    return options.bad != nullptr ? kNotUnderstood : 0;
  }
  Report report(options.format, options.header);
  report.Heading(IDS_TITLE, {L"" BRANNOSTEL_VERSION, Text().Append(kConnectionEntryName).Get()});
  // Where the search is limited to System32, no folder needs looking at.
  const DllFolder own = search.limited ? DllFolder() : OwnFolder();
  const DllFolder current = search.currentSearched ? CurrentFolder() : DllFolder();
  search.ownFolder = own.search;
  search.currentFolder = current.search;
  const bool librariesSafe = LibrariesSafe(search);
  if (!librariesSafe) {
    ReportDllFolders(report, own, search.currentSearched ? &current : nullptr);
  }
  const wchar_t* const account = ServiceAccount();
  if (account != nullptr) {
    report.Line(Status::kNote, Finding::kServiceAccount, IDS_SERVICE_ACCOUNT, {account});
  } else if (librariesSafe) {
    NoteSessionAccount(report);
  }
  const bool winReady = CheckConnectionManagerLauncher(report);
  const bool xpReady = CheckDialDialogLauncher(report, librariesSafe);
  const int status = (winReady ? 0 : 1) | (xpReady ? 0 : 2);
  report.Summary(status);
  // A table or CSV is for a program to read: no one is asked for Enter.
  if (options.format == Format::kList) {
    report.WaitIfSomeoneAnswers(status, account != nullptr, librariesSafe);
  }
  return status;
}
