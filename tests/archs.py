"""Which architectures' behaviour this machine can test under Wine.

Each architecture needs its own Wine loader: x86 programs run in a 32-bit
prefix under /usr/lib/wine/wine, x64 programs in a 64-bit prefix under
/usr/lib/wine/wine64. Some machines cannot run 32-bit Linux programs at all;
there the x86 loader fails with "Exec format error" and x86 behaviour is not
tested. BRANNOSTEL_TEST_ARCHS (x86, x64 or both, comma-separated) narrows the
choice further; unset, every architecture the machine can run is tested.

Run as a script, it prints one line per architecture, or one line saying
what is wrong with BRANNOSTEL_TEST_ARCHS and exits 2.
"""
import os
import subprocess
import sys

ARCHS = ("x86", "x64")
LOADERS = {"x86": "/usr/lib/wine/wine", "x64": "/usr/lib/wine/wine64"}
PREFIX_KINDS = {"x86": "win32", "x64": "win64"}  # each one's WINEARCH
PACKAGES = {"x86": "wine32:i386", "x64": "wine64"}
BITS = {"x86": "32-bit", "x64": "64-bit"}


def chosen():
    """The architectures BRANNOSTEL_TEST_ARCHS names; ValueError if it names others."""
    text = os.environ.get("BRANNOSTEL_TEST_ARCHS", "").strip()
    if not text:
        return set(ARCHS)
    names = {name.strip() for name in text.split(",")}
    if not names <= set(ARCHS):
        raise ValueError(f"BRANNOSTEL_TEST_ARCHS={text}: use x86, x64 or x86,x64")
    return names


def unavailable(arch):
    """Why arch's programs cannot be run here, or None when they can."""
    if arch not in chosen():
        return "BRANNOSTEL_TEST_ARCHS leaves it out"
    loader = LOADERS[arch]
    if not os.path.exists(loader):
        return f"{loader} is missing (./install-deps.sh installs {PACKAGES[arch]})"
    try:
        subprocess.run([loader, "--version"], check=True, capture_output=True, timeout=60)
    except OSError as error:
        return (f"this machine cannot run {loader} ({error.strerror}): "
                f"no {BITS[arch]} Linux program runs here")
    except subprocess.SubprocessError as error:
        return f"{loader} --version failed ({error})"
    return None


def skip_unless_runnable(arch):
    """Ends a CTest test as skipped (77), saying why, where arch cannot run."""
    reason = unavailable(arch)
    if reason:
        print(f"skipped: {arch} behaviour: {reason}")
        sys.exit(77)


if __name__ == "__main__":
    try:
        for arch in ARCHS:
            reason = unavailable(arch)
            print(f"{arch}: behaviour tests skipped: {reason}" if reason
                  else f"{arch}: behaviour tested under {LOADERS[arch]}")
    except ValueError as error:
        print(error, file=sys.stderr)
        sys.exit(2)
