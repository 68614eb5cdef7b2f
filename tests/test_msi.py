"""The MSI of each architecture: its tables as built, a silent install, use
and removal in a fresh Wine prefix of its own (BRANNOSTEL_PREFIX, set by
CTest), and the x86 package's refusal of 64-bit Windows."""
import shutil
import subprocess
import unittest

import rig

MSI = rig.package()
UPGRADE_CODES = {"x86": "{C879A96A-FE09-4D66-9E49-7612AB3749B7}",
                 "x64": "{2DF6859C-55A7-4044-91B1-11E3E5AA6A6D}"}
PROGRAM_FILES = {"x86": "ProgramFilesFolder", "x64": "ProgramFiles64Folder"}
# Each architecture's own Program Files, as its programs see it.
INSTALLED = rig.PREFIX / "drive_c" / "Program Files" / "Brannostel"
X86_ONLY = ("NOT VersionNT64", "This package is for 32-bit Windows. On 64-bit Windows, install "
            f"{rig.package('x64').name} instead.")


def table(name, msi=MSI):
    """One table of the package, as rows of columns ([] when it has none)."""
    with rig.scratch() as folder:  # a table with binary streams writes them beside it
        export = subprocess.run(["msiinfo", "export", str(msi), name], cwd=folder,
                                capture_output=True, text=True)
    return [line.split("\t") for line in export.stdout.splitlines()[3:]]  # past names, types, keys


def msiexec(action, msi=MSI):
    return rig.run("msiexec", [action, rig.windows_path(msi), "/qn"], timeout=300)


def mentions(link, text):
    """Whether a shortcut file holds text, in either of the encodings links use."""
    return text.encode() in link or text.encode("utf-16-le") in link


def shortcuts():
    # Wine puts per-machine shortcuts in the user's Start Menu: look, don't assume.
    return {p.stem: p for p in (rig.PREFIX / "drive_c").rglob("*.lnk") if p.stem in rig.PROGRAMS}


class Package(unittest.TestCase):
    def test_tables(self):
        properties = dict(row[:2] for row in table("Property"))
        self.assertEqual((properties["ProductVersion"], properties["UpgradeCode"],
                          properties["ALLUSERS"]), (rig.VERSION, UPGRADE_CODES[rig.ARCH], "1"))
        files = {row[2]: int(row[3]) for row in table("File")}
        self.assertEqual(files, {f"{name}.exe": (rig.DIST / f"{name}.exe").stat().st_size
                                 for name in rig.PROGRAMS})
        directories = {row[0]: (row[1], row[2]) for row in table("Directory")}
        self.assertEqual(directories["INSTALLDIR"], (PROGRAM_FILES[rig.ARCH], "Brannostel"))
        # 256: the component belongs to 64-bit Windows' side of the machine.
        attributes = {row[0]: int(row[3]) for row in table("Component")}
        self.assertEqual(attributes, {name: 256 if rig.ARCH == "x64" else 0
                                      for name in rig.PROGRAMS})
        menu = {row[2]: (row[1], row[8]) for row in table("Shortcut")}
        self.assertEqual(menu, {name: ("ProgramMenuFolder", f"{name}.exe") for name in rig.PROGRAMS})
        self.assertEqual(sorted(row[0] for row in table("Icon")),
                         sorted(f"{n}.exe" for n in rig.PROGRAMS))
        conditions = [tuple(row) for row in table("LaunchCondition")]
        self.assertEqual(conditions, [X86_ONLY] if rig.ARCH == "x86" else [])


class InstallRoundTrip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        rig.stop()
        shutil.rmtree(rig.PREFIX, ignore_errors=True)
        rig.ensure_prefix()

    @classmethod
    def tearDownClass(cls):
        rig.stop()

    def test_install_use_remove(self):
        before = set(rig.drive_files())
        self.assertEqual(msiexec("/i"), 0)

        links = shortcuts()
        for name in rig.PROGRAMS:
            with self.subTest(name):
                installed = INSTALLED / f"{name}.exe"
                shipped = (rig.DIST / f"{name}.exe").read_bytes()
                self.assertEqual(installed.read_bytes(), shipped)
                self.assertIn(name, links, "no Start-menu shortcut")
                link = links[name].read_bytes()
                self.assertTrue(mentions(link, f"C:\\Program Files\\Brannostel\\{name}.exe"))
                # The shortcut's icon is a file the package installed: the program itself.
                icons = [p for p in (rig.PREFIX / "drive_c" / "windows" / "Installer").rglob(
                    f"{name}.exe") if mentions(link, f"\\{p.parent.name}\\{name}.exe")]
                self.assertEqual([p.read_bytes() for p in icons], [shipped])

        rig.register_profile()
        status, events = rig.dial(INSTALLED / "brannostelxp.exe")
        self.assertEqual(status, 0)
        self.assertEqual([e for e, _ in events], rig.DIAL_SEQUENCE)
        self.assertEqual(rig.unhex(events[0][1]["entry"]), rig.ENTRY_NAME)
        self.assertEqual(rig.connect(INSTALLED / "brannostelwin.exe"),
                         (0, [(5, rig.cm_command(b"C:\\zel.cmp"))]))

        self.assertEqual(msiexec("/x"), 0)
        self.assertFalse(INSTALLED.exists(), "the program folder is left behind")
        self.assertEqual(set(rig.drive_files()) - before, set(), "files or shortcuts left behind")


class RefusedOn64Bit(unittest.TestCase):
    """In the 64-bit prefix: the x86 package fails on its launch condition
    (whose message Package checks) and installs nothing."""

    def test_refused(self):
        before = rig.drive_files()
        self.assertNotEqual(msiexec("/i", msi=rig.package("x86")), 0)
        self.assertEqual(set(rig.drive_files()) - set(before), set(), "files installed")


if __name__ == "__main__":
    unittest.main()
