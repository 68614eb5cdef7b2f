#include "libraries.h"

#include <cstddef>
#include <cstring>

SystemPath::SystemPath(const char* name) {
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + std::strlen(name) >= MAX_PATH) {
    path[0] = '\0';
    return;
  }
  std::strcat(path, "\\");
  std::strcat(path, name);
}

void OwnFolder(char (&folder)[MAX_PATH]) {
  const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
  char* const slash = length > 0 && length < MAX_PATH ? std::strrchr(folder, '\\') : nullptr;
  if (slash == nullptr) {
    folder[0] = '\0';
    return;
  }
  *slash = '\0';
}

bool FolderHoldsDll(const char* folder) {
  char pattern[MAX_PATH];
  if (folder[0] == '\0' || std::strlen(folder) + sizeof "\\*.dll" > MAX_PATH) {
    return true;  // where it cannot be looked at, take the worst
  }
  std::strcpy(pattern, folder);
  std::strcat(pattern, "\\*.dll");
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  FindClose(search);
  return true;
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
