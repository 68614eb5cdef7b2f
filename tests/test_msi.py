"""The MSI of each architecture: its tables as built, a silent install, use
and removal in a Wine prefix of its own (BRANNOSTEL_PREFIX_NAME, set by CTest),
an upgrade and a refused rollback there, and the x86 package's refusal of
64-bit Windows."""
import subprocess
import sys
import unittest

import rig
from rig import registry, standins, wine

MSI = rig.package()
UPGRADE_CODES = {"x86": "{C879A96A-FE09-4D66-9E49-7612AB3749B7}",
                 "x64": "{2DF6859C-55A7-4044-91B1-11E3E5AA6A6D}"}
PROGRAM_FILES = {"x86": "ProgramFilesFolder", "x64": "ProgramFiles64Folder"}
# Each architecture's own Program Files, as its programs see it.
INSTALLED = wine.prefix() / "drive_c" / "Program Files" / "Brannostel"
PRODUCT = "Brannostel dial-up launchers"
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
DOWNGRADE = ("NOT WIX_DOWNGRADE_DETECTED", "A newer version of [ProductName] is already "
             "installed. Remove it first to install this older one.")
X86_ONLY = ("NOT VersionNT64", "This package is for 32-bit Windows. On 64-bit Windows, install "
            f"{rig.package('x64').name} instead.")


def table(name, msi=MSI):
    """One table of the package, as rows of columns ([] when it has none)."""
    with rig.scratch() as folder:  # a table with binary streams writes them beside it
        export = subprocess.run(["msiinfo", "export", str(msi), name], cwd=folder,
                                capture_output=True, text=True)
    return [line.split("\t") for line in export.stdout.splitlines()[3:]]  # past names, types, keys


def pack(version, programs, msi):
    """Packs the programs in the folder programs at version, as the build does."""
    subprocess.run([sys.executable, rig.SOURCE / "installer" / "pack.py", version, rig.ARCH,
                    programs, msi], check=True, capture_output=True)


def uninstall_entries():
    """Programs and Features' entries of this product, each as {value: data},
    read from the registry view of the package's own architecture."""
    listing = subprocess.run([wine.loader(), "reg", "query", UNINSTALL, "/s"], env=wine.environment(),
                             check=True, capture_output=True, text=True).stdout
    entries = []
    for line in listing.splitlines():
        if line.startswith("HKEY_"):
            entries.append({})
        elif entries and len(fields := line.split(None, 2)) >= 2 and fields[1].startswith("REG_"):
            entries[-1][fields[0]] = fields[2] if len(fields) > 2 else ""
    return [e for e in entries if e.get("DisplayName") == PRODUCT]


def msiexec(action, msi=MSI):
    return wine.run("msiexec", [action, wine.windows_path(msi), "/qn"], timeout=300)


def mentions(link, text):
    """Whether a shortcut file holds text, in either of the encodings links use."""
    return text.encode() in link or text.encode("utf-16-le") in link


def shortcuts():
    # Wine puts per-machine shortcuts in the user's Start Menu: look, don't assume.
    return {p.stem: p for p in (wine.prefix() / "drive_c").rglob("*.lnk") if p.stem in rig.SHIPPED}


class Package(unittest.TestCase):
    def test_tables(self):
        properties = dict(row[:2] for row in table("Property"))
        self.assertEqual((properties["ProductVersion"], properties["UpgradeCode"],
                          properties["ALLUSERS"]), (rig.VERSION, UPGRADE_CODES[rig.ARCH], "1"))
        files = {row[2]: int(row[3]) for row in table("File")}
        self.assertEqual(files, {f"{name}.exe": (rig.DIST / f"{name}.exe").stat().st_size
                                 for name in rig.SHIPPED})
        directories = {row[0]: (row[1], row[2]) for row in table("Directory")}
        self.assertEqual(directories["INSTALLDIR"], (PROGRAM_FILES[rig.ARCH], "Brannostel"))
        # 256: the component belongs to 64-bit Windows' side of the machine.
        attributes = {row[0]: int(row[3]) for row in table("Component")}
        self.assertEqual(attributes, {name: 256 if rig.ARCH == "x64" else 0
                                      for name in rig.SHIPPED})
        menu = {row[2]: (row[1], row[8]) for row in table("Shortcut")}
        self.assertEqual(menu, {name: ("ProgramMenuFolder", f"{name}.exe") for name in rig.SHIPPED})
        self.assertEqual(sorted(row[0] for row in table("Icon")),
                         sorted(f"{n}.exe" for n in rig.SHIPPED))
        # Programs and Features shows the programs' icon and offers no "Change".
        self.assertEqual((properties["ARPPRODUCTICON"], properties["ARPNOMODIFY"]),
                         ("brannostelwin.exe", "1"))
        conditions = {tuple(row) for row in table("LaunchCondition")}
        self.assertEqual(conditions, {DOWNGRADE} | ({X86_ONLY} if rig.ARCH == "x86" else set()))
        # Related products: older ones replaced, newer ones only detected.
        upgrades = {tuple(row[1:5]) for row in table("Upgrade")}
        self.assertEqual(upgrades, {("", rig.VERSION, "", "1"), (rig.VERSION, "", "", "2")})


    def test_codes(self):
        # The next release: a major upgrade needs a new product code, and its
        # new content a new package code.
        with rig.scratch() as folder:
            next_msi = folder / "next.msi"
            pack(rig.next_version(), rig.DIST, next_msi)
            codes = [(dict(row[:2] for row in table("Property", msi))["ProductCode"],
                      subprocess.run(["msiinfo", "suminfo", str(msi)], capture_output=True,
                                     text=True).stdout.split("Revision number (UUID): ")[1][:38])
                     for msi in (MSI, next_msi)]
        self.assertNotEqual(codes[0][0], codes[1][0], "the same product code")
        self.assertNotEqual(codes[0][1], codes[1][1], "the same package code")


class InstallRoundTrip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        wine.fresh_prefix()

    @classmethod
    def tearDownClass(cls):
        wine.stop()

    def test_install_use_remove(self):
        before = set(wine.drive_files())
        self.assertEqual(msiexec("/i"), 0)

        links = shortcuts()
        for name in rig.SHIPPED:
            with self.subTest(name):
                installed = INSTALLED / f"{name}.exe"
                shipped = (rig.DIST / f"{name}.exe").read_bytes()
                self.assertEqual(installed.read_bytes(), shipped)
                self.assertIn(name, links, "no Start-menu shortcut")
                link = links[name].read_bytes()
                self.assertTrue(mentions(link, f"C:\\Program Files\\Brannostel\\{name}.exe"))
                # The shortcut's icon is a file the package installed: the program itself.
                icons = [p for p in (wine.prefix() / "drive_c" / "windows" / "Installer").rglob(
                    f"{name}.exe") if mentions(link, f"\\{p.parent.name}\\{name}.exe")]
                self.assertEqual([p.read_bytes() for p in icons], [shipped])

        registry.register_profile()
        status, events = standins.dial(INSTALLED / "brannostelxp.exe")
        self.assertEqual(status, 0)
        self.assertEqual([e for e, _ in events], standins.DIAL_SEQUENCE)
        self.assertEqual(standins.unhex(events[0][1]["entry"]), rig.ENTRY_NAME)
        self.assertEqual(standins.connect(INSTALLED / "brannostelwin.exe"),
                         (0, [(standins.SW_SHOW, standins.cm_command(b"C:\\zel.cmp"))]))
        status, report, _ = standins.check(program=INSTALLED / "brannostelcheck.exe")
        self.assertEqual(status, 1, report)  # no file C:\zel.cmp
        self.assertIn("brannostelwin would start", report)

        self.assertEqual(msiexec("/x"), 0)
        self.assertFalse(INSTALLED.exists(), "the program folder is left behind")
        self.assertEqual(set(wine.drive_files()) - before, set(), "files or shortcuts left behind")


class Upgrades(unittest.TestCase):
    """The shipped package, then the next release over it, then the shipped
    one again as a rollback, then removal, in the package prefix."""

    setUpClass = InstallRoundTrip.setUpClass
    tearDownClass = InstallRoundTrip.tearDownClass

    def installed(self):
        return {name: (INSTALLED / f"{name}.exe").read_bytes() for name in rig.SHIPPED}

    def test_upgrade_rollback_remove(self):
        before = set(wine.drive_files())
        next_version = rig.next_version()
        with rig.scratch() as folder:
            # The next release's programs differ in their bytes, so that its
            # files can be told from the shipped ones.
            next_programs = {name: (rig.DIST / f"{name}.exe").read_bytes() + b"next release"
                             for name in rig.SHIPPED}
            for name, data in next_programs.items():
                (folder / f"{name}.exe").write_bytes(data)
            next_msi = rig.package(version=next_version, folder=folder)
            pack(next_version, folder, next_msi)

            self.assertEqual(msiexec("/i"), 0)
            self.assertEqual([e["DisplayVersion"] for e in uninstall_entries()], [rig.VERSION])

            self.assertEqual(msiexec("/i", next_msi), 0, "the next release was not installed")
            entries = uninstall_entries()
            self.assertEqual([(e["DisplayVersion"], e["NoModify"]) for e in entries],
                             [(next_version, "0x1")], "not one entry, of the next release")
            self.assertEqual(self.installed(), next_programs)
            links = shortcuts()
            for name in rig.SHIPPED:
                self.assertTrue(mentions(links[name].read_bytes(),
                                         f"C:\\Program Files\\Brannostel\\{name}.exe"))
            self.assertEqual(standins.dial(INSTALLED / "brannostelxp.exe")[0], 0)

            # The rollback is refused and changes nothing.
            files = wine.drive_files()
            self.assertNotEqual(msiexec("/i"), 0, "an older version was installed over a newer one")
            self.assertEqual(uninstall_entries(), entries)
            self.assertEqual(wine.drive_files(), files)

            self.assertEqual(msiexec("/x", next_msi), 0)
        self.assertEqual(uninstall_entries(), [])
        self.assertFalse(INSTALLED.exists(), "the program folder is left behind")
        self.assertEqual(set(wine.drive_files()) - before, set(), "files or shortcuts left behind")


class RefusedOn64Bit(unittest.TestCase):
    """In a 64-bit prefix: the x86 package stops at its launch conditions and
    installs nothing. The only one that can fail here is the x86 one (Package
    checks its message): nothing is installed to downgrade."""

    def test_refused(self):
        msi = rig.package("x86")
        self.assertTrue(msi.is_file(), f"no package to refuse: {msi}")
        before = wine.drive_files()
        with rig.scratch() as folder:
            log = folder / "install.log"
            status = wine.run("msiexec", ["/i", wine.windows_path(msi), "/qn", "/l*",
                                          wine.windows_path(log)], timeout=300)
            text = log.read_bytes().decode(errors="replace") if log.exists() else ""
        self.assertNotEqual(status, 0, "installed")
        # Wine's log marks a failed action "Return value 0" (Windows writes 3).
        self.assertRegex(text, r"LaunchConditions\. Return value 0\.", "refused for another reason")
        self.assertEqual(set(wine.drive_files()) - set(before), set(), "files installed")


if __name__ == "__main__":
    unittest.main()
