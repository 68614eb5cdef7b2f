"""The x86 test guest, for machines that cannot run 32-bit programs: a small
Debian system with 32-bit Wine under full-system emulation (qemu, TCG), this
tree shared into it at the same path, jobs sent in through qemu's own guest
agent. Built once per machine (build-image.sh) into CACHE, named after its
recipe; one nobody has booted for a week goes. Each boot starts from the
image as built.

One keeper process boots a guest and holds RUN/lock for its whole life; it
alone ends qemu, as soon as the process it was booted for has ended or asks
it to, and qemu ends with it. Others wait until the guest is ready and run
jobs in it. A job ends at its caller's time limit, or when its caller is gone.

  guest.py image          builds the guest if there is none (root)
  guest.py start | stop   a guest for the caller's parent (CTest) / its end
  guest.py run CMD...     runs CMD in the guest from the same folder (./guest.sh)
"""
import contextlib
import ctypes
import fcntl
import hashlib
import json
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
TREE = HERE.parent
CACHE = pathlib.Path(os.environ.get("BRANNOSTEL_GUEST_CACHE", "/var/cache/brannostel"))
RUN = pathlib.Path(os.environ.get("BRANNOSTEL_GUEST_RUN", TREE / "build" / "guest"))
GUEST_RUN = pathlib.PurePath("/mnt/run")  # RUN, as the guest mounts it
# A socket's path must be short: not in RUN.
SOCKET = pathlib.Path(tempfile.gettempdir(), f"brannostel-{hashlib.sha1(bytes(RUN)).hexdigest()[:12]}")
QEMU = "qemu-system-x86_64"
BOOT_LIMIT = 300  # boot to the agent: 15 s here, three times that on a busy host
HANG_LIMIT = 120  # this long without an answer from the agent, the guest is hung
INSIDE = os.environ.get("BRANNOSTEL_IN_GUEST") == "1"  # set in every job
# A job's environment: the caller's settings that concern it, and the guest's
# own; the rig keeps Wine prefixes on the guest's disk, not in the shared tree.
FORWARDED = ("BRANNOSTEL_", "WINE", "PYTHON", "RASDLG_", "CMMGR_", "BENCH_")
GUEST_ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/root", "LANG": "C.UTF-8",
             "BRANNOSTEL_IN_GUEST": "1", "BRANNOSTEL_PREFIXES": "/var/lib/brannostel/prefixes"}
# A job runs from its folder, its output in a file of RUN, in a process group
# whose id is the job's, so that all of it can be ended at once.
JOB = 'cd "$0" || exit 126; out=$1; shift; exec setsid -w "$@" >"$out" 2>&1 </dev/null'


class GuestError(Exception):
    pass


def image():
    recipe = hashlib.sha256(b"".join((HERE / name).read_bytes() for name in ("build-image.sh", "init")))
    recipe.update(pathlib.Path("/etc/os-release").read_bytes())
    return CACHE / f"guest-{recipe.hexdigest()[:16]}"


def ensure_image():
    folder = image()
    if not (folder / "disk.img").exists():
        if os.geteuid() != 0:
            raise GuestError(f"there is no x86 test guest in {CACHE} yet, and building it needs "
                             "root: run ./test.sh as root once")
        CACHE.mkdir(parents=True, exist_ok=True)
        with open(CACHE / "lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not (folder / "disk.img").exists():
                print(f"Building the x86 test guest in {folder}, once per machine "
                      "(docs/testing.md)", flush=True)
                part = folder.with_name(folder.name + ".part")
                shutil.rmtree(part, ignore_errors=True)
                part.mkdir()
                if subprocess.run([HERE / "build-image.sh", part]).returncode != 0:
                    raise GuestError(f"could not build the x86 test guest; see the logs in {part}")
                part.rename(folder)
    for other in CACHE.glob("guest-*"):  # another checkout may still boot the others
        with contextlib.suppress(OSError):
            if other != folder and time.time() - other.stat().st_mtime > 7 * 86400:
                shutil.rmtree(other)


def ident(pid):
    """(pid, start time) of a live process, or None: unlike a pid alone, it
    never names another process later."""
    with contextlib.suppress(OSError, IndexError):
        fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        return None if fields[0] in "ZX" else [pid, int(fields[19])]


def alive(who):
    return bool(who) and ident(who[0]) == list(who)


def state():
    with contextlib.suppress(OSError, ValueError):
        return json.loads((RUN / "state.json").read_text())
    return {}


def set_state(**changes):
    (RUN / "state.part").write_text(json.dumps({**state(), **changes}))
    (RUN / "state.part").rename(RUN / "state.json")


def console_tail():
    text = (RUN / "console.log").read_bytes().decode(errors="replace") if (
        RUN / "console.log").exists() else ""
    return f"The guest's console ({RUN / 'console.log'}), last lines:\n" + "\n".join(
        text.splitlines()[-30:])


def agent(command, timeout=30, **arguments):
    """One command to the guest's agent, one caller at a time; returns the
    answer. A sync first skips what an earlier caller left unread."""
    with open(RUN / "agent.lock", "w") as lock, socket.socket(socket.AF_UNIX) as channel:
        fcntl.flock(lock, fcntl.LOCK_EX)
        channel.settimeout(timeout)
        channel.connect(str(SOCKET))
        replies, token = channel.makefile("rb"), int.from_bytes(os.urandom(3), "little")
        # 0xff resets the agent's reader; its answer to the sync follows a 0xff.
        channel.sendall(b"\xff" + json.dumps({"execute": "guest-sync-delimited",
                                              "arguments": {"id": token}}).encode())
        while True:
            while (byte := replies.read(1)) != b"\xff":
                if not byte:
                    raise ConnectionError("the agent's channel closed")
            if json.loads(replies.readline()).get("return") == token:
                break
        channel.sendall(json.dumps({"execute": command, "arguments": arguments}).encode())
        reply = json.loads(replies.readline())
    if "error" in reply:
        raise GuestError(f"the guest's agent refused {command}: {reply['error'].get('desc')}")
    return reply["return"]


def answers(timeout):
    with contextlib.suppress(OSError, ValueError, GuestError):
        return agent("guest-ping", timeout=timeout) is not None
    return False


def end_job(pid):
    with contextlib.suppress(OSError, ValueError, GuestError):
        agent("guest-exec", path="/bin/sh", arg=["-c", 'kill -9 "-$0"', str(pid)])


def keep(serves):
    """The keeper's life (guest.py keep): boots qemu, keeps it while serves
    lives, then ends it. RUN/lock came with the process and goes with it."""
    set_state(phase="booting", keeper=ident(os.getpid()), serves=serves)
    folder = image()
    with contextlib.suppress(OSError):
        os.utime(folder)  # booted: not unused
    shutil.rmtree(RUN / "tmp", ignore_errors=True)
    (RUN / "tmp").mkdir()
    share = [f"local,path={str(path).replace(',', ',,')},mount_tag={tag},security_model=none"
             for path, tag in ((TREE, "tree"), (RUN, "run"))]
    command = [
        QEMU, "-accel", "tcg", "-smp", "2", "-m", "3G", "-nic", "none", "-no-reboot",
        "-display", "none", "-monitor", "none", "-serial", f"file:{RUN / 'console.log'}",
        "-kernel", str(folder / "vmlinuz"), "-initrd", str(folder / "initrd.img"),
        "-append", "console=ttyS0 root=/dev/vda rw panic=1 init=/sbin/brannostel-init",
        # The guest's writes go to a temporary file in RUN/tmp that qemu removes.
        "-drive", f"file={folder / 'disk.img'},format=raw,if=virtio,snapshot=on",
        "-virtfs", share[0] + ",readonly=on", "-virtfs", share[1],
        "-chardev", f"socket,id=agent,path={SOCKET},server=on,wait=off", "-device", "virtio-serial",
        "-device", "virtserialport,chardev=agent,name=org.qemu.guest_agent.0"]
    with open(RUN / "qemu.log", "wb") as log:
        # qemu ends cleanly (SIGTERM) when the keeper ends, even by SIGKILL.
        qemu = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                env={**os.environ, "TMPDIR": str(RUN / "tmp")},
                                preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM))
    try:
        set_state(phase="ended", reason=watch(qemu, serves))
    finally:
        qemu.terminate()
        try:
            qemu.wait(30)
        except subprocess.TimeoutExpired:
            qemu.kill()


def watch(qemu, serves):
    """Runs while the guest should; returns why it ends."""
    deadline = time.monotonic() + BOOT_LIMIT
    while not answers(timeout=5):
        if qemu.poll() is not None or time.monotonic() > deadline or not alive(serves):
            return f"the guest did not boot within {BOOT_LIMIT} s, or qemu ended: " + (
                RUN / "qemu.log").read_text().strip()
    set_state(phase="ready")
    answered = pinged = time.monotonic()
    while qemu.poll() is None:
        time.sleep(1)
        if not alive(serves) or (RUN / "stop").exists() and json.loads(
                (RUN / "stop").read_text()) == serves:
            return "the process it was booted for ended, or asked it to"
        if time.monotonic() - pinged > 5:
            pinged = time.monotonic()
            if answers(timeout=10):
                answered = pinged
            elif pinged - answered > HANG_LIMIT:
                return f"no answer from the guest for {HANG_LIMIT} s"
        for record in (RUN / "jobs").glob("*.json"):  # jobs whose callers are gone
            with contextlib.suppress(OSError, ValueError):
                if not alive(json.loads(record.read_text())):
                    end_job(int(record.stem))
                    record.unlink()
    return f"qemu ended: {(RUN / 'qemu.log').read_text().strip()}"


def up(serves=None):
    """Returns once a guest is ready. If none is up, boots one first, kept
    until serves (this process, by default) has ended."""
    RUN.mkdir(parents=True, exist_ok=True)
    deadline, keeper = time.monotonic() + BOOT_LIMIT + 60, None
    while True:
        now = state()
        # One whose process has ended is on its way down: not to be used.
        if now.get("phase") == "ready" and alive(now.get("keeper")) and alive(now.get("serves")):
            return
        if keeper is None:
            keeper = boot(serves or ident(os.getpid()))
        if keeper and keeper.poll() is not None or time.monotonic() > deadline:
            raise GuestError(f"{now.get('reason', 'the guest did not come up')}\n{console_tail()}")
        time.sleep(0.2)


def boot(serves):
    """Starts a keeper, handing it RUN/lock, unless another keeper holds it."""
    lock = os.open(RUN / "lock", os.O_RDWR | os.O_CREAT)
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        if shutil.which(QEMU) is None:
            raise GuestError(f"{QEMU} is missing (./install-deps.sh installs qemu-system-x86)")
        if not (image() / "disk.img").exists():
            raise GuestError("there is no x86 test guest on this machine yet: ./test.sh builds it")
        shutil.rmtree(RUN / "jobs", ignore_errors=True)
        (RUN / "jobs").mkdir()
        for name in ("state.json", "stop"):
            (RUN / name).unlink(missing_ok=True)
        (RUN / "console.log").write_bytes(b"")
        (RUN / "tree").write_text(str(TREE))
        with open(RUN / "keeper.log", "wb") as log:
            return subprocess.Popen([sys.executable, __file__, "keep", json.dumps(serves)],
                                    pass_fds=(lock,), stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT, start_new_session=True)
    except BlockingIOError:
        return None  # another keeper's guest is coming up, or going
    finally:
        os.close(lock)


def stop(serves):
    """Asks the guest booted for serves to end, and waits until it has."""
    now = state()
    if now.get("phase") != "ended" and alive(now.get("keeper")):
        if now.get("serves") != serves:
            print("guest: the guest up was booted for another run; left it running")
            return
        (RUN / "stop").write_text(json.dumps(serves))
        deadline = time.monotonic() + 60
        while alive(now["keeper"]) and time.monotonic() < deadline:
            time.sleep(0.2)


def is_up():
    now = state()
    return now.get("phase") == "ready" and alive(now.get("keeper"))


def run(argv, cwd=None, env=None, timeout=3600, output=None):
    """Runs argv in the guest (booting one for this process if none is up),
    from cwd, for at most timeout seconds; its output goes to output (a
    binary stream, standard output by default) as it comes. Returns its
    exit status."""
    cwd = pathlib.Path(cwd or os.getcwd()).resolve()
    if cwd != TREE and TREE not in cwd.parents:
        raise GuestError(f"{cwd} is outside the tree the guest shares ({TREE})")
    output = output or sys.stdout.buffer
    up()
    out = RUN / "jobs" / f"{os.getpid()}-{time.time_ns()}.out"
    out.touch()
    env = {k: v for k, v in (os.environ if env is None else env).items() if k.startswith(FORWARDED)}
    pid = agent("guest-exec", path="/bin/sh", **{"capture-output": False},
                arg=["-c", JOB, str(cwd), str(GUEST_RUN / out.relative_to(RUN)), *map(str, argv)],
                env=[f"{k}={v}" for k, v in {**env, **GUEST_ENV}.items()])["pid"]
    record = RUN / "jobs" / f"{pid}.json"
    record.write_text(json.dumps(ident(os.getpid())))
    deadline, status = time.monotonic() + timeout, None
    try:
        with open(out, "rb") as produced:
            while status is None:
                time.sleep(0.2)
                result = agent("guest-exec-status", pid=pid)
                if result["exited"]:
                    status = result.get("exitcode", 128 + result.get("signal", 0))
                output.write(produced.read())
                output.flush()
                if status is None and time.monotonic() > deadline:
                    output.write(f"\nguest: stopped after {timeout} s\n".encode())
                    status = 124
    except (OSError, ValueError, GuestError) as error:
        output.write(f"\nguest: lost the guest while running {argv} ({error}): "
                     f"{state().get('reason', '')}\n{console_tail()}\n".encode())
        status = 1
    finally:
        if status in (None, 124):
            end_job(pid)
        record.unlink(missing_ok=True)
        out.unlink(missing_ok=True)
    return status


def main(args):
    try:
        if args[:1] == ["image"]:
            ensure_image()
        elif args[:1] in (["start"], ["stop"]):
            (up if args[0] == "start" else stop)(ident(os.getppid()))
        elif args[:1] == ["keep"]:
            keep(json.loads(args[1]))
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
