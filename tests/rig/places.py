"""Where each architecture's programs run: here, under this machine's Wine;
in the emulated x86 test guest (guest/), where this machine cannot run
32-bit programs; or nowhere, with the reason. Decided here, once, for the
tests, the demonstration and the benchmark alike.

x86 programs run under /usr/lib/wine/wine, x64 ones under
/usr/lib/wine/wine64; where the first fails with "Exec format error", the
guest is the place for them. BRANNOSTEL_TEST_ARCHS (x86, x64 or both,
comma-separated) narrows the choice; unset, every architecture is tested.
Inside the guest nothing is skipped: the host sent the work there to run,
so what cannot run there fails.

Run as a module (python3 -m rig.places, from tests/), it prints one line per
architecture and builds the guest where it is needed and missing; or says
in one line what is wrong.
"""
import functools
import os
import shutil
import subprocess
import sys

import rig

sys.path.insert(0, str(rig.SOURCE / "guest"))
import guest

ARCHS = ("x86", "x64")
LOADERS = {"x86": "/usr/lib/wine/wine", "x64": "/usr/lib/wine/wine64"}
WINESERVER = "/usr/lib/wine/wineserver"
PREFIX_KINDS = {"x86": "win32", "x64": "win64"}  # each one's WINEARCH
PACKAGES = {"x86": "wine32:i386", "x64": "wine64"}


def chosen():
    """The architectures BRANNOSTEL_TEST_ARCHS names; ValueError if it names others."""
    text = os.environ.get("BRANNOSTEL_TEST_ARCHS", "").strip()
    names = {name.strip() for name in text.split(",")} if text else set(ARCHS)
    if not names <= set(ARCHS):
        raise ValueError(f"BRANNOSTEL_TEST_ARCHS={text}: use x86, x64 or x86,x64")
    return names


@functools.cache
def place(arch):
    """("here", None), ("guest", None), or ("skip", why) on the host and
    ("fail", why) in the guest."""
    if arch not in chosen():
        return "skip", "BRANNOSTEL_TEST_ARCHS leaves it out"
    loader = LOADERS[arch]
    try:
        subprocess.run([loader, "--version"], check=True, capture_output=True, timeout=60)
        return "here", None
    except FileNotFoundError:
        why = f"{loader} is missing (./install-deps.sh installs {PACKAGES[arch]})"
    except OSError as error:
        why = f"this machine cannot run {loader} ({error.strerror})"
        if not guest.INSIDE:
            if shutil.which(guest.QEMU):
                return "guest", None
            why += (f", and {guest.QEMU} is missing for the x86 test guest "
                    "(./install-deps.sh installs qemu-system-x86)")
    except subprocess.SubprocessError as error:
        why = f"{loader} --version failed ({error})"
    return ("fail" if guest.INSIDE else "skip"), why


def where(needs):
    """The place for a run that needs programs of every architecture in needs."""
    places = {arch: place(arch) for arch in sorted(needs)}
    for kind in ("fail", "skip", "guest"):
        for arch, (found, why) in places.items():
            if found == kind:
                return found, why and f"{arch} behaviour: {why}"
    return "here", None


def enter(needs, argv, timeout=3600):
    """Returns None where the run belongs here. Where it belongs in the guest,
    runs argv there (python3 argv...) and exits with its status; where it
    cannot run in the guest, says why and exits 1. Elsewhere returns why it
    cannot run at all."""
    found, why = where(needs)
    if found == "guest":
        try:
            sys.exit(guest.run(["python3", *argv], timeout=timeout))
        except guest.GuestError as error:
            print(f"guest: {error}", flush=True)
            sys.exit(1)
    if found == "fail":
        print(f"cannot run in the x86 test guest: {why}", flush=True)
        sys.exit(1)
    return why


if __name__ == "__main__":
    try:
        for arch in ARCHS:
            found, why = place(arch)
            print(f"{arch}: behaviour tested natively, under {LOADERS[arch]}" if found == "here"
                  else f"{arch}: behaviour tested in the emulated x86 test guest: this machine "
                       "cannot run 32-bit programs" if found == "guest"
                  else f"{arch}: behaviour tests skipped: {why}")
        if where({"x86"})[0] == "guest":
            guest.ensure_image()
    except ValueError as error:
        sys.exit(str(error))
    except guest.GuestError as error:
        sys.exit(f"guest: {error}")
