#include "winapp.h"

#include <windows.h>

namespace {

// Constant-initialised, so it is in place before any constructor of any file
// runs and is never torn down: the application object can register itself
// whatever the order of static initialisation.
CWinApp* currentApp = nullptr;

}  // namespace

CWinApp::CWinApp(const char* appName) : appName_(appName) { currentApp = this; }

CWinApp::~CWinApp() {
  if (currentApp == this) {
    currentApp = nullptr;
  }
}

bool CWinApp::Launch() { return false; }

// Writes nothing: no settings file, no registry value.
int CWinApp::Finish() { return 0; }

CWinApp* CurrentApp() { return currentApp; }

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  // Add ours to whatever flags the process was started with.
  const UINT inherited = SetErrorMode(0);
  SetErrorMode(inherited | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  CWinApp* const app = CurrentApp();
  if (app == nullptr) {
    return 0;
  }
  // Neither launcher keeps running, so the frame has no message loop: the
  // run ends through Finish whatever Launch answered.
  app->Launch();
  return app->Finish();
}
