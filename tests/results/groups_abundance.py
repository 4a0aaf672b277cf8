#!/usr/bin/env python3
"""The abundance of two groups of animals in every result file, and the
abundance of both groups together against an independent computation.

Runs the end-to-end case groups_abundance (groups F and M on four periods;
capture shared by the groups in the first fit, by group in the second; PROC
TEST AVERAGE) with json= and csv= and checks:

- the document meets docs/results.schema.json;
- abundance.csv holds every fit's rows of each group and of all groups, the
  values of the document's derived abundance exactly; estimates.csv names
  each parameter's group as the document does;
- all groups together, from the document's estimates and covariance alone:
  the p's of group g of period i are S((g - 1) B + o_i + t), B = NPAR / 2
  the block of a group and o_i the sum of 2k - 1 over the earlier periods;
    N = sum_g n_g / p*_g,
    Var(N) = sum_g n_g (1 - p*_g) / p*_g^2 + d' V d,
    d(slot) = sum_g n_g / p*_g^2 * dp*_g / d(slot);
  with capture shared, p*_F = p*_M, so that also the closed form
    N = n / p*, Var(N) = n (1 - p*) / p*^2 + n^2 Var(p*) / p*^4, n = n_F + n_M,
  from the printed p* and its standard error; and there the groups' own
  variances added up (no covariance between the groups) must differ from it;
- the model-averaged abundance of all groups: the weights of the average
  applied to the fits' totals, the unconditional standard error
  sqrt(sum w (se^2 + (N - N-bar)^2)).
Agreement to 1e-9 relative.  Usage: groups_abundance.py PROGRAM CASE_DIR SCHEMA
"""
import csv
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

import jsonschema

failures = []


def agree(what, mine, theirs, rel=1e-9):
    if theirs is None or abs(mine - theirs) > rel * max(abs(mine), 1e-300):
        failures.append(f"{what}: independent {mine!r}, program {theirs!r}")


def csv_value(text):
    return None if text == "" else float(text)


def check_tables(doc, tables):
    rows = list(csv.DictReader(open(os.path.join(tables, "abundance.csv"), newline="")))
    want = []
    for fit in doc["fits"]:
        for a in fit["derived"]["abundance"]:
            want.append((fit["sequence"], a["group"], a))
        for a in fit["derived"].get("total_abundance", []):
            want.append((fit["sequence"], "all groups", a))
    if len(rows) != len(want):
        failures.append(f"abundance.csv has {len(rows)} rows, the document {len(want)}")
    for row, (seq, group, a) in zip(rows, want):
        what = f"abundance.csv fit {seq} {group} period {a['period']}"
        if (int(row["fit"]), row["group"], int(row["period"]), int(row["caught"])) != (seq, group, a["period"], a["caught"]):
            failures.append(f"{what}: row {row}")
        for column, value in (("p_star", a.get("p_star")), ("p_star_se", a.get("p_star_se")),
                              ("estimate", a["estimate"]), ("se", a["se"]), ("lower", a["ci"][0]),
                              ("upper", a["ci"][1])):
            if csv_value(row[column]) != value:
                failures.append(f"{what} {column}: CSV {row[column]!r}, document {value!r}")
        if row["unavailable"] != (a["unavailable"] or ""):
            failures.append(f"{what}: unavailable {row['unavailable']!r}")
    rows = list(csv.DictReader(open(os.path.join(tables, "estimates.csv"), newline="")))
    want = [(fit["sequence"], p) for fit in doc["fits"] for p in fit["parameters"]]
    if len(rows) != len(want) or any(r["group"] != p["group"] or int(r["index"]) != p["index"] or
                                     csv_value(r["estimate"]) != p["estimate"] for r, (_, p) in zip(rows, want)):
        failures.append("estimates.csv: groups or estimates differ from the document's")


def totals(doc, fit):
    """(N, SE, per-group SEs) of all groups together by period, from the estimates and covariance."""
    data = doc["data"]
    groups = data["groups"]
    occasions = data["occasions"]
    block = fit["npar"] // len(groups)
    params = fit["parameters"]
    cov = fit["covariance"]
    k = fit["k"]
    out = []
    off = 0
    for ip, kk in enumerate(occasions, start=1):
        N = 0.0
        binomial = 0.0
        d = [0.0] * (k + 1)
        for g, name in enumerate(groups):
            n = sum(c["size"] for c in data["cohorts"]
                    if c["group"] == name and c["kind"] == "closed" and c["period"] == ip)
            ps = [params[g * block + off + t] for t in range(kk)]
            if any(p["group"] != name for p in ps):
                failures.append(f"period {ip}: a p of group {name} is not of its block")
            pstar = 1.0 - math.prod(1.0 - p["estimate"] for p in ps)
            N += n / pstar
            binomial += n * (1.0 - pstar) / pstar ** 2
            for t, p in enumerate(ps):
                if not p["fixed"]:
                    others = math.prod(1.0 - q["estimate"] for s, q in enumerate(ps) if s != t)
                    d[p["slot"]] += n / pstar ** 2 * others
        var = binomial + sum(d[a] * d[b] * cov[a - 1][b - 1] for a in range(1, k + 1) for b in range(1, k + 1))
        out.append((N, math.sqrt(var)))
        off += 2 * kk - 1
    return out


def interval(N, n, var):
    C = math.exp(1.96 * math.sqrt(math.log(1 + var / (N - n) ** 2)))
    return n + (N - n) / C, n + (N - n) * C


def check_totals(doc):
    figures = []
    for fit in doc["fits"]:
        rows = fit["derived"]["abundance"]
        for (N, se), total in zip(totals(doc, fit), fit["derived"]["total_abundance"]):
            ip = total["period"]
            what = f"{fit['name']} period {ip}"
            agree(what + " N-hat", N, total["estimate"])
            agree(what + " SE", se, total["se"])
            lower, upper = interval(N, total["caught"], se * se)
            agree(what + " lower", lower, total["ci"][0])
            agree(what + " upper", upper, total["ci"][1])
            mine = [a for a in rows if a["period"] == ip]
            separate = math.sqrt(sum(a["se"] ** 2 for a in mine))
            figures.append((fit["name"], ip, N, se, total["estimate"], total["se"], separate))
            if fit["name"] != "P SHARED":
                continue
            if abs(separate - total["se"]) < 1e-3 * total["se"]:
                failures.append(f"{what}: the groups' variances added give the total's SE; no covariance between them")
            # Capture shared: one p* for both groups, and N = n / p*.
            f_row, m_row = mine
            if f_row["p_star"] != m_row["p_star"] or f_row["p_star_se"] != m_row["p_star_se"]:
                failures.append(f"{what}: p* not shared by the groups")
            n = f_row["caught"] + m_row["caught"]
            p, s = f_row["p_star"], f_row["p_star_se"]
            agree(what + " N-hat, closed form", n / p, total["estimate"])
            agree(what + " SE, closed form", math.sqrt(n * (1 - p) / p ** 2 + n * n * s * s / p ** 4), total["se"])
    return figures


def check_average(doc):
    avg = doc["tests"][0]["averaged"]
    w = {m["name"]: m["weight"] for m in avg["models"]}
    fits = [f for f in doc["fits"] if f["name"] in w]
    if len(fits) != 2:
        failures.append(f"{len(fits)} fits averaged, 2 expected")
    for key, rows in (("abundance", avg["abundance"]), ("total_abundance", avg.get("total_abundance", []))):
        for v in rows:
            mine = [next(a for a in f["derived"][key] if a["period"] == v["period"] and a.get("group") == v.get("group"))
                    for f in fits]
            bar = sum(w[f["name"]] * a["estimate"] for f, a in zip(fits, mine))
            se = math.sqrt(sum(w[f["name"]] * (a["se"] ** 2 + (a["estimate"] - bar) ** 2) for f, a in zip(fits, mine)))
            what = f"averaged {v.get('group', 'all groups')} period {v['period']}"
            agree(what + " N-hat", bar, v["estimate"])
            agree(what + " SE", se, v["se"])
    if len(avg.get("total_abundance", [])) != len(doc["data"]["occasions"]):
        failures.append("the average has not every period of all groups together")


def main():
    program, case_dir, schema_path = sys.argv[1:4]
    work = tempfile.mkdtemp()
    try:
        shutil.copytree(case_dir, work, dirs_exist_ok=True)
        subprocess.run([program, "i=run.cmd", "l=run.lst", "notrace", "json=results.json", "csv=tables"], cwd=work,
                       check=True, capture_output=True)
        doc = json.load(open(os.path.join(work, "results.json")))
        jsonschema.validate(doc, json.load(open(schema_path)))
        if doc["data"].get("groups") != ["F", "M"]:
            failures.append(f"groups {doc['data'].get('groups')} in the document")
        check_tables(doc, os.path.join(work, "tables"))
    finally:
        shutil.rmtree(work)
    figures = check_totals(doc)
    check_average(doc)
    for message in failures[:40]:
        print(message)
    for name, ip, N, se, n_doc, se_doc, separate in figures:
        print(f"{name:10s} period {ip}: N {N:.6f} SE {se:.6f} (program {n_doc:.6f} {se_doc:.6f};"
              f" groups' variances added {separate:.6f})")
    print(f"{len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
