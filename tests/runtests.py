"""Runs one unittest target as one CTest test. With --needs ARCH (repeatable),
the target runs programs of that architecture under Wine: where this machine
cannot, or BRANNOSTEL_TEST_ARCHS leaves it out, it prints why and exits 77,
which CTest reports as skipped; where only the x86 test guest can, the whole
run happens there. With --prefix, it runs in this tree's Wine prefix, made
ready first (quick where the prefix fixture has done so).

Usage: runtests.py [--needs ARCH]... [--prefix] MODULE[.CLASS]
"""
import sys
import unittest

import archs
import wine

if __name__ == "__main__":
    args, places = sys.argv[1:], set()
    while args[0] == "--needs":
        places.add(archs.skip_unless_runnable(args[1]))
        args = args[2:]
    if "guest" in places:
        sys.exit(archs.run_in_guest(sys.argv))
    if args[0] == "--prefix":
        wine.ensure_prefix()
        args = args[1:]
    unittest.main(module=None, argv=[sys.argv[0], "-v", *args])
