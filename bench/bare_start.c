// The bare floors' process entry: no runtime start-up, WinMain and then the
// end of the process, as the launchers' own start has at its least. Only
// the benchmark builds it.
#include <windows.h>

void BareStart(void) {
  ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, "", SW_SHOWDEFAULT));
}
