"""install-deps.sh against a package mirror as it may be found: healthy, or
in the middle of a sync (one index of the wrong size), with the install then
working, working only from the release's own suite, or failing; and after
an install that was cut off, which left a package half-done. apt-get, dpkg
and dpkg-query are stand-ins (tests/helpers/apt-standin.sh): nothing is
installed."""
import os
import subprocess
import unittest

import rig
from rig import places

MIRROR_SYNC = ("apt-get update could not fetch the index bookworm-security/main/binary-i386; "
               "trying again in 30 s (1 of 3, a minute at most)")
UPDATES = ["apt-get -o Acquire::Retries=3 update -qq"]
RETRIED = (UPDATES + ["sleep 30"]) * 2 + UPDATES
INSTALL = "apt-get install -y -qq cmake"
SUITE = f"apt-get install -y -qq -t {rig.SUITE} cmake"

CUT_OFF = "Finishing an install that was cut off (dpkg --configure -a)"
CONFIGURE_ERROR = "dpkg: error processing package cmake (--configure): dependency problems"
UNFINISHED = "a package half-configured that dpkg cannot finish"  # dpkg says CONFIGURE_ERROR
GUEST = ["apt-get install -y -qq qemu-system-x86 debootstrap"]
NOT_ROOT = ["Missing: cmake", "Installing needs root. Run this script as root, or run:",
            "  sudo dpkg --add-architecture i386", "  sudo apt-get update && sudo apt-get install cmake"]
# Whether this machine runs 32-bit Wine, asked as install-deps.sh asks.
RUNS_32_BIT = subprocess.run(["sh", "-c", f"{places.LOADERS['x86']} --version"],
                             capture_output=True).returncode == 0


CASES = [
    # (case, update, install, dpkg's state of cmake, one per architecture
    # (None: unknown), dpkg --audit, exit status, lines shown, apt and dpkg
    # calls that change something, in order, and where given, the machine:
    # the stand-ins' and the script's environment; by default root, with
    # i386 added and the guest's packages installed)
    ("healthy mirror", "ok", "ok", None, "", 0, ["Installing: cmake"], UPDATES + [INSTALL]),
    ("mid-sync, the install works", "fail", "ok", None, "", 0,
     [MIRROR_SYNC, "apt-get update still cannot fetch the index "
      "bookworm-security/main/binary-i386; installing without it", "Installing: cmake"],
     RETRIED + [INSTALL]),
    ("mid-sync, only the release's suite installs", "fail", "suite-only", None, "", 0,
     [f"Installing them from {rig.SUITE} alone, as the index bookworm-security/main/binary-i386 "
      "is missing"], RETRIED + [INSTALL, SUITE]),
    ("mid-sync, the install fails", "fail", "fail", None, "", 1,
     ["Could not install cmake: the index bookworm-security/main/binary-i386 did not download; "
      "the mirror is probably in the middle of a sync.",
      "Nothing is left half-done: run ./install-deps.sh again later (./build.sh and ./test.sh run "
      "it too)."], RETRIED + [INSTALL, SUITE]),
    ("healthy mirror, the install fails", "ok", "fail", None, "", 1,
     ["Could not install cmake: E: Unable to correct problems, you have held broken packages."],
     UPDATES + [INSTALL]),
    # A later update fetched every index: a failure is apt's own, not the mirror's.
    ("mid-sync, then a whole update, the install fails", "fail-once", "fail", None, "", 1,
     [MIRROR_SYNC, "Could not install cmake: E: Unable to correct problems, you have held broken "
      "packages."], UPDATES + ["sleep 30"] + UPDATES + [INSTALL]),
    # The x86 tests' guest: its packages where 32-bit Wine cannot run, not where it runs.
    ("no 32-bit programs here", "ok", "ok", "ii", "", 0, ["Installing: qemu-system-x86 debootstrap"],
     UPDATES + GUEST, {"BRANNOSTEL_NO32": "1", "STANDIN_MISSING": "qemu-system-x86 debootstrap"}),
    ("32-bit programs as this machine runs them", "ok", "ok", "ii", "", 0, [],
     [] if RUNS_32_BIT else UPDATES + GUEST,
     {"BRANNOSTEL_NO32": "", "STANDIN_MISSING": "qemu-system-x86 debootstrap"}),
    # Not root, without the i386 architecture: how to add it comes first.
    ("not root, no i386", "ok", "ok", None, "", 1, NOT_ROOT, [],
     {"STANDIN_UID": "1000", "STANDIN_FOREIGN": ""}),
    # dpkg knows a package it has not installed: only the status "installed"
    # counts, not one that merely ends in it. What dpkg --audit reports is
    # finished first, and installed again if it still is not.
    ("a package half-configured", "ok", "ok", "iF", "The following packages are only half "
     "configured", 0, [CUT_OFF, "Installing: cmake"], ["dpkg --configure -a"] + UPDATES + [INSTALL]),
    ("a package only unpacked", "ok", "ok", "iU", "The following packages have been unpacked but "
     "not yet configured", 0, [CUT_OFF, "Installing: cmake"],
     ["dpkg --configure -a"] + UPDATES + [INSTALL]),
    ("a package removed, its settings kept", "ok", "ok", "rc", "", 0, ["Installing: cmake"],
     UPDATES + [INSTALL]),
    ("a package known, not installed", "ok", "ok", "un", "", 0, ["Installing: cmake"],
     UPDATES + [INSTALL]),
    # Installed, however it is selected and for however many architectures,
    # whenever dpkg-query writes its lines.
    ("a package held", "ok", "fail", "hi", "", 0, [], []),
    ("a package installed for two architectures", "ok", "fail", "ii,ii", "", 0, [], []),
    (UNFINISHED, "ok", "ok", "iF",
     "The following packages are only half configured", 0,
     [CUT_OFF, f"dpkg --configure -a failed: {CONFIGURE_ERROR}", "Installing: cmake"],
     ["dpkg --configure -a"] + UPDATES + [INSTALL]),
]


class Mirror(unittest.TestCase):
    def test_install(self):
        for case, update, install, state, audit, status, lines, calls, *machine in CASES:
            with self.subTest(case), rig.scratch() as folder:
                for name in ("apt-get", "dpkg", "dpkg-query", "id", "sleep"):
                    (folder / name).symlink_to(rig.SOURCE / "tests" / "helpers" / "apt-standin.sh")
                log = folder / "calls.log"
                run = subprocess.run(["./install-deps.sh"], cwd=rig.SOURCE, capture_output=True,
                                     text=True, timeout=60, env={
                                         **os.environ, "PATH": f"{folder}:{os.environ['PATH']}",
                                         "STANDIN_LOG": str(log), "STANDIN_UPDATE": update,
                                         "STANDIN_INSTALL": install, "STANDIN_AUDIT": audit,
                                         "STANDIN_CONFIGURE_ERROR":
                                         CONFIGURE_ERROR if case == UNFINISHED else "",
                                         "STANDIN_STATES": f"cmake={state}" if state else "",
                                         "STANDIN_MISSING": "" if state else "cmake",
                                         **(machine[0] if machine else {})})
                shown = (run.stdout + run.stderr).splitlines()
                self.assertEqual(run.returncode, status, shown)
                for line in lines:
                    self.assertIn(line, shown)
                self.assertEqual([s for s in shown if s.startswith(("E:", "W:", " "))
                                  and s not in lines], [], "apt's own output")
                changes = [c for c in log.read_text().splitlines()
                           if c.split()[0] in ("apt-get", "sleep") or "--configure" in c]
                self.assertEqual(changes, calls)


if __name__ == "__main__":
    unittest.main()
