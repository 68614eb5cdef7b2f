"""install-deps.sh against a package mirror as it may be found: healthy, or
in the middle of a sync (one index of the wrong size), with the install then
working, working only from the release's own suite, or failing; and after
an install that was cut off. apt-get and dpkg are stand-ins
(tests/helpers/apt-standin.sh): nothing is installed."""
import os
import subprocess
import unittest

import rig

MIRROR_SYNC = ("apt-get update could not fetch the index bookworm-security/main/binary-i386; "
               "trying again in 30 s (1 of 3, a minute at most)")
UPDATES = ["apt-get -o Acquire::Retries=3 update -qq"]
RETRIED = (UPDATES + ["sleep 30"]) * 2 + UPDATES
INSTALL = "apt-get install -y -qq cmake"
SUITE = f"apt-get install -y -qq -t {rig.SUITE} cmake"

CASES = [
    # (case, update, install, dpkg --audit, exit status, lines shown, apt and
    # dpkg calls that change something, in order)
    ("healthy mirror", "ok", "ok", "", 0, ["Installing: cmake"], UPDATES + [INSTALL]),
    ("mid-sync, the install works", "fail", "ok", "", 0,
     [MIRROR_SYNC, "apt-get update still cannot fetch the index "
      "bookworm-security/main/binary-i386; installing without it", "Installing: cmake"],
     RETRIED + [INSTALL]),
    ("mid-sync, only the release's suite installs", "fail", "suite-only", "", 0,
     [f"Installing them from {rig.SUITE} alone, as the index bookworm-security/main/binary-i386 "
      "is missing"], RETRIED + [INSTALL, SUITE]),
    ("mid-sync, the install fails", "fail", "fail", "", 1,
     ["Could not install cmake: the index bookworm-security/main/binary-i386 did not download; "
      "the mirror is probably in the middle of a sync.",
      "Nothing is left half-done: run ./install-deps.sh again later (./build.sh and ./test.sh run "
      "it too)."], RETRIED + [INSTALL, SUITE]),
    ("healthy mirror, the install fails", "ok", "fail", "", 1,
     ["Could not install cmake: E: Unable to correct problems, you have held broken packages."],
     UPDATES + [INSTALL]),
    ("an install that was cut off", "ok", "ok", "The following packages are only half configured",
     0, ["Finishing an install that was cut off (dpkg --configure -a)", "Installing: cmake"],
     UPDATES + ["dpkg --configure -a", INSTALL]),
]


class Mirror(unittest.TestCase):
    def test_install(self):
        for case, update, install, audit, status, lines, calls in CASES:
            with self.subTest(case), rig.scratch() as folder:
                for name in ("apt-get", "dpkg", "id", "sleep"):
                    (folder / name).symlink_to(rig.SOURCE / "tests" / "helpers" / "apt-standin.sh")
                log = folder / "calls.log"
                run = subprocess.run(["./install-deps.sh"], cwd=rig.SOURCE, capture_output=True,
                                     text=True, timeout=60, env={
                                         **os.environ, "PATH": f"{folder}:{os.environ['PATH']}",
                                         "STANDIN_LOG": str(log), "STANDIN_UPDATE": update,
                                         "STANDIN_INSTALL": install, "STANDIN_AUDIT": audit,
                                         "STANDIN_MISSING": "cmake qemu-system-x86 debootstrap"})
                shown = (run.stdout + run.stderr).splitlines()
                self.assertEqual(run.returncode, status, shown)
                for line in lines:
                    self.assertIn(line, shown)
                self.assertEqual([s for s in shown if s.startswith(("E:", "W:", " "))], [],
                                 "apt's own output")
                changes = [c for c in log.read_text().splitlines()
                           if c.split()[0] in ("apt-get", "sleep") or "--configure" in c]
                # Where 32-bit programs cannot run, the guest's packages follow.
                self.assertEqual(changes[:len(calls)], calls)


if __name__ == "__main__":
    unittest.main()
