/* The program's load configuration, read by the Windows loader before it
 * resolves the imports. Its one setting is DependentLoadFlags: with
 * LOAD_LIBRARY_SEARCH_SYSTEM32, Windows 10 1607 and later load the DLLs the
 * program imports from System32 only, never from the program's own folder,
 * so a rasdlg.dll left beside a copied program is not run. Older Windows
 * ignore the field.
 *
 * The structure ends where the oldest supported Windows expects it to: 64
 * bytes on x86 (what XP requires), which also leaves out the SafeSEH fields
 * (an empty table there would make Windows refuse every exception handler);
 * on x64, Server 2003's 112 bytes. Every other field is 0: the loader's
 * defaults. The linker only places it; the build then points the image's
 * load-configuration directory at it (load_config.py). */
#include <stddef.h>
#include <stdint.h>

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
  Pointer SecurityCookie;
#ifdef _WIN64
  Pointer SEHandlerTable;
  Pointer SEHandlerCount;
#endif
};

#ifdef _WIN64
_Static_assert(sizeof(struct LoadConfig) == 112, "Server 2003's x64 load configuration");
_Static_assert(offsetof(struct LoadConfig, DependentLoadFlags) == 78, "as the PE format has it");
#else
_Static_assert(sizeof(struct LoadConfig) == 64, "XP's x86 load configuration");
_Static_assert(offsetof(struct LoadConfig, DependentLoadFlags) == 54, "as the PE format has it");
#endif

/* The name the platform's linkers look for. */
/* NOLINTNEXTLINE(bugprone-reserved-identifier) */
const struct LoadConfig _load_config_used = {
    .Size = sizeof(struct LoadConfig),
    .DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32,
};
