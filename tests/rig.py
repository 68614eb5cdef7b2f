"""The test rig: a 32-bit Wine prefix of the project's own inside the build
tree, the stand-ins installed in it, and helpers to run the shipped programs
there and read back what they handed to the platform.

CTest passes the folders in the environment:
  BRANNOSTEL_DIST   the shipped programs
  BRANNOSTEL_BUILD  the build tree (stand-ins, prefix, scratch files)
  BRANNOSTEL_PREFIX another Wine prefix to use (default: one in the build tree)
"""
import os
import pathlib
import shutil
import subprocess
import tempfile

DIST = pathlib.Path(os.environ.get("BRANNOSTEL_DIST", "dist")).resolve()
BUILD = pathlib.Path(os.environ.get("BRANNOSTEL_BUILD", "build")).resolve()
PREFIX = pathlib.Path(os.environ.get("BRANNOSTEL_PREFIX", BUILD / "wineprefix")).resolve()
SYSTEM32 = PREFIX / "drive_c" / "windows" / "system32"
ENTRY_NAME = b"Conexion a Zel Servicios IP"


def wine_env(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(PREFIX),
        "WINEARCH": "win32",
        "WINEDEBUG": "-all",
        # Our stand-in dial dialog over Wine's builtin; no menu entries in the
        # user's home; no Mono or Gecko install prompts.
        "WINEDLLOVERRIDES": "rasdlg=n;winemenubuilder.exe=d;mscoree=;mshtml=",
    })
    env.update(extra or {})
    return env


def ensure_prefix():
    """Creates the prefix once and (re)installs the stand-ins into it."""
    if not (PREFIX / "system.reg").exists():
        subprocess.run(["wineboot", "-i"], env=wine_env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=wine_env(), check=True)
    shutil.copy2(BUILD / "tests" / "rasdlg.dll", SYSTEM32 / "rasdlg.dll")


def stop():
    """Ends the prefix's wineserver and everything it runs."""
    subprocess.run(["wineserver", "-k"], env=wine_env(), check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def start(program, args=(), env=None):
    """Starts a program under Wine; returns the Popen."""
    return subprocess.Popen(["wine", str(program), *args], env=wine_env(env),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run(program, args=(), env=None, timeout=60):
    """Runs a program under Wine to its end; returns its exit status."""
    proc = start(program, args, env)
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise AssertionError(f"{program} still running after {timeout} s")
    return proc.returncode


class Scratch:
    """A folder for one case's logs, removed afterwards."""

    def __enter__(self):
        BUILD.joinpath("scratch").mkdir(exist_ok=True)
        self.path = pathlib.Path(tempfile.mkdtemp(dir=BUILD / "scratch"))
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name):
        return self.path / name


def read_dial_log(path):
    """The dial dialog stand-in's log: a list of (event, fields) pairs."""
    events = []
    if path.exists():
        for line in path.read_text().splitlines():
            event, *pairs = line.split()
            events.append((event, dict(p.split("=", 1) for p in pairs)))
    return events


def unhex(text):
    return None if text == "-" else bytes.fromhex(text)


def registry_export(path):
    """The prefix's whole registry, as text."""
    subprocess.run(["wine", "regedit", "/E", windows_path(path)], env=wine_env(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path.read_bytes().decode("utf-16")


def drive_files():
    """Every file under the prefix's drive C with its size and change time."""
    root = PREFIX / "drive_c"
    return {str(p.relative_to(root)): (p.stat().st_size, p.stat().st_mtime_ns)
            for p in root.rglob("*") if p.is_file() and not p.is_symlink()}
