"""The Wine harness: a prefix of the project's own, the stand-ins installed
in it, and running programs there; what the prefix holds, as snapshots.

The prefix is rig.PREFIX_NAME in the build tree or, where BRANNOSTEL_PREFIXES
is set (in the guest, on its own disk), below that. Each starts as a copy of
one made once from nothing: a fresh prefix takes seconds, not a minute.
`wine.py stop PREFIX...` ends those prefixes' wineservers (test.sh).
"""
import contextlib
import os
import pathlib
import re
import shutil
import subprocess
import sys

import rig
from rig import places
from rig.places import LOADERS, PREFIX_KINDS, WINESERVER

# Our stand-in dial dialog over Wine's builtin; no menu entries in the user's
# home; no Mono or Gecko install prompts. (The Remote Access API stand-in is
# preferred only where a test asks: standins.check().)
OVERRIDES = "rasdlg=n;winemenubuilder.exe=d;mscoree=;mshtml="
ROOT = (pathlib.Path(os.environ["BRANNOSTEL_PREFIXES"]) / rig.ARCH
        if "BRANNOSTEL_PREFIXES" in os.environ else rig.BUILD)
# How long a prefix's wineserver stays once its last program has ended. One
# server serves all of a test's runs: one started afresh for each would load
# and save the whole registry every time (seconds each under emulation), and
# a program started just as it was ending would die with it. The longest
# gap between two runs of a test was 8 s in the emulated x86 guest, and a
# busy host makes the guest two to three times slower: 30 s covers that.
# Bounded, so that a run killed outright, which never reaches stop(), leaves
# no server holding its prefix for long.
PERSIST_SECONDS = 30


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
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": OVERRIDES,
            **(extra or {})}


def quiet(command, folder=None, check=True):
    subprocess.run(command, env=environment(folder=folder), check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ensure_prefix():
    """Makes the prefix unless it is there, (re)installs the stand-ins into
    it, and keeps its wineserver up until stop() or PERSIST_SECONDS after
    its last program."""
    folder = prefix()
    fresh = not (folder / "system.reg").exists()
    if fresh:
        pristine = ROOT.parent / f"pristine-{rig.PREFIX_ARCH}"
        if not (pristine / "system.reg").exists():
            shutil.rmtree(pristine, ignore_errors=True)
            pristine.parent.mkdir(parents=True, exist_ok=True)
            quiet([loader(), "wineboot", "-i"], pristine)
            quiet([WINESERVER, "-w"], pristine)  # everything saved
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(pristine, folder, symlinks=True)
    persist()  # one wineserver for all the runs
    if fresh:
        # What the relay trace shows when a test turns it on: the closing of
        # handles and the calls into the shell.
        quiet([loader(), "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
               "/d", "ntdll.NtClose;shell32.ShellExecuteA", "/f"])
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
    """Ends a prefix's wineserver (this one's by default) and all it runs."""
    quiet([WINESERVER, "-k"], folder, check=False)


def persist():
    """Starts the prefix's wineserver where none runs, to stay
    PERSIST_SECONDS after its last program. A server no program has used
    yet has no last program and would never end, so a program that ends at
    once uses it first (but in the guest, whose prefixes end with it)."""
    started = subprocess.run([WINESERVER, f"-p{PERSIST_SECONDS}"], env=environment(),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
    if started and not places.guest.INSIDE:
        run(rig.BUILD / "standins" / "regset.exe")


def restart():
    """Ends the prefix's wineserver and all it runs, once it has saved the
    registry, and starts one afresh."""
    stop()
    quiet([WINESERVER, "-w"], check=False)
    persist()


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def command(program, args=()):
    """The command that runs a program under Wine. An x86 program gets the
    32-bit loader, also in a 64-bit prefix, as Wine's own launcher does."""
    path = pathlib.Path(program)
    image = path.read_bytes()[:4096] if path.is_file() else b""
    header = int.from_bytes(image[0x3C:0x40], "little")
    x86 = image[header + 4:header + 6] == b"\x4c\x01"  # IMAGE_FILE_MACHINE_I386
    return [LOADERS["x86"] if x86 else loader(), str(program), *args]


def start(program, args=(), env=None, trace=False):
    """Starts a program under Wine with env added; returns the Popen, with
    its standard error piped for trace. Whoever starts one ends it: see
    running()."""
    return subprocess.Popen(command(program, args), env=environment(env), stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE if trace else subprocess.DEVNULL)


@contextlib.contextmanager
def display():
    """An X display of its own (Xvfb) for the length of a with block, on which
    a console's window shows as on a desktop; yields its DISPLAY. What drew
    on it ends with it: the prefix's wineserver starts afresh."""
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
        restart()


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
    """Waits for a started program's end; kills it and fails at timeout."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        raise AssertionError(f"{proc.args[1]} still running after {timeout} s") from None


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


def hives():
    """The prefix's whole registry, every key and value as its hive files
    hold them once the wineserver has saved all it holds (it saves as it
    ends): {file name: [lines]}. The keys' times are left out: Wine's own
    start-up writes the same values again."""
    restart()
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
