"""The MSI: its tables as built, and a silent install, use and removal in a
fresh Wine prefix of its own (BRANNOSTEL_PREFIX, set by CTest)."""
import shutil
import subprocess
import unittest

import rig

VERSION = "1.0.0.1"
MSI = rig.DIST / f"brannostel-{VERSION}.msi"
UPGRADE_CODE = "{C879A96A-FE09-4D66-9E49-7612AB3749B7}"
PROGRAMS = ["brannostelxp", "brannostelwin"]
INSTALLED = rig.PREFIX / "drive_c" / "Program Files" / "Brannostel"


def table(name):
    """One table of the package, as rows of columns."""
    with rig.Scratch() as scratch:  # a table with binary streams writes them beside it
        text = subprocess.run(["msiinfo", "export", str(MSI), name], check=True, cwd=scratch.path,
                              capture_output=True, text=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:]]  # past names, types, keys


def msiexec(*args):
    return rig.run("msiexec", [*args, rig.windows_path(MSI), "/qn"], timeout=300)


def mentions(link, text):
    """Whether a shortcut file holds text, in either of the encodings links use."""
    return text.encode() in link or text.encode("utf-16-le") in link


def shortcuts():
    # Wine puts per-machine shortcuts in the user's Start Menu: look, don't assume.
    return {p.stem: p for p in (rig.PREFIX / "drive_c").rglob("*.lnk") if p.stem in PROGRAMS}


class Package(unittest.TestCase):
    def test_tables(self):
        properties = dict(row[:2] for row in table("Property"))
        self.assertEqual((properties["ProductVersion"], properties["UpgradeCode"],
                          properties["ALLUSERS"]), (VERSION, UPGRADE_CODE, "1"))
        files = {row[2]: int(row[3]) for row in table("File")}
        self.assertEqual(files, {f"{name}.exe": (rig.DIST / f"{name}.exe").stat().st_size
                                 for name in PROGRAMS})
        directories = {row[0]: (row[1], row[2]) for row in table("Directory")}
        self.assertEqual(directories["INSTALLDIR"], ("ProgramFilesFolder", "Brannostel"))
        menu = {row[2]: (row[1], row[8]) for row in table("Shortcut")}
        self.assertEqual(menu, {name: ("ProgramMenuFolder", f"{name}.exe") for name in PROGRAMS})
        self.assertEqual(sorted(row[0] for row in table("Icon")), sorted(f"{n}.exe" for n in PROGRAMS))


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
        for name in PROGRAMS:
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
        self.assertEqual([e for e, _ in events], ["call", "return", "exit"])
        self.assertEqual(rig.unhex(events[0][1]["entry"]), rig.ENTRY_NAME)
        self.assertEqual(rig.connect(INSTALLED / "brannostelwin.exe"),
                         (0, [(5, f'"{rig.CM_STANDIN}" C:\\zel.cmp'.encode())]))

        self.assertEqual(msiexec("/x"), 0)
        self.assertFalse(INSTALLED.exists(), "the program folder is left behind")
        self.assertEqual(shortcuts(), {})
        self.assertEqual(set(rig.drive_files()) - before, set(), "files left behind")


if __name__ == "__main__":
    unittest.main()
