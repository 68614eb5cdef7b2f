"""Which machine-wide mapping each build of brannostelwin reads on 64-bit
Windows, in the 64-bit prefix. The x64 build reads the 64-bit view, where the
system's own profile installer maps all-users profiles; an x86 build is
shown the 32-bit view (Software\\WOW6432Node) instead. Where the machine-wide
key is missing from the view a build reads, it falls back to the per-user
mapping, so every row starts the Connection Manager and the profile it was
given tells which view was read. The check of each build reads the same
view as its launcher."""
import unittest

import rig
from rig import registry, standins
from rig.registry import APP_PATHS, MAPPINGS, REG_SZ

ENTRY = rig.ENTRY_NAME.decode()
IN_64_BIT_VIEW = b"C:\\ProgramData\\Zel\\64-bit view.cmp"
IN_32_BIT_VIEW = b"C:\\ProgramData\\Zel\\32-bit view.cmp"
PER_USER = b"C:\\users\\someone\\Zel\\per-user.cmp"

# Both builds find the Connection Manager, each in its own view.
COMMON = [("HKLM", key, None, REG_SZ, standins.CM_STANDIN.encode() + b"\0")
          for key in (APP_PATHS, registry.wow64(APP_PATHS))]
COMMON.append(("HKCU", MAPPINGS, ENTRY, REG_SZ, PER_USER + b"\0"))

CASES = [
    # (case, machine-wide mappings stored, profile the x64 build uses,
    # profile the x86 build uses)
    ("only in the 32-bit view", [registry.wow64(MAPPINGS)], PER_USER, IN_32_BIT_VIEW),
    ("only in the 64-bit view", [MAPPINGS], IN_64_BIT_VIEW, PER_USER),
    ("in both views", [MAPPINGS, registry.wow64(MAPPINGS)], IN_64_BIT_VIEW, IN_32_BIT_VIEW),
]
PROFILES = {MAPPINGS: IN_64_BIT_VIEW, registry.wow64(MAPPINGS): IN_32_BIT_VIEW}


class Views(unittest.TestCase):
    def test_views(self):
        for case, stored, x64_profile, x86_profile in CASES:
            with self.subTest(case):
                registry.set_registry(COMMON + [("HKLM", key, ENTRY, REG_SZ, PROFILES[key] + b"\0")
                                           for key in stored])
                expected = x64_profile if rig.ARCH == "x64" else x86_profile
                self.assertEqual(standins.connect(),
                                 (0, [(standins.SW_SHOW, standins.cm_command(expected))]))
                # The check reads the same view, and the x86 one says which.
                _, report, _ = standins.check()
                self.assertIn(f"would start {standins.CM_STANDIN} with the parameters "
                              f"{expected.decode()}\r\n", report)
                self.assertEqual(f"install brannostel-{rig.VERSION}-x64.msi" in report,
                                 rig.ARCH == "x86", report)


if __name__ == "__main__":
    unittest.main()
