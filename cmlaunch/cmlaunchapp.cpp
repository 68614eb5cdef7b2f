#include <windows.h>
// windows.h first: the shell's header needs its types.
#include <shellapi.h>

#include "registry_lookups.h"
#include "winapp.h"

// Starts the Connection Manager on the profile registered for the connection
// entry, and ends without waiting for it.
class CConnectionManagerApp final : public CWinApp {
 public:
  CConnectionManagerApp() : CWinApp(nullptr) {}
  ~CConnectionManagerApp() override = default;

  bool Launch() override;
};

bool CConnectionManagerApp::Launch() {
  char executable[MAX_PATH];
  if (QueryConnectionManagerPath(executable) != 0) {
    return false;
  }
  char profile[MAX_PATH];
  if (QueryProfileMapping(profile) != 0) {
    return false;
  }
  // The profile path is the whole parameter string, exactly as stored. What
  // the shell answers changes nothing: the launcher has nothing left to do.
  // NOLINTNEXTLINE(readability-suspicious-call-argument): "profile" is the parameter, not the file
  ShellExecuteA(nullptr, "open", executable, profile, nullptr, SW_SHOW);
  return false;
}

CConnectionManagerApp theApp;
