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
import re
import shutil
import subprocess
import tempfile
import time

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
        # What the relay trace shows when a test turns it on: the closing of
        # handles and the calls into the shell.
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
                        "/d", "ntdll.NtClose;shell32.ShellExecuteA", "/f"], env=wine_env(),
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.copy2(BUILD / "tests" / "rasdlg.dll", SYSTEM32 / "rasdlg.dll")
    install_cm_standin()


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


# brannostelwin's side of the platform: the Connection Manager stand-in's
# place in the prefix, and the registry it is found through.
CM_STANDIN = "C:\\Program Files\\CM Stand In\\cmmgr32.exe"
APP_PATHS = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\cmmgr32.exe"
MAPPINGS = "Software\\Microsoft\\Connection Manager\\Mappings"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7


def install_cm_standin():
    folder = PREFIX / "drive_c" / "Program Files" / "CM Stand In"
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(BUILD / "tests" / "cmmgr32.exe", folder / "cmmgr32.exe")


def set_registry(values):
    """Clears every key brannostelwin could read, in both hives, then stores
    values: (hive, key, value name or None, type, bytes) each, bytes exact."""
    steps = [f"del|{hive}\\{key}" for hive in ("HKLM", "HKCU") for key in (APP_PATHS, MAPPINGS)]
    steps += [f"set|{hive}\\{key}|{name or ''}|{kind}|{data.hex()}"
              for hive, key, name, kind, data in values]
    status = run(BUILD / "tests" / "regset.exe", steps)
    assert status == 0, f"could not set up the registry: {values}"


def wait_for_file(path, text, timeout=20):
    """Waits until the file holds text; returns whether it did."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and text in path.read_text():
            return True
        time.sleep(0.1)
    return False


def read_cm_log(path):
    """The Connection Manager stand-in's starts: [(show command, command line)]."""
    starts = []
    if path.exists():
        for line in path.read_text().splitlines():
            if line.startswith("start "):
                fields = dict(p.split("=", 1) for p in line.split()[1:])
                starts.append((int(fields["show"]), bytes.fromhex(fields["command"])))
    return starts


def dial(program, args=(), **env):
    """Runs brannostelxp (or an installed copy); returns its status and what
    the dialog was handed, without the fields that differ between processes."""
    with Scratch() as scratch:
        log = scratch.file("dial.log")
        status = run(program, args, env={"RASDLG_STANDIN_LOG": windows_path(log), **env})
        events = [(e, {k: v for k, v in f.items() if k != "pid"}) for e, f in read_dial_log(log)]
        return status, events


def register_profile(profile=b"C:\\zel.cmp"):
    """Registers the Connection Manager stand-in and a machine-wide profile."""
    set_registry([("HKLM", APP_PATHS, None, REG_SZ, CM_STANDIN.encode() + b"\0"),
                  ("HKLM", MAPPINGS, ENTRY_NAME.decode(), REG_SZ, profile + b"\0")])


def connect(program, args=(), **env):
    """Runs brannostelwin (or an installed copy) on what register_profile set
    up; returns its status and how the Connection Manager stand-in started."""
    with Scratch() as scratch:
        log = scratch.file("cm.log")
        status = run(program, args, env={"CMMGR_STANDIN_LOG": windows_path(log), **env})
        wait_for_file(log, "end")
        return status, read_cm_log(log)


def run_traced(program, env=None, timeout=60):
    """Runs a program with Wine's registry and relay traces on; returns its
    exit status and, in order, what its main thread did with the keys
    brannostelwin reads ("open HIVE KEY" or "fail HIVE KEY" with the access
    asked for, "query KEY NAME", "close KEY") and what it asked the shell."""
    traced = {**(env or {}), "WINEDEBUG": "+reg,+relay"}
    proc = subprocess.Popen(["wine", str(program)], env=wine_env(traced),
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, trace = proc.communicate(timeout=timeout)
    return proc.returncode, key_events(trace.decode(errors="replace").splitlines())


KEY_LABELS = {APP_PATHS: "App Paths", MAPPINGS: "Mappings"}
_OPEN = re.compile(r'(\w+):trace:reg:NtOpenKeyEx \((0x[0-9a-f]+),L"(.*)",([0-9a-f]+),')
_OPENED = re.compile(r"(\w+):trace:reg:NtOpenKeyEx <- (\(nil\)|0x[0-9a-f]+)$")
_ROOT = re.compile(r'(\w+):trace:reg:create_special_root_hkey (\S+) -> ([0-9A-F]+)$')
_QUERY = re.compile(r'(\w+):trace:reg:RegQueryValueExA \(([0-9A-F]+),(\(null\)|"[^"]*")')
_CLOSE = re.compile(r"(\w+):Call ntdll\.NtClose\(([0-9a-f]+)\)")
_SHELL = re.compile(r'(\w+):Call shell32\.ShellExecuteA\((\w+),\w+ "(\w+)",.*,(\w+),(\w+)\) ret=')
_HIVES = {'L"\\\\Registry\\\\Machine"': "HKLM", "HKEY_CURRENT_USER": "HKCU"}


def key_events(lines):
    trace_key = {key.replace("\\", "\\\\"): label for key, label in KEY_LABELS.items()}
    # The program's own thread is the one that opens App Paths first.
    thread = next((m[1] for m in map(_OPEN.match, lines) if m and m[3] in trace_key), None)
    roots, handles, pending, events = {}, {}, None, []
    for line in lines:
        if not line.startswith(f"{thread}:"):
            continue
        if m := _ROOT.match(line):
            roots[int(m[3], 16)] = _HIVES.get(m[2], m[2])
        elif (m := _OPEN.match(line)) and m[3] in trace_key:
            pending = (roots.get(int(m[2], 16), m[2]), trace_key[m[3]], int(m[4], 16))
        elif (m := _OPENED.match(line)) and pending:
            hive, label, access = pending
            opened = m[2] != "(nil)"
            events.append(f"{'open' if opened else 'fail'} {hive} {label} access={access}")
            if opened:
                handles[int(m[2], 16)] = label
            pending = None
        elif (m := _QUERY.match(line)) and int(m[2], 16) in handles:
            name = None if m[3] == "(null)" else m[3].strip('"')
            events.append(f"query {handles[int(m[2], 16)]} {name}")
        elif (m := _CLOSE.match(line)) and int(m[2], 16) in handles:
            events.append(f"close {handles.pop(int(m[2], 16))}")
        elif m := _SHELL.match(line):
            owner, verb, folder, show = m[2], m[3], m[4], int(m[5], 16)
            events.append(f"shell owner={owner} verb={verb} folder={folder} show={show}")
    return events
