#pragma once

#include <windows.h>

#include <utility>

// The full path of a DLL in the system folder, where the launchers' DLLs are
// taken from; empty if the folder's path is too long for one.
struct SystemPath {
  explicit SystemPath(const char* name);
  char path[MAX_PATH] = "";
};

// The folder the check was started from, without a trailing backslash;
// empty where Windows cannot tell.
void OwnFolder(char (&folder)[MAX_PATH]);
// Whether a folder holds any file named *.dll.
[[nodiscard]] bool FolderHoldsDll(const char* folder);

// Whether the check may load a library that runs code, whose own loads by
// bare name look in the check's folder first unless Windows is told not to:
// only where Windows restricts that search to the system folder
// (SetDefaultDllDirectories), or where the folder holds no DLL to load.
[[nodiscard]] constexpr bool LibrariesSafe(bool searchRestricted, bool folderHoldsDll) {
  return searchRestricted || !folderHoldsDll;
}
// (search restricted, the check's folder holds a DLL)
static_assert(LibrariesSafe(true, true), "8 and later, Vista and 7 with KB2533623: System32 only");
static_assert(LibrariesSafe(true, false), "the same, nothing beside the check");
static_assert(LibrariesSafe(false, false), "XP, Vista, 7 without it: no DLL beside the check");
static_assert(!LibrariesSafe(false, true), "XP, Vista, 7 without it: a DLL in Downloads");

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
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }
  // Whether a library loaded as a data file (LOAD_LIBRARY_AS_DATAFILE)
  // exports a function of that name, read from its export table: none of
  // its code runs.
  [[nodiscard]] bool Exports(const char* name) const;

 private:
  explicit LoadedLibrary(HMODULE module) : module_(module) {}

  HMODULE module_;
};
