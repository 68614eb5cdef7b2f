"""Measures each launcher of each architecture against its floors (minimal
C programs making the same platform calls with the same resources, built
for the same architecture: one on the C runtime's start-up, one bare, with
no start-up, load configuration, cookie or guard): file size against both,
start-up to hand-off time under Wine and peak memory against the bare one.
Writes BENCHMARKS.md. An architecture this machine cannot run
gets its sizes only, and the reason.

Runs alternate program and floor, in pairs whose order alternates too, with
a warm wineserver and the test stand-ins answering at once; each pair gives
a ratio, and the median ratio is reported. After the hand-off each launcher
only returns, so its whole run is its start-up to hand-off time.
"""
import json
import os
import pathlib
import platform
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
# The test rig, which this shares, lives in tests/. It serves the
# architecture named in the environment: each architecture is measured by a
# run of this script of its own ("measure").
sys.path.insert(0, str(ROOT / "tests"))
import rig
from rig import places, registry, wine

PAIRS = int(os.environ.get("BENCH_PAIRS", "41"))
TEST_TIMES = "## Test times"
LAUNCHERS = [
    # (program, floors, environment for the stand-ins)
    ("brannostelxp", "xp", {"RASDLG_STANDIN_LOG": ""}),
    ("brannostelwin", "win", {"CMMGR_STANDIN_LOG": ""}),
]


def measure(program, env):
    """One run: wall seconds, CPU seconds and peak resident KiB of the process."""
    start = time.perf_counter()
    proc = wine.start(program, env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    assert proc.returncode == 0, f"{program} ended with {proc.returncode}"
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def compare(program, floor, env):
    ratios_wall, ratios_cpu, runs = [], [], {program: [], floor: []}
    for _ in range(3):  # warm-up, not counted
        measure(program, env), measure(floor, env)
    for i in range(PAIRS):
        order = (program, floor) if i % 2 == 0 else (floor, program)
        result = {path: measure(path, env) for path in order}
        for path in order:
            runs[path].append(result[path])
        ratios_wall.append(result[program][0] / result[floor][0])
        if result[floor][1] > 0:
            ratios_cpu.append(result[program][1] / result[floor][1])

    def median(path, i):
        return statistics.median(r[i] for r in runs[path])

    return {
        "wall": (median(program, 0), median(floor, 0), statistics.median(ratios_wall)),
        "cpu": (median(program, 1), median(floor, 1), statistics.median(ratios_cpu)),
        "rss": (median(program, 2), median(floor, 2)),
    }


def machine():
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.processor())
    wine = subprocess.run([places.LOADERS["x64"], "--version"], capture_output=True,
                          text=True).stdout.strip()
    clang = subprocess.run(["clang-19", "--version"], capture_output=True,
                           text=True).stdout.splitlines()[0]
    return f"{cpu}, {os.cpu_count()} cores; {platform.system()} {platform.release()}; {wine}; {clang}"


def measure_arch():
    """This architecture's rows, as JSON on stdout."""
    rows, reason = [], places.enter({rig.ARCH}, [__file__, "measure"])
    if not reason:
        wine.ensure_prefix()  # which keeps one wineserver up for every run
        registry.register_profile()
    try:
        for name, floor, env in LAUNCHERS:
            program = rig.DIST / f"{name}.exe"
            floor_path, bare_path = (rig.BUILD / "bench" / f"{kind}_{floor}.exe"
                                     for kind in ("floor", "bare"))
            size, floor_size, bare_size = (p.stat().st_size for p in (program, floor_path, bare_path))
            row = (f"| {rig.ARCH} | {name} | {size} | {floor_size} | {size / floor_size:.3f} "
                   f"| {bare_size} | {size / bare_size:.3f} ")
            if reason:
                row += "| – " * 8 + "|"
            else:
                r = compare(program, bare_path, env)
                row += (f"| {r['wall'][0] * 1000:.1f} | {r['wall'][1] * 1000:.1f} "
                        f"| {r['wall'][2]:.3f} | {r['cpu'][0] * 1000:.1f} "
                        f"| {r['cpu'][1] * 1000:.1f} | {r['cpu'][2]:.3f} "
                        f"| {r['rss'][0]} | {r['rss'][1]} |")
            print(row, file=sys.stderr, flush=True)
            rows.append(row)
    finally:
        if not reason:
            wine.stop()
    print(json.dumps({"rows": rows, "reason": reason}))


def main():
    lines = ["# Benchmarks", "",
             "Each launcher against its floors: minimal C programs making the same platform",
             "calls with the same resources, built with the same toolchain for the same",
             "architecture (`bench/floor_*.c`). The floor runs on the C runtime's start-up,",
             "with the launchers' flags, load configuration, cookie and guard; the bare",
             "floor has no start-up (its entry calls WinMain, then ExitProcess), no load",
             "configuration, no cookie and no guard. Times, against the bare floor, are",
             f"whole runs under Wine with the stand-ins answering at once, {PAIRS} alternating",
             "pairs after a warm-up; ratios are the median of the per-pair ratios.",
             "Targets: size within 10% of the floor and 25% of the bare floor, start-up",
             "within 5%.", "",
             "| arch | launcher | size (bytes) | floor | size ratio | bare floor | bare ratio "
             "| wall (ms) | bare | wall ratio | CPU (ms) | bare | CPU ratio | peak RSS (KiB) "
             "| bare |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    notes = []
    for arch in places.ARCHS:
        env = {**os.environ, "BRANNOSTEL_ARCH": arch, "BRANNOSTEL_BUILD": str(ROOT / "build" / arch)}
        # The rows come last, after what the measuring printed as it went.
        out = subprocess.run([sys.executable, __file__, "measure"], env=env, check=True,
                             stdout=subprocess.PIPE, text=True).stdout.splitlines()[-1]
        if places.place(arch)[0] == "guest":
            # Program and floor pay the same emulation, so their ratios hold;
            # their times are the guest's, not a Windows machine's.
            notes.append(f"{arch}: measured in the emulated x86 test guest (qemu, TCG), where "
                         "this machine cannot run 32-bit programs: times are the emulation's, "
                         "ratios compare like with like.")
        result = json.loads(out)
        lines += result["rows"]
        if result["reason"]:
            notes.append(f"{arch}: sizes only; not run here: {result['reason']}.")
    lines += ["", *notes, "", f"Machine: {machine()}.", "",
              "Reproduce with `./bench/run.sh` (it builds first; `BENCH_PAIRS=N` changes the",
              "number of pairs)."]
    # The test times below the benchmark are measured by hand (see there);
    # they are kept as they are.
    report = ROOT / "BENCHMARKS.md"
    old = report.read_text() if report.exists() else ""
    kept = old[old.index(TEST_TIMES):] if TEST_TIMES in old else ""
    report.write_text("\n".join(lines) + "\n" + (f"\n{kept}" if kept else ""))


if __name__ == "__main__":
    measure_arch() if sys.argv[1:] == ["measure"] else main()
