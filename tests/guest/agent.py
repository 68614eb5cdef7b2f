"""The job agent inside the test guest. The host writes each job as
jobs/ID/request.json in the run folder it shares (argv, cwd, env, timeout);
the agent runs it at once, side by side with any others, with its output in
jobs/ID/output, and writes its exit status to jobs/ID/status when it ends.
It writes `ready` when it starts taking jobs, touches `alive` every second
or two while it runs (so the host can tell a hung guest), and ends when
`poweroff` appears; the guest's init then powers off.

Usage (by the guest's init): agent.py RUN_FOLDER
"""
import json
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

RUN = pathlib.Path(sys.argv[1])
JOBS = RUN / "jobs"
BASE_ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/root", "USER": "root",
            "LANG": "C.UTF-8", "BRANNOSTEL_IN_GUEST": "1",
            # The tree is shared from the host: the rig keeps its Wine prefixes
            # on the guest's own disk instead, apart from any the host made.
            "BRANNOSTEL_PREFIXES": "/var/lib/brannostel/prefixes"}


def write_atomically(path, text):
    path.with_suffix(".part").write_text(text)
    path.with_suffix(".part").rename(path)


def run(job):
    request = json.loads((job / "request.json").read_text())
    status = 127
    try:
        with open(job / "output", "wb", buffering=0) as output:
            proc = subprocess.Popen(request["argv"], cwd=request["cwd"],
                                    env={**request["env"], **BASE_ENV}, stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=subprocess.STDOUT,
                                    start_new_session=True)
            try:
                status = proc.wait(timeout=request["timeout"])
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                output.write(f"\nguest: stopped after {request['timeout']} s\n".encode())
                status = 124
    except OSError as error:
        (job / "output").write_text(f"guest: cannot run {request['argv'][0]}: {error}\n")
    write_atomically(job / "status", str(status))


def main():
    JOBS.mkdir(exist_ok=True)
    (RUN / "alive").write_text(str(time.time()))
    write_atomically(RUN / "ready", str(time.time()))
    print("guest: taking jobs", flush=True)
    seen, beat = set(), 0.0
    while not (RUN / "poweroff").exists():
        if time.monotonic() - beat > 1:
            (RUN / "alive").write_text(str(time.time()))
            beat = time.monotonic()
        for job in JOBS.iterdir():
            if job.name not in seen and (job / "request.json").exists():
                seen.add(job.name)
                threading.Thread(target=run, args=(job,), daemon=True).start()
        time.sleep(0.1)


if __name__ == "__main__":
    main()
