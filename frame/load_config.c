/* What the Windows loader reads of the program before it runs any of it:
 * the load configuration.
 *
 * DependentLoadFlags: with LOAD_LIBRARY_SEARCH_SYSTEM32, Windows 10 1607 and
 * later load the DLLs the program imports from System32 only, never from
 * the program's own folder, so a rasdlg.dll left beside a copied program is
 * not run; older Windows ignore the field. SecurityCookie: where the stack
 * cookie is (stack_cookie.c), for the loader to make it random. The
 * control-flow guard fields: where the guard's check and dispatch pointers
 * are (guard_cf.c), which Windows 8.1 and later point at their own check,
 * and the table of valid call targets that lld makes, with its count and
 * flags (the __guard_* symbols are lld's).
 *
 * The structure ends with the guard's fields, the first that newer Windows
 * read; older Windows read only as far as they know. On x86, Windows XP
 * requires the load-configuration directory to say 64 bytes: the build
 * writes that size there (load_config.py), while the structure's own Size
 * covers the guard's fields, as the platform's linker does. The SafeSEH
 * fields stay 0: the x86 image is linked with NO_SEH instead, since nothing
 * in it registers an exception handler. Every other field is 0: the
 * loader's defaults. */
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include "load_config.h"

#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800

/* The size up to the last field's 32 bits. */
#define LOAD_CONFIG_SIZE (offsetof(struct LoadConfig, GuardFlags) + sizeof(uint32_t))
#ifdef _WIN64
_Static_assert(LOAD_CONFIG_SIZE == 148, "Windows 8.1's x64 load configuration");
_Static_assert(offsetof(struct LoadConfig, DependentLoadFlags) == 78, "as the PE format has it");
_Static_assert(offsetof(struct LoadConfig, SecurityCookie) == 88, "as the PE format has it");
_Static_assert(offsetof(struct LoadConfig, GuardCFCheckFunctionPointer) == 112, "as the PE format");
#else
_Static_assert(LOAD_CONFIG_SIZE == 92, "Windows 8.1's x86 load configuration");
_Static_assert(offsetof(struct LoadConfig, DependentLoadFlags) == 54, "as the PE format has it");
_Static_assert(offsetof(struct LoadConfig, SecurityCookie) == 60, "as the PE format has it");
_Static_assert(offsetof(struct LoadConfig, GuardCFCheckFunctionPointer) == 72, "as the PE format");
#endif

/* NOLINTBEGIN(bugprone-reserved-identifier): the names the toolchain uses */
extern uintptr_t __stack_chk_guard;
/* lld's: the table's place, and the count and flags as absolute symbols. */
extern const char __guard_fids_table[];
extern const char __guard_fids_count[];
extern const char __guard_flags[];

/* The name the platform's linkers look for. */
const struct LoadConfig _load_config_used = {
    .Size = LOAD_CONFIG_SIZE,
    .DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32,
    .SecurityCookie = &__stack_chk_guard,
    .GuardCFCheckFunctionPointer = &__guard_check_icall_fptr,
#ifdef _WIN64
    .GuardCFDispatchFunctionPointer = &__guard_dispatch_icall_fptr,
#endif
    .GuardCFFunctionTable = __guard_fids_table,
    .GuardCFFunctionCount = (uintptr_t)__guard_fids_count,
    .GuardFlags = (uintptr_t)__guard_flags,
};
/* NOLINTEND(bugprone-reserved-identifier) */
