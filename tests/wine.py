"""The Wine harness: a prefix of the project's own for the architecture
under test, with the stand-ins installed in it, and starting, running and
stopping programs there; what the prefix holds, as snapshots.

The prefix is the build tree's (BRANNOSTEL_PREFIX_NAME, default wineprefix),
or, where BRANNOSTEL_PREFIXES is set (as in the x86 test guest, whose own
disk keeps them), one under that folder, per architecture.

Run as a script, `wine.py stop PREFIX...` ends those prefixes' wineservers
(test.sh, whatever happens).
"""
import contextlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

import archs
import rig


def prefix():
    root = os.environ.get("BRANNOSTEL_PREFIXES")
    folder = pathlib.Path(root) / rig.ARCH if root else rig.BUILD
    return folder / os.environ.get("BRANNOSTEL_PREFIX_NAME", "wineprefix")


def loader():
    """The prefix's own loader, called by path: /usr/bin/wine prefers the
    32-bit one whenever it is installed, even where it cannot run."""
    return archs.LOADERS[rig.ARCH]


def environment(extra=None):
    variables = dict(os.environ)
    variables.update({
        "WINEPREFIX": str(prefix()),
        "WINEARCH": archs.PREFIX_KINDS[rig.ARCH],
        "WINELOADER": loader(),
        "WINEDEBUG": "-all",
        # Our stand-in dial dialog over Wine's builtin; no menu entries in the
        # user's home; no Mono or Gecko install prompts.
        "WINEDLLOVERRIDES": "rasdlg=n;winemenubuilder.exe=d;mscoree=;mshtml=",
    })
    variables.update(extra or {})
    return variables


def quiet(command, check=True):
    subprocess.run(command, env=environment(), check=check,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def ensure_prefix():
    """Creates the prefix once, (re)installs the stand-ins into it, and keeps
    its wineserver up until stop()."""
    folder = prefix()
    if not (folder / "system.reg").exists():
        folder.parent.mkdir(parents=True, exist_ok=True)  # Wine makes the prefix, not its folder
        quiet([loader(), "wineboot", "-i"])
        quiet([archs.WINESERVER, "-w"])
        # What the relay trace shows when a test turns it on: the closing of
        # handles and the calls into the shell.
        quiet([loader(), "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
               "/d", "ntdll.NtClose;shell32.ShellExecuteA", "/f"])
    # One wineserver for all the runs until stop(): started afresh for each,
    # it would load and save the whole registry every time (seconds each
    # under emulation).
    quiet([archs.WINESERVER, "-p"], check=False)  # fails where one runs already
    # The prefix's own architecture's system folder, in either kind of prefix.
    standins = rig.BUILD / "standins"
    shutil.copy2(standins / "rasdlg.dll", folder / "drive_c/windows/system32/rasdlg.dll")
    program_folder = folder / "drive_c" / "Program Files" / "CM Stand In"
    program_folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(standins / "cmmgr32.exe", program_folder / "cmmgr32.exe")


def stop(folder=None):
    """Ends a prefix's wineserver (this architecture's by default) and
    everything it runs."""
    subprocess.run([archs.WINESERVER, "-k"],
                   env={**environment(), "WINEPREFIX": str(folder or prefix())},
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


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
    return loader()


def start(program, args=(), env=None, trace=False):
    """Starts a program under Wine, with env added to the environment;
    returns the Popen (with its stderr piped when trace is set). A test that
    starts one ends it: see running()."""
    return subprocess.Popen([loader_for(program), str(program), *args], env=environment(env),
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE if trace else subprocess.DEVNULL)


def finish(proc, timeout):
    """Waits for a started program's end; kills it if it has not ended within
    timeout seconds, and fails."""
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


@contextlib.contextmanager
def scratch():
    """A folder for one case's files, in the build tree, removed afterwards."""
    rig.BUILD.joinpath("scratch").mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=rig.BUILD / "scratch") as folder:
        yield pathlib.Path(folder)


def wait_for_file(path, text, timeout=60):
    """Waits until the file holds text; returns whether it did."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and text in path.read_text():
            return True
        time.sleep(0.05)
    return False


def registry_export(path):
    """The prefix's whole registry, as text."""
    quiet([loader(), "regedit", "/E", windows_path(path)])
    return path.read_bytes().decode("utf-16")


def drive_files():
    """Every file under the prefix's drive C with its size and change time."""
    root = prefix() / "drive_c"
    return {str(p.relative_to(root)): (p.stat().st_size, p.stat().st_mtime_ns)
            for p in root.rglob("*") if p.is_file() and not p.is_symlink()}


if __name__ == "__main__" and sys.argv[1:2] == ["stop"]:
    for name in sys.argv[2:]:
        if pathlib.Path(name).is_dir():
            stop(pathlib.Path(name).resolve())
