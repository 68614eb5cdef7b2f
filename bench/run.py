"""Measures each launcher of each architecture against its floors (minimal
C programs making the same platform calls with the same resources, built
for the same architecture: one on the C runtime's start-up, one bare, with
no start-up, load configuration, cookie or guard): file size against both,
start-up to hand-off time under Wine and peak memory against the bare one;
each shipped program's sections; the test suite's times. Writes all of
BENCHMARKS.md. An architecture this machine cannot run
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
import re
import statistics
import subprocess
import sys
import time

import pefile

ROOT = pathlib.Path(__file__).resolve().parent.parent
# The test rig, which this shares, lives in tests/. It serves the
# architecture named in the environment: each architecture is measured by a
# run of this script of its own ("measure").
sys.path.insert(0, str(ROOT / "tests"))
import rig
from rig import places, registry, wine

PAIRS = int(os.environ.get("BENCH_PAIRS", "41"))
# What the launchers aim at: size against the floor and the bare floor,
# start-up time against the bare floor, as fractions more.
TARGETS = {"floor": 0.10, "bare": 0.25, "start": 0.05}
ARCH_PREFIXES = ("x86.", "x64.")
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


def sizes():
    """Every shipped program's size, and the bare floors', with each section's
    bytes in the file: where a launcher's bytes go beyond its bare floor."""
    rows, names = [], set()
    for arch in places.ARCHS:
        build = ROOT / "build" / arch
        files = [(name, ROOT / "dist" / arch / f"{name}.exe") for name in rig.SHIPPED]
        files += [(f"bare floor of {name}", build / "bench" / f"bare_{floor}.exe")
                  for name, floor, _ in LAUNCHERS]
        for name, path in files:
            with pefile.PE(str(path), fast_load=True) as pe:
                sections = {s.Name.rstrip(b"\0").decode(): s.SizeOfRawData for s in pe.sections}
            names |= set(sections)
            rows.append((arch, name, path.stat().st_size, sections))
    order = sorted(names)
    return (["| arch | program | bytes | " + " | ".join(f"`{n}`" for n in order) + " |",
             "|---|---|---|" + "---|" * len(order)] +
            [f"| {arch} | {name} | {size} | " + " | ".join(str(sections.get(n, "–")) for n in order)
             + " |" for arch, name, size, sections in rows])


def test_times():
    """One CTest run over both trees, one test per core, as ./test.sh runs it:
    each test's seconds by architecture, and the run's total."""
    run = subprocess.run(["ctest", "--test-dir", str(ROOT / "build"), "--parallel",
                          str(os.cpu_count())], capture_output=True, text=True)
    times, total = {}, "?"
    for line in run.stdout.splitlines():
        if m := re.search(r"Test +#\d+: (\S+) \.+[ *]*(\w+[\w ]*?) +([\d.]+) sec$", line):
            arch, test = (m[1].split(".", 1) if m[1].startswith(ARCH_PREFIXES) else ("once", m[1]))
            times.setdefault(test, {})[arch] = m[3] if m[2] == "Passed" else f"{m[3]} ({m[2]})"
        elif m := re.search(r"Total Test time \(real\) = +([\d.]+) sec", line):
            total = m[1]
    columns = ("x86", "x64", "once")
    sums = {c: sum(float(t[c].split()[0]) for t in times.values() if c in t) for c in columns}
    return (["| test | " + " | ".join(columns) + " |", "|---|---|---|---|"] +
            [f"| {test} | " + " | ".join(t.get(c, "–") for c in columns) + " |"
             for test, t in sorted(times.items())] +
            ["| **sum** | " + " | ".join(f"**{sums[c]:.1f}**" for c in columns) + " |",
             f"| **CTest's total** | | | **{total}** |"])


def main():
    lines = ["# Benchmarks", "",
             "Written by `./bench/run.sh` (`bench/run.py`); nothing here is measured by hand.", "",
             "## Launchers against their floors", "",
             "Each launcher against its floors: minimal C programs making the same platform",
             "calls with the same resources, built with the same toolchain for the same",
             "architecture (`bench/floor_*.c`). The floor runs on the C runtime's start-up,",
             "with the launchers' flags, load configuration, cookie and guard; the bare",
             "floor has no start-up (its entry calls WinMain, then ExitProcess), no load",
             "configuration, no cookie and no guard. Times, against the bare floor, are",
             "whole runs under Wine with the stand-ins answering at once, in alternating",
             "pairs after a warm-up (how many: below the table); ratios are the median of",
             "the per-pair ratios.",
             f"The aims: size within {TARGETS['floor']:.0%} of the floor and "
             f"{TARGETS['bare']:.0%} of the bare floor,", f"start-up within {TARGETS['start']:.0%}.",
             "",
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
    lines += ["", *notes, "", f"Pairs: {PAIRS}. Machine: {machine()}.", "",
              "## Where the bytes go", "",
              "Each shipped program and each bare floor, with the bytes each section takes",
              "in the file (the file alignment rounds every section up): what a launcher",
              "has beyond its bare floor is the frame's start, the stack cookie, the load",
              "configuration and the guard.", "", *sizes(), "",
              "## Test times", "",
              "Seconds per test, from one CTest run over both trees with one test per core,",
              "as `./test.sh` runs them, on the machine above (x86 in the emulated guest",
              "where it cannot run 32-bit programs). They vary from run to run on shared",
              "machines.", "", *test_times(), "",
              "Reproduce with `./bench/run.sh` (it builds first; `BENCH_PAIRS=N` changes the",
              "number of pairs)."]
    (ROOT / "BENCHMARKS.md").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    measure_arch() if sys.argv[1:] == ["measure"] else main()
