"""CTest fixture: `prefix.py setup` makes the test prefix ready, `prefix.py
cleanup` stops its wineserver so that nothing outlives the test run."""
import sys

import rig

if __name__ == "__main__":
    if sys.argv[1] == "setup":
        rig.ensure_prefix()
    else:
        rig.stop()
