#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>

#include "findings.h"
#include "messages.h"
#include "options.h"

// A line's worth of text, wide. What does not fit is left off: a report line
// names at most a few keys and paths, each shorter than the room here.
class Text {
 public:
  Text() = default;
  explicit Text(const wchar_t* text) { Append(text); }
  // Text of the system's ANSI code page, as the registry gave it.
  Text& Append(const char* ansi);
  // At most count characters of text.
  Text& Append(const wchar_t* text, size_t count = SIZE_MAX);
  Text& Replace(wchar_t from, wchar_t to);
  [[nodiscard]] const wchar_t* Get() const { return text_; }

 private:
  wchar_t text_[1024] = {};
  int length_ = 0;
};

// "HKLM\path" or "HKCU\path", the short form that regedit's address bar
// and reg both take: the longest key the launcher reads fits one 80-column
// row. full: "HKEY_LOCAL_MACHINE\path" or "HKEY_CURRENT_USER\path".
[[nodiscard]] Text KeyName(HKEY hive, const char* path, bool full = false);
[[nodiscard]] Text Number(DWORD number);

enum class Status : std::uint8_t {
  kOk = IDS_OK,
  kError = IDS_ERROR,
  kWarning = IDS_WARNING,
  kNote = IDS_NOTE
};

// What tells whether a person sees the check's console and can answer it.
struct ConsoleFacts {
  bool ownConsole;      // output and input are a console no other process shares
  bool windowShows;     // that console's window has the visible style
  bool stationVisible;  // its window station is one a person sees (WSF_VISIBLE)
  DWORD session;        // the process's session, or kNoSession where Windows cannot tell
  DWORD windowsMajor;   // from 6 (Vista) on, session 0 is the services' alone
  bool serviceAccount;  // LocalSystem, LocalService or NetworkService
  // user32.dll loaded and initialised: without it, no window either. It is
  // loaded only where no DLL can come from the check's folder
  // (LibrariesSafe): its own start loads others by name.
  bool user32;
};
inline constexpr DWORD kNoSession = 0xFFFFFFFF;

// Whether to wait for Enter before the console closes: only where a person
// sees the console and can answer. A service, a scheduled task that runs
// whether or not a user is signed in, or a remote tool running as SYSTEM is
// given a console on a window station no one sees, whose window still has
// the visible style; waiting there would never end.
[[nodiscard]] constexpr bool WaitsForEnter(const ConsoleFacts& facts) {
  const bool servicesSession = facts.session == 0 && facts.windowsMajor >= 6;
  return facts.user32 && facts.ownConsole && facts.windowShows && facts.stationVisible &&
         !servicesSession && !facts.serviceAccount;
}

// The start-ups no test can stage under Wine, as the facts the check reads
// of them: own console, window shows, window station visible, session,
// Windows' major version, service account, user32. Each fact has a row that
// only it decides.
static_assert(WaitsForEnter({true, true, true, 1, 10, false, true}), "double-clicked on 10");
static_assert(WaitsForEnter({true, true, true, 0, 5, false, true}), "double-clicked on XP");
static_assert(WaitsForEnter({true, true, true, kNoSession, 5, false, true}), "session unknown");
static_assert(!WaitsForEnter({false, true, true, 1, 10, false, true}), "from a prompt");
static_assert(!WaitsForEnter({true, false, true, 1, 10, false, true}), "a hidden console");
// The Task Scheduler's "whether the user is logged on or not": a window
// station of its own, which no one sees; on XP too, where the signed-in user
// has session 0.
static_assert(!WaitsForEnter({true, true, false, 0, 10, false, true}), "a scheduled task");
static_assert(!WaitsForEnter({true, true, false, 0, 5, false, true}), "a scheduled task on XP");
static_assert(!WaitsForEnter({true, true, false, 0, 10, true, true}), "a LocalSystem service");
static_assert(!WaitsForEnter({true, true, true, 0, 10, false, true}), "session 0's station");
// A remote tool's, or XP's service allowed to interact with the desktop: a
// visible window station, but a service account's.
static_assert(!WaitsForEnter({true, true, true, 0, 10, true, true}), "a remote tool as SYSTEM");
static_assert(!WaitsForEnter({true, true, true, 0, 5, true, true}), "an interactive XP service");
static_assert(!WaitsForEnter({true, true, true, 1, 10, false, false}), "user32 cannot be loaded");
static_assert(!WaitsForEnter({true, true, true, 1, 5, false, false}), "XP SP3, a DLL beside it");
// A pseudo console is the program's own, its window a pseudo-window that
// Windows Terminal 1.15 and later shows while its tab does (and its tab
// closes at any exit status from 1.16 on); a headless host never shows it.
static_assert(WaitsForEnter({true, true, true, 1, 10, false, true}), "Windows Terminal 1.15+");
static_assert(!WaitsForEnter({true, false, true, 1, 10, false, true}), "a headless pseudo console");

class Report;

// One finding, as it is raised: its kind, its status, its text in the
// user's language and, where it names them, the key, value and data or file
// it is about (Key, Value, Data) and the fix (Fix). It is written when the
// statement that raised it ends, with all of that.
class Raised {
 public:
  Raised(Report& report, Status status, Finding finding, Text text)
      : report_(report), status_(status), finding_(finding), text_(text) {}
  Raised(const Raised&) = delete;
  Raised(Raised&&) = delete;
  Raised& operator=(const Raised&) = delete;
  Raised& operator=(Raised&&) = delete;
  ~Raised();

  Raised& Key(HKEY hive, const char* path);
  Raised& Value(const char* name);
  Raised& Data(const Text& data);
  // What to put where, in the user's language.
  Raised& Fix(UINT message, std::initializer_list<const wchar_t*> inserts = {});

 private:
  friend class Report;
  Report& report_;
  Status status_;
  Finding finding_;
  Text text_;
  Text key_;
  Text value_;
  Text data_;
  Text fix_;
};

// The check's output: one line per finding in the user's language (Spanish
// where the user's interface is Spanish, English otherwise), written as the
// system's own console tools write it: wide characters to a console, broken
// between words to fit its width, and the console's code page, a line per
// finding, when redirected. In a table or CSV (format), a row per finding,
// its status and identifier in English whatever the language, and a last
// row for the summary. To the standard output, or to the standard error
// where errors.
class Report {
 public:
  using Inserts = std::initializer_list<const wchar_t*>;

  explicit Report(Format format = Format::kList, bool header = true, bool errors = false);
  // A text of the user's language, to be filled into another.
  [[nodiscard]] Text Message(UINT message, Inserts inserts = {}) const;
  // A line of its own, such as the title; the report's only.
  void Heading(UINT message, Inserts inserts = {});
  // A text as it stands, its line breaks its own, whatever the format.
  void Plain(UINT message, Inserts inserts = {});
  // The findings about one launcher, under its heading, from here on.
  void Section(UINT heading, const wchar_t* launcher);
  // A finding: a status word, then what was found and where.
  Raised Line(Status status, Finding finding, UINT message, Inserts inserts = {});
  // The last line: which launchers lack what, and the exit status.
  void Summary(int status);
  // Where a person sees the console and can answer (WaitsForEnter), the
  // window would close with the last line: there, wait for Enter. Anywhere
  // else, or on Ctrl+C or the window's closing, the program ends with status.
  // user32, which tells whether the window shows, is loaded only where
  // librariesSafe (LibrariesSafe).
  void WaitIfSomeoneAnswers(int status, bool serviceAccount, bool librariesSafe);

 private:
  friend class Raised;
  void Write(const Raised& finding);
  // A row of the table or of the CSV, after the header the first time.
  void WriteRow(const wchar_t* status, Finding finding, const Text& key, const Text& value,
                const Text& data, const Text& text);
  // A CSV field: in quotes, each of its own doubled.
  void WriteField(const wchar_t* text, bool last);
  // text after lead, broken to the console's width where there is one, each
  // row after the first indented by indent.
  void WriteLine(const Text& lead, const wchar_t* text, int indent);
  // Writes the row where it holds more than blanks, and empties it.
  void EndRow(Text& row);
  // text in the user's language with inserts filled in; joined: each
  // insert's blanks held together while the line is laid out.
  [[nodiscard]] Text Fill(UINT message, Inserts inserts, bool joined) const;
  void Write(Text& text);
  void Write(const wchar_t* text, size_t length = SIZE_MAX);

  LANGID language_;
  HANDLE output_;
  bool console_;
  int width_ = 0;  // the console buffer's columns; 0 where the output is no console
  UINT codePage_;
  bool started_ = false;
  Format format_;
  bool header_;                    // a header row still to be written
  const wchar_t* launcher_ = L"";  // whose findings these are: none for the check's own
};
