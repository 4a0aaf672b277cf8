#!/usr/bin/env python3
"""The converter's twelve models of the bundled example, written as index
constraints (robust-example-index.cmd, as the converter wrote them before it
wrote STRUCTURE statements) and as STRUCTURE statements, fit alike.

Each CONSTRAINT block of the index form is replaced by the STRUCTURE
statement its model's name says (the table below, written from the names,
not from the program). Both files are run; once the echoed statements, the
lines listing what the structure set, the page headings and the timings
are put aside, the two listings must be the same line for line: the
counts, the parameter table (each parameter's slot, i.e. the map), every
estimate, likelihood and criterion, to the last printed digit.

Usage: structure_forms.py PROGRAM INDEX_CMD
Standard library only.
"""
import os
import re
import sys

import run_listing

GAMMA = {"NO-EMIG": "GAMMA(NONE)", "RANDOM(.)": "GAMMA(RANDOM,.)", "RANDOM(T)": "GAMMA(RANDOM,T)",
         "MARKOV(.)": "GAMMA(MARKOV,.)", "MARKOV(T)": "GAMMA(MARKOV,T)"}
REST = {"PHI(.)P(.)": "PHI(.) P(.) C(P)", "PHI(T)P(.)": "PHI(T) P(.) C(P)",
        "PHI(.)P(T)": "PHI(.) P(T) C(P)", "PHI(T)P(T)": "PHI(T) P(T) C(P)"}


def structure_form(index_text):
    out, replaced = [], 0
    lines = index_text.splitlines()
    k = 0
    while k < len(lines):
        line = lines[k]
        out.append(line)
        m = re.match(r"PROC ESTIMATE NAME=(\S+) (\S+);$", line)
        k += 1
        if not m:
            continue
        assert lines[k] == " CONSTRAINT;", lines[k]
        k += 1
        while k < len(lines) and lines[k].startswith("  S("):
            k += 1
        out.append(f" STRUCTURE {GAMMA[m.group(1)]} {REST[m.group(2)]} THETA(1);")
        replaced += 1
    return "\n".join(out) + "\n", replaced


def fit_lines(listing):
    kept = []
    for line in listing:
        s = line.strip().strip("\f")
        if not s or "INPUT ---" in line or "Page " in line or "CPU time" in line:
            continue
        if re.match(r"^      (S\(\d+\)=|STRUCTURE |Note: added)", line):
            continue
        if s.startswith("Quorvale - ") or s.startswith("- - -"):
            continue
        kept.append(line.rstrip())
    return kept


def main(program, index_cmd):
    with open(index_cmd) as f:
        index_text = f.read()
    structure_text, replaced = structure_form(index_text)
    if replaced != 12:
        print(f"FAIL: {replaced} models found, 12 expected")
        return 1
    a = fit_lines(run_listing.listing(program, index_text))
    b = fit_lines(run_listing.listing(program, structure_text))
    estimates = sum(1 for line in a if "Number of parameters estimated" in line)
    if estimates != 12:
        print(f"FAIL: {estimates} fits listed, 12 expected")
        return 1
    if a != b:
        for k, (x, y) in enumerate(zip(a, b)):
            if x != y:
                print(f"FAIL: line {k} differs:\n  index:     {x}\n  structure: {y}")
                break
        else:
            print(f"FAIL: {len(a)} lines against {len(b)}")
        return 1
    print(f"ok: 12 models, {len(a)} lines of counts, maps, estimates and criteria identical")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
