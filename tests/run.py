"""CTest's way into the rig: every test is one of these.

  run.py [--needs ARCH]... [--prefix] MODULE[.CLASS]
      One unittest target. --needs: it runs programs of that architecture;
      --prefix: in the Wine prefix rig.PREFIX_NAME, made ready first.
  run.py [--needs ARCH]... --prefix setup | cleanup
      Makes the prefix ready / ends its wineserver, so nothing outlives the run.
  run.py guest start | stop
      Keeps one x86 test guest up for the whole CTest run, where one is used.

Each runs where the architectures it needs run (rig.places): here, or as a
whole in the x86 test guest; where they cannot run at all it says why and
exits 77, which CTest shows as skipped. A run in the guest ends at the
test's time limit (BRANNOSTEL_TIMEOUT), before CTest would kill it.
"""
import os
import sys
import unittest

import rig
from rig import places, wine

if __name__ == "__main__":
    args, needs, guest = sys.argv[1:], set(), places.guest
    if args[0] == "guest":
        try:
            if places.where({"x86"})[0] == "guest":
                serves = guest.ident(os.getppid())  # CTest
                {"start": guest.up, "stop": guest.stop}[args[1]](serves)
        except guest.GuestError as error:
            sys.exit(f"guest: {error}")
        sys.exit(0)
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
