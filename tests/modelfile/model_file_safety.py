#!/usr/bin/env python3
"""The model file of PROC TEST AICSAVE under a killed run and under two runs at once.

kill:       a run rewrites the model file many times (each PROC TEST replaces
            its own two records, among 25 records of other data kept in the
            file); it is killed with SIGKILL at random moments. Afterwards the
            file must be the seed as written before the run or the complete
            file of a finished PROC TEST, never a part or a mixture.
concurrent: two runs update one model file at the same moment, each
            adding two models of new names with each of its six PROC TEST
            statements; when both are done the file must hold all 24 models
            (an update lost to the other run is never made good).
Usage: model_file_safety.py PROGRAM SOURCE_DIR kill|concurrent
"""
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

MODEL_HEAD_LINES = 30  # PROC TITLE and PROC MODEL with the cohorts of the two-period case


def command_file(source, suffix, tests, numbered=False):
    """The two-period case with two fits named after `suffix`, then PROC TEST AICSAVE, `tests` times;
    `numbered`: the fits of each PROC TEST get its number too, so that every PROC TEST adds two models."""
    with open(os.path.join(source, "tests", "e2e", "test_aicsave", "run.cmd")) as f:
        head = "".join(f.readlines()[:MODEL_HEAD_LINES])
    block = (
        "PROC ESTIMATE NAME=PEQC%s;\n CONSTRAINT;\n  S(8)=0; S(9)=1; S(10)=1; S(3)=S(2); S(6)=S(5);\n"
        "PROC ESTIMATE NAME=CONSTP%s;\n CONSTRAINT;\n"
        "  S(8)=0; S(9)=1; S(10)=1; S(3)=S(1); S(2)=S(1); S(6)=S(4); S(5)=S(4);\n"
        "PROC TEST AICSAVE = MODELS;\n" % (suffix, suffix))
    if numbered:
        return head + "".join(block.replace(suffix + ";", "%s%d;" % (suffix, t)) for t in range(1, tests + 1)) \
            + "PROC STOP;\n"
    return head + block * tests + "PROC STOP;\n"


def run(program, work, cmd, listing):
    return subprocess.Popen([program, "i=" + cmd, "l=" + listing], cwd=work,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def kill_test(program, source, work):
    cmd = os.path.join(work, "run.cmd")
    with open(cmd, "w") as f:
        f.write(command_file(source, "", 20))
    models = os.path.join(work, "MODELS")
    # 25 records of other data (an identity no run has): kept through every rewrite.
    seed = "".join(" OTHER%-5d  %16.2f  %14.6f%5d     %5d    %6.4f%14.6f%6d  data 9 999 00000000\n"
                   % (i, 100.0 + i, -50.0 - i / 2, 5, 3, 0.5, 3.0, 5) for i in range(25)).encode()
    # The complete file a finished PROC TEST leaves, and the shortest of
    # three whole runs: kills are drawn within 0.9 of it, so that a run is
    # nearly always still going (a first run, slower on a loaded machine,
    # would put many kills after the end).
    duration = None
    for _ in range(3):
        with open(models, "wb") as f:
            f.write(seed)
        started = time.monotonic()
        if run(program, work, cmd, os.path.join(work, "run.lst")).wait() != 0:
            sys.exit("the run without a kill failed")
        took = time.monotonic() - started
        duration = took if duration is None else min(duration, took)
    complete = read(models)
    if complete == seed or complete.count(b"\n") != 27:
        sys.exit("the run without a kill did not write the two models next to the 25 kept records")
    rng = random.Random(14)
    kills = 0
    for attempt in range(25):
        with open(models, "wb") as f:
            f.write(seed)
        p = run(program, work, cmd, os.path.join(work, "run.lst"))
        time.sleep(rng.uniform(0.0, 0.9 * duration))
        if p.poll() is None:
            p.send_signal(signal.SIGKILL)
            kills += 1
        p.wait()
        now = read(models)
        if now not in (seed, complete):
            sys.exit("after a kill (attempt %d) the model file is neither the old nor a complete new file:\n%s"
                     % (attempt, now.decode(errors="replace")))
    if kills < 12:
        sys.exit("only %d of 25 runs were killed before they ended" % kills)
    print("%d runs killed, each left the old or a complete new model file (run %.2f s)" % (kills, duration))


def concurrent_test(program, source, work):
    for who in ("A", "B"):
        with open(os.path.join(work, who + ".cmd"), "w") as f:
            f.write(command_file(source, who, 6, numbered=True))
    models = os.path.join(work, "MODELS")
    for pair in range(8):
        if os.path.exists(models):
            os.remove(models)
        runs = [run(program, work, os.path.join(work, w + ".cmd"), os.path.join(work, w + ".lst")) for w in "AB"]
        if any(p.wait() != 0 for p in runs):
            sys.exit("a run failed")
        names = sorted(line[1:11].strip() for line in read(models).decode().splitlines())
        if names != sorted("%s%s%d" % (m, w, t) for m in ("PEQC", "CONSTP") for w in "AB" for t in range(1, 7)):
            sys.exit("pair %d: the model file holds %s, not both runs' models" % (pair, names))
    print("8 pairs of runs updating one model file kept both runs' models")


def main():
    program, source, mode = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    with tempfile.TemporaryDirectory() as work:
        {"kill": kill_test, "concurrent": concurrent_test}[mode](program, source, work)


if __name__ == "__main__":
    main()
