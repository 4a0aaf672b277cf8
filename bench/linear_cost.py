#!/usr/bin/env python3
"""What linear forms cost a fit, side by side: runs the linear_fit benchmarks
of quorvale_bench (the same model in its usual form and as a formula spanning
the same space, on 10 periods of 5 occasions) natively for the median time of
their repetitions, and, when valgrind is installed, each under callgrind for
the instructions of one fit (the benchmark instruments the first fit of its
process only). Prints per model: coordinates, likelihood evaluations, final
function value, optimizer code, median processor time, instructions of the
fit and per evaluation.

Usage: linear_cost.py QUORVALE_BENCH
       (build it with -DQUORVALE_BENCH=ON -DCMAKE_BUILD_TYPE=Release)
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile


def native(bench):
    out = subprocess.run([bench, "--benchmark_filter=^linear_fit/", "--benchmark_format=json"],
                         capture_output=True, text=True, check=True).stdout
    rows = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        name = b["run_name"].split("/")[1]
        rows[name] = b
    return rows


def instructions(bench, name, work):
    out_file = os.path.join(work, f"callgrind.{name}")
    subprocess.run(["valgrind", "--tool=callgrind", "--instr-atstart=no", f"--callgrind-out-file={out_file}",
                    bench, f"--benchmark_filter=^linear_fit/{name}/"],
                   capture_output=True, check=True)
    with open(out_file) as f:
        for line in f:
            m = re.match(r"totals:\s+(\d+)", line)
            if m:
                return int(m.group(1))
    return None


def main():
    bench = os.path.abspath(sys.argv[1])
    rows = native(bench)
    counts = {}
    if shutil.which("valgrind"):
        work = tempfile.mkdtemp()
        try:
            for name in rows:
                counts[name] = instructions(bench, name, work)
        finally:
            shutil.rmtree(work)
    print(f"{'model':28s} {'coords':>6s} {'evals':>7s} {'function value':>15s} {'code':>4s} "
          f"{'CPU ms':>8s} {'Ir of the fit':>15s} {'Ir/eval':>9s}")
    for name, b in rows.items():
        ir = counts.get(name)
        evals = b["evaluations"]
        print(f"{name:28s} {b['coordinates']:6.0f} {evals:7.0f} {b['function_value']:15.6f} "
              f"{b['optimizer_code']:4.0f} {b['cpu_ms']:8.1f} "
              f"{ir if ir is not None else 'n/a':>15} {(ir / evals if ir else float('nan')):9.0f}")
    if not counts:
        print("valgrind not installed: no instruction counts, times only (medians of 5 repetitions)")


if __name__ == "__main__":
    main()
