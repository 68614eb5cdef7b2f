"""The test rig: a Wine prefix of the project's own for one architecture, in
that architecture's build tree, with the stand-ins installed in it, and
helpers to run the shipped programs there and read back what they handed to
the platform. Also the expectations the tests share.

CTest passes the architecture and the folders in the environment:
  BRANNOSTEL_ARCH       x86 (32-bit prefix) or x64 (64-bit prefix)
  BRANNOSTEL_DIST_ROOT  dist/: a folder of programs per architecture, the packages
  BRANNOSTEL_BUILD      this architecture's build tree (stand-ins, prefix)
  BRANNOSTEL_VERSION    the version the build gives the packages
  BRANNOSTEL_PREFIX_NAME  another Wine prefix of the build tree to use (default: wineprefix)
  BRANNOSTEL_PREFIXES   where prefixes are kept instead, a folder per architecture;
                        set in the x86 test guest, whose own disk keeps them
"""
import contextlib
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

import archs

ARCH = os.environ.get("BRANNOSTEL_ARCH", "x86")
SOURCE = pathlib.Path(__file__).resolve().parent.parent
DIST_ROOT = pathlib.Path(os.environ.get("BRANNOSTEL_DIST_ROOT", "dist")).resolve()
DIST = DIST_ROOT / ARCH
BUILD = pathlib.Path(os.environ.get("BRANNOSTEL_BUILD", f"build/{ARCH}")).resolve()
PREFIX = (pathlib.Path(os.environ["BRANNOSTEL_PREFIXES"]) / ARCH if "BRANNOSTEL_PREFIXES" in os.environ
          else BUILD) / os.environ.get("BRANNOSTEL_PREFIX_NAME", "wineprefix")
VERSION = os.environ.get("BRANNOSTEL_VERSION", "1.0.0.1")
# Called by path, never through /usr/bin/wine: that one prefers the 32-bit
# loader whenever it is installed, even where it cannot run.
LOADER = archs.LOADERS[ARCH]
WINESERVER = "/usr/lib/wine/wineserver"

# What every test expects of the shipped files.
PROGRAMS = ("brannostelxp", "brannostelwin")
XP, WIN = (DIST / f"{name}.exe" for name in PROGRAMS)
ENTRY_NAME = b"Conexion a Zel Servicios IP"
DIAL_SEQUENCE = ["call", "return", "exit"]  # what the dial stand-in logs for one run


def package(arch=ARCH, version=VERSION, folder=DIST_ROOT):
    return folder / f"brannostel-{version}-{arch}.msi"


def wine_env(extra=None):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(PREFIX),
        "WINEARCH": archs.PREFIX_KINDS[ARCH],
        "WINELOADER": LOADER,
        "WINEDEBUG": "-all",
        # Our stand-in dial dialog over Wine's builtin; no menu entries in the
        # user's home; no Mono or Gecko install prompts.
        "WINEDLLOVERRIDES": "rasdlg=n;winemenubuilder.exe=d;mscoree=;mshtml=",
    })
    env.update(extra or {})
    return env


def quiet(command, check=True):
    subprocess.run(command, env=wine_env(), check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ensure_prefix():
    """Creates the prefix once and (re)installs the stand-ins into it."""
    if not (PREFIX / "system.reg").exists():
        PREFIX.parent.mkdir(parents=True, exist_ok=True)  # Wine makes the prefix, not its folder
        quiet([LOADER, "wineboot", "-i"])
        quiet([WINESERVER, "-w"])
        # What the relay trace shows when a test turns it on: the closing of
        # handles and the calls into the shell.
        quiet([LOADER, "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
               "/d", "ntdll.NtClose;shell32.ShellExecuteA", "/f"])
    # One wineserver for all the runs until stop(): started afresh for each,
    # it would load and save the whole registry every time (seconds each
    # under emulation).
    quiet([WINESERVER, "-p"], check=False)  # fails where one runs already
    # The prefix's own architecture's system folder, in either kind of prefix.
    shutil.copy2(BUILD / "tests" / "rasdlg.dll", PREFIX / "drive_c/windows/system32/rasdlg.dll")
    folder = PREFIX / "drive_c" / "Program Files" / "CM Stand In"
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(BUILD / "tests" / "cmmgr32.exe", folder / "cmmgr32.exe")


def stop():
    """Ends the prefix's wineserver and everything it runs."""
    quiet([WINESERVER, "-k"], check=False)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def loader_for(program):
    """The loader for a program file: the 32-bit one for an x86 program, also
    in a 64-bit prefix (as Wine's own launcher does); the prefix's own for
    anything else, such as Wine's builtin programs."""
    path = pathlib.Path(program)
    if path.is_file():
        image = path.read_bytes()[:4096]
        header = int.from_bytes(image[0x3C:0x40], "little")
        if image[header + 4:header + 6] == b"\x4c\x01":  # IMAGE_FILE_MACHINE_I386
            return archs.LOADERS["x86"]
    return LOADER


def start(program, args=(), env=None, trace=False):
    """Starts a program under Wine; returns the Popen (with its stderr piped
    when trace is set)."""
    return subprocess.Popen([loader_for(program), str(program), *args], env=wine_env(env),
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE if trace else subprocess.DEVNULL)


def run(program, args=(), env=None, timeout=60):
    """Runs a program under Wine to its end; returns its exit status."""
    proc = start(program, args, env)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        raise AssertionError(f"{program} still running after {timeout} s") from None


@contextlib.contextmanager
def scratch():
    """A folder for one case's files, in the build tree, removed afterwards."""
    BUILD.joinpath("scratch").mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory(dir=BUILD / "scratch") as folder:
        yield pathlib.Path(folder)


def wait_for_file(path, text, timeout=20):
    """Waits until the file holds text; returns whether it did."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and text in path.read_text():
            return True
        time.sleep(0.05)
    return False


def unhex(text):
    return None if text == "-" else bytes.fromhex(text)


def registry_export(path):
    """The prefix's whole registry, as text."""
    quiet([LOADER, "regedit", "/E", windows_path(path)])
    return path.read_bytes().decode("utf-16")


def drive_files():
    """Every file under the prefix's drive C with its size and change time."""
    root = PREFIX / "drive_c"
    return {str(p.relative_to(root)): (p.stat().st_size, p.stat().st_mtime_ns)
            for p in root.rglob("*") if p.is_file() and not p.is_symlink()}


# brannostelxp's side of the platform: the dial dialog stand-in.
def read_dial_log(path):
    """The dial dialog stand-in's log: a list of (event, fields) pairs."""
    events = []
    if path.exists():
        for line in path.read_text().splitlines():
            event, *pairs = line.split()
            events.append((event, dict(p.split("=", 1) for p in pairs)))
    return events


def dial(program=XP, args=(), **env):
    """Runs brannostelxp (or an installed copy); returns its status and what
    the dialog was handed, without the fields that differ between processes."""
    with scratch() as folder:
        log = folder / "dial.log"
        status = run(program, args, env={"RASDLG_STANDIN_LOG": windows_path(log), **env})
        events = [(e, {k: v for k, v in f.items() if k != "pid"}) for e, f in read_dial_log(log)]
        return status, events


# brannostelwin's side of the platform: the Connection Manager stand-in's
# place in the prefix, and the registry it is found through.
CM_STANDIN = "C:\\Program Files\\CM Stand In\\cmmgr32.exe"
APP_PATHS = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe"
MAPPINGS = "Software\\Microsoft\\Connection Manager\\Mappings"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


def wow64(key):
    """Where a key of HKLM\\Software is kept for 32-bit programs on 64-bit Windows."""
    return key.replace("Software\\", "Software\\WOW6432Node\\", 1)


def cm_command(profile):
    """The command line the Connection Manager gets: how the shell starts a
    program with a parameter string."""
    command = f'"{CM_STANDIN}"'.encode()
    return command + b" " + profile if profile else command


def set_registry(values):
    """Clears every key brannostelwin could read, in both hives and both
    views, then stores values: (hive, key, value name or None, type, bytes)
    each, bytes exact."""
    keys = [(hive, key) for hive in ("HKLM", "HKCU") for key in (APP_PATHS, MAPPINGS)]
    keys += [("HKLM", wow64(key)) for key in (APP_PATHS, MAPPINGS)]
    steps = [f"del|{hive}\\{key}" for hive, key in keys]
    steps += [f"set|{hive}\\{key}|{name or ''}|{kind}|{data.hex()}"
              for hive, key, name, kind, data in values]
    status = run(BUILD / "tests" / "regset.exe", steps)
    assert status == 0, f"could not set up the registry: {values}"


def register_profile(profile=b"C:\\zel.cmp"):
    """Registers the Connection Manager stand-in and a machine-wide profile."""
    set_registry([("HKLM", APP_PATHS, None, REG_SZ, CM_STANDIN.encode() + b"\0"),
                  ("HKLM", MAPPINGS, ENTRY_NAME.decode(), REG_SZ, profile + b"\0")])


def read_cm_log(path):
    """The Connection Manager stand-in's starts: [(show command, command line)]."""
    starts = []
    if path.exists():
        for line in path.read_text().splitlines():
            if line.startswith("start "):
                fields = dict(p.split("=", 1) for p in line.split()[1:])
                starts.append((int(fields["show"]), bytes.fromhex(fields["command"])))
    return starts


def connect(program=WIN, args=(), **env):
    """Runs brannostelwin (or an installed copy) on what register_profile set
    up, which starts the Connection Manager stand-in; returns its status and
    how the stand-in started."""
    with scratch() as folder:
        log = folder / "cm.log"
        status = run(program, args, env={"CMMGR_STANDIN_LOG": windows_path(log), **env})
        assert wait_for_file(log, "end"), f"{program} started no Connection Manager that ended"
        return status, read_cm_log(log)
