#!/usr/bin/env python3
"""Every line quorvale-inp writes fits the 80 columns the program reads: the
command files (and help texts) of every case in tests/convert, of --models
and --models=LIST with the longest names (with groups and linear formulas
too), and of --plan, over designs of 2 to 20 periods, long file names,
the most groups and the largest sizes allowed, with a trend and a covariate
of the longest name.
A plan of 10 periods, and data of 10 periods, of one group and of six, also
run through the program without "Unrecognized input".

Usage: line_width.py QUORVALE_INP QUORVALE CONVERT_CASES_DIR
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

inp, program, cases = sys.argv[1:4]
WIDTH = 80
failures = []
outputs = 0


def check(what, text):
    global outputs
    outputs += 1
    for n, line in enumerate(text.split("\n"), 1):
        if len(line) > WIDTH:
            failures.append(f"{what}: line {n} has {len(line)} columns: {line}")
            return


def run(what, args, cwd, stdin=b"", status=0):
    r = subprocess.run([inp, *args], cwd=cwd, input=stdin, capture_output=True, timeout=120)
    if r.returncode != status:
        failures.append(f"{what}: exit status {r.returncode}: {r.stderr.decode(errors='replace')[:300]}")
    check(what, r.stdout.decode("latin-1"))
    return r.stdout.decode("latin-1")


def histories(secondary, count, seed, frequency=None, groups=1):
    rng = random.Random(seed)
    total = sum(secondary)
    lines = []
    for _ in range(count):
        h = "".join(rng.choice("01") for _ in range(total))
        if "1" not in h:
            h = "1" + h[1:]
        f = [frequency if frequency is not None else rng.randint(1, 9) * rng.choice([1, 1, 1, -1])
             for _ in range(groups)]
        lines.append(f"{h} {' '.join(map(str, f))};")
    return ("\n".join(lines) + "\n").encode()


def most_groups(secondary):
    """The most groups (up to 10) whose cohorts and parameters the program holds."""
    M = len(secondary)
    npar = sum(2 * k - 1 for k in secondary) + 4 * M - 4
    cohorts = M * (M + 1) // 2 + M - 1
    return min(10, 420 // npar, 1200 // cohorts)


work = tempfile.mkdtemp()
try:
    # Every end-to-end case as it is written.
    for name in sorted(os.listdir(cases)):
        case = os.path.join(cases, name)
        if not os.path.isdir(case):
            continue
        tmp = os.path.join(work, name)
        shutil.copytree(case, tmp)
        if os.path.exists(os.path.join(case, "args.lines")):
            args = open(os.path.join(case, "args.lines")).read().splitlines()
        else:
            args = open(os.path.join(case, "args")).read().split()
        stdin = open(os.path.join(case, "stdin"), "rb").read() if os.path.exists(os.path.join(case, "stdin")) else b""
        status = int(open(os.path.join(case, "expected.status")).read())
        run(f"case {name}", args, tmp, stdin, status)
    run("--plan --help", ["--plan", "--help"], work)

    # Data files: designs of 2 to 20 periods, up to the most occasions a period may have.
    designs = [[2, 2], [5, 1, 5, 1], [2] * 10, [3, 2, 1, 2, 2, 4, 2, 3, 2, 2, 5],
               [1, 2] * 6, [2] * 20, [5] * 12]
    long_name = "a-long-file-name-of-many-characters-" + "x" * 60 + ".inp"
    for secondary in designs:
        sec = ",".join(map(str, secondary))
        file = os.path.join(work, long_name)
        with open(file, "wb") as f:
            f.write(histories(secondary, 40, len(secondary)))
        run(f"--secondary {sec}", ["--secondary", sec, file], work)
        run(f"--secondary {sec} --models", ["--secondary", sec, "--models", file], work)
        with open(file, "wb") as f:  # the largest frequencies
            f.write(histories(secondary, 1, 1, frequency=2147483647))
        run(f"--secondary {sec}, large frequencies", ["--secondary", sec, file], work)
    # Groups with names of 10 characters, as many as the design allows.
    for secondary in designs:
        sec = ",".join(map(str, secondary))
        groups = most_groups(secondary)
        names = ",".join(f"Group{g:05d}" for g in range(1, groups + 1))
        file = os.path.join(work, long_name)
        with open(file, "wb") as f:
            f.write(histories(secondary, 40, len(secondary), groups=groups))
        run(f"--secondary {sec} --groups {names} --models",
            ["--secondary", sec, "--groups", names, "--models", file], work)
        run(f"--plan --secondary {sec} --groups {names}",
            ["--plan", "--secondary", sec, "--groups", names, "--marked", "/".join(str(50 + g) for g in range(groups)),
             "--phi", "0.8", "--p", "0.4",
             "--gamma2", "0.2", "--nsim", "1"], work)
    # --models=LIST: the longest structures, and names that need a number.
    structures = ";".join(["PHI(T) P(T*O) C(P) GAMMA(RANDOM,.)"] * 12 + ["PHI(.) P(.) C(P) GAMMA(NONE)"])
    secondary = [3] * 6
    file = os.path.join(work, "six.inp")
    with open(file, "wb") as f:
        f.write(histories(secondary, 200, 6))
    run("--models=LIST", ["--secondary", "3,3,3,3,3,3", "--models=" + structures, file], work)
    # With groups (MAXFN on every PROC ESTIMATE), numbered names and formulas.
    structures = ";".join(["PHI(G*T) P(G*T) C(G*T*O) GAMMA(RANDOM,.)"] * 12
                          + ["PHI(G*TREND) P(G+T+O) C(P+G) GAMMA(RANDOM,G+TREND)"] * 2)
    with open(file, "wb") as f:
        f.write(histories(secondary, 200, 6, groups=2))
    run("--models=LIST, groups", ["--secondary", "3,3,3,3,3,3", "--groups", "Group00001,Group00002",
                                  "--models=" + structures, file], work)

    # --plan over the same designs, the smallest and the largest sizes allowed.
    plan_args = ["--phi", "0.8", "--p", "0.4", "--nsim", "2147483645", "--seed", "2147483645"]
    for secondary in designs:
        sec = ",".join(map(str, secondary))
        M = len(secondary)
        run(f"--plan --secondary {sec}", ["--plan", "--secondary", sec, "--marked", "50", *plan_args], work)
        run(f"--plan --secondary {sec} --superpopulation",
            ["--plan", "--secondary", sec, "--superpopulation", "1", "--gamma2", "0.3", *plan_args], work)
        marked = ",".join(str(1000 * (i + 1)) for i in range(M))
        gamma1 = ["--gamma1", "0.5"] if M >= 3 else []
        run(f"--plan --secondary {sec}, marked by period",
            ["--plan", "--secondary", sec, "--marked", marked, "--gamma2", "0.2", *gamma1,
             "--c", "0.123456", *plan_args], work)
        if M >= 4:
            # A trend and a covariate of the longest name and wide values,
            # and the linear variant of every model.
            values = ",".join(f"{-1000.12345 - (i * i % 7) * 7.777:.6g}" for i in range(M))
            run(f"--plan --secondary {sec}, trend and covariate",
                ["--plan", "--secondary", sec, "--marked", "50", "--gamma2", "0.2", *gamma1, "--phi-trend", "-0.05",
                 "--covariate", "RAINFALL=" + values, "--phi-effect", "RAINFALL=-0.001", *plan_args], work)
    # Nearly 2147483647 animals in all: the first catch and its release.
    run("--plan, the most animals", ["--plan", "--secondary", "2,2", "--superpopulation", "1084000000",
                                     "--phi", "0", "--p", "0.9"], work)

    # A plan of 10 periods, and the data of 10 periods with the largest
    # cohorts, are read by the program line by line.
    plan = run("--plan, 10 periods", ["--plan", "--secondary", ",".join(["2"] * 10), "--marked", "30",
                                      "--phi", "0.8", "--p", "0.4", "--nsim", "1", "--submodels", "1"], work)
    file = os.path.join(work, "ten.inp")
    with open(file, "wb") as f:
        f.write(histories([2] * 10, 1, 1, frequency=2147483647))
    data = run("10 periods, large frequencies", ["--secondary", ",".join(["2"] * 10), file], work)
    with open(file, "wb") as f:
        f.write(histories([2] * 10, 40, 3, groups=6))
    names = ",".join(f"Group{g:05d}" for g in range(1, 7))
    grouped = run("10 periods, 6 groups", ["--secondary", ",".join(["2"] * 10), "--groups", names, file], work)
    for name, text in (("plan10", plan), ("data10", data), ("groups10", grouped)):
        with open(os.path.join(work, name + ".cmd"), "w") as f:
            f.write(text)
        r = subprocess.run([program, f"i={name}.cmd", f"l={name}.lst"], cwd=work, capture_output=True, timeout=300)
        listing = open(os.path.join(work, name + ".lst"), encoding="latin-1").read()
        if "Unrecognized input" in listing or r.returncode != 0 or "NORMAL TERMINATION" not in r.stderr.decode():
            failures.append(f"{name}.cmd did not run cleanly (exit {r.returncode}): "
                            + r.stderr.decode(errors="replace")[-300:])
finally:
    shutil.rmtree(work, ignore_errors=True)

if failures:
    print("\n".join(failures))
    sys.exit(1)
print(f"every line of {outputs} outputs of quorvale-inp fits {WIDTH} columns")
