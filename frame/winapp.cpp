#include "winapp.h"

#include <windows.h>

#include "start.h"

namespace {

// The process's application object, recorded by its constructor. Constant-
// initialised, so it is in place before any constructor of any file runs and
// is never torn down: the object can register itself whatever the order of
// static initialisation. Only the entry below reads it.
CWinApp* currentApp = nullptr;

}  // namespace

CWinApp::CWinApp(const char* /*appName*/) { currentApp = this; }

CWinApp::~CWinApp() {
  if (currentApp == this) {
    currentApp = nullptr;
  }
}

bool CWinApp::Launch() { return false; }

// Writes nothing: no settings file, no registry value.
int CWinApp::Finish() { return 0; }

// The launchers' logic, after static initialisation has constructed the
// application object (start.c). The command line and the show state are
// the process's, and no launcher reads them.
int RunProgram() {
  // Add ours to whatever flags the process was started with.
  const UINT inherited = SetErrorMode(0);
  SetErrorMode(inherited | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  CWinApp* const app = currentApp;
  if (app == nullptr) {
    return 0;
  }
  // Neither launcher keeps running, so the frame has no message loop: the
  // run ends through Finish whatever Launch answered.
  app->Launch();
  return app->Finish();
}
