// The floor for brannostelxp: the same platform calls with the same resources
// and nothing else, in plain C. Only the benchmark builds it.
#include <windows.h>
#include <rasdlg.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args, (void)show;
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  RASDIALDLG* request = GlobalAlloc(GPTR, sizeof *request);
  if (request != NULL) {
    request->dwSize = sizeof *request;
    if (!RasDialDlgA(NULL, "Conexion a Zel Servicios IP", NULL, request)) GlobalFree(request);
  }
  return 0;
}
