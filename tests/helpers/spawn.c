// Test-only helper: starts a console program the ways users, agents and
// services start one, and tells what it showed and how it ended:
//   spawn HOW RESULT PROMPT KEY COMMAND...
// HOW   console    a console of its own whose window shows (as by double-click)
//       hidden     a console of its own whose window is hidden
//       nul-input  a console of its own that shows, input from NUL
//       no-window  CREATE_NO_WINDOW, as deployment agents start programs
//       detached   DETACHED_PROCESS: no console at all
// Where it has a console, the helper makes it, leaves it to the program
// alone, reads what it shows and, once it shows PROMPT ("-": never), types
// KEY: enter, ctrl-c, or close (the window's close button). RESULT gets the
// program's exit status, all 32 bits, in hex on a line of its own (124 if it
// did not end within a minute; then it is ended), then the console's text,
// UTF-8.
#include <stdio.h>
#include <string.h>
#include <windows.h>

static HANDLE Open(const char* name, BOOL inherit) {
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = NULL;
  sa.bInheritHandle = inherit;
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     OPEN_EXISTING, 0, NULL);
}

// The console's whole text, a line per row without its trailing blanks.
static void Screen(HANDLE out, WCHAR* text, DWORD room) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  static WCHAR row[1024];
  DWORD used = 0;
  text[0] = 0;
  if (!GetConsoleScreenBufferInfo(out, &info)) return;
  for (SHORT y = 0; y < info.dwSize.Y && info.dwSize.X < 1024; ++y) {
    DWORD n = 0;
    COORD at = {0, y};
    ReadConsoleOutputCharacterW(out, row, (DWORD)info.dwSize.X, at, &n);
    while (n > 0 && row[n - 1] == L' ') --n;
    if (used + n + 2 >= room) break;
    memcpy(text + used, row, n * sizeof *row);
    used += n;
    text[used++] = L'\n';
    text[used] = 0;
  }
}

static void Type(HANDLE in, HWND window, const char* key) {
  if (strcmp(key, "close") == 0) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return;
  }
  int ctrl = strcmp(key, "ctrl-c") == 0;
  INPUT_RECORD keys[2];
  memset(keys, 0, sizeof keys);
  for (int i = 0; i < 2; ++i) {
    keys[i].EventType = KEY_EVENT;
    keys[i].Event.KeyEvent.bKeyDown = i == 0;
    keys[i].Event.KeyEvent.wRepeatCount = 1;
    keys[i].Event.KeyEvent.wVirtualKeyCode = ctrl ? 'C' : VK_RETURN;
    keys[i].Event.KeyEvent.uChar.UnicodeChar = ctrl ? 3 : L'\r';
    keys[i].Event.KeyEvent.dwControlKeyState = ctrl ? LEFT_CTRL_PRESSED : 0;
  }
  DWORD written;
  WriteConsoleInputW(in, keys, 2, &written);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args, (void)show;
  int argc;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 6) return 2;
  char how[32], result[MAX_PATH], key[16];
  static char prompt[512];
  WideCharToMultiByte(CP_ACP, 0, argv[1], -1, how, sizeof how, NULL, NULL);
  WideCharToMultiByte(CP_ACP, 0, argv[2], -1, result, sizeof result, NULL, NULL);
  WideCharToMultiByte(CP_UTF8, 0, argv[3], -1, prompt, sizeof prompt, NULL, NULL);
  WideCharToMultiByte(CP_ACP, 0, argv[4], -1, key, sizeof key, NULL, NULL);
  // The command: everything after the first five arguments, as given.
  LPWSTR command = wcsstr(GetCommandLineW(), argv[5]);
  if (command > GetCommandLineW() && command[-1] == L'"') --command;

  int ownConsole = strcmp(how, "no-window") != 0 && strcmp(how, "detached") != 0;
  DWORD flags = strcmp(how, "no-window") == 0  ? CREATE_NO_WINDOW
                : strcmp(how, "detached") == 0 ? DETACHED_PROCESS
                                               : CREATE_SUSPENDED;
  STARTUPINFOW si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  HANDLE in = INVALID_HANDLE_VALUE, out = INVALID_HANDLE_VALUE;
  HWND window = NULL;
  if (ownConsole) {
    // The console is made here and handed over before the program runs, so
    // that the program is its only process from its first instruction on.
    AllocConsole();
    window = GetConsoleWindow();
    if (strcmp(how, "hidden") == 0) ShowWindow(window, SW_HIDE);
    in = Open("CONIN$", FALSE);
    out = Open("CONOUT$", TRUE);
    if (strcmp(how, "nul-input") == 0) {
      si.dwFlags = STARTF_USESTDHANDLES;
      si.hStdInput = Open("NUL", TRUE);
      si.hStdOutput = si.hStdError = out;
    }
  }
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(NULL, command, NULL, NULL, si.dwFlags != 0, flags, NULL, NULL, &si, &pi)) {
    return 3;
  }
  if (ownConsole) FreeConsole();
  ResumeThread(pi.hThread);

  static WCHAR text[64 * 1024];
  static char bytes[4 * 64 * 1024];
  DWORD status = 124, typed = 0, waited = 0;
  for (; waited < 60000; waited += 50) {
    if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) break;
    if (!ownConsole || strcmp(prompt, "-") == 0) continue;
    Screen(out, text, sizeof text / sizeof *text);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    // Typed again now and then: a console may not take keys before it reads.
    if (strstr(bytes, prompt) && (typed == 0 || waited - typed >= 1000)) {
      Type(in, window, key);
      typed = waited ? waited : 1;
    }
  }
  if (waited >= 60000) TerminateProcess(pi.hProcess, 124);
  GetExitCodeProcess(pi.hProcess, &status);
  if (ownConsole)
    Screen(out, text, sizeof text / sizeof *text);
  else
    text[0] = 0;
  int size = sprintf(bytes, "%08lx\n", status);
  size += WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes + size, sizeof bytes - size, NULL, NULL);
  HANDLE file = CreateFileA(result, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written;
  WriteFile(file, bytes, (DWORD)strlen(bytes), &written, NULL);
  CloseHandle(file);
  return 0;
}
