"""The x86 test guest, for machines that cannot run 32-bit programs: a small
Debian system with 32-bit Wine, booted under full-system emulation (qemu,
TCG), with this source tree shared into it at the same absolute path.

The guest is built once per machine from Debian's packages (build-image.sh)
and kept in CACHE, in a folder named after what went into it, so a changed
recipe builds a new one and the old one goes. Each boot starts from that
image unchanged: what the guest writes (Wine prefixes, scratch files) stays
on its own disk and is gone at power-off.

While up, a guest belongs to one run folder (build/guest): its qemu's id,
console and job queue are kept there. It also belongs to the run that booted
it (BRANNOSTEL_RUN_ID, which test.sh sets to its own id): only that run
stops it, and only that qemu is ever stopped.

  guest.py image          builds the guest if there is none (root)
  guest.py start | stop   boots or stops the run folder's guest (CTest's fixture)
  guest.py run CMD...     runs CMD in the guest, in the same folder, and ends
                          with its status; boots a guest for it (and stops
                          it after) if none is up (./guest.sh)
"""
import contextlib
import fcntl
import hashlib
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
TREE = HERE.parent.parent
CACHE = pathlib.Path(os.environ.get("BRANNOSTEL_GUEST_CACHE", "/var/cache/brannostel"))
RUN = pathlib.Path(os.environ.get("BRANNOSTEL_GUEST_RUN", TREE / "build" / "guest"))
QEMU = "qemu-system-x86_64"
# Boot to the agent takes 15 s here, two to three times that on a busy host.
BOOT_LIMIT = 300
# The agent shows it is alive every second or two; this long without a sign,
# the guest counts as hung and is stopped.
HANG_LIMIT = 120
# The run this process belongs to ("" outside test.sh).
RUN_ID = os.environ.get("BRANNOSTEL_RUN_ID", "")
# Set by the agent for every job it runs.
INSIDE = os.environ.get("BRANNOSTEL_IN_GUEST") == "1"
# What a job is given of the caller's environment.
FORWARDED = ("BRANNOSTEL_", "WINE", "PYTHON", "RASDLG_", "CMMGR_", "BENCH_")


class GuestError(Exception):
    pass


def image():
    """The folder the current guest is (or will be) built in."""
    recipe = hashlib.sha256()
    for name in ("build-image.sh", "init"):
        recipe.update((HERE / name).read_bytes())
    recipe.update(pathlib.Path("/etc/os-release").read_bytes())
    return CACHE / f"guest-{recipe.hexdigest()[:16]}"


def ensure_image():
    folder = image()
    if (folder / "disk.img").exists():
        return folder
    CACHE.mkdir(parents=True, exist_ok=True)
    with open(CACHE / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if (folder / "disk.img").exists():
            return folder
        print(f"Building the x86 test guest in {folder}, once per machine: "
              "about 5 minutes, 2.5 GB of disk", flush=True)
        part = folder.with_name(folder.name + ".part")
        shutil.rmtree(part, ignore_errors=True)
        part.mkdir()
        try:
            subprocess.run([HERE / "build-image.sh", part], check=True)
        except subprocess.CalledProcessError:
            raise GuestError(f"could not build the x86 test guest; see the logs in {part}") from None
        part.rename(folder)
        # What this build replaces.
        for old in CACHE.glob("guest-*"):
            if old != folder:
                shutil.rmtree(old, ignore_errors=True)
    return folder


def console_tail(lines=30):
    path = RUN / "console.log"
    text = path.read_bytes().decode(errors="replace") if path.exists() else ""
    tail = "\n".join(text.splitlines()[-lines:]) or "(nothing)"
    return f"The guest's console ({path}), last lines:\n{tail}"


def running():
    """The id of the run folder's qemu while it runs, else None."""
    try:
        pid = int((RUN / "qemu.pid").read_text())
        command = pathlib.Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
    except (OSError, ValueError):
        return None
    return pid if str(RUN).encode() in b"".join(command) else None


@contextlib.contextmanager
def locked():
    RUN.mkdir(parents=True, exist_ok=True)
    with open(RUN / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def virtfs(path, tag, *options):
    path = str(path).replace(",", ",,")
    return ["-virtfs", ",".join([f"local,path={path},mount_tag={tag},security_model=none",
                                 *options])]


def boot():
    """Boots the guest unless it is up; returns once it takes jobs."""
    with locked():
        if running():
            return
        if shutil.which(QEMU) is None:
            raise GuestError(f"{QEMU} is missing (./install-deps.sh installs qemu-system-x86)")
        folder = image()
        if not (folder / "disk.img").exists():
            raise GuestError("there is no x86 test guest on this machine yet: "
                             "./test.sh builds it (tests/guest/guest.py image)")
        # Nothing of an earlier guest's.
        shutil.rmtree(RUN / "jobs", ignore_errors=True)
        for name in ("ready", "alive", "poweroff", "console.log"):
            (RUN / name).unlink(missing_ok=True)
        (RUN / "tree").write_text(str(TREE))
        command = [
            QEMU, "-accel", "tcg", "-smp", "2", "-m", "3G", "-nic", "none", "-no-reboot",
            "-display", "none", "-monitor", "none", "-serial", f"file:{RUN / 'console.log'}",
            "-kernel", str(folder / "vmlinuz"), "-initrd", str(folder / "initrd.img"),
            "-append", "console=ttyS0 root=/dev/vda rw panic=1 init=/sbin/brannostel-init",
            # Every boot starts from the image as built; writes go to a
            # temporary file that qemu removes.
            "-drive", f"file={folder / 'disk.img'},format=raw,if=virtio,snapshot=on",
            *virtfs(TREE, "tree", "readonly=on"), *virtfs(RUN, "run")]
        with open(RUN / "qemu.log", "wb") as log:
            qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                    start_new_session=True)
        (RUN / "qemu.pid").write_text(str(qemu.pid))
        (RUN / "owner").write_text(RUN_ID)
        deadline = time.monotonic() + BOOT_LIMIT
        while not (RUN / "ready").exists():
            if qemu.poll() is not None:
                raise GuestError(f"the guest stopped while booting (qemu: "
                                 f"{(RUN / 'qemu.log').read_text().strip() or qemu.returncode})"
                                 f"\n{console_tail()}")
            if time.monotonic() > deadline:
                kill(qemu.pid)
                raise GuestError(f"the guest did not boot within {BOOT_LIMIT} s; stopped it"
                                 f"\n{console_tail()}")
            time.sleep(0.2)


def kill(pid):
    with contextlib.suppress(ProcessLookupError):
        os.kill(pid, signal.SIGKILL)
    (RUN / "qemu.pid").unlink(missing_ok=True)


def stop():
    """Powers off the run folder's guest if this run booted it (its qemu is
    killed if it does not end within 30 s); returns whether it did."""
    pid = running()
    if pid is None:
        return False
    owner = (RUN / "owner").read_text()
    if owner != RUN_ID:
        print(f"guest: the guest up belongs to another run ({owner or 'by hand'}); left running")
        return False
    (RUN / "poweroff").write_text("")
    deadline = time.monotonic() + 30
    while running() and time.monotonic() < deadline:
        time.sleep(0.2)
    if running():  # only while that pid is still this guest's qemu
        kill(pid)
    (RUN / "qemu.pid").unlink(missing_ok=True)
    return True


def submit(argv, cwd, env, timeout, output):
    """Runs argv in the guest that is up, writing its output to output (a
    binary stream) as it comes; returns its exit status."""
    jobs = RUN / "jobs"
    job = jobs / f"{time.time_ns()}-{os.getpid()}"
    job.mkdir(parents=True)
    request = {"argv": argv, "cwd": str(cwd), "timeout": timeout,
               "env": {k: v for k, v in env.items() if k.startswith(FORWARDED)}}
    (job / "request.part").write_text(json.dumps(request))
    (job / "request.part").rename(job / "request.json")
    shown = 0
    while True:
        status = job / "status"
        done = status.exists()
        if (job / "output").exists():
            with open(job / "output", "rb") as produced:
                produced.seek(shown)
                data = produced.read()
            output.write(data)
            output.flush()
            shown += len(data)
        if done:
            return int(status.read_text())
        pid = running()
        if pid is None:
            output.write(f"guest: the guest stopped while running {argv}\n{console_tail()}\n"
                         .encode())
            return 1
        if time.time() - (RUN / "alive").stat().st_mtime > HANG_LIMIT:
            kill(pid)
            output.write(f"guest: no sign of life from the guest for {HANG_LIMIT} s while "
                         f"running {argv}; stopped it\n{console_tail()}\n".encode())
            return 1
        time.sleep(0.1)


def run(argv, cwd=None, env=None, timeout=3600, output=None):
    """Runs argv in the run folder's guest, booting one for it (and stopping
    that one afterwards) if none is up; returns its exit status. Its output
    goes to output (a binary stream; standard output by default)."""
    cwd = pathlib.Path(cwd or os.getcwd()).resolve()
    if cwd != TREE and TREE not in cwd.parents:
        raise GuestError(f"{cwd} is outside the tree the guest shares ({TREE})")
    own = running() is None
    if own:
        boot()
    try:
        return submit(argv, cwd, dict(os.environ if env is None else env), timeout,
                      output or sys.stdout.buffer)
    finally:
        if own:
            stop()


def main(args):
    try:
        if args[:1] == ["image"]:
            ensure_image()
        elif args[:1] == ["start"]:
            boot()
        elif args[:1] == ["stop"]:
            stop()
        elif args[:1] == ["run"] and args[1:] not in ([], ["--"]):
            ensure_image()
            return run(args[2:] if args[1] == "--" else args[1:])
        else:
            print(__doc__.split("\n\n")[-1], file=sys.stderr)
            return 2
    except GuestError as error:
        print(f"guest: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
