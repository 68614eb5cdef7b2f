"""The Wine harness: a prefix of the project's own, the stand-ins installed
in it, and running programs there; what the prefix holds, as snapshots.

The prefix is rig.PREFIX_NAME in the build tree or, where BRANNOSTEL_PREFIXES
is set (in the guest, on its own disk), below that. Each starts as a copy of
one made once from nothing: a fresh prefix takes seconds, not a minute.
`wine.py stop PREFIX...` ends those prefixes' wineservers (test.sh).
"""
import atexit
import contextlib
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

import rig
from rig.places import LOADERS, PREFIX_KINDS, WINESERVER

# Our stand-in dial dialog over Wine's builtin; no menu entries in the user's
# home; no Mono or Gecko install prompts. (The Remote Access API stand-in is
# preferred only where a test asks: standins.check().)
OVERRIDES = "rasdlg=n;winemenubuilder.exe=d;mscoree=;mshtml="
ROOT = (pathlib.Path(os.environ["BRANNOSTEL_PREFIXES"]) / rig.ARCH
        if "BRANNOSTEL_PREFIXES" in os.environ else rig.BUILD)
# How long a prefix's wineserver stays once its last program has ended:
# Wine's default, as serve() leaves it.
PERSIST_SECONDS = 3
# What each shipped program can end with. Any other status means that it
# never ran, or died: Wine gives 1 where it could not start it at all.
STATUSES = {"brannostelxp": {0}, "brannostelwin": {0}, "brannostelcheck": {0, 1, 2, 3, 16}}
# Every program this test process ran under Wine, with the file that keeps
# its standard error (Wine's own err: lines among it); said() reads those
# since mark().
RUNS = []
_said_folder = None
_mark = 0
_holder = None  # the program that keeps the prefix's wineserver up: serve()


def prefix():
    return ROOT / rig.PREFIX_NAME


def loader():
    """The prefix's own loader, by path: /usr/bin/wine prefers the 32-bit one
    whenever it is installed, even where it cannot run."""
    return LOADERS[rig.PREFIX_ARCH]


def environment(extra=None, folder=None):
    return {**os.environ,
            "WINEPREFIX": str(folder or prefix()),
            "WINEARCH": PREFIX_KINDS[rig.PREFIX_ARCH],
            "WINELOADER": loader(),
            "WINEDEBUG": "fixme-all",
            "WINEDLLOVERRIDES": OVERRIDES,
            **(extra or {})}


def quiet(command, folder=None, check=True):
    subprocess.run(command, env=environment(folder=folder), check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ensure_prefix():
    """Makes the prefix unless it is there, starts its wineserver afresh for
    this test process (serve()), and (re)installs the stand-ins into it."""
    folder = prefix()
    if not (folder / "system.reg").exists():
        pristine = ROOT.parent / f"pristine-{rig.PREFIX_ARCH}"
        if not (pristine / "system.reg").exists():
            shutil.rmtree(pristine, ignore_errors=True)
            pristine.parent.mkdir(parents=True, exist_ok=True)
            quiet([loader(), "wineboot", "-i"], pristine)
            quiet([WINESERVER, "-w"], pristine)  # everything saved
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(pristine, folder, symlinks=True)
    serve()
    standins = rig.BUILD / "standins"
    for library in ("rasdlg.dll", "rasapi32.dll", "rasman.dll", "rastapi.dll"):
        shutil.copy2(standins / library, system_folder() / library)
    # The Connection Manager where the tests register it, and where Windows
    # keeps its own, on the search path.
    program_folder = folder / "drive_c" / "Program Files" / "CM Stand In"
    program_folder.mkdir(parents=True, exist_ok=True)
    for place in (program_folder, system_folder()):
        shutil.copy2(standins / "cmmgr32.exe", place / "cmmgr32.exe")


def system_folder():
    """Where the programs under test find the system's DLLs: a 64-bit prefix
    keeps the 32-bit ones in syswow64."""
    system = "syswow64" if (rig.ARCH, rig.PREFIX_ARCH) == ("x86", "x64") else "system32"
    return prefix() / "drive_c" / "windows" / system


def fresh_prefix():
    """The prefix as a new one, whatever the tests before did to it."""
    stop()
    shutil.rmtree(prefix(), ignore_errors=True)
    ensure_prefix()


def stop(folder=None):
    """Ends a prefix's wineserver (this one's by default) and all it runs,
    once it has saved the registry."""
    global _holder
    quiet([WINESERVER, "-k"], folder, check=False)
    quiet([WINESERVER, "-w"], folder, check=False)
    if folder is None and _holder is not None:
        _holder.wait()
        _holder = None


def serve():
    """Starts the prefix's wineserver afresh, kept up for as long as this
    test process lives by one program that waits for its standard input,
    which ends with this process however it ends.

    A wineserver that outlives its last program by a set time ends at a
    moment no test chooses, and a program started as it ends may find its
    socket but no server behind it: Wine's loader tries to connect for 5.5 s
    and then gives up with status 1, before any code of the program runs
    (dlls/ntdll/unix/server.c, server_connect), which a busy machine saving
    a registry of megabytes can take. So no server of a test ends while the
    test runs: only stop() ends one, and the next program serves afresh.
    Killed outright, the test leaves a server that ends PERSIST_SECONDS
    after the holder."""
    global _holder
    stop()
    _holder = subprocess.Popen(command("cmd", ["/c", "set /p hold="]), env=environment(),
                               stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    # A program that ends, so that the server has had a last program even
    # if the holder is killed before it is up; and what the relay trace
    # shows when a test turns it on: the closing of handles and the calls
    # into the shell.
    status = run("reg", ["add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
                         "/d", "ntdll.NtClose;shell32.ShellExecuteA", "/f"])
    assert status == 0, f"reg add ended with {status}"


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def command(program, args=()):
    """The command that runs a program under Wine. An x86 program gets the
    32-bit loader, also in a 64-bit prefix, as Wine's own launcher does.

    Address-space randomization is off for it (setarch -R), so that its
    layout is the same at every start. Debian builds Wine without the
    preloader that reserves the addresses Windows fixes before anything
    else is mapped; now and then a start under load then died before any
    code of the program ran, with status 1 and "err:virtual:
    virtual_alloc_first_teb wine: failed to map the shared user data:
    c0000018" (STATUS_CONFLICTING_ADDRESSES: something was already mapped
    at 0x7FFE0000)."""
    path = pathlib.Path(program)
    image = path.read_bytes()[:4096] if path.is_file() else b""
    header = int.from_bytes(image[0x3C:0x40], "little")
    x86 = image[header + 4:header + 6] == b"\x4c\x01"  # IMAGE_FILE_MACHINE_I386
    return ["setarch", "-R", LOADERS["x86"] if x86 else loader(), str(program), *args]


def start(program, args=(), env=None, stdout=subprocess.DEVNULL, cwd=None):
    """Starts a program under Wine with env added, in the folder cwd (its
    current folder under Wine too); returns the Popen, whose standard error
    goes to the file .said. Whoever starts one ends it: see running()."""
    global _said_folder
    if _holder is None:
        serve()
    if _said_folder is None:
        (rig.BUILD / "scratch").mkdir(parents=True, exist_ok=True)
        _said_folder = tempfile.mkdtemp(prefix="said-", dir=rig.BUILD / "scratch")
        atexit.register(shutil.rmtree, _said_folder, ignore_errors=True)
    said = pathlib.Path(_said_folder) / f"{len(RUNS)}-{pathlib.Path(str(program)).name}.txt"
    with said.open("wb") as errors:
        proc = subprocess.Popen(command(program, args), env=environment(env), stdout=stdout,
                                stderr=errors, cwd=cwd)
    proc.program, proc.said = str(program), said
    RUNS.append(proc)
    return proc


def mark():
    """Where what said() reads begins: the runs from here on."""
    global _mark
    _mark = len(RUNS)


def said(lines=12):
    """The last lines of standard error of each program run since mark(), with
    its command and status, for a failure to say what happened."""
    parts = []
    for proc in RUNS[_mark:]:
        text = proc.said.read_text(errors="replace").splitlines() if proc.said.exists() else []
        status = "still running" if proc.poll() is None else f"status {proc.returncode:#x}"
        parts.append(f"--- {' '.join(map(str, proc.args[3:]))[:200]}: {status}"
                     + "".join(f"\n    {line}" for line in text[-lines:]))
    return "\n".join(parts)


@contextlib.contextmanager
def display():
    """An X display of its own (Xvfb) for the length of a with block, on which
    a console's window shows as on a desktop; yields its DISPLAY. What drew
    on it ends with it: the prefix's wineserver ends, and the next program
    serves afresh."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp"],
                              pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        with os.fdopen(read) as number:  # written once the display takes clients
            yield f":{number.readline().strip()}"
    finally:
        server.kill()
        server.wait()
        stop()


def console(how, command, env=None, answer=("-", "enter")):
    """Runs a console program as tests/helpers/spawn.c starts it (how: console,
    hidden, nul-input, no-window or detached); with answer (prompt, key),
    types the key once its console shows the prompt. Returns its exit status
    (all 32 bits) and the text its console showed."""
    with rig.scratch() as folder:
        result = folder / "result.txt"
        run(rig.BUILD / "standins" / "spawn.exe", [how, windows_path(result), *answer, *command],
            env, timeout=90)
        status, _, shown = result.read_text(encoding="utf-8").partition("\n")
        return int(status, 16), shown


def finish(proc, timeout):
    """Waits for a started program's end, with its standard output (if piped)
    in .output; returns its status. Fails at timeout, killing it, and where
    a shipped program ends with a status it never returns."""
    try:
        proc.output, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise AssertionError(f"{proc.program} still running after {timeout} s") from None
    statuses = STATUSES.get(pathlib.PureWindowsPath(proc.program).stem.lower())
    if statuses and proc.returncode not in statuses:
        raise AssertionError(f"{proc.program} did not run: status {proc.returncode:#x}, "
                             "which it never returns")
    return proc.returncode


@contextlib.contextmanager
def running(program, args=(), env=None):
    """A program started under Wine for the length of a with block, killed
    at its end if it is still running then."""
    proc = start(program, args, env)
    try:
        yield proc
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def run(program, args=(), env=None, timeout=60):
    """Runs a program under Wine to its end; returns its exit status."""
    return finish(start(program, args, env), timeout)


def output(program, args=(), env=None, timeout=60, cwd=None):
    """Runs a program under Wine to its end; returns its exit status and its
    standard output."""
    proc = start(program, args, env, subprocess.PIPE, cwd)
    return finish(proc, timeout), proc.output


def hives():
    """The prefix's whole registry, every key and value as its hive files
    hold them once the wineserver has saved all it holds (it saves as it
    ends): {file name: [lines]}. The keys' times are left out: Wine's own
    start-up writes the same values again."""
    stop()  # the next program serves afresh
    saved = {hive: [re.sub(r"^(\[.*\]) \d+$", r"\1", line) for line in
                    (prefix() / hive).read_text(errors="replace").splitlines()
                    if not line.startswith("#time=")]
             for hive in ("system.reg", "user.reg", "userdef.reg")}
    return saved


def drive_files():
    """Every file under the prefix's drive C with its size and change time."""
    root = prefix() / "drive_c"
    return {str(p.relative_to(root)): (p.stat().st_size, p.stat().st_mtime_ns)
            for p in root.rglob("*") if p.is_file() and not p.is_symlink()}


if __name__ == "__main__" and sys.argv[1:2] == ["stop"]:
    for name in sys.argv[2:]:
        stop(pathlib.Path(name).resolve())
