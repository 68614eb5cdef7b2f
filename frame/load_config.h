/* The load configuration as the loader reads it (load_config.c fills it
 * in), and control-flow guard's check and dispatch pointers that it names:
 * the frame's (guard_cf.c) in every program; a test program may bring its
 * own. */
#pragma once

#include <stdint.h>

typedef void (*GuardFunction)(void);

/* NOLINTBEGIN(bugprone-reserved-identifier): the names the toolchain uses */
extern GuardFunction const __guard_check_icall_fptr;
#ifdef _WIN64
extern GuardFunction const __guard_dispatch_icall_fptr;
#endif

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
  Pointer SEHandlerTable;
  Pointer SEHandlerCount;
  const GuardFunction* GuardCFCheckFunctionPointer;
  const GuardFunction* GuardCFDispatchFunctionPointer;
  const void* GuardCFFunctionTable;
  uintptr_t GuardCFFunctionCount;
  /* 32 bits, the x64 structure's padding above them: the value comes from a
   * symbol's address, which only a pointer-sized field can take. */
  uintptr_t GuardFlags;
};

/* The name the platform's linkers look for. */
extern const struct LoadConfig _load_config_used;
/* NOLINTEND(bugprone-reserved-identifier) */
