#include "report.h"

#include <cstdlib>
#include <cwchar>
#include <utility>

#include "libraries.h"

Text& Text::Append(const char* ansi) {
  const int room = static_cast<int>(sizeof text_ / sizeof *text_) - length_ - 1;
  const int added = MultiByteToWideChar(CP_ACP, 0, ansi, -1, text_ + length_, room + 1);
  // On overflow nothing is converted: the text stays as it was.
  length_ += added > 0 ? added - 1 : 0;
  text_[length_] = L'\0';
  return *this;
}

Text& Text::Replace(wchar_t from, wchar_t to) {
  for (int i = 0; i < length_; ++i) {
    text_[i] = text_[i] == from ? to : text_[i];
  }
  return *this;
}

Text& Text::Append(const wchar_t* text, size_t count) {
  const int last = static_cast<int>(sizeof text_ / sizeof *text_) - 1;
  for (; count > 0 && *text != L'\0' && length_ < last; --count) {
    text_[length_++] = *text++;
  }
  text_[length_] = L'\0';
  return *this;
}

Text KeyName(HKEY hive, const char* path, bool full) {
  const bool machine = hive == HKEY_LOCAL_MACHINE;
  Text name(full ? (machine ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\")
                 : (machine ? L"HKLM\\" : L"HKCU\\"));
  name.Append(path);
  return name;
}

Text Number(DWORD number) {
  wchar_t digits[16];
  return Text(_ultow(number, digits, 10));
}

namespace {

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
// Where a finding's text begins, after its status word.
constexpr int kTextColumn = 11;
// An insert's blanks (in a key, a path, the entry name) while a line is laid
// out, so that no row ends inside one: a help desk copies them whole from
// the console. Written as blanks.
constexpr wchar_t kJoined = L'\x1F';

// Message text from this program's string tables, in language, or in English
// where that language's table lacks it. A table block holds 16 strings, each
// its length and then its characters; one left out has length 0.
Text LoadMessage(UINT message, LANGID language) {
  Text text;
  const HRSRC found = FindResourceExW(nullptr, MAKEINTRESOURCEW(6),  // RT_STRING
                                      MAKEINTRESOURCEW((message / 16) + 1), language);
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

Report::Report(Format format, bool header, bool errors)
    : language_(PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_SPANISH
                    ? MAKELANGID(LANG_SPANISH, SUBLANG_NEUTRAL)
                    : kEnglish),
      output_(GetStdHandle(errors ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE)),
      console_(false),
      codePage_(GetConsoleOutputCP()),
      format_(format),
      header_(header) {
  DWORD mode = 0;
  console_ = GetConsoleMode(output_, &mode) != FALSE;
  CONSOLE_SCREEN_BUFFER_INFO screen;
  // Only the report is laid out: rows of a table or CSV are lines.
  if (console_ && format == Format::kList &&
      GetConsoleScreenBufferInfo(output_, &screen) != FALSE) {
    // The console wraps at its buffer's width, which may be wider than the
    // window: a row broken at the window's width would be broken again.
    width_ = screen.dwSize.X;
  }
  if (codePage_ == 0) {
    codePage_ = GetOEMCP();  // no console at all: the one a console would have
  }
}

Text Report::Message(UINT message, Inserts inserts) const { return Fill(message, inserts, false); }

Text Report::Fill(UINT message, Inserts inserts, bool joined) const {
  // FormatMessage reads as many inserts as the text names: never fewer here.
  Text copies[3] = {Text(L""), Text(L""), Text(L"")};
  DWORD_PTR arguments[3] = {};
  const wchar_t* const* insert = inserts.begin();
  for (int i = 0; i < 3; ++i) {
    if (insert != inserts.end()) {
      copies[i].Append(*insert++);
    }
    arguments[i] =
        reinterpret_cast<DWORD_PTR>((joined ? copies[i].Replace(L' ', kJoined) : copies[i]).Get());
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
  if (format_ != Format::kList) {
    return;
  }
  // Set apart from what came before, if anything did.
  if (started_) {
    Write(L"\r\n");
  }
  WriteLine(Text(), Fill(message, inserts, true).Get(), 0);
}

Raised::~Raised() { report_.Write(*this); }

Raised& Raised::Key(HKEY hive, const char* path) {
  key_ = KeyName(hive, path, true);
  return *this;
}

Raised& Raised::Value(const char* name) {
  value_ = name != nullptr ? Text().Append(name) : Text(L"(Default)");
  return *this;
}

Raised& Raised::Data(const Text& data) {
  data_ = data;
  return *this;
}

Raised& Raised::Fix(UINT message, std::initializer_list<const wchar_t*> inserts) {
  fix_ = report_.Fill(message, inserts, true);
  return *this;
}

Raised Report::Line(Status status, Finding finding, UINT message, Inserts inserts) {
  return {*this, status, finding, Fill(message, inserts, true)};
}

void Report::Section(UINT heading, const wchar_t* launcher) {
  launcher_ = launcher;
  Heading(heading);
}

void Report::Plain(UINT message, Inserts inserts) {
  Write(Fill(message, inserts, false).Append(L"\r\n"));
}

void Report::Summary(int status) {
  if (format_ == Format::kList) {
    Heading(IDS_SUMMARY_0 + status);
    return;
  }
  launcher_ = L"";
  WriteRow(status == 0 ? L"OK" : L"ERROR", Finding::kSummary, Text(), Text(),
           Number(static_cast<DWORD>(status)), Message(IDS_SUMMARY_0 + status));
}

void Report::WriteRow(const wchar_t* status, Finding finding, const Text& key, const Text& value,
                      const Text& data, const Text& text) {
  Text name = Text().Append(FindingName(finding));
  if (format_ == Format::kTable) {
    // Columns as wide as their widest: brannostelwin, WARNING, and the
    // longest identifier.
    const auto cell = [this](const wchar_t* field, size_t width) {
      Text padded(field);
      for (size_t used = wcslen(field); used <= width; ++used) {
        padded.Append(L" ");
      }
      Write(padded.Get());
    };
    if (std::exchange(header_, false)) {
      Write(
          L"Launcher       Status   Finding\r\n"
          L"============== ======== =========================\r\n");
    }
    cell(launcher_, 14);
    cell(status, 8);
    Write(name.Append(L"\r\n"));
    return;
  }
  if (std::exchange(header_, false)) {
    Write(L"\"launcher\",\"status\",\"finding\",\"key\",\"value\",\"data\",\"text\"\r\n");
  }
  for (const wchar_t* field : {launcher_, status, name.Get(), key.Get(), value.Get(), data.Get()}) {
    WriteField(field, false);
  }
  WriteField(text.Get(), true);
}

void Report::WriteField(const wchar_t* text, bool last) {
  Write(L"\"");
  for (const wchar_t* quote = wcschr(text, L'"'); quote != nullptr; quote = wcschr(text, L'"')) {
    Write(text, static_cast<size_t>(quote - text) + 1);
    Write(L"\"");
    text = quote + 1;
  }
  Write(text);
  Write(last ? L"\"\r\n" : L"\",");
}

void Report::Write(const Raised& finding) {
  if (format_ != Format::kList) {
    // The sentence, then its fix as the report gives it.
    Text text = finding.text_;
    if (finding.fix_.Get()[0] != L'\0') {
      text.Append(L" -> ").Append(finding.fix_.Get());
    }
    WriteRow(LoadMessage(static_cast<UINT>(finding.status_), kEnglish).Get(), finding.finding_,
             finding.key_, finding.value_, finding.data_, text.Replace(kJoined, L' '));
    return;
  }
  // The status word in a column of its own, two blanks in.
  Text lead(L"  ");
  lead.Append(LoadMessage(static_cast<UINT>(finding.status_), language_).Get());
  for (size_t width = wcslen(lead.Get()); width < size_t{kTextColumn}; ++width) {
    lead.Append(L" ");
  }
  WriteLine(lead, finding.text_.Get(), kTextColumn);
  if (finding.fix_.Get()[0] != L'\0') {
    WriteLine(Text(L"           -> "), finding.fix_.Get(), kTextColumn + 3);
  }
}

void Report::WriteLine(const Text& lead, const wchar_t* text, int indent) {
  // Once a row's last column is written the console moves on by itself, and
  // a line ended there would leave a blank row: one column is left free.
  const int room = width_ - 1;
  Text row = lead;
  if (room <= indent) {  // redirected: one line, as it stands, for scripts
    Write(row.Append(text).Append(L"\r\n"));
    return;
  }
  int column = static_cast<int>(wcslen(lead.Get()));
  int start = column;  // where the text begins on this row
  while (*text != L'\0') {
    // A word: up to a blank, an insert's own blanks (kJoined) included.
    const int word = static_cast<int>(wcscspn(text, L" "));
    const int blank = column > start ? 1 : 0;
    if (column + blank + word <= room) {
      row.Append(blank != 0 ? L" " : L"").Append(text, static_cast<size_t>(word));
      column += blank + word;
      text += word;
    } else {
      // The word goes on a row of its own, under the text of the first;
      // one wider than that (a long key or path) on rows of its own from
      // the first column, unbroken: the console wraps it without a line
      // break, so that it is copied whole.
      EndRow(row);
      if (room - indent < word) {
        row.Append(text, static_cast<size_t>(word));
        // Where it fills its last row, the console has moved on already.
        Write(row.Append(word % width_ != 0 ? L"\r\n" : L""));
        text += word;
      }
      row = Text();
      for (column = 0; column < indent; ++column) {
        row.Append(L" ");
      }
      start = column;
    }
    while (*text == L' ') {
      ++text;
    }
  }
  EndRow(row);
}

void Report::EndRow(Text& row) {
  if (wcsspn(row.Get(), L" ") < wcslen(row.Get())) {
    Write(row.Append(L"\r\n"));
  }
  row = Text();
}

void Report::Write(Text& text) {
  text.Replace(kJoined, L' ');
  Write(text.Get());
}

void Report::Write(const wchar_t* text, size_t count) {
  started_ = true;
  const int length = static_cast<int>(count == SIZE_MAX ? wcslen(text) : count);
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

namespace {

// The session the process runs in, where Windows can tell. Microsoft
// documents the call from Vista on, though XP has it.
DWORD Session() {
  const auto processIdToSessionId =
      Kernel32Function<BOOL(WINAPI*)(DWORD, DWORD*)>("ProcessIdToSessionId");
  DWORD session = kNoSession;
  if (processIdToSessionId == nullptr ||
      processIdToSessionId(GetCurrentProcessId(), &session) == FALSE) {
    return kNoSession;
  }
  return session;
}

}  // namespace

void Report::WaitIfSomeoneAnswers(int status, bool serviceAccount, bool librariesSafe) {
  // Only a console made for this process alone, that reads the keyboard, can
  // be answered by a person; one started from a prompt is the prompt's.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  DWORD processes[2];
  ConsoleFacts facts = {};
  facts.ownConsole =
      console_ && GetConsoleMode(input, &mode) != FALSE && GetConsoleProcessList(processes, 2) == 1;
  facts.session = Session();
  facts.windowsMajor = LOBYTE(LOWORD(GetVersion()));
  facts.serviceAccount = serviceAccount;
  // user32 is loaded only now, not imported, and only where it could be
  // asked something: where it cannot be loaded or initialised (a service's
  // desktop heap used up), the check has still run, and no one could answer
  // it either. Where a DLL could come from the check's folder it is not
  // loaded at all: on XP its start loads lpk.dll by name, from the
  // program's folder first.
  DWORD error = ERROR_SUCCESS;
  const LoadedLibrary user32 = librariesSafe && facts.ownConsole
                                   ? LoadedLibrary::FromSystem(SystemPath("user32.dll"), 0, error)
                                   : LoadedLibrary();
  const auto isWindowVisible = user32.Find<decltype(&IsWindowVisible)>("IsWindowVisible");
  const auto processWindowStation =
      user32.Find<decltype(&GetProcessWindowStation)>("GetProcessWindowStation");
  const auto userObjectInformation =
      user32.Find<decltype(&GetUserObjectInformationW)>("GetUserObjectInformationW");
  facts.user32 = isWindowVisible != nullptr && processWindowStation != nullptr &&
                 userObjectInformation != nullptr;
  if (facts.user32) {
    const HWND window = GetConsoleWindow();
    facts.windowShows = window != nullptr && isWindowVisible(window) != FALSE;
    USEROBJECTFLAGS flags = {};
    facts.stationVisible = userObjectInformation(processWindowStation(), UOI_FLAGS, &flags,
                                                 sizeof flags, nullptr) != FALSE &&
                           (flags.dwFlags & WSF_VISIBLE) != 0;
  }
  if (!WaitsForEnter(facts)) {
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
