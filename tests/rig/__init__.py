"""The test rig: where the tests find what they test, and what every test
expects of the shipped files. Its parts: places (where programs can run),
wine (running them in a prefix of the project's own), standins (what the
platform stand-ins were handed), registry (registry scenarios), tracing
(Wine's traces of brannostelwin), tsa (a throwaway timestamping authority).

Settings, from the environment that CTest sets, with defaults for any folder:
BRANNOSTEL_ARCH (x86 or x64: the build under test; x64), BRANNOSTEL_DIST_ROOT
(dist/), BRANNOSTEL_BUILD (build/ARCH), BRANNOSTEL_VERSION (project()'s in
CMakeLists.txt), BRANNOSTEL_PREFIX_NAME (the Wine prefix's folder;
wineprefix), BRANNOSTEL_PREFIX_ARCH (the Windows the prefix is; ARCH).
"""
import collections
import contextlib
import os
import pathlib
import re
import tempfile

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
PROGRAMS = ("brannostelxp", "brannostelwin")  # the launchers
SHIPPED = (*PROGRAMS, "brannostelcheck")
ENTRY_NAME = b"Conexion a Zel Servicios IP"
# This machine's Debian release, whose packages the scripts install.
SUITE = re.search(r"^VERSION_CODENAME=(\w+)", pathlib.Path("/etc/os-release").read_text(), re.M)[1]

ARCH = os.environ.get("BRANNOSTEL_ARCH", "x64")
DIST_ROOT = pathlib.Path(os.environ.get("BRANNOSTEL_DIST_ROOT", SOURCE / "dist")).resolve()
BUILD = pathlib.Path(os.environ.get("BRANNOSTEL_BUILD", SOURCE / "build" / ARCH)).resolve()
VERSION = os.environ.get("BRANNOSTEL_VERSION") or re.search(
    r"project\(\s*brannostel\s+VERSION\s+([\d.]+)", (SOURCE / "CMakeLists.txt").read_text())[1]
PREFIX_NAME = os.environ.get("BRANNOSTEL_PREFIX_NAME", "wineprefix")
PREFIX_ARCH = os.environ.get("BRANNOSTEL_PREFIX_ARCH", ARCH)
# The shipped programs of this architecture.
DIST = DIST_ROOT / ARCH
XP, WIN, CHECK = (DIST / f"{name}.exe" for name in SHIPPED)


# SecurityCookie in the load configuration: its offset and size.
SECURITY_COOKIE = {"x86": (60, 4), "x64": (88, 8)}[ARCH]


class TodoWine(collections.namedtuple("TodoWine", "windows wine evidence")):
    """A table's expectation where Wine is known to do otherwise than
    Windows, as Wine's own conformance tests mark theirs todo_wine: what
    Windows does, what Wine does, and the evidence. Under Wine the test
    expects Wine's, and fails, so that the mark goes, once Wine does as
    Windows does."""


def under_wine(expected):
    """What a test sees under Wine of an expectation, marked or not."""
    return expected.wine if isinstance(expected, TodoWine) else expected


def on_windows(expected):
    return expected.windows if isinstance(expected, TodoWine) else expected


def package(arch=None, version=None, folder=None):
    """Where the build puts an architecture's MSI."""
    return (folder or DIST_ROOT) / f"brannostel-{version or VERSION}-{arch or ARCH}.msi"


def next_version():
    """What the next release is numbered: Windows Installer compares only the
    first three fields, so a release bumps the third."""
    major, minor, patch, _ = map(int, VERSION.split("."))
    return f"{major}.{minor}.{patch + 1}.0"


@contextlib.contextmanager
def scratch():
    """A folder for one case's files, in the build tree, removed afterwards."""
    (BUILD / "scratch").mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=BUILD / "scratch") as folder:
        yield pathlib.Path(folder)
