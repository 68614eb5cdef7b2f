#pragma once

// The check's texts: string tables in messages.rc, one per language. %1, %2
// and %3 are filled in as FormatMessage fills them.

// Status words, the first column of every line.
#define IDS_OK 1
#define IDS_ERROR 2
#define IDS_WARNING 3
#define IDS_NOTE 4

#define IDS_TITLE 16
#define IDS_SECTION_WIN 17
#define IDS_SECTION_XP 18
#define IDS_WOW64 19
#define IDS_DEFAULT_VALUE 20
#define IDS_SERVICE_ACCOUNT 21
#define IDS_OTHER_ACCOUNT 23
#define IDS_TYPE_NUMBER 22
#define IDS_NO_SESSION_USER 24

// brannostelwin: what the registry lookups found, and why not.
#define IDS_APP_PATHS_OK 32
#define IDS_APP_PATHS_MISSING 33
#define IDS_APP_PATHS_USER_IGNORED 34
#define IDS_FIX_APP_PATHS 35
#define IDS_FIX_APP_PATHS_VALUE 36
#define IDS_MAPPING_OK 37
#define IDS_MAPPING_OK_USER 38
#define IDS_MAPPINGS_MISSING 39
#define IDS_MAPPING_USER_IGNORED 40
#define IDS_FIX_MAPPINGS 41
#define IDS_FIX_MAPPING_VALUE 42
#define IDS_VALUE_MISSING 43
#define IDS_VALUE_TOO_LONG 44
#define IDS_VALUE_UNTERMINATED 45
#define IDS_VALUE_TYPE 46
#define IDS_VALUE_EXPAND 47
#define IDS_VALUE_TRAILING 48
#define IDS_VIRTUAL_STORE 49
#define IDS_VIRTUAL_STORE_DIFFERS 50

// brannostelwin: what it would hand on.
#define IDS_WIN_STARTS 64
#define IDS_WIN_STARTS_NOTHING 65
#define IDS_CMMGR_OK 66
#define IDS_CMMGR_MISSING 67
#define IDS_FIX_CMMGR 68
#define IDS_PROFILE_OK 69
#define IDS_PROFILE_MISSING 70
#define IDS_FIX_PROFILE 71
#define IDS_PROFILE_BLANKS 72
#define IDS_FIX_PROFILE_BLANKS 73
#define IDS_CMMGR_VARIABLES 74
#define IDS_FIX_CMMGR_EXPANDED 75
#define IDS_FIX_CMMGR_VARIABLES 76

// brannostelxp.
#define IDS_DIAL_LIBRARY_OK 80
#define IDS_DIAL_LIBRARY_MISSING 81
#define IDS_FIX_DIAL_LIBRARY 82
#define IDS_ENTRY_FOUND 83
#define IDS_ENTRY_ALL_USERS 84
#define IDS_ENTRY_USER 85
#define IDS_ENTRY_MISSING 86
#define IDS_ENTRY_UNKNOWN 87
#define IDS_FIX_ENTRY 88
#define IDS_RAS_LIBRARY_MISSING 89
#define IDS_DLL_FOLDER 90
#define IDS_FIX_DLL_FOLDER 91
#define IDS_DLL_FOLDER_UNKNOWN 92
#define IDS_ENTRY_NOT_LOOKED_UP 93

// The end.
#define IDS_SUMMARY_0 96
#define IDS_SUMMARY_1 97
#define IDS_SUMMARY_2 98
#define IDS_SUMMARY_3 99
#define IDS_PRESS_ENTER 100

// The command line.
#define IDS_USAGE 112
#define IDS_BAD_ARGUMENT 113
