#pragma once

#include <cstddef>

// The frame's application class. Each program derives exactly one class from
// it and defines one global instance; the frame's entry finds that instance
// through the record the constructor makes, never by name.
class CWinApp {
 public:
  // The name is part of the frame's interface; neither program gives one,
  // and nothing reads it.
  explicit CWinApp(const char* appName);
  virtual ~CWinApp();

  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  // The one application object is static, never made with new, so the
  // deleting destructor that a virtual destructor brings never runs. It
  // names the class's own operator delete, which has nothing to free, not
  // the C++ library's, which would bring that library along.
  static void* operator new(std::size_t) = delete;
  static void operator delete(void* /*object*/) {}

  // The program's whole work, called once on the main thread. The answer is
  // whether to keep running in a message loop; no launcher asks for one, so
  // the entry has none and goes on to Finish whatever the answer.
  virtual bool Launch();
  // Called once after Launch; the result is the process exit status.
  virtual int Finish();
};
