#pragma once

#include "report.h"

// Each launcher's needs, reported as findings: true where it has them all.

// brannostelwin's: the Connection Manager and its profile, as its own
// registry lookups find them.
[[nodiscard]] bool CheckConnectionManagerLauncher(Report& report);
// brannostelxp's: the dial dialog library and the phonebook entry. The
// entry is looked up only where librariesSafe (LibrariesSafe).
[[nodiscard]] bool CheckDialDialogLauncher(Report& report, bool librariesSafe);
