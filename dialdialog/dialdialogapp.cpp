#include <windows.h>
// windows.h first: the dial dialog's header needs its types.
#include <rasdlg.h>

#include "connection_entry.h"
#include "winapp.h"

// The platform's own record for the architecture being built.
#ifdef _WIN64
static_assert(sizeof(RASDIALDLG) == 48, "the 64-bit dial dialog expects the 48-byte record");
#else
static_assert(sizeof(RASDIALDLG) == 36, "the dial dialog expects the 36-byte record");
#endif

// Opens the platform's dial dialog for the connection entry and waits for it.
class CDialDialogApp final : public CWinApp {
 public:
  CDialDialogApp() : CWinApp(nullptr) {}
  ~CDialDialogApp() override = default;

  bool Launch() override;
};

bool CDialDialogApp::Launch() {
  // Zero-filled: every field but the size stays 0.
  auto* const request = static_cast<RASDIALDLG*>(GlobalAlloc(GPTR, sizeof(RASDIALDLG)));
  if (request == nullptr) {
    return false;  // nothing to hand the dialog, and nothing to write through
  }
  request->dwSize = sizeof(RASDIALDLG);

  // The dialog only reads the entry name; its header just isn't const-correct.
  const BOOL dialled =
      RasDialDlgA(nullptr, const_cast<LPSTR>(kConnectionEntryName), nullptr, request);

  // Released only when the dialog returns zero. On nonzero the record is left
  // as it is: the process ends right after, and the record goes with it.
  if (dialled == FALSE) {
    GlobalFree(request);
  }
  return false;
}

CDialDialogApp theApp;
