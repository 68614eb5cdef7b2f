#include "account.h"

// windows.h first (account.h): the session header needs its types.
#include <wtsapi32.h>

#include <cwchar>
#include <utility>

#include "libraries.h"
#include "report.h"

namespace {

constexpr BYTE kNt[6] = {0, 0, 0, 0, 0, 5};
constexpr BYTE kWorld[6] = {0, 0, 0, 0, 0, 1};
constexpr bool Is(const wchar_t* name, const wchar_t* expected) {
  for (; name != nullptr && *name == *expected; ++name, ++expected) {
    if (*name == L'\0') {
      return true;
    }
  }
  return false;
}
// (SID's authority, its number of subauthorities, the first)
static_assert(Is(ServiceAccountName(kNt, 1, 18), L"LocalSystem"), "S-1-5-18");
static_assert(Is(ServiceAccountName(kNt, 1, 19), L"LocalService"), "S-1-5-19");
static_assert(Is(ServiceAccountName(kNt, 1, 20), L"NetworkService"), "S-1-5-20");
static_assert(ServiceAccountName(kNt, 5, 21) == nullptr, "a user, S-1-5-21-...");
static_assert(ServiceAccountName(kNt, 2, 32) == nullptr, "Administrators, S-1-5-32-544");
static_assert(ServiceAccountName(kNt, 2, 18) == nullptr, "not LocalSystem: S-1-5-18-1");
static_assert(ServiceAccountName(kWorld, 1, 18) == nullptr, "not NT AUTHORITY: S-1-1-18");

// Windows' major version, the check's own token's virtualization allowed,
// elevated with a linked token, that one's allowed; the 64-bit view?
constexpr const char* Store(DWORD major, bool allowed, bool full, bool linked, bool wow64) {
  return LauncherVirtualStore({major, allowed, full, linked}, wow64);
}
constexpr bool InWow64Node(const char* key) {
  for (; key != nullptr && *key != '\0'; ++key) {
    if (*key == 'W' && key[1] == 'O' && key[2] == 'W') {
      return true;
    }
  }
  return false;
}
static_assert(Store(5, true, false, false, false) == nullptr, "XP virtualizes nothing");
static_assert(Store(6, true, false, false, false) != nullptr, "Vista to 8.1, a standard user");
static_assert(Store(10, true, false, false, false) != nullptr, "10 and 11");
static_assert(!InWow64Node(Store(6, true, false, false, false)), "32-bit Windows' store");
static_assert(InWow64Node(Store(6, true, false, false, true)), "64-bit Windows' store");
static_assert(InWow64Node(Store(10, true, false, false, true)), "64-bit Windows' store on 10");
static_assert(Store(10, false, false, false, false) == nullptr, "not allowed: a service, UAC off");
static_assert(Store(10, false, true, true, false) != nullptr, "elevated: the linked token decides");
static_assert(Store(10, true, true, false, false) == nullptr,
              "elevated, the linked token not allowed");
static_assert(Store(6, false, true, true, true) != nullptr, "elevated on 7, 64-bit");

// (the session read, a user in it, the same SID)
static_assert(NotesOtherAccount(true, true, false) == SessionNote::kOtherAccount,
              "an administrator's own credentials; CORP\\admin against PC\\admin");
static_assert(NotesOtherAccount(true, true, true) == SessionNote::kNone,
              "the user signed in, however the session spells the name (the Turkish I)");
static_assert(NotesOtherAccount(true, false, false) == SessionNote::kNoUser,
              "session 0, a task run whether or not a user is signed in, a remote tool");
static_assert(NotesOtherAccount(false, false, false) == SessionNote::kNone, "the session not told");

// Owns a token handle, or nothing.
class OwnedToken {
 public:
  explicit OwnedToken(HANDLE token) : token_(token) {}
  OwnedToken(OwnedToken&& other) noexcept : token_(std::exchange(other.token_, nullptr)) {}
  OwnedToken(const OwnedToken&) = delete;
  OwnedToken& operator=(const OwnedToken&) = delete;
  OwnedToken& operator=(OwnedToken&&) = delete;
  ~OwnedToken() {
    if (token_ != nullptr) {
      CloseHandle(token_);
    }
  }
  [[nodiscard]] static OwnedToken Own() {
    HANDLE token = nullptr;
    return OwnedToken(
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != FALSE ? token : nullptr);
  }
  // One kind of information about the token, into data; false where
  // Windows gives none.
  [[nodiscard]] bool Read(TOKEN_INFORMATION_CLASS kind, void* data, DWORD size) const {
    DWORD used = 0;
    return token_ != nullptr && GetTokenInformation(token_, kind, data, size, &used) != FALSE;
  }

 private:
  HANDLE token_;
};

// The check's own account as TOKEN_USER, with room for its SID.
union OwnUser {
  TOKEN_USER user;
  BYTE room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

[[nodiscard]] bool ReadOwnUser(OwnUser& owner) {
  return OwnedToken::Own().Read(TokenUser, &owner, sizeof owner) &&
         IsValidSid(owner.user.User.Sid) != FALSE;
}

}  // namespace

const wchar_t* ServiceAccount() {
  OwnUser owner = {};
  if (!ReadOwnUser(owner)) {
    return nullptr;
  }
  const PSID sid = owner.user.User.Sid;
  const BYTE count = *GetSidSubAuthorityCount(sid);
  return ServiceAccountName(GetSidIdentifierAuthority(sid)->Value, count,
                            count > 0 ? *GetSidSubAuthority(sid, 0) : 0);
}

TokenFacts ReadTokenFacts() {
  TokenFacts facts = {LOBYTE(LOWORD(GetVersion())), false, false, false};
  const OwnedToken own = OwnedToken::Own();
  DWORD allowed = 0;
  facts.allowed = own.Read(TokenVirtualizationAllowed, &allowed, sizeof allowed) && allowed != 0;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  facts.elevatedFull =
      own.Read(TokenElevationType, &type, sizeof type) && type == TokenElevationTypeFull;
  TOKEN_LINKED_TOKEN linked = {};
  if (facts.elevatedFull && own.Read(TokenLinkedToken, &linked, sizeof linked)) {
    const OwnedToken limited(linked.LinkedToken);
    allowed = 0;
    facts.linkedAllowed =
        limited.Read(TokenVirtualizationAllowed, &allowed, sizeof allowed) && allowed != 0;
  }
  return facts;
}

void NoteSessionAccount(Report& report) {
  // "DOMAIN\user" of the check's own account.
  OwnUser owner = {};
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use = SidTypeUnknown;
  if (!ReadOwnUser(owner) || LookupAccountSidW(nullptr, owner.user.User.Sid, name, &nameSize,
                                               domain, &domainSize, &use) == FALSE) {
    return;
  }
  const Text own = Text(domain).Append(L"\\").Append(name);
  // The user signed in to the check's session, as the session tells:
  // its domain and its name.
  DWORD error = ERROR_SUCCESS;
  const LoadedLibrary library = LoadedLibrary::FromSystem(SystemPath("wtsapi32.dll"), 0, error);
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
  const auto query = library.Find<Query>("WTSQuerySessionInformationW");
  const auto release = library.Find<void(WINAPI*)(PVOID)>("WTSFreeMemory");
  if (query == nullptr || release == nullptr) {
    return;
  }
  LPWSTR parts[2] = {};
  bool read = true;
  for (const WTS_INFO_CLASS info : {WTSDomainName, WTSUserName}) {
    DWORD bytes = 0;
    LPWSTR& part = parts[info == WTSUserName ? 1 : 0];
    read = query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, info, &part, &bytes) != FALSE &&
           part != nullptr && read;
  }
  const bool hasUser = read && parts[1][0] != L'\0';
  Text session;
  if (hasUser && parts[0][0] != L'\0') {
    session.Append(parts[0]).Append(L"\\");
  }
  session.Append(hasUser ? parts[1] : L"");
  // The session's account by its SID. The same DOMAIN\user, spelled the
  // same, is the check's own even where its domain cannot be reached to
  // look it up (a laptop off the network); any other name only where the
  // lookup finds the same SID.
  union {
    SID sid;
    BYTE room[SECURITY_MAX_SID_SIZE];
  } user = {};
  DWORD sidSize = sizeof user;
  wchar_t userDomain[256];
  DWORD userDomainSize = 256;
  const bool same = hasUser && (wcscmp(session.Get(), own.Get()) == 0 ||
                                (LookupAccountNameW(nullptr, session.Get(), &user.sid, &sidSize,
                                                    userDomain, &userDomainSize, &use) != FALSE &&
                                 EqualSid(&user.sid, owner.user.User.Sid) != FALSE));
  switch (NotesOtherAccount(read, hasUser, same)) {
    case SessionNote::kOtherAccount:
      report.Line(Status::kNote, Finding::kOtherAccount, IDS_OTHER_ACCOUNT,
                  {own.Get(), session.Get()});
      break;
    case SessionNote::kNoUser:
      report.Line(Status::kNote, Finding::kNoSessionUser, IDS_NO_SESSION_USER, {own.Get()});
      break;
    case SessionNote::kNone:
      break;
  }
  for (const LPWSTR part : parts) {
    if (part != nullptr) {
      release(part);
    }
  }
}
