#pragma once

#include <windows.h>

#include <initializer_list>

#include "messages.h"

// A line's worth of text, wide. What does not fit is left off: a report line
// names at most a few keys and paths, each shorter than the room here.
class Text {
 public:
  Text() = default;
  explicit Text(const wchar_t* text) { Append(text); }
  // Text of the system's ANSI code page, as the registry gave it.
  Text& Append(const char* ansi);
  Text& Append(const wchar_t* text);
  [[nodiscard]] const wchar_t* Get() const { return text_; }

 private:
  wchar_t text_[1024] = {};
  int length_ = 0;
};

// "HKEY_LOCAL_MACHINE\path" or "HKEY_CURRENT_USER\path".
[[nodiscard]] Text KeyName(HKEY hive, const char* path);
[[nodiscard]] Text Number(DWORD number);

enum class Status : UINT {
  kOk = IDS_OK,
  kError = IDS_ERROR,
  kWarning = IDS_WARNING,
  kNote = IDS_NOTE
};

// The check's output: one line per finding in the user's language (Spanish
// where the user's interface is Spanish, English otherwise), written as the
// system's own console tools write it: wide characters to a console, and the
// console's code page when redirected.
class Report {
 public:
  using Inserts = std::initializer_list<const wchar_t*>;

  Report();
  // A text of the user's language, to be filled into another.
  [[nodiscard]] Text Message(UINT message, Inserts inserts = {}) const;
  // A line of its own, such as a heading.
  void Heading(UINT message, Inserts inserts = {});
  // A finding: a status word, then what was found and where.
  void Line(Status status, UINT message, Inserts inserts = {});
  // After a problem: what to put where.
  void Fix(UINT message, Inserts inserts = {});
  // Started on a console of its own that a person sees (from the Start menu,
  // by double-click), the window would close with the last line: there, wait
  // for Enter. Anywhere else, or on Ctrl+C or the window's closing, the
  // program ends with status.
  void WaitIfOwnConsole(int status);

 private:
  void Write(const wchar_t* text);

  LANGID language_;
  HANDLE output_;
  bool console_;
  UINT codePage_;
  bool started_ = false;
};
