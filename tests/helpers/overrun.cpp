// Test-only program on the launchers' frame, built with their flags and
// never shipped: their stack cookie at work. With OVERRUN_STANDIN_OVERRUN
// set, it writes past a stack buffer; otherwise it logs the guard's value to
// the file named by OVERRUN_STANDIN_LOG.
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

}  // namespace

class COverrunApp final : public CWinApp {
 public:
  COverrunApp() : CWinApp(nullptr) {}
  bool Launch() override {
    char line[64];
    std::snprintf(line, sizeof line, "run guard=%" PRIxPTR " filled=%d", __stack_chk_guard,
                  Fill(EnvNumber("OVERRUN_STANDIN_OVERRUN") != 0 ? 96 : 16));
    AppendLine("OVERRUN_STANDIN_LOG", line);
    return false;
  }
};

COverrunApp theApp;
