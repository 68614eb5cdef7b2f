"""CTest's way into the rig, one test each:
  run.py [--needs ARCH]... [--prefix] MODULE[.CLASS]   a unittest target that runs
        programs of those architectures, in the prefix rig.PREFIX_NAME if asked
  run.py [--needs ARCH]... --prefix setup|cleanup      the prefix's fixture
  run.py guest start|stop                              one x86 guest for the run
It runs where the architectures it needs run (rig.places), as a whole in the
guest if need be, ending at the test's time limit (BRANNOSTEL_TIMEOUT) less a
margin; where they cannot run at all it says why and exits 77 (skipped)."""
import os
import sys
import unittest

import rig
from rig import places, wine

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
        unittest.main(module=None, argv=[sys.argv[0], "-v", *args])
