"""The MSI of each architecture: its tables as built, a silent install, use
and removal in a Wine prefix of its own (BRANNOSTEL_PREFIX_NAME, set by CTest),
an upgrade and a refused rollback there, and the x86 package's refusal of
64-bit Windows."""
import contextlib
import os
import re
import shutil
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
# Refused on 64-bit Windows, and on an ARM64 processor, where Windows 10
# does not set VersionNT64 for this package.
X86_ONLY = ('NOT VersionNT64 AND %PROCESSOR_ARCHITECTURE~="x86" AND NOT %PROCESSOR_ARCHITEW6432',
            "This package is for Windows on an x86 processor. On 64-bit Windows, install "
            f"{rig.package('x64').name} instead; on ARM64, only Windows 11 runs it.")
# The Start menu's entries, by program.
TITLES = {"brannostelxp": "Dial Zel Servicios IP", "brannostelwin": "Connect to Zel Servicios IP",
          "brannostelcheck": "Check the Zel Servicios IP launchers"}
# A refused rollback: ERROR_INSTALL_FAILURE, as the README says, of which
# Linux passes on the low 8 bits.
REFUSED = 1603 & 0xFF
# The README's lines that remove whatever build is installed, without its file.
[REMOVAL] = [block for block in re.findall(r"```bat\n(.*?)```", (rig.SOURCE / "README.md").read_text(),
                                           re.S) if "RelatedProducts" in block]
SHORT_NAME = re.compile(r"[A-Z0-9_]{1,8}(\.[A-Z0-9]{1,3})?\|")
# Every GUID as Windows Installer takes it: uppercase, in braces.
GUID = re.compile(r"\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}")


def table(name, msi=MSI):
    """One table of the package, as rows of columns ([] when it has none)."""
    with rig.scratch() as folder:  # a table with binary streams writes them beside it
        export = subprocess.run(["msiinfo", "export", str(msi), name], cwd=folder,
                                capture_output=True, text=True)
    return [line.split("\t") for line in export.stdout.splitlines()[3:]]  # past names, types, keys


def pack(version, programs, msi, released=None):
    """Packs the programs in the folder programs at version, as the build does
    (at the release time released, in seconds since 1970, where given)."""
    subprocess.run([sys.executable, rig.SOURCE / "installer" / "pack.py", version, rig.ARCH,
                    programs, msi], check=True, capture_output=True,
                   env={**os.environ, **({"SOURCE_DATE_EPOCH": str(released)} if released else {})})


def uninstall_entries():
    """Programs and Features' entries of this product, each as {value: data},
    read from the registry view of the package's own architecture."""
    status, listing = wine.output("reg", ["query", UNINSTALL, "/s"])
    assert status == 0, f"reg query ended with {status}"
    entries = []
    for line in listing.decode(errors="replace").splitlines():
        if line.startswith("HKEY_"):
            entries.append({})
        elif entries and len(fields := line.split(None, 2)) >= 2 and fields[1].startswith("REG_"):
            entries[-1][fields[0]] = fields[2] if len(fields) > 2 else ""
    return [e for e in entries if e.get("DisplayName") == PRODUCT]


def msiexec(action, msi=MSI, extra=()):
    return wine.run("msiexec", [action, wine.windows_path(msi), *extra, "/qn"], timeout=300)


def mentions(link, text):
    """Whether a shortcut file holds text, in either of the encodings links use."""
    return text.encode() in link or text.encode("utf-16-le") in link


def shortcuts():
    """{program: its Start-menu shortcut}. Wine puts per-machine shortcuts in
    the user's Start Menu: look, don't assume."""
    programs = {title: name for name, title in TITLES.items()}
    return {programs[p.stem]: p for p in (wine.prefix() / "drive_c").rglob("*.lnk")
            if p.stem in programs}


class Package(unittest.TestCase):
    def test_tables(self):
        properties = dict(row[:2] for row in table("Property"))
        self.assertEqual((properties["ProductVersion"], properties["UpgradeCode"],
                          properties["ALLUSERS"]), (rig.VERSION, UPGRADE_CODES[rig.ARCH], "1"))
        # Each program with its size, and the version and language of its
        # version resource, so that a repair restores a replaced one; no
        # hash, which is for unversioned files only, and no checksum
        # (msidbFileAttributesChecksum), so that /fc checks none, as the
        # README says.
        files = {row[2].split("|")[-1]: (int(row[3]), row[4], row[5], int(row[6]) & 1024)
                 for row in table("File")}
        self.assertEqual(files, {f"{name}.exe": ((rig.DIST / f"{name}.exe").stat().st_size,
                                                 rig.VERSION, "1033", 0) for name in rig.SHIPPED})
        self.assertEqual(table("MsiFileHash"), [])
        directories = {row[0]: (row[1], row[2]) for row in table("Directory")}
        self.assertEqual(directories["INSTALLDIR"], (PROGRAM_FILES[rig.ARCH], "BRANNOST|Brannostel"))
        # Every file, folder and shortcut name with a distinct 8.3 short name.
        names = [row[2] for row in table("File")] + [row[2] for row in table("Directory")
                                                     if row[2] not in (".", "SourceDir")]
        names += [row[2] for row in table("Shortcut")]
        self.assertEqual([n for n in names if not SHORT_NAME.match(n)], [])
        self.assertEqual(len({n.split("|")[0] for n in names}), len(names))
        # 256: the component belongs to 64-bit Windows' side of the machine.
        attributes = {row[0]: int(row[3]) for row in table("Component")}
        self.assertEqual(attributes, {name: 256 if rig.ARCH == "x64" else 0
                                      for name in rig.SHIPPED})
        menu = {row[2].split("|")[1]: (row[1], row[8]) for row in table("Shortcut")}
        self.assertEqual(menu, {TITLES[name]: ("ProgramMenuFolder", f"{name}.exe")
                                for name in rig.SHIPPED})
        readme = " ".join((rig.SOURCE / "README.md").read_text().split())
        self.assertEqual([t for t in menu if f'"{t}"' not in readme], [], "not as the README says")
        self.assertEqual([row[2] for row in table("Feature")], ["Zel Servicios IP dial-up launchers"])
        self.assertEqual(sorted(row[0] for row in table("Icon")),
                         sorted(f"{n}.exe" for n in rig.SHIPPED))
        # Programs and Features shows the programs' icon and offers no "Change".
        self.assertEqual((properties["ARPPRODUCTICON"], properties["ARPNOMODIFY"]),
                         ("brannostelwin.exe", "1"))
        conditions = {tuple(row) for row in table("LaunchCondition")}
        self.assertEqual(conditions, {DOWNGRADE} | ({X86_ONLY} if rig.ARCH == "x86" else set()))
        # Related products: older ones and the same version replaced (513:
        # maximum inclusive, features migrated), newer ones only detected.
        upgrades = {tuple(row[1:5]) for row in table("Upgrade")}
        self.assertEqual(upgrades, {("", rig.VERSION, "", "513"), (rig.VERSION, "", "", "2")})


    def test_codes(self):
        # The same build is the same package; any other package is another
        # product too, with both codes new: a new package code with the
        # old product code is refused over the installed one (1638).
        # Windows Installer tells versions apart by three fields only, so
        # a different build of the same version is another product too.
        # Every code as Windows Installer requires it, and the comments name
        # the product code, so that a deployer can tell builds apart.
        def codes(msi):
            """Every GUID of the package, by where it is."""
            suminfo = subprocess.run(["msiinfo", "suminfo", str(msi)], capture_output=True,
                                     text=True).stdout
            properties = dict(row[:2] for row in table("Property", msi))
            return {"product": properties["ProductCode"], "upgrade": properties["UpgradeCode"],
                    "package": re.search(r"^Revision number \(UUID\): (.*)$", suminfo, re.M)[1],
                    "in the comments": re.search(r"Product code (.*)\.$", suminfo, re.M)[1],
                    **{f"component {row[0]}": row[1] for row in table("Component", msi)},
                    **{f"upgrade row {row[6]}": row[0] for row in table("Upgrade", msi)}}

        with rig.scratch() as folder:
            # Packed here, as dist/'s package may be of an earlier commit's time.
            pack(rig.VERSION, rig.DIST, folder / "built.msi")
            changed = folder / "changed"
            shutil.copytree(rig.DIST, changed)
            with (changed / "brannostelwin.exe").open("ab") as program:
                program.write(b"another build")
            for case, version, programs, released, same in [
                    ("the same build", rig.VERSION, rig.DIST, None, True),
                    ("the next release", rig.next_version(), rig.DIST, None, False),
                    ("the same version, one program changed", rig.VERSION, changed, None, False),
                    ("the same programs, released at another time", rig.VERSION, rig.DIST,
                     1_000_000_000, False)]:
                with self.subTest(case):
                    msi = folder / f"{len(case)}.msi"
                    pack(version, programs, msi, released)
                    found, built = codes(msi), codes(folder / "built.msi")
                    self.assertEqual({k: v for k, v in found.items() if not GUID.fullmatch(v)}, {},
                                     "not uppercase in braces")
                    self.assertEqual(found["in the comments"], found["product"])
                    self.assertEqual([found[k] == built[k] for k in ("product", "package")],
                                     [same, same])


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

        # A repair in the default mode puts back a program replaced by other
        # bytes: on Windows because the package's file has a version and the
        # one in its place none (Wine repairs even without). The same as
        # msiexec /fomus, which Wine's msiexec does not do
        # (docs/windows-installer.md).
        (INSTALLED / "brannostelwin.exe").write_bytes(b"damaged")
        self.assertEqual(msiexec("/i", extra=["REINSTALL=ALL", "REINSTALLMODE=omus"]), 0)
        self.assertEqual((INSTALLED / "brannostelwin.exe").read_bytes(),
                         (rig.DIST / "brannostelwin.exe").read_bytes(), "not repaired")

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
    """The shipped package, then another build over it, then for the next
    release the shipped one again as a rollback, then removal, in the
    package prefix. Wine's msiexec, as Windows', compares the first three
    fields of a version in its search for related products."""
    CASES = [
        # (case, the other package's version, whether an older one is refused
        # then, what its programs have beyond the shipped ones' bytes, its
        # release time (None: this commit's))
        ("the next release", rig.next_version(), True, b"another build", None),
        ("the fourth field only", rig.VERSION.rpartition(".")[0] + ".2", False, b"another build",
         None),
        ("the same version, one program changed", rig.VERSION, False, b"another build", None),
        # Another package of the same programs: a new product, not refused.
        ("the same programs, released at another time", rig.VERSION, False, b"", 1_000_000_000),
    ]

    setUpClass = InstallRoundTrip.setUpClass
    tearDownClass = InstallRoundTrip.tearDownClass

    def installed(self):
        return {name: (INSTALLED / f"{name}.exe").read_bytes() for name in rig.SHIPPED}

    def test_upgrade_rollback_remove(self):
        before = set(wine.drive_files())
        for case, version, refuses_older, extra, released in self.CASES:
            with self.subTest(case), rig.scratch() as folder, contextlib.ExitStack() as row:
                # Where the other build's programs differ in their bytes, its
                # files can be told from the shipped ones.
                programs = {name: (rig.DIST / f"{name}.exe").read_bytes() + extra
                            for name in rig.SHIPPED}
                for name, data in programs.items():
                    (folder / f"{name}.exe").write_bytes(data)
                other = rig.package(version=version, folder=folder)
                pack(version, folder, other, released)
                # Whatever fails, the next row starts with nothing installed.
                row.callback(lambda: [msiexec("/x", msi) for msi in (other, MSI)])

                self.assertEqual(msiexec("/i"), 0)
                self.assertEqual([e["DisplayVersion"] for e in uninstall_entries()], [rig.VERSION])

                self.assertEqual(msiexec("/i", other), 0, "the other build was not installed")
                entries = uninstall_entries()
                self.assertEqual([(e["DisplayVersion"], e["NoModify"]) for e in entries],
                                 [(version, "0x1")], "not one entry, of the other build")
                self.assertEqual(self.installed(), programs)
                links = shortcuts()
                for name in rig.SHIPPED:
                    self.assertTrue(mentions(links[name].read_bytes(),
                                             f"C:\\Program Files\\Brannostel\\{name}.exe"))
                self.assertEqual(standins.dial(INSTALLED / "brannostelxp.exe")[0], 0)

                if refuses_older:  # and changes nothing
                    files = wine.drive_files()
                    self.assertEqual(msiexec("/i"), REFUSED,
                                     "an older version installed over a newer")
                    self.assertEqual(uninstall_entries(), entries)
                    self.assertEqual(wine.drive_files(), files)

                # Removed without its file, as the README says.
                (folder / "remove.cmd").write_text(REMOVAL.replace("\n", "\r\n"))
                self.assertEqual(wine.run("cmd", ["/c", wine.windows_path(folder / "remove.cmd")],
                                          timeout=300), 0)
                self.assertEqual(uninstall_entries(), [])
                self.assertFalse(INSTALLED.exists(), "the program folder is left behind")
                self.assertEqual(set(wine.drive_files()) - before, set(),
                                 "files or shortcuts left behind")


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
