// Test-only helper: starts a console program the ways users, agents and
// services start one, and tells what it showed and how it ended:
//   spawn HOW RESULT PROMPT KEY COMMAND...
// HOW   console    a console of its own whose window shows (as by double-click)
//       hidden     a console of its own whose window is hidden
//       wide       a console of its own that shows, its buffer 120 columns
//                  wide, its window 80
//       nul-input  a console of its own that shows, input from NUL
//       no-window  CREATE_NO_WINDOW, as deployment agents start programs
//       detached   DETACHED_PROCESS: no console at all
//       pseudo     a pseudo console, 80 columns wide, whose window no one
//                  sees (as CI agents and ssh servers host programs)
// Where it has a console, the helper makes it, 80 columns wide, leaves it to
// the program alone, reads what it shows and, once it shows PROMPT, types
// KEY (enter or ctrl-c; early-enter: Enter typed before the program runs,
// then Enter 2 s after the prompt shows, and the status 0xea11 where the
// program ended before that, taking the early key); of a pseudo console it
// reads what its host is sent. RESULT gets the program's exit status, all 32 bits, in hex on a line
// of its own (124 if it did not end within a minute; then it is ended), then
// the console's text, UTF-8.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

static HANDLE Open(const wchar_t* name, BOOL inherit) {
  SECURITY_ATTRIBUTES sa = {.nLength = sizeof sa, .bInheritHandle = inherit};
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     OPEN_EXISTING, 0, NULL);
}

// The console's whole text, a line per row without its trailing blanks.
static void Screen(HANDLE out, WCHAR* text, DWORD room) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  DWORD used = 0;
  text[0] = 0;
  for (SHORT y = 0; GetConsoleScreenBufferInfo(out, &info) && y < info.dwSize.Y; ++y) {
    DWORD n = 0;
    COORD at = {0, y};
    if (used + info.dwSize.X + 2 >= room) break;
    ReadConsoleOutputCharacterW(out, text + used, (DWORD)info.dwSize.X, at, &n);
    while (n > 0 && text[used + n - 1] == L' ') --n;
    used += n;
    text[used++] = L'\n';
    text[used] = 0;
  }
}

static void Type(HANDLE in, int ctrl) {
  INPUT_RECORD keys[2];
  for (int i = 0; i < 2; ++i) {
    keys[i] = (INPUT_RECORD){.EventType = KEY_EVENT,
                             .Event.KeyEvent = {.bKeyDown = i == 0,
                                                .wRepeatCount = 1,
                                                .wVirtualKeyCode = ctrl ? 'C' : VK_RETURN,
                                                .uChar.UnicodeChar = ctrl ? 3 : L'\r',
                                                .dwControlKeyState = ctrl ? LEFT_CTRL_PRESSED : 0}};
  }
  DWORD written;
  WriteConsoleInputW(in, keys, 2, &written);
}

static HPCON console;

// Starts command on a pseudo console of its own; output gets the host's end
// of the pipe, what the host is sent (UTF-8).
static BOOL StartPseudo(LPWSTR command, PROCESS_INFORMATION* pi, HANDLE* output) {
  HANDLE inRead, inWrite, outWrite;
  if (!CreatePipe(&inRead, &inWrite, NULL, 0) || !CreatePipe(output, &outWrite, NULL, 0) ||
      FAILED(CreatePseudoConsole((COORD){80, 25}, inRead, outWrite, 0, &console))) {
    return FALSE;
  }
  // The pseudo console has its own: the output pipe ends once it is closed.
  CloseHandle(inRead);
  CloseHandle(outWrite);
  // Windows gives the program the pseudo console's handles; Wine 8 gives it
  // the helper's own: none, so that it writes nowhere else.
  SetStdHandle(STD_INPUT_HANDLE, NULL);
  SetStdHandle(STD_OUTPUT_HANDLE, NULL);
  SetStdHandle(STD_ERROR_HANDLE, NULL);
  STARTUPINFOEXW si = {.StartupInfo.cb = sizeof si};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(NULL, 1, 0, &size);
  si.lpAttributeList = HeapAlloc(GetProcessHeap(), 0, size);
  InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size);
  UpdateProcThreadAttribute(si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console,
                            sizeof console, NULL, NULL);
  return CreateProcessW(NULL, command, NULL, NULL, FALSE, EXTENDED_STARTUPINFO_PRESENT, NULL, NULL,
                        &si.StartupInfo, pi);
}

// Appends what the pipe holds now to shown; false once its other end is
// closed.
static BOOL Drain(HANDLE pipe, char* shown, DWORD room) {
  DWORD ready = 0, used = (DWORD)strlen(shown), read = 0;
  if (!PeekNamedPipe(pipe, NULL, 0, NULL, &ready, NULL)) return FALSE;
  while (ready > 0 && used + 1 < room &&
         ReadFile(pipe, shown + used, min(ready, room - used - 1), &read, NULL)) {
    used += read;
    shown[used] = 0;
    if (!PeekNamedPipe(pipe, NULL, 0, NULL, &ready, NULL)) return FALSE;
  }
  return TRUE;
}

static DWORD WINAPI ClosePseudo(LPVOID unused) {
  (void)unused;
  ClosePseudoConsole(console);
  return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show) {
  (void)instance, (void)previous, (void)args, (void)show;
  int argc;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 6) return 2;
  const wchar_t* how = argv[1];
  // The command: everything after the first five arguments, as given.
  LPWSTR command = wcsstr(GetCommandLineW(), argv[5]);
  if (command > GetCommandLineW() && command[-1] == L'"') --command;

  int pseudo = wcscmp(how, L"pseudo") == 0;
  int ownConsole = !pseudo && wcscmp(how, L"no-window") != 0 && wcscmp(how, L"detached") != 0;
  STARTUPINFOW si = {.cb = sizeof si};
  HANDLE in = NULL, out = NULL;
  if (ownConsole) {
    // The console is made here and handed over before the program runs, so
    // that the program is its only process from its first instruction on.
    AllocConsole();
    if (wcscmp(how, L"hidden") == 0) ShowWindow(GetConsoleWindow(), SW_HIDE);
    in = Open(L"CONIN$", FALSE);
    out = Open(L"CONOUT$", TRUE);
    // 80 columns, as XP's consoles and many help desks' have, and room for
    // every row the program writes; a wide buffer scrolls sideways.
    SMALL_RECT window = {0, 0, 79, 24};
    SetConsoleWindowInfo(out, TRUE, &window);
    SetConsoleScreenBufferSize(out, (COORD){wcscmp(how, L"wide") == 0 ? 120 : 80, 300});
    if (wcscmp(how, L"nul-input") == 0) {
      si.dwFlags = STARTF_USESTDHANDLES;
      si.hStdInput = Open(L"NUL", TRUE);
      si.hStdOutput = si.hStdError = out;
    }
  }
  DWORD flags =
      !ownConsole ? (how[0] == L'n' ? CREATE_NO_WINDOW : DETACHED_PROCESS) : CREATE_SUSPENDED;
  PROCESS_INFORMATION pi;
  HANDLE host = NULL;
  static WCHAR text[64 * 1024];
  static char bytes[4 * 64 * 1024];
  if (pseudo ? !StartPseudo(command, &pi, &host)
             : !CreateProcessW(NULL, command, NULL, NULL, si.dwFlags != 0, flags, NULL, NULL, &si,
                               &pi)) {
    return 3;
  }
  const int early = wcscmp(argv[4], L"early-enter") == 0;
  if (early) Type(in, 0);  // a key typed while the program works
  if (ownConsole) FreeConsole();
  ResumeThread(pi.hThread);

  int size = 9;  // what the pseudo console's host is sent goes after the status
  bytes[size] = 0;
  DWORD status = 124, waited = 0, typed = 0, prompted = 0;
  for (; waited < 60000 && WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT; waited += 50) {
    if (pseudo) Drain(host, bytes + size, sizeof bytes - size);
    if (!ownConsole) continue;
    Screen(out, text, sizeof text / sizeof *text);
    // Typed again now and then: a console may not take keys before it reads.
    if (wcsstr(text, argv[3]) && prompted == 0) prompted = waited + 1;
    if (early && (prompted == 0 || waited + 1 - prompted < 2000)) continue;
    if (prompted != 0 && (typed == 0 || waited - typed >= 1000)) {
      Type(in, wcscmp(argv[4], L"ctrl-c") == 0);
      typed = waited + 1;
    }
  }
  if (waited >= 60000) TerminateProcess(pi.hProcess, 124);
  GetExitCodeProcess(pi.hProcess, &status);
  if (early && typed == 0 && waited < 60000) status = 0xea11;
  text[0] = 0;
  if (ownConsole) Screen(out, text, sizeof text / sizeof *text);
  if (pseudo) {
    // Closing, the pseudo console sends the last of its output and waits
    // for it to be read: read on until its end of the pipe goes, 10 s at most.
    CloseHandle(CreateThread(NULL, 0, ClosePseudo, NULL, 0, NULL));
    for (DWORD left = 0; left < 10000 && Drain(host, bytes + size, sizeof bytes - size);
         left += 50) {
      Sleep(50);
    }
  } else {
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes + size, sizeof bytes - size, NULL, NULL);
  }
  sprintf(bytes, "%08lx", status);
  bytes[8] = '\n';
  HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written;
  WriteFile(file, bytes, (DWORD)strlen(bytes), &written, NULL);
  CloseHandle(file);
  return 0;
}
