#include "libraries.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

SystemPath::SystemPath(const char* name) {
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + std::strlen(name) >= MAX_PATH) {
    path[0] = '\0';
    return;
  }
  std::strcat(path, "\\");
  std::strcat(path, name);
}

namespace {

constexpr DWORD kRoom = sizeof DllFolder::path / sizeof *DllFolder::path;

// Each Windows the README names, as the facts the check reads there: the
// search limited, the current folder searched, how the search of its own
// folder and of the current one ended. Under Wine the search is always
// limited; the scripted check's rows run the rest (tests/test_check.py).
constexpr DWORD kDll = ERROR_SUCCESS, kNone = ERROR_FILE_NOT_FOUND;
static_assert(LibrariesSafe({true, false, kDll, kDll}), "8 and later, 7 with KB2533623: a DLL");
static_assert(LibrariesSafe({false, false, kNone, kDll}),
              "XP SP3, 7 without it: nothing beside it");
static_assert(!LibrariesSafe({false, false, kDll, kNone}), "XP SP3, 7 without it: a DLL beside it");
static_assert(!LibrariesSafe({false, false, ERROR_ACCESS_DENIED, kNone}), "a folder not listed");
static_assert(!LibrariesSafe({false, false, ERROR_PATH_NOT_FOUND, kNone}), "a folder not found");
static_assert(!LibrariesSafe({false, false, ERROR_INVALID_NAME, kNone}), "a name it cannot take");
static_assert(!LibrariesSafe({false, false, ERROR_NO_MORE_FILES, kNone}), "any other end");
static_assert(!LibrariesSafe({false, true, kNone, kDll}),
              "XP before SP1: a DLL in the current one");
static_assert(!LibrariesSafe({false, true, kNone, ERROR_ACCESS_DENIED}), "XP before SP1: unlisted");
static_assert(LibrariesSafe({false, true, kNone, kNone}), "XP before SP1: neither holds one");

// Searches the folder, length characters long, for files named *.dll.
void Search(DllFolder& folder, DWORD length) {
  constexpr wchar_t kPattern[] = L"\\*.dll";
  if (length == 0 || length >= kRoom - sizeof kPattern / sizeof *kPattern) {
    folder.search = ERROR_BAD_PATHNAME;  // Windows could not say, or no search could take it
    return;
  }
  wchar_t pattern[kRoom];
  wmemcpy(pattern, folder.path, length);
  // A drive's root ends in a backslash of its own.
  const DWORD end = folder.path[length - 1] == L'\\' ? length - 1 : length;
  wmemcpy(pattern + end, kPattern, sizeof kPattern / sizeof *kPattern);
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    folder.search = GetLastError();
    return;
  }
  FindClose(search);
  folder.search = ERROR_SUCCESS;
}

}  // namespace

DllFolder OwnFolder() {
  DllFolder folder;
  const DWORD length = GetModuleFileNameW(nullptr, folder.path, kRoom);
  folder.path[kRoom - 1] = L'\0';  // XP leaves a name cut short unterminated
  wchar_t* const slash = length > 0 && length < kRoom ? wcsrchr(folder.path, L'\\') : nullptr;
  if (slash != nullptr) {
    *slash = L'\0';
  }
  Search(folder, slash != nullptr ? static_cast<DWORD>(slash - folder.path) : 0);
  return folder;
}

DllFolder CurrentFolder() {
  DllFolder folder;
  const DWORD length = GetCurrentDirectoryW(kRoom, folder.path);
  Search(folder, length < kRoom ? length : 0);
  return folder;
}

LoadedLibrary LoadedLibrary::FromSystem(const SystemPath& library, DWORD flags, DWORD& error) {
  const char* const path = library.path;
  const HMODULE module = path[0] != '\0'
                             ? LoadLibraryExA(path, nullptr, flags | LOAD_WITH_ALTERED_SEARCH_PATH)
                             : nullptr;
  if (module != nullptr) {
    error = ERROR_SUCCESS;
  } else {
    error = path[0] != '\0' ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
  }
  return LoadedLibrary(module);
}

namespace {

// A library mapped as a data file lies as the file does, not as the loader
// would lay it out; every read is checked against the end of the view, so
// that a damaged file gives "not exported", never a read past it.
class FileView {
 public:
  FileView(const BYTE* base, SIZE_T size) : base_(base), size_(size) {}

  template <typename T>
  [[nodiscard]] const T* At(SIZE_T offset, SIZE_T count = 1) const {
    if (offset > size_ || count > (size_ - offset) / sizeof(T)) {
      return nullptr;
    }
    return reinterpret_cast<const T*>(base_ + offset);
  }

  // Where in the file the loader would put a relative virtual address, or
  // past the view if no section holds it.
  [[nodiscard]] SIZE_T Offset(DWORD rva) const {
    for (WORD i = 0; sections_ != nullptr && i < sectionCount_; ++i) {
      const IMAGE_SECTION_HEADER& section = sections_[i];
      if (rva >= section.VirtualAddress && rva - section.VirtualAddress < section.SizeOfRawData) {
        return SIZE_T{section.PointerToRawData} + (rva - section.VirtualAddress);
      }
    }
    return size_ + 1;
  }

  // The export directory's relative address, after the headers that lead to
  // it; 0 if the file has none or is no library.
  [[nodiscard]] DWORD ReadHeaders() {
    const auto* dos = At<IMAGE_DOS_HEADER>(0);
    if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0) {
      return 0;
    }
    const auto headers = static_cast<SIZE_T>(dos->e_lfanew);
    const auto* signature = At<DWORD>(headers);
    const auto* file = At<IMAGE_FILE_HEADER>(headers + sizeof(DWORD));
    const SIZE_T optional = headers + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    const auto* magic = At<WORD>(optional);
    if (signature == nullptr || *signature != IMAGE_NT_SIGNATURE || file == nullptr ||
        magic == nullptr ||
        (*magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC && *magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)) {
      return 0;
    }
    sectionCount_ = file->NumberOfSections;
    sections_ =
        At<IMAGE_SECTION_HEADER>(optional + file->SizeOfOptionalHeader, file->NumberOfSections);
    // Either kind of optional header: the library is the system's, of
    // whichever architecture that is. Its directories end it, their count
    // just before them.
    const SIZE_T directories = optional + (*magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                               ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                               : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
    const auto* count = At<DWORD>(directories - sizeof(DWORD));
    const auto* exports =
        count != nullptr && *count > 0 ? At<IMAGE_DATA_DIRECTORY>(directories) : nullptr;
    return exports != nullptr ? exports[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress : 0;
  }

  // Whether the zero-terminated text at rva is name.
  [[nodiscard]] bool TextIs(DWORD rva, const char* name) const {
    const SIZE_T length = std::strlen(name) + 1;
    const char* text = At<char>(Offset(rva), length);
    return text != nullptr && std::memcmp(text, name, length) == 0;
  }

 private:
  const BYTE* base_;
  SIZE_T size_;
  const IMAGE_SECTION_HEADER* sections_ = nullptr;
  WORD sectionCount_ = 0;
};

}  // namespace

bool LoadedLibrary::Exports(const char* name) const {
  // The handle of a data-file mapping is its view's address with low bits set.
  const BYTE* const base =
      reinterpret_cast<const BYTE*>(module_) - (reinterpret_cast<ULONG_PTR>(module_) & 3);
  MEMORY_BASIC_INFORMATION region = {};
  if (module_ == nullptr || VirtualQuery(base, &region, sizeof region) == 0) {
    return false;
  }
  FileView file(base, region.RegionSize);
  const DWORD directory = file.ReadHeaders();
  const auto* exports =
      directory != 0 ? file.At<IMAGE_EXPORT_DIRECTORY>(file.Offset(directory)) : nullptr;
  const auto* names = exports != nullptr ? file.At<DWORD>(file.Offset(exports->AddressOfNames),
                                                          exports->NumberOfNames)
                                         : nullptr;
  for (DWORD i = 0; names != nullptr && i < exports->NumberOfNames; ++i) {
    if (file.TextIs(names[i], name)) {
      return true;
    }
  }
  return false;
}
