#pragma once

// The frame's application class. Each program derives exactly one class from
// it and defines one global instance; the frame's entry finds that instance
// through the record the constructor makes, never by name.
class CWinApp {
 public:
  explicit CWinApp(const char* appName);
  virtual ~CWinApp();

  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The program's whole work, called once on the main thread. Returns whether
  // the program wants to keep running; no launcher does.
  virtual bool Launch();
  // Called once after Launch; the result is the process exit status.
  virtual int Finish();

  const char* AppName() const { return appName_; }

 private:
  const char* const appName_;
};

// The application object of this process, or null before it is constructed
// and after it is destroyed.
CWinApp* CurrentApp();
