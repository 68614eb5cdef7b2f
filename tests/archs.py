"""Which architectures' behaviour this machine can test under Wine.

Each architecture needs its own Wine loader: x86 programs run in a 32-bit
prefix under /usr/lib/wine/wine, x64 programs in a 64-bit prefix under
/usr/lib/wine/wine64. Some machines cannot run 32-bit Linux programs at all;
there the x86 loader fails with "Exec format error", and x86 behaviour is
tested in the emulated x86 guest (tests/guest) instead, where qemu is
installed. BRANNOSTEL_TEST_ARCHS (x86, x64 or both, comma-separated) narrows
the choice further; unset, every architecture is tested.

Run as a script, it prints one line per architecture, or one line saying
what is wrong with BRANNOSTEL_TEST_ARCHS and exits 2.
"""
import os
import pathlib
import shutil
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "guest"))
import guest

ARCHS = ("x86", "x64")
LOADERS = {"x86": "/usr/lib/wine/wine", "x64": "/usr/lib/wine/wine64"}
WINESERVER = "/usr/lib/wine/wineserver"
PREFIX_KINDS = {"x86": "win32", "x64": "win64"}  # each one's WINEARCH
PACKAGES = {"x86": "wine32:i386", "x64": "wine64"}


def chosen():
    """The architectures BRANNOSTEL_TEST_ARCHS names; ValueError if it names others."""
    text = os.environ.get("BRANNOSTEL_TEST_ARCHS", "").strip()
    if not text:
        return set(ARCHS)
    names = {name.strip() for name in text.split(",")}
    if not names <= set(ARCHS):
        raise ValueError(f"BRANNOSTEL_TEST_ARCHS={text}: use x86, x64 or x86,x64")
    return names


def place(arch):
    """Where arch's programs run: ("here", None), ("guest", None) where this
    machine runs no program of that width but can boot the test guest, or
    (None, why they cannot run at all)."""
    if arch not in chosen():
        return None, "BRANNOSTEL_TEST_ARCHS leaves it out"
    loader = LOADERS[arch]
    if not os.path.exists(loader):
        return None, f"{loader} is missing (./install-deps.sh installs {PACKAGES[arch]})"
    try:
        subprocess.run([loader, "--version"], check=True, capture_output=True, timeout=60)
    except OSError as error:
        why = f"this machine cannot run {loader} ({error.strerror})"
        if guest.INSIDE:
            return None, why
        if shutil.which(guest.QEMU) is None:
            return None, (f"{why}, and {guest.QEMU} is missing for the x86 test guest "
                          "(./install-deps.sh installs qemu-system-x86)")
        return "guest", None
    except subprocess.SubprocessError as error:
        return None, f"{loader} --version failed ({error})"
    return "here", None


def skip_unless_runnable(arch):
    """Ends a CTest test as skipped (77), saying why, where arch cannot run;
    otherwise returns where it runs: "here" or "guest"."""
    where, reason = place(arch)
    if reason:
        print(f"skipped: {arch} behaviour: {reason}")
        sys.exit(77)
    return where


def run_in_guest(argv, env=None, output=None):
    """Runs a Python script (this one again, say) in the x86 test guest, from
    the same folder, with this process's settings or env; returns its exit
    status."""
    try:
        return guest.run(["python3", *argv], env=env, output=output)
    except guest.GuestError as error:
        print(f"guest: {error}", flush=True)
        return 1


if __name__ == "__main__":
    try:
        for arch in ARCHS:
            where, reason = place(arch)
            print(f"{arch}: behaviour tests skipped: {reason}" if reason
                  else f"{arch}: behaviour tested natively, under {LOADERS[arch]}"
                  if where == "here" else f"{arch}: behaviour tested in the emulated x86 test "
                  "guest: this machine cannot run 32-bit programs")
    except ValueError as error:
        print(error, file=sys.stderr)
        sys.exit(2)
