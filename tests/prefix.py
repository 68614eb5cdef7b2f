"""CTest fixture: `prefix.py setup` makes the test prefix ready, `prefix.py
cleanup` stops its wineserver so that nothing outlives the test run. Both
are skipped (77) where this architecture's Wine cannot run, and happen in
the x86 test guest where only it can."""
import sys

import archs
import guest
import rig
import wine

if __name__ == "__main__":
    if archs.skip_unless_runnable(rig.ARCH) == "guest":
        # A guest that is down took its prefixes with it: nothing to clean.
        if sys.argv[1] == "cleanup" and not guest.running():
            sys.exit(0)
        sys.exit(archs.run_in_guest(sys.argv))
    if sys.argv[1] == "setup":
        wine.ensure_prefix()
    else:
        wine.stop()
