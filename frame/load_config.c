/* What the Windows loader reads of the program before it runs any of it:
 * the load configuration and, on x64, the extended DLL characteristics.
 *
 * The load configuration has two settings. DependentLoadFlags: with
 * LOAD_LIBRARY_SEARCH_SYSTEM32, Windows 10 1607 and later load the DLLs the
 * program imports from System32 only, never from the program's own folder,
 * so a rasdlg.dll left beside a copied program is not run; older Windows
 * ignore the field. SecurityCookie: where the stack cookie is
 * (stack_cookie.c), for the loader to make it random.
 *
 * The structure ends where the oldest supported Windows expects it to: 64
 * bytes on x86 (what XP requires), which also leaves out the SafeSEH fields:
 * the image is linked with NO_SEH instead, since nothing in it registers an
 * exception handler; on x64, Server 2003's 112 bytes. Every other field is 0:
 * the loader's defaults. The linker only places these structures; the build
 * then points the image's directories at them (load_config.py). */
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800

#ifdef _WIN64
typedef uint64_t Pointer;
#else
typedef uint32_t Pointer;
#endif

struct LoadConfig {
  uint32_t Size;
  uint32_t TimeDateStamp;
  uint16_t MajorVersion;
  uint16_t MinorVersion;
  uint32_t GlobalFlagsClear;
  uint32_t GlobalFlagsSet;
  uint32_t CriticalSectionDefaultTimeout;
  Pointer DeCommitFreeBlockThreshold;
  Pointer DeCommitTotalFreeThreshold;
  Pointer LockPrefixTable;
  Pointer MaximumAllocationSize;
  Pointer VirtualMemoryThreshold;
#ifdef _WIN64
  Pointer ProcessAffinityMask;
  uint32_t ProcessHeapFlags;
#else
  uint32_t ProcessHeapFlags;
  Pointer ProcessAffinityMask;
#endif
  uint16_t CSDVersion;
  uint16_t DependentLoadFlags;
  Pointer EditList;
  uintptr_t* SecurityCookie;
#ifdef _WIN64
  Pointer SEHandlerTable;
  Pointer SEHandlerCount;
#endif
};

#ifdef _WIN64
_Static_assert(sizeof(struct LoadConfig) == 112, "Server 2003's x64 load configuration");
_Static_assert(offsetof(struct LoadConfig, DependentLoadFlags) == 78, "as the PE format has it");
_Static_assert(offsetof(struct LoadConfig, SecurityCookie) == 88, "as the PE format has it");
#else
_Static_assert(sizeof(struct LoadConfig) == 64, "XP's x86 load configuration");
_Static_assert(offsetof(struct LoadConfig, DependentLoadFlags) == 54, "as the PE format has it");
_Static_assert(offsetof(struct LoadConfig, SecurityCookie) == 60, "as the PE format has it");
#endif

/* NOLINTNEXTLINE(bugprone-reserved-identifier) */
extern uintptr_t __stack_chk_guard;

/* The name the platform's linkers look for. */
/* NOLINTNEXTLINE(bugprone-reserved-identifier) */
const struct LoadConfig _load_config_used = {
    .Size = sizeof(struct LoadConfig),
    .DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32,
    .SecurityCookie = &__stack_chk_guard,
};

#ifdef _WIN64
/* Shadow-stack (CET) compatible: nothing in the program rewrites a return
 * address. It has no longjmp and no unwinder of its own (no exceptions);
 * the platform's unwinder, through the .pdata tables, keeps the shadow
 * stack. Windows enforces hardware shadow stacks for such 64-bit programs;
 * it never does for 32-bit ones, so the x86 build declares nothing. The
 * entry is a debug-directory entry whose data follows it; load_config.py
 * fills in where that data is. */
#define IMAGE_DEBUG_TYPE_EX_DLLCHARACTERISTICS 20
#define IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT 0x1

struct ExtendedCharacteristics {
  IMAGE_DEBUG_DIRECTORY entry;
  DWORD flags;
};

const struct ExtendedCharacteristics brannostel_ex_dll_characteristics = {
    .entry = {.Type = IMAGE_DEBUG_TYPE_EX_DLLCHARACTERISTICS, .SizeOfData = sizeof(DWORD)},
    .flags = IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT,
};
#endif
