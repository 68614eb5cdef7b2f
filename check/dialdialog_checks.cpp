// brannostelxp's needs: the dial dialog library it imports, and the
// phonebook entry the dial dialog looks up.
#include <windows.h>
// windows.h first: the Remote Access headers need its types.
#include <ras.h>
#include <raserror.h>

#include <cstring>

#include "checks.h"
#include "connection_entry.h"
#include "libraries.h"

namespace {

// The dial dialog library, from System32 as brannostelxp loads it, read as a
// data file: none of its code runs, so nothing it would do when loaded
// happens on the check's account.
[[nodiscard]] bool CheckDialLibrary(Report& report) {
  const SystemPath library("rasdlg.dll");
  DWORD error = ERROR_SUCCESS;
  const LoadedLibrary mapped = LoadedLibrary::FromSystem(library, LOAD_LIBRARY_AS_DATAFILE, error);
  const bool exports = mapped.Exports("RasDialDlgA");
  if (mapped && !exports) {
    error = ERROR_PROC_NOT_FOUND;
  }
  const Text path = Text().Append(library.path);
  if (exports) {
    report.Line(Status::kOk, Finding::kDialLibraryOk, IDS_DIAL_LIBRARY_OK, {path.Get()}).Data(path);
  } else {
    report
        .Line(Status::kError, Finding::kDialLibraryMissing, IDS_DIAL_LIBRARY_MISSING,
              {path.Get(), Number(error).Get()})
        .Data(path)
        .Fix(IDS_FIX_DIAL_LIBRARY);
  }
  return exports;
}

// The phonebook entry, looked up by the Remote Access API as the dial dialog
// looks it up when no phonebook is named, and the phonebook that holds it,
// where the API tells. The API's library is loaded here, not imported: where
// it is missing the check still starts, and says so. It is not loaded where
// a DLL beside the check could be loaded in its place (librariesSafe).
[[nodiscard]] bool CheckPhonebookEntry(Report& report, bool librariesSafe) {
  const Text entry = Text().Append(kConnectionEntryName);
  if (!librariesSafe) {
    report.Line(Status::kError, Finding::kPhonebookEntryNotLookedUp, IDS_ENTRY_NOT_LOOKED_UP,
                {entry.Get()});
    return false;
  }
  const SystemPath path("rasapi32.dll");
  DWORD error = ERROR_SUCCESS;
  const LoadedLibrary library = LoadedLibrary::FromSystem(path, 0, error);
  const auto getEntryProperties =
      library.Find<decltype(&RasGetEntryPropertiesA)>("RasGetEntryPropertiesA");
  const auto enumEntries = library.Find<decltype(&RasEnumEntriesA)>("RasEnumEntriesA");
  if (getEntryProperties == nullptr || enumEntries == nullptr) {
    const Text file = Text().Append(path.path);
    report
        .Line(Status::kError, Finding::kRasLibraryMissing, IDS_RAS_LIBRARY_MISSING,
              {file.Get(), Number(library ? ERROR_PROC_NOT_FOUND : error).Get()})
        .Data(file)
        .Fix(IDS_FIX_DIAL_LIBRARY);
    return false;
  }
  DWORD size = 0;
  const DWORD lookup =
      getEntryProperties(nullptr, kConnectionEntryName, nullptr, &size, nullptr, nullptr);
  if (lookup != ERROR_SUCCESS && lookup != ERROR_BUFFER_TOO_SMALL) {
    const bool missing = lookup == ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    report
        .Line(Status::kError,
              missing ? Finding::kPhonebookEntryMissing : Finding::kPhonebookEntryUnknown,
              missing ? IDS_ENTRY_MISSING : IDS_ENTRY_UNKNOWN, {entry.Get(), Number(lookup).Get()})
        .Fix(IDS_FIX_ENTRY, {entry.Get()});
    return false;
  }
  UINT found = IDS_ENTRY_FOUND;
  RASENTRYNAMEA names[32];
  names[0].dwSize = sizeof names[0];
  DWORD bytes = sizeof names;
  DWORD count = 0;
  if (enumEntries(nullptr, nullptr, names, &bytes, &count) == ERROR_SUCCESS) {
    for (DWORD i = 0; i < count && i < 32; ++i) {
      if (std::strcmp(names[i].szEntryName, kConnectionEntryName) == 0) {
        found = (names[i].dwFlags & REN_AllUsers) != 0 ? IDS_ENTRY_ALL_USERS : IDS_ENTRY_USER;
      }
    }
  }
  report.Line(Status::kOk, Finding::kPhonebookEntryOk, found, {entry.Get()});
  return true;
}

}  // namespace

// brannostelxp's needs: its dial dialog library and its phonebook entry.
bool CheckDialDialogLauncher(Report& report, bool librariesSafe) {
  report.Section(IDS_SECTION_XP, L"brannostelxp");
  const bool library = CheckDialLibrary(report);
  return CheckPhonebookEntry(report, librariesSafe) && library;
}
