"""CTest's way into the rig, one test each:
  run.py [--needs ARCH]... [--prefix] MODULE[.CLASS]   a unittest target that runs
        programs of those architectures, in the prefix rig.PREFIX_NAME if asked
  run.py [--needs ARCH]... --prefix setup|cleanup      the prefix's fixture
  run.py guest start|stop                              one x86 guest for the run
It runs where the architectures it needs run (rig.places), as a whole in the
guest if need be, ending at the test's time limit (BRANNOSTEL_TIMEOUT) less a
margin; where they cannot run at all it says why and exits 77 (skipped).
Each failure shows what the programs run under Wine since its test or
subtest began said, and how they ended (rig.wine.said)."""
import os
import sys
import unittest

import rig
from rig import places, wine

class Result(unittest.TextTestResult):
    def startTest(self, test):
        wine.mark()
        super().startTest(test)

    def addFailure(self, test, err):
        super().addFailure(test, noted(err))

    def addError(self, test, err):
        super().addError(test, noted(err))

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err and noted(err))


def noted(err):
    if said := wine.said():
        err[1].add_note(f"What the programs run under Wine said:\n{said}")
    return err


def subtest(self, *args, original=unittest.TestCase.subTest, **params):
    wine.mark()
    return original(self, *args, **params)


if __name__ == "__main__":
    args, needs, guest = sys.argv[1:], set(), places.guest
    if args[0] == "guest":  # for CTest, this process's parent
        sys.exit(guest.main(args[1:]) if places.where({"x86"})[0] == "guest" else 0)
    while args[0] == "--needs":
        needs.add(args[1])
        args = args[2:]
    in_prefix = args[0] == "--prefix"
    if in_prefix:
        needs |= {rig.ARCH, rig.PREFIX_ARCH}
        args = args[1:]
    if args == ["cleanup"] and places.where(needs)[0] == "guest" and not guest.is_up():
        sys.exit(0)  # a guest that is down took its prefixes with it
    timeout = int(os.environ.get("BRANNOSTEL_TIMEOUT", "3600")) - 20
    if why := places.enter(needs, sys.argv, timeout):
        print(f"skipped: {why}")
        sys.exit(77)
    if in_prefix and args == ["cleanup"]:
        wine.stop()
    elif in_prefix:
        wine.ensure_prefix()
    if args[0] not in ("setup", "cleanup"):
        unittest.TestCase.subTest = subtest
        unittest.main(module=None, argv=[sys.argv[0], *args],
                      testRunner=unittest.TextTestRunner(resultclass=Result, verbosity=2))
