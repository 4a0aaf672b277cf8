#!/usr/bin/env python3
"""Runs two builds of the program on every end-to-end case, with json=,
csv= and report= added, and on the bundled example, and reports every output
that differs: listing, standard output and error, exit status, the JSON
document, the CSV tables and the page. The date heading and the elapsed
times are masked as the golden comparison masks them.

For a change meant to leave every output as it was (a restructuring):
  python3 tools/compare-outputs.py OLD_PROGRAM NEW_PROGRAM
Exit status 0 when all outputs are byte-identical, 1 otherwise."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATE = re.compile(rb"^ [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} ", re.M)
TIME = re.compile(rb"(CPU time in (seconds for last procedure|minutes for this job) was).{8}")
# The page and the JSON document carry the run's date.
STAMP = re.compile(rb"[0-9]{4}-[0-9]{2}-[0-9]{2}[T ][0-9]{2}:[0-9]{2}(:[0-9]{2})?")


def mask(data):
    data = DATE.sub(b" Www Mmm dd hh:mm:ss yyyy ", data)
    data = TIME.sub(rb"\1 ##.##  ", data)
    return STAMP.sub(b"yyyy-mm-dd hh:mm:ss", data)


def run(program, case_dir, work, extra):
    shutil.copytree(case_dir, work, dirs_exist_ok=True)
    for name in os.listdir(work):
        if name.startswith("expected."):
            os.remove(os.path.join(work, name))
    stdin_path = os.path.join(work, "stdin")
    stdin = open(stdin_path, "rb").read() if os.path.exists(stdin_path) else b""
    args_path = os.path.join(work, "args")
    args = open(args_path).read().split() if os.path.exists(args_path) else []
    if extra and not any(a.startswith("--") for a in args):
        if args:
            args += extra
        else:
            first, _, rest = stdin.partition(b"\n")
            stdin = first + b" " + " ".join(extra).encode() + b"\n" + rest
    kwargs = {}
    if os.path.exists(os.path.join(case_dir, "stdin.closed")):
        kwargs["stdin"] = subprocess.DEVNULL
    else:
        kwargs["input"] = stdin
    r = subprocess.run([program] + args, cwd=work, capture_output=True, timeout=600, **kwargs)
    outputs = {"stdout": r.stdout, "stderr": r.stderr, "status": str(r.returncode).encode()}
    for dirpath, _, files in os.walk(work):
        for f in files:
            path = os.path.join(dirpath, f)
            rel = os.path.relpath(path, work)
            outputs[rel] = open(path, "rb").read()
    return {k: mask(v) for k, v in outputs.items()}


def main():
    old, new = (os.path.abspath(p) for p in sys.argv[1:3])
    cases = sorted(os.path.join(ROOT, "tests", "e2e", c) for c in os.listdir(os.path.join(ROOT, "tests", "e2e")))
    example = tempfile.mkdtemp()
    shutil.copy(os.path.join(ROOT, "examples", "robust-example.cmd"), example)
    with open(os.path.join(example, "stdin"), "w") as f:
        f.write("i=robust-example.cmd l=run.lst\n")
    runs = [(c, ["json=results.json", "csv=tables", "report=results.html", "threads=1"]) for c in cases]
    runs += [(c, []) for c in cases] + [(example, ["json=results.json", "csv=tables", "report=results.html"])]
    differ = 0
    compared = 0
    for case_dir, extra in runs:
        a = tempfile.mkdtemp()
        b = tempfile.mkdtemp()
        try:
            out_a = run(old, case_dir, a, extra)
            out_b = run(new, case_dir, b, extra)
        finally:
            shutil.rmtree(a)
            shutil.rmtree(b)
        name = os.path.basename(case_dir) + (" (results)" if extra else "")
        for key in sorted(set(out_a) | set(out_b)):
            compared += 1
            if out_a.get(key) != out_b.get(key):
                print(f"DIFFERS {name}: {key}")
                differ += 1
    shutil.rmtree(example)
    print(f"{compared} outputs of {len(runs)} runs compared, {differ} differ")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
