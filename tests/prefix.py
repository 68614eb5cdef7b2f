"""CTest fixture: `prefix.py setup` makes the test prefix ready, `prefix.py
cleanup` stops its wineserver so that nothing outlives the test run. Both
are skipped (77) where this architecture's Wine cannot run."""
import sys

import archs
import rig

if __name__ == "__main__":
    archs.skip_unless_runnable(rig.ARCH)
    if sys.argv[1] == "setup":
        rig.ensure_prefix()
    else:
        rig.stop()
