"""Where the tests find what they test, and what every test expects of the
shipped files. The other parts of the rig: wine.py (running programs under
Wine in a prefix of the project's own), standins.py (what the platform
stand-ins were handed), registry.py (registry scenarios).

Settings come from the environment, read when used; CTest sets them, and
each has a default that works from any folder:
  BRANNOSTEL_ARCH       x86 or x64 (default x64)
  BRANNOSTEL_DIST_ROOT  dist/: a folder of programs per architecture, the packages
                        (default: the tree's dist/)
  BRANNOSTEL_BUILD      this architecture's build tree (default: the tree's build/ARCH)
  BRANNOSTEL_VERSION    the version the build gives the programs and packages
                        (default: the one project() in CMakeLists.txt names)
"""
import os
import pathlib
import re

SOURCE = pathlib.Path(__file__).resolve().parent.parent
PROGRAMS = ("brannostelxp", "brannostelwin")
ENTRY_NAME = b"Conexion a Zel Servicios IP"


def _arch():
    return os.environ.get("BRANNOSTEL_ARCH", "x64")


def _dist_root():
    return pathlib.Path(os.environ.get("BRANNOSTEL_DIST_ROOT", SOURCE / "dist")).resolve()


def _build():
    return pathlib.Path(os.environ.get("BRANNOSTEL_BUILD", SOURCE / "build" / _arch())).resolve()


def _version():
    """The version CTest passes, or else the one project() in CMakeLists.txt
    names: the one place it is stated."""
    if "BRANNOSTEL_VERSION" in os.environ:
        return os.environ["BRANNOSTEL_VERSION"]
    return re.search(r"project\(\s*brannostel\s+VERSION\s+([\d.]+)",
                     (SOURCE / "CMakeLists.txt").read_text())[1]


# rig.ARCH, rig.DIST and the rest: read from the environment at each use.
_SETTINGS = {
    "ARCH": _arch, "DIST_ROOT": _dist_root, "BUILD": _build, "VERSION": _version,
    "DIST": lambda: _dist_root() / _arch(),
    # The shipped programs of this architecture.
    "XP": lambda: _dist_root() / _arch() / f"{PROGRAMS[0]}.exe",
    "WIN": lambda: _dist_root() / _arch() / f"{PROGRAMS[1]}.exe",
}


def __getattr__(name):
    if name in _SETTINGS:
        return _SETTINGS[name]()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def package(arch=None, version=None, folder=None):
    """Where the build puts an architecture's MSI."""
    return (folder or _dist_root()) / f"brannostel-{version or _version()}-{arch or _arch()}.msi"


def next_version():
    """What the next release is numbered: Windows Installer compares only the
    first three fields, so a release bumps the third."""
    major, minor, patch, _ = map(int, _version().split("."))
    return f"{major}.{minor}.{patch + 1}.0"
