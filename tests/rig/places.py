"""Where each architecture's programs run, decided here once for the tests,
the demonstration and the benchmark: here, under this machine's Wine
(/usr/lib/wine/wine for x86, wine64 for x64); in the emulated x86 test guest
(guest/) where this machine cannot run 32-bit programs; or nowhere, with the
reason. BRANNOSTEL_TEST_ARCHS (x86, x64 or x86,x64) narrows the choice;
BRANNOSTEL_NO32=1 makes a machine that runs 32-bit programs take the guest
path, as one that cannot would. Inside the guest nothing is skipped: the
host sent the work there to run.

`python3 -m rig.places` (from tests/) prints one line per architecture and
builds the guest where it is needed and missing.
"""
import errno
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


@functools.cache
def place(arch):
    """("here", None), ("guest", None), or why not: ("skip", why) on the host,
    ("fail", why) in the guest."""
    text = os.environ.get("BRANNOSTEL_TEST_ARCHS", "").strip()
    if text and arch not in {name.strip() for name in text.split(",")}:
        return "skip", "BRANNOSTEL_TEST_ARCHS leaves it out"
    try:
        if arch == "x86" and os.environ.get("BRANNOSTEL_NO32") == "1" and not guest.INSIDE:
            raise OSError(errno.ENOEXEC, "Exec format error, as BRANNOSTEL_NO32 says")
        subprocess.run([LOADERS[arch], "--version"], check=True, capture_output=True, timeout=60)
        return "here", None
    except FileNotFoundError:
        why = f"{LOADERS[arch]} is missing (./install-deps.sh installs it)"
    except OSError as error:
        why = f"this machine cannot run {LOADERS[arch]} ({error.strerror})"
        if not guest.INSIDE and shutil.which(guest.QEMU):
            return "guest", None
        why += "" if guest.INSIDE else f", and {guest.QEMU} is missing for the x86 test guest"
    except subprocess.SubprocessError as error:
        why = f"{LOADERS[arch]} --version failed ({error})"
    return ("fail" if guest.INSIDE else "skip"), why


def where(needs):
    """The place for a run that needs programs of every architecture in needs."""
    places = {arch: place(arch) for arch in sorted(needs)}
    for kind in ("fail", "skip", "guest"):
        for arch, (found, why) in places.items():
            if found == kind:
                return found, why and f"{arch} behaviour: {why}"
    return "here", None


def guest_built():
    """Whether the x86 test guest is built and cached on this machine."""
    return (guest.image() / "disk.img").exists()


def enter(needs, argv, timeout=3600):
    """Returns None where the run belongs here, or why it cannot run at all.
    Where it belongs in the guest, runs python3 argv there and exits with its
    status; in the guest, exits 1 where it cannot run."""
    found, why = where(needs)
    if found == "guest":
        try:
            sys.exit(guest.run(["python3", *argv], timeout=timeout))
        except guest.GuestError as error:
            sys.exit(f"guest: {error}")
    if found == "fail":
        sys.exit(f"cannot run in the x86 test guest: {why}")
    return why


if __name__ == "__main__":
    if (bad := set(os.environ.get("BRANNOSTEL_TEST_ARCHS", "").replace(" ", "").split(","))
            - {"", *ARCHS}):
        sys.exit(f"BRANNOSTEL_TEST_ARCHS names {', '.join(bad)}: use x86, x64 or x86,x64")
    for arch in ARCHS:
        found, why = place(arch)
        print(f"{arch}: behaviour " + {"here": f"tested natively, under {LOADERS[arch]}",
                                       "guest": "tested in the emulated x86 test guest: this "
                                                "machine cannot run 32-bit programs"}
              .get(found, f"tests skipped: {why}"))
    try:
        if where({"x86"})[0] == "guest":
            guest.ensure_image()
    except guest.GuestError as error:
        sys.exit(f"guest: {error}")
