#pragma once

#include <windows.h>

#include <utility>

// The full path of a DLL in the system folder, where the launchers' DLLs are
// taken from; empty if the folder's path is too long for one.
struct SystemPath {
  explicit SystemPath(const char* name);
  char path[MAX_PATH] = "";
};

// A folder the loader may take a DLL from by its bare name, by its full
// name as Windows gives it (Unicode: a name the ANSI code page cannot hold
// is still the folder the loader uses), and how a search of it for files
// named *.dll ended: ERROR_SUCCESS where it found one, ERROR_FILE_NOT_FOUND
// where it holds none, any other error where it could not be looked at.
struct DllFolder {
  wchar_t path[2 * MAX_PATH] = L"";
  DWORD search = ERROR_PATH_NOT_FOUND;
};
// The folder the check was started from, searched.
[[nodiscard]] DllFolder OwnFolder();
// The current folder, searched.
[[nodiscard]] DllFolder CurrentFolder();

// What decides whether a DLL planted where the check is started could be
// loaded by a library the check loads, which loads others by bare name.
struct DllSearchFacts {
  // SetDefaultDllDirectories took: System32 only (8 and later; Vista and 7
  // with KB2533623).
  bool limited;
  // No SetDllDirectoryA("") took the current folder out of the search: XP
  // before its first service pack, which has no such function.
  bool currentSearched;
  DWORD ownFolder;      // how the search of the check's own folder ended
  DWORD currentFolder;  // and of the current folder, where it counts
};

// Whether the check may load a library that runs code: only where Windows
// restricts the search to the system folder, or where every folder the
// loader looks in before it is known to hold no DLL. "Known" means a search
// that ended in "no such file": a folder that cannot be listed, or whose
// name the search cannot take, may hold one.
[[nodiscard]] constexpr bool LibrariesSafe(const DllSearchFacts& facts) {
  const auto free = [](DWORD search) { return search == ERROR_FILE_NOT_FOUND; };
  return facts.limited ||
         (free(facts.ownFolder) && (!facts.currentSearched || free(facts.currentFolder)));
}
// A function that not every supported Windows documents, as type Function:
// looked up, not imported, so that the check starts wherever it is missing
// (then null).
template <typename Function>
[[nodiscard]] Function Kernel32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// Owns a library the check loaded itself, or nothing; freed when its owner
// goes.
class LoadedLibrary {
 public:
  // The library in the system folder, loaded with flags; empty, with error
  // set, if it cannot be. The libraries it imports in turn are looked for
  // from the system folder too (LOAD_WITH_ALTERED_SEARCH_PATH, on every
  // Windows since XP), never first beside the check: a copy of the check
  // run from a Downloads folder or a share loads nothing that lies there.
  [[nodiscard]] static LoadedLibrary FromSystem(const SystemPath& library, DWORD flags,
                                                DWORD& error);

  LoadedLibrary() : module_(nullptr) {}
  LoadedLibrary(LoadedLibrary&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(LoadedLibrary&&) = delete;
  ~LoadedLibrary() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }

  [[nodiscard]] explicit operator bool() const { return module_ != nullptr; }
  // A function of a library loaded to run, as type Function; null if it has
  // none of that name.
  template <typename Function>
  [[nodiscard]] Function Find(const char* name) const {
    return module_ != nullptr ? reinterpret_cast<Function>(
                                    reinterpret_cast<void (*)()>(GetProcAddress(module_, name)))
                              : nullptr;
  }
  // Whether a library loaded as a data file (LOAD_LIBRARY_AS_DATAFILE)
  // exports a function of that name, read from its export table: none of
  // its code runs.
  [[nodiscard]] bool Exports(const char* name) const;

 private:
  explicit LoadedLibrary(HMODULE module) : module_(module) {}

  HMODULE module_;
};
