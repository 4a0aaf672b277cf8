#!/usr/bin/env python3
"""What the result files add to a run: runs the program on a command file
without them, with json=FILE and csv=DIR, and with report=FILE, the variants
interleaved round after round so that a busy machine slows them alike, and
prints the CPU time (user + system) and wall time of each, as the minimum and
the median over the rounds, and the share each adds.

Usage: report_cost.py PROGRAM [COMMAND_FILE] [ROUNDS]
       (default examples/robust-example.cmd beside this folder, 40 rounds)
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run_once(program, args, cwd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run([program] + args, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, wall


def main():
    program = os.path.abspath(sys.argv[1])
    here = os.path.dirname(os.path.abspath(__file__))
    command = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "..", "examples", "robust-example.cmd"))
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 40
    work = tempfile.mkdtemp()
    variants = {
        "listing only": [f"i={command}", "l=run.lst"],
        "with json+csv=": [f"i={command}", "l=run.lst", "json=run.json", "csv=tables"],
        "with report=": [f"i={command}", "l=run.lst", "report=run.html"],
    }
    times = {name: [] for name in variants}
    for name, args in variants.items():
        run_once(program, args, work)  # warm the caches
    for _ in range(rounds):
        for name, args in variants.items():
            times[name].append(run_once(program, args, work))
    page = os.path.getsize(os.path.join(work, "run.html"))
    shutil.rmtree(work)

    def summary(name, k):
        values = [t[k] for t in times[name]]
        return min(values) * 1000.0, statistics.median(values) * 1000.0

    print(f"{os.path.basename(command)}, {rounds} rounds, page of {page / 1024:.0f} KiB")
    print(f"{'':16s} {'CPU min':>9s} {'CPU median':>11s} {'wall min':>9s} {'wall median':>12s}  (ms)")
    for name in variants:
        c_min, c_med = summary(name, 0)
        w_min, w_med = summary(name, 1)
        print(f"{name:16s} {c_min:9.2f} {c_med:11.2f} {w_min:9.2f} {w_med:12.2f}")
    base_c, base_cm = summary("listing only", 0)
    base_w, base_wm = summary("listing only", 1)
    for name in ("with json+csv=", "with report="):
        c, cm = summary(name, 0)
        w, wm = summary(name, 1)
        print(f"{name} adds: CPU {100 * (c - base_c) / base_c:+.1f}% (min) {100 * (cm - base_cm) / base_cm:+.1f}% (median), "
              f"wall {100 * (w - base_w) / base_w:+.1f}% (min) {100 * (wm - base_wm) / base_wm:+.1f}% (median)")


if __name__ == "__main__":
    main()
