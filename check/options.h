#pragma once

#include <cstdint>

// The check's command line, as Windows' own console tools take theirs
// (tasklist, systeminfo, driverquery): /fo list|table|csv, /nh, /?, with /
// or -, in any case; an option's value follows it.

// How the findings are written: the report, a line per finding (list); a
// table of launcher, status and finding; comma-separated values, every
// field quoted, for PowerShell's ConvertFrom-Csv and for spreadsheets.
enum class Format : std::uint8_t { kList, kTable, kCsv };

struct Options {
  Format format = Format::kList;
  bool header = true;  // the column headers, in a table or CSV
  bool usage = false;  // /?: the usage, and nothing else
  // The first argument not understood, [bad, bad + badLength); null where
  // every one is.
  const wchar_t* bad = nullptr;
  int badLength = 0;
};

namespace options {

constexpr bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Whether [text, text + length) is name, without regard to the case of
// its ASCII letters.
constexpr bool Is(const wchar_t* text, int length, const char* name) {
  int i = 0;
  for (; i < length && name[i] != '\0'; ++i) {
    const wchar_t c = text[i] >= L'A' && text[i] <= L'Z' ? text[i] - L'A' + L'a' : text[i];
    if (c != static_cast<wchar_t>(name[i])) {
      return false;
    }
  }
  return i == length && name[i] == '\0';
}

// The argument at text, after any blanks: where it starts and its length,
// without the quotes of a quoted one; text moves past it.
struct Argument {
  const wchar_t* start = nullptr;
  int length = 0;
};
constexpr Argument Next(const wchar_t*& text) {
  while (IsBlank(*text)) {
    ++text;
  }
  const bool quoted = *text == L'"';
  Argument argument{text + (quoted ? 1 : 0), 0};
  const wchar_t* end = argument.start;
  while (*end != L'\0' && (quoted ? *end != L'"' : !IsBlank(*end))) {
    ++end;
  }
  argument.length = static_cast<int>(end - argument.start);
  text = *end == L'"' ? end + 1 : end;
  return argument;
}

}  // namespace options

// The options of a whole command line, as GetCommandLineW gives it: the
// program's name first, which is skipped. Every argument must be one of
// the options, each given once; /fo takes a value; /nh goes with a table
// or CSV only.
[[nodiscard]] constexpr Options ParseCommandLine(const wchar_t* commandLine) {
  Options parsed;
  const wchar_t* text = commandLine;
  options::Next(text);  // the program
  bool formatGiven = false;
  bool headerGiven = false;
  for (;;) {
    while (options::IsBlank(*text)) {
      ++text;
    }
    if (*text == L'\0') {
      break;
    }
    const options::Argument argument = options::Next(text);
    const wchar_t* const name = argument.start + 1;
    const int length = argument.length - 1;
    const bool option = *argument.start == L'/' || *argument.start == L'-';
    if (option && options::Is(name, length, "?")) {
      parsed.usage = true;
      continue;
    }
    if (option && options::Is(name, length, "nh") && !headerGiven) {
      headerGiven = true;
      parsed.header = false;
      continue;
    }
    const options::Argument value = option && options::Is(name, length, "fo") && !formatGiven
                                        ? options::Next(text)
                                        : options::Argument{};
    const auto is = [&value](const char* format) {
      return options::Is(value.start, value.length, format);
    };
    if (value.length == 0 || !(is("list") || is("table") || is("csv"))) {
      // The value where there is one to name, else the argument itself.
      parsed.bad = value.length > 0 ? value.start : argument.start;
      parsed.badLength = value.length > 0 ? value.length : argument.length;
      return parsed;
    }
    formatGiven = true;
    parsed.format = is("csv") ? Format::kCsv : is("table") ? Format::kTable : Format::kList;
  }
  if (!parsed.header && parsed.format == Format::kList) {
    // As Windows' tools: no header to leave out of the report.
    parsed.bad = L"/nh";
    parsed.badLength = 3;
  }
  return parsed;
}

// Command lines a user or a fleet tool may type, and what each gives: the
// format, the header, the usage, or the argument not understood.
namespace options {
constexpr bool Gives(const wchar_t* commandLine, Format format, bool header, bool usage) {
  const Options parsed = ParseCommandLine(commandLine);
  return parsed.bad == nullptr && parsed.format == format && parsed.header == header &&
         parsed.usage == usage;
}
constexpr bool Refuses(const wchar_t* commandLine, const wchar_t* bad) {
  const Options parsed = ParseCommandLine(commandLine);
  int i = 0;
  while (parsed.bad != nullptr && i < parsed.badLength && parsed.bad[i] == bad[i]) {
    ++i;
  }
  return parsed.bad != nullptr && i == parsed.badLength && bad[i] == L'\0';
}
static_assert(Gives(L"brannostelcheck.exe", Format::kList, true, false), "no option: the report");
static_assert(Gives(L"\"C:\\Program Files\\b\\brannostelcheck.exe\"  ", Format::kList, true, false),
              "a quoted program name with blanks after it");
static_assert(Gives(L"c /fo list", Format::kList, true, false), "the report");
static_assert(Gives(L"c /fo csv", Format::kCsv, true, false), "CSV");
static_assert(Gives(L"c -FO CSV /NH", Format::kCsv, false, false), "CSV, no header, any case");
static_assert(Gives(L"c /nh /fo \"table\"", Format::kTable, false, false), "a quoted value");
static_assert(Gives(L"c /?", Format::kList, true, true), "the usage");
static_assert(Gives(L"c -? /fo csv", Format::kCsv, true, true), "the usage, whatever else");
static_assert(Refuses(L"c /s", L"/s"), "an option it has not");
static_assert(Refuses(L"c csv", L"csv"), "no option at all");
static_assert(Refuses(L"c /fo", L"/fo"), "no format");
static_assert(Refuses(L"c /fo xml /nh", L"xml"), "a format it has not");
static_assert(Refuses(L"c /fo csv /fo list", L"/fo"), "two formats");
static_assert(Refuses(L"c /nh", L"/nh"), "no header to leave out of the report");
static_assert(Refuses(L"c /fo csv /nh -nh", L"-nh"), "twice");
static_assert(Refuses(L"c /f", L"/f"), "part of an option");
static_assert(Refuses(L"c /fox csv", L"/fox"), "more than an option");
static_assert(Refuses(L"c \"\" /fo csv", L""), "an empty argument");
}  // namespace options
