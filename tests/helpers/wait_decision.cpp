// Test-only helper: the check's decision to wait for Enter (WaitsForEnter in
// check/report.h) for start-ups that Wine cannot stage: a service's window
// station, session 0, a service account, user32 that cannot be loaded. Each
// argument is one start-up's facts, seven numbers: own console, window
// shows, window station visible, session ("-": Windows cannot tell),
// Windows' major version, service account, user32 loaded. Prints "wait" or
// "end" for each, a line apiece.
#include <cstdio>
#include <cstdlib>

#include "report.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    unsigned own = 0, window = 0, station = 0, major = 0, service = 0, user32 = 0;
    char session[16] = "";
    if (std::sscanf(argv[i], "%u,%u,%u,%15[^,],%u,%u,%u", &own, &window, &station, session, &major,
                    &service, &user32) != 7) {
      return 2;
    }
    const ConsoleFacts facts = {
        own != 0,     window != 0,
        station != 0, session[0] == '-' ? kNoSession : std::strtoul(session, nullptr, 10),
        major,        service != 0,
        user32 != 0};
    std::puts(WaitsForEnter(facts) ? "wait" : "end");
  }
  return 0;
}
