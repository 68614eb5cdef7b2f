// Test-only program on the launchers' frame, built as they are and never
// shipped: their stack cookie and control-flow guard at work, the guard with
// a strict check of the test's own (guard_strict.c), as Wine enforces none.
// It logs to the file ATTACKS_LOG names when its application object is
// constructed, when Finish runs and when the object is destroyed, and in
// Launch what ATTACKS_DO says it does:
//   (unset)      log the stack cookie's value
//   overrun      write past a stack buffer
//   call-start   call a function through a pointer, and log its answer
//   call-inside  the same, with the pointer one byte into the function
#include <windows.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "../standins/standin.h"
#include "winapp.h"

// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" uintptr_t __stack_chk_guard;

namespace {

// Writes count bytes into a 16-byte buffer: the count comes from the
// environment, so the compiler cannot see the overrun coming.
[[gnu::noinline]] char Fill(size_t count) {
  char buffer[16];
  std::memset(buffer, 'x', count);
  return buffer[count % sizeof buffer];
}

[[gnu::noinline]] int Answer() { return 42; }

// An indirect call to Answer, or to offset bytes into it: the guard checks
// the target first.
[[gnu::noinline]] int CallAnswer(uintptr_t offset) {
  using Function = int (*)();
  const volatile uintptr_t target = reinterpret_cast<uintptr_t>(&Answer) + offset;
  return reinterpret_cast<Function>(target)();
}

bool Does(const char* what) {
  char text[16];
  const DWORD n = GetEnvironmentVariableA("ATTACKS_DO", text, sizeof text);
  return n > 0 && n < sizeof text && std::strcmp(text, what) == 0;
}

}  // namespace

class CAttacksApp final : public CWinApp {
 public:
  CAttacksApp() : CWinApp(nullptr) { AppendLine("ATTACKS_LOG", "construct"); }
  ~CAttacksApp() override { AppendLine("ATTACKS_LOG", "destroy"); }
  CAttacksApp(const CAttacksApp&) = delete;
  CAttacksApp& operator=(const CAttacksApp&) = delete;

  int Finish() override {
    AppendLine("ATTACKS_LOG", "finish");
    return CWinApp::Finish();
  }
  bool Launch() override {
    char line[64];
    if (Does("call-start") || Does("call-inside")) {
      std::snprintf(line, sizeof line, "call answer=%d", CallAnswer(Does("call-inside") ? 1 : 0));
    } else {
      std::snprintf(line, sizeof line, "run guard=%" PRIxPTR " filled=%d", __stack_chk_guard,
                    Fill(Does("overrun") ? 96 : 16));
    }
    AppendLine("ATTACKS_LOG", line);
    return false;
  }
};

CAttacksApp theApp;
