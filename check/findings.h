#pragma once

#include <cstdint>

// Every kind of finding the check raises, each with the identifier a fleet
// tool's rules name it by. The identifiers stay the same from release to
// release (docs/findings.md lists them): a new kind gets a new one, and none
// is reused for another kind.
// clang-format off
#define BRANNOSTEL_FINDINGS(X)                                                           \
  /* the check itself */                                                                 \
  X(DllFolder) X(DllFolderUnknown) X(ServiceAccount) X(OtherAccount)                     \
  X(NoSessionUser)                                                                       \
  /* brannostelwin: the registry view it reads, its App Paths entry */                   \
  X(Wow64Check) X(AppPathsOk) X(AppPathsMissing) X(AppPathsUserIgnored)                  \
  X(AppPathsValueMissing)                                                                \
  X(AppPathsValueTooLong) X(AppPathsValueUnterminated) X(AppPathsValueType)              \
  X(AppPathsValueTrailing)                                                               \
  /* its mapping */                                                                      \
  X(MappingOk) X(MappingsKeyMissing) X(MappingValueMissing) X(MappingValueTooLong)       \
  X(MappingValueUnterminated) X(MappingValueType) X(MappingValueExpand)                  \
  X(MappingValueTrailing) X(MappingUserIgnored) X(MappingInVirtualStore)                 \
  X(VirtualStoreDiffers)                                                                 \
  /* what it would start */                                                              \
  X(WinStarts) X(WinStartsNothing) X(ProgramOk) X(ProgramMissing) X(ProgramVariables)    \
  X(ProfileFileOk) X(ProfileFileMissing) X(ProfilePathBlanks)                            \
  /* brannostelxp */                                                                     \
  X(DialLibraryOk) X(DialLibraryMissing) X(RasLibraryMissing) X(PhonebookEntryOk)        \
  X(PhonebookEntryMissing) X(PhonebookEntryUnknown) X(PhonebookEntryNotLookedUp)         \
  /* the last row: the exit status */                                                    \
  X(Summary)
// clang-format on

enum class Finding : std::uint8_t {
#define BRANNOSTEL_ENUM(name) k##name,
  BRANNOSTEL_FINDINGS(BRANNOSTEL_ENUM)
#undef BRANNOSTEL_ENUM
};

// The identifier of a kind of finding, as the CSV report gives it.
[[nodiscard]] constexpr const char* FindingName(Finding finding) {
  constexpr const char* kNames[] = {
#define BRANNOSTEL_NAME(name) #name,
      BRANNOSTEL_FINDINGS(BRANNOSTEL_NAME)
#undef BRANNOSTEL_NAME
  };
  return kNames[static_cast<int>(finding)];
}
