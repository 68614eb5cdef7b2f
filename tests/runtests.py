"""Runs one unittest target as one CTest test. With --needs ARCH (repeatable),
the target runs programs of that architecture under Wine: where this machine
cannot, or BRANNOSTEL_TEST_ARCHS leaves it out, it prints why and exits 77,
which CTest reports as skipped.

Usage: runtests.py [--needs ARCH]... MODULE[.CLASS]
"""
import sys
import unittest

import archs

if __name__ == "__main__":
    args = sys.argv[1:]
    while args[0] == "--needs":
        archs.skip_unless_runnable(args[1])
        args = args[2:]
    unittest.main(module=None, argv=[sys.argv[0], "-v", *args])
