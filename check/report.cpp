#include "report.h"

#include <cstdlib>
#include <cwchar>

Text& Text::Append(const char* ansi) {
  const int room = static_cast<int>(sizeof text_ / sizeof *text_) - length_ - 1;
  const int added = MultiByteToWideChar(CP_ACP, 0, ansi, -1, text_ + length_, room + 1);
  // On overflow nothing is converted: the text stays as it was.
  length_ += added > 0 ? added - 1 : 0;
  text_[length_] = L'\0';
  return *this;
}

Text& Text::Append(const wchar_t* text) {
  while (*text != L'\0' && length_ + 1 < static_cast<int>(sizeof text_ / sizeof *text_)) {
    text_[length_++] = *text++;
  }
  text_[length_] = L'\0';
  return *this;
}

Text KeyName(HKEY hive, const char* path) {
  Text name(hive == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\");
  name.Append(path);
  return name;
}

Text Number(DWORD number) {
  wchar_t digits[16];
  return Text(_ultow(number, digits, 10));
}

namespace {

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Message text from this program's string tables, in language, or in English
// where that language's table lacks it. A table block holds 16 strings, each
// its length and then its characters; one left out has length 0.
Text LoadMessage(UINT message, LANGID language) {
  Text text;
  const HRSRC found = FindResourceExW(nullptr, MAKEINTRESOURCEW(6),  // RT_STRING
                                      MAKEINTRESOURCEW(message / 16 + 1), language);
  const HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
  const auto* entry = static_cast<const WCHAR*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  for (UINT skip = message % 16; entry != nullptr && skip > 0; --skip) {
    entry += 1 + *entry;
  }
  if (entry == nullptr || *entry == 0) {
    return language != kEnglish ? LoadMessage(message, kEnglish) : text;
  }
  wchar_t copy[1024];
  const UINT length = *entry < 1023 ? *entry : 1023;
  wmemcpy(copy, entry + 1, length);
  copy[length] = L'\0';
  return text.Append(copy);
}

// The status the program ends with when the console asks it to end.
DWORD exitStatus = 0;

BOOL WINAPI EndWithStatus(DWORD /*event*/) {
  ExitProcess(exitStatus);
  return TRUE;
}

}  // namespace

Report::Report()
    : language_(PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_SPANISH
                    ? MAKELANGID(LANG_SPANISH, SUBLANG_NEUTRAL)
                    : kEnglish),
      output_(GetStdHandle(STD_OUTPUT_HANDLE)),
      console_(false),
      codePage_(GetConsoleOutputCP()) {
  DWORD mode = 0;
  console_ = GetConsoleMode(output_, &mode) != FALSE;
  if (codePage_ == 0) {
    codePage_ = GetOEMCP();  // no console at all: the one a console would have
  }
}

Text Report::Message(UINT message, Inserts inserts) const {
  // FormatMessage reads as many inserts as the text names: never fewer here.
  DWORD_PTR arguments[3] = {reinterpret_cast<DWORD_PTR>(L""), reinterpret_cast<DWORD_PTR>(L""),
                            reinterpret_cast<DWORD_PTR>(L"")};
  int count = 0;
  for (const wchar_t* insert : inserts) {
    if (count < 3) {
      arguments[count++] = reinterpret_cast<DWORD_PTR>(insert);
    }
  }
  wchar_t formatted[1024];
  if (FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                     LoadMessage(message, language_).Get(), 0, 0, formatted,
                     sizeof formatted / sizeof *formatted,
                     reinterpret_cast<va_list*>(arguments)) == 0) {
    formatted[0] = L'\0';
  }
  return Text(formatted);
}

void Report::Heading(UINT message, Inserts inserts) {
  // Set apart from what came before, if anything did.
  Write(
      Text(started_ ? L"\r\n" : L"").Append(Message(message, inserts).Get()).Append(L"\r\n").Get());
}

void Report::Line(Status status, UINT message, Inserts inserts) {
  // The status word in a column of its own, two blanks in.
  Text lead(L"  ");
  lead.Append(LoadMessage(static_cast<UINT>(status), language_).Get());
  for (size_t width = wcslen(lead.Get()); width < 11; ++width) {
    lead.Append(L" ");
  }
  Write(lead.Append(Message(message, inserts).Get()).Append(L"\r\n").Get());
}

void Report::Fix(UINT message, Inserts inserts) {
  Write(Text(L"           -> ").Append(Message(message, inserts).Get()).Append(L"\r\n").Get());
}

void Report::Write(const wchar_t* text) {
  started_ = true;
  const int length = static_cast<int>(wcslen(text));
  DWORD written = 0;
  if (console_) {
    WriteConsoleW(output_, text, length, &written, nullptr);
    return;
  }
  char bytes[4 * 1024];
  const int size =
      WideCharToMultiByte(codePage_, 0, text, length, bytes, sizeof bytes, nullptr, nullptr);
  if (size > 0) {
    WriteFile(output_, bytes, size, &written, nullptr);
  }
}

void Report::WaitIfOwnConsole(int status) {
  // A person can answer only a console that shows a window, reads from the
  // keyboard and was made for this process alone; one started from a prompt
  // is shared with the prompt. Agents that start the check with no window,
  // detached or with input from elsewhere get the status at once.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HWND window = console_ ? GetConsoleWindow() : nullptr;
  DWORD mode = 0;
  DWORD processes[2];
  if (window == nullptr || IsWindowVisible(window) == FALSE ||
      GetConsoleMode(input, &mode) == FALSE || GetConsoleProcessList(processes, 2) != 1) {
    return;
  }
  exitStatus = static_cast<DWORD>(status);
  SetConsoleCtrlHandler(EndWithStatus, TRUE);
  // Keys typed while the check was still working are not the answer.
  FlushConsoleInputBuffer(input);
  Write(LoadMessage(IDS_PRESS_ENTER, language_).Append(L" ").Get());
  wchar_t line[64];
  DWORD read = 0;
  ReadConsoleW(input, line, 64, &read, nullptr);
}
