#!/usr/bin/env python3
"""Runs one end-to-end case again with json=FILE and report=FILE.html added to
its parameter words, validates the JSON document against
docs/results.schema.json, checks that every value the listing prints for a
fit, a simulation refit, a coefficient row of a coverage block and a PROC
TEST row equals the document's value to the printed precision, recomputes
the coverage blocks (parameters, N-hat and the coefficients of submodels
with linear forms) from the refits, and checks the report page against the
document (check_report.py).

Usage: check_results.py PROGRAM CASE_DIR SCHEMA
Exit status 0 when every check holds (or the case writes no document because
the run did not end normally, as the case expects), 1 otherwise; a case that
ends normally must still end normally, and no run may be killed by a signal.
"""
import json
import math
import statistics
import os
import re
import shutil
import subprocess
import sys
import tempfile

import jsonschema

from check_report import check_page

failures = []


def fail(message):
    failures.append(message)


def close(printed, value, what):
    """True when `value` prints as `printed` to the printed precision."""
    if printed.strip() in ("unavailable", ""):
        # Printed for a value the document holds as null, and only then.
        if value is not None:
            fail(f"{what}: printed {printed.strip()!r} but the document has {value!r}")
        return
    try:
        p = float(printed)
    except ValueError:
        if printed.strip().startswith("*"):
            return  # a field too narrow for its value says nothing
        # A three-digit exponent drops the E: 0.100000+101.
        text = printed.strip()
        for sign in "+-":
            k = text.rfind(sign)
            if k > 0:
                p = float(text[:k] + "E" + text[k:])
                break
        else:
            fail(f"{what}: cannot read printed value {printed!r}")
            return
    if value is None:
        if math.isfinite(p):
            fail(f"{what}: printed {printed.strip()} but the document has null")
        return
    # One unit in the last printed place: the printed value is the document's
    # rounded, so they may differ by half of it; a full unit is allowed.
    mantissa = printed.strip().upper().split("E")[0].lstrip("+-")
    decimals = len(mantissa.split(".")[1]) if "." in mantissa else 0
    significant = len(mantissa.replace(".", "").lstrip("0"))
    if p == 0.0 or significant == 0:
        tolerance = 10.0 ** (-decimals)
    else:
        tolerance = 10.0 ** (math.floor(math.log10(abs(p))) - (significant - 1))
    if abs(p - value) > tolerance:
        fail(f"{what}: printed {printed.strip()}, document {value!r}")


def summary_fields(line):
    """The nine fields of an "@@" line."""
    fields = line[2:].split()
    if len(fields) == 9:
        return fields
    cols = [(2, 7), (7, 12), (12, 17), (17, 21), (22, 35), (35, 39), (40, 53), (53, 66), (66, 79)]
    return [line[a:b] for a, b in cols]


def check_summary(line, fit, what):
    f = summary_fields(line)
    if int(f[0]) != fit["sequence"]:
        fail(f"{what}: sequence {f[0]} against {fit['sequence']}")
    if int(f[1]) != fit["optimizer_code"] or int(f[2]) != fit["inversion_code"]:
        fail(f"{what}: codes {f[1]} {f[2]}")
    if int(f[3]) != fit["g"]["df"] or int(f[5]) != fit["pooled"]["df"]:
        fail(f"{what}: degrees of freedom {f[3]} {f[5]}")
    close(f[4], fit["g"]["statistic"], what + " G")
    close(f[6], fit["pooled"]["statistic"], what + " pooled chi-square")
    close(f[7], fit["lnl"], what + " lnL")
    close(f[8], fit["aic"], what + " AIC")


def check_result_row(line, parameter, what):
    index, slot = int(line[0:4]), int(line[4:8])
    if index != parameter["index"] or slot != parameter["slot"]:
        fail(f"{what}: row {index} slot {slot} against {parameter['index']} {parameter['slot']}")
    close(line[29:41], parameter["estimate"], f"{what} S({index})")
    close(line[42:54], parameter["se"], f"{what} SE({index})")
    close(line[55:67], parameter["wald_ci"][0], f"{what} lower({index})")
    close(line[68:80], parameter["wald_ci"][1], f"{what} upper({index})")
    if parameter["logit_ci"] is not None and not parameter["fixed"]:
        lo, hi = parameter["logit_ci"]
        if not (0.0 <= lo <= parameter["estimate"] <= hi <= 1.0):
            fail(f"{what}: logit interval {lo} {hi} of S({index}) not inside 0..1 around the estimate")


def check_coefficient_rows(lines, n, fit):
    """The table of coefficients that starts at line n against the fit's
    betas: one row per coefficient, in order, each with its estimate,
    standard error and interval as printed ("unavailable" and blanks for one
    not estimable). Returns the rows compared."""
    betas = fit.get("betas")
    if not betas:
        fail(f"line {n + 1}: a table of coefficients for a fit without betas in the document")
        return 0
    rows = [line for line in lines[n + 1:n + 6 + len(betas)] if line[1:5].strip().isdigit()]
    if len(rows) != len(betas):
        fail(f"line {n + 1}: {len(rows)} coefficients printed, {len(betas)} in the document")
    for k, (row, beta) in enumerate(zip(rows, betas), start=1):
        what = f"line {n + 1} coefficient {k}"
        if int(row[1:5]) != k or row[7:7 + len(beta["name"])] != beta["name"]:
            fail(f"{what}: printed {row[1:31]!r}, the document has {beta['name']}")
            continue
        # The name takes 24 columns or more; four fields of 12 follow, each after a blank.
        start = 7 + max(24, len(beta["name"])) + 1
        fields = [row[start + 13 * i:start + 13 * i + 12] for i in range(4)]
        close(fields[0], beta["estimate"], what + " estimate")
        if beta["estimable"]:
            close(fields[1], beta["se"], what + " se")
            close(fields[2], beta["ci"][0], what + " lower")
            close(fields[3], beta["ci"][1], what + " upper")
        elif fields[1].strip() != "unavailable" or fields[2].strip() or fields[3].strip():
            fail(f"{what}: not estimable, printed {fields[1:]}")
    return len(rows)


def check_fit_coefficients(doc):
    """The coefficients of each fit with linear forms: K is their number,
    each interval is the estimate -+ 1.96 SE (none, nor an SE, for one not
    estimable), their covariance is K x K and symmetric with the squared SEs
    on its diagonal (null when not inverted), and each covariate effect
    names estimated parameters of its part, by group then period. A fit
    without linear forms has none of these members. Every fit's covariance
    has a row for each estimated slot. Returns the values checked."""
    checked = 0
    for fit in doc["fits"]:
        name = fit["name"]
        slots = {p["slot"] for p in fit["parameters"] if p["slot"] >= 1}
        for key in ("covariance", "correlation"):
            m = fit[key]
            if m is not None and (len(m) != len(slots) or any(len(row) != len(slots) for row in m)):
                fail(f"fit {name}: {key} of {len(m)} rows for {len(slots)} estimated slots")
        betas = fit.get("betas")
        if betas is None:
            if "beta_covariance" in fit or "covariate_effects" in fit:
                fail(f"fit {name}: coefficient members without betas")
            continue
        if fit["k"] != len(betas):
            fail(f"fit {name}: k {fit['k']} for {len(betas)} coefficients")
        for b in betas:
            what = f"fit {name} {b['name']}"
            if not b["name"].startswith(b["part"] + ":"):
                fail(f"{what}: not named by its part {b['part']}")
            if not b["estimable"]:
                if b["se"] is not None or b["ci"] is not None:
                    fail(f"{what}: not estimable, yet an SE {b['se']} or interval {b['ci']}")
                continue
            est, se = b["estimate"], b["se"]
            want = [est - 1.96 * se, est + 1.96 * se]
            # 1.96 as the program holds it in single precision: 4e-8 of the SE apart.
            if any(abs(c - w) > 1e-7 * se + 1e-12 * abs(est) for c, w in zip(b["ci"], want)):
                fail(f"{what}: interval {b['ci']}, estimate and SE give {want}")
            checked += 1
        cov = fit["beta_covariance"]
        if (cov is None) != (fit["inversion_code"] != 0):
            fail(f"fit {name}: coefficient covariance {'missing' if cov is None else 'given'} "
                 f"with inversion code {fit['inversion_code']}")
        if cov is not None:
            K = len(betas)
            if len(cov) != K or any(len(row) != K for row in cov):
                fail(f"fit {name}: coefficient covariance not {K} x {K}")
                continue
            for a in range(K):
                for c in range(a):
                    if cov[a][c] != cov[c][a]:
                        fail(f"fit {name}: coefficient covariance ({a + 1}, {c + 1}) {cov[a][c]} against {cov[c][a]}")
                b = betas[a]
                if b["estimable"] and (cov[a][a] is None or abs(math.sqrt(cov[a][a]) - b["se"]) > 1e-12 * b["se"]):
                    fail(f"fit {name}: variance {cov[a][a]} of {b['name']} is not its SE {b['se']} squared")
                checked += 1
        for effect in fit.get("covariate_effects", []):
            parts = {b["part"] for b in betas if any(f == effect["covariate"] for f in b["name"].split(":")[1:])}
            if effect["part"] not in parts:
                fail(f"fit {name}: {effect['part']} against {effect['covariate']}, which no coefficient of it holds")
            order = [(p.get("group", ""), p["period"]) for p in effect["points"]]
            groups = list(dict.fromkeys(g for g, _ in order))
            if order != sorted(order, key=lambda gp: (groups.index(gp[0]), gp[1])):
                fail(f"fit {name}: {effect['part']} against {effect['covariate']} not by group then period")
            for p in effect["points"]:
                parameter = fit["parameters"][p["index"] - 1]
                if parameter["fixed"] or parameter.get("group", "") != p.get("group", parameter.get("group", "")):
                    fail(f"fit {name}: point S({p['index']}) is fixed or of another group")
                checked += 1
    return checked


def check_criterion(test, what):
    """One criterion selects: QAICc when c-hat > 1, else AICc. Its differences
    and weights are formed here again from the criterion values, the ranks
    follow them, and an average over every model of the comparison carries
    the same weights."""
    quasi = test["c_hat"] > 1.0
    if "criterion" not in test or any("rank" not in m or "weight_qaicc" not in m for m in test["models"]):
        fail(f"{what}: no criterion in force, ranks and QAICc weights")
        return
    if test["criterion"] != ("QAICc" if quasi else "AICc"):
        fail(f"{what}: criterion {test['criterion']} with c-hat {test['c_hat']}")
    models = test["models"]
    for crit in ("aicc", "qaicc"):
        values = [m[crit] for m in models if m[crit] is not None]
        if not values:
            continue
        best = min(values)
        total = sum(math.exp(-0.5 * (v - best)) for v in values)
        for m in models:
            if m[crit] is None:
                continue
            if abs(m["delta_" + crit] - (m[crit] - best)) > 1e-9 * max(1.0, abs(m[crit])):
                fail(f"{what}: delta_{crit} of {m['name']} is {m['delta_' + crit]}")
            if abs(m["weight_" + crit] - math.exp(-0.5 * (m[crit] - best)) / total) > 1e-9:
                fail(f"{what}: weight_{crit} of {m['name']} is {m['weight_' + crit]}")
    key = "qaicc" if quasi else "aicc"
    finite = sorted((m for m in models if m[key] is not None), key=lambda m: m[key])
    if [m["rank"] for m in finite] != list(range(1, len(finite) + 1)):
        fail(f"{what}: ranks {[m['rank'] for m in finite]} do not follow {key}")
    avg = test.get("averaged")
    if avg and avg["models"] and len(avg["models"]) == len(models):
        by_name = {m["name"]: m["weight_" + key] for m in models}
        for m in avg["models"]:
            if m["name"] in by_name and abs(m["weight"] - by_name[m["name"]]) > 1e-9:
                fail(f"{what}: {m['name']} weighs {m['weight']} in the average, {by_name[m['name']]} in the table")


def check_listing(listing, doc):
    fits = iter(doc["fits"])
    sim_fits = iter([f for s in doc["simulations"] for f in s["fits"]])
    tests = iter(doc["tests"])
    section = None
    in_simulation = False
    fit = None
    rows = None
    checked = 0
    lines = listing.splitlines()
    for n, line in enumerate(lines):
        if "INPUT --- PROC " in line:
            section = line.split("INPUT --- PROC ", 1)[1].split()[0].upper().rstrip(";")
            # The PROC ESTIMATE statements after PROC SIMULATE set up its submodels.
            in_simulation = section == "SIMULATE" or (in_simulation and section == "ESTIMATE")
            if in_simulation:
                section = "SIMULATE"
            elif section == "ESTIMATE":
                fit = next(fits, None)
                if fit is None:
                    fail(f"line {n + 1}: a PROC ESTIMATE without its fit in the document")
            continue
        if line.startswith("@@"):
            if section == "ESTIMATE" and fit is not None:
                check_summary(line, fit, f"line {n + 1}")
            elif section == "SIMULATE":
                refit = next(sim_fits, None)
                if refit is None:
                    fail(f"line {n + 1}: a refit without its record in the document")
                else:
                    f = summary_fields(line)
                    if int(f[0]) != refit["submodel"] or int(f[1]) != refit["optimizer_code"]:
                        fail(f"line {n + 1}: refit submodel {f[0]} code {f[1]} against {refit['submodel']}")
                    close(f[7], refit["lnl"], f"line {n + 1} refit lnL")
                    close(f[8], refit["aic"], f"line {n + 1} refit AIC")
            checked += 1
        if section == "ESTIMATE" and fit is not None and "Coefficients on the logit scale for model" in line:
            checked += check_coefficient_rows(lines, n, fit)
            continue
        if section == "ESTIMATE" and fit is not None and "Results for model" in line:
            rows = iter(fit["parameters"])
            continue
        if rows is not None:
            if line.startswith("  ---"):
                continue
            if len(line) >= 80 and line[0:4].strip().isdigit() and line[4:8].strip().lstrip("-").isdigit():
                parameter = next(rows, None)
                if parameter is not None:
                    check_result_row(line, parameter, f"line {n + 1}")
                    checked += 1
                continue
            if line.strip() and not line.lstrip().startswith(("I ", "95%")) and "Parameter" not in line:
                rows = None
        if section == "TEST" and line.startswith(" Submodel                NPAR"):
            test = next(tests, None)
            if test is None:
                fail(f"line {n + 1}: a PROC TEST table without its record in the document")
                continue
            by_order = {m["order"]: m for m in test["models"]}
            for k, row in enumerate(lines[n + 2:n + 2 + len(test["models"])]):
                order = int(row[0:2])
                m = by_order.get(order)
                if m is None:
                    fail(f"line {n + 3 + k}: model {order} not in the document")
                    continue
                fields = row[3 + 20:].split()
                if int(fields[0]) != m["npar"]:
                    fail(f"line {n + 3 + k}: NPAR {fields[0]} against {m['npar']}")
                for text, key in zip(fields[1:5], ["aic", "aicc", "qaic", "qaicc"]):
                    close(text, m[key], f"line {n + 3 + k} {key}")
                checked += 1
            for key in ("weight_aicc", "weight_qaicc"):
                weights = sum(m.get(key, 0.0) for m in test["models"])
                if abs(weights - 1.0) > 1e-9:
                    fail(f"line {n + 1}: Akaike weights {key} add up to {weights}")
            check_criterion(test, f"line {n + 1}")
    if next(fits, None) is not None:
        fail("the document has more fits than the listing")
    return checked


def chance_covered(lower, upper, n, p):
    """Pr(lower <= n + F <= upper), F the failures before the n-th success of
    trials that succeed with probability p: the terms of F summed one by one."""
    if lower is None or upper is None or not lower <= upper:
        return 0.0
    a = max(math.ceil(lower) - n, 0)
    b = math.floor(upper) - n if math.isfinite(upper) else math.inf
    if n == 0 or p == 1.0:
        return 1.0 if a <= 0 <= b else 0.0
    mean, sd = n * (1 - p) / p, math.sqrt(n * (1 - p)) / p
    b = min(b, math.ceil(mean + 60 * sd + 100))  # the terms beyond do not count
    log_term = lambda k: (math.lgamma(n + k) - math.lgamma(k + 1) - math.lgamma(n)
                          + n * math.log(p) + k * math.log1p(-p))
    return sum(math.exp(log_term(k)) for k in range(a, b + 1)) if a <= b else 0.0


def check_abundance(sim, block, kept):
    """The N-hat rows of one coverage block from the N-hat of its converged
    fits: the true N of a replicate's period is n + F, F the animals missed
    (negative binomial given the n caught and the generating p*)."""
    checked = 0
    p_star = {(c["group"], c["period"]): c["p_star"] for c in sim["generating_p_star"]}
    by_period = {}
    for f in kept:
        for a in f["abundance"]:
            if a["estimate"] is not None:
                by_period.setdefault((a["group"], a["period"]), []).append(a)
    want_rows = [k for k in p_star if k in by_period and p_star[k] is not None and 0 < p_star[k] <= 1]
    got_rows = [(r["group"], r["period"]) for r in block["abundance"]]
    if got_rows != want_rows:
        fail(f"submodel {block['submodel']}: N-hat rows {got_rows}, the fits give {want_rows}")
        return 0
    for row in block["abundance"]:
        key = (row["group"], row["period"])
        ps, values = p_star[key], by_period[key]
        c = len(values)
        true_n = sum(a["caught"] / ps for a in values) / c
        bias = sum(a["estimate"] for a in values) / c - true_n
        expect = {
            "fits": c,
            "true_n": true_n,
            "bias": bias,
            "rmse": math.sqrt(sum((a["estimate"] - a["caught"] / ps) ** 2 + a["caught"] * (1 - ps) / ps ** 2
                                  for a in values) / c),
            "mean_se": (None if any(a["se"] is None for a in values) else sum(a["se"] for a in values) / c),
            "coverage": sum(chance_covered(a["lower"], a["upper"], a["caught"], ps) for a in values) / c,
        }
        if true_n != 0:
            expect["relative_bias"] = bias / true_n
        for key_name, value in expect.items():
            if (value is None) != (row[key_name] is None) or (
                    value is not None and abs(row[key_name] - value) > 1e-9 * max(1.0, abs(value))):
                fail(f"submodel {block['submodel']} N-hat {key}: {key_name} document {row[key_name]!r}, fits give {value!r}")
            checked += 1
    return checked


def check_coverage(doc):
    """Recomputes every simulation's coverage block from its fits: bias, RMSE,
    empirical SD, mean and median SE, the SEs above 10 SD and the two
    coverages of the converged fits (codes 0 and 0, whatever ERROR TEST left
    in the summaries), and the count of fits that failed; the intervals are
    formed here again."""
    checked = 0
    for sim in doc["simulations"]:
        g = sim["generating"]
        fits = sim["fits"]
        if not fits:
            continue
        for block in sim["coverage"]:
            n = block["submodel"]
            mine = [f for f in fits if f["submodel"] == n]
            failed = sum(1 for f in mine if f["optimizer_code"] != 0 or f["inversion_code"] != 0)
            kept = [f for f in mine if f["optimizer_code"] == 0 and f["inversion_code"] == 0]
            if block["not_converged"] != failed or block["converged"] != len(kept):
                fail(f"submodel {n}: counts {block['converged']}/{block['not_converged']}, fits give {len(kept)}/{failed}")
            c = len(kept)
            for row in block["parameters"]:
                i = row["index"] - 1
                gi = g[i]
                est = [f["estimates"][i] for f in kept]
                se = [f["se"][i] for f in kept]
                wald = logit = 0
                for f, s, e in zip(kept, est, se):
                    lo, hi = s - 1.96 * e, s + 1.96 * e
                    covers = lo <= gi <= hi
                    if abs(lo - gi) > 1e-9 and abs(hi - gi) > 1e-9 and covers != f["wald_covers"][i]:
                        fail(f"submodel {n} S({i + 1}) replicate {f['replicate']}: Wald flag {f['wald_covers'][i]}")
                    wald += f["wald_covers"][i]
                    lcovers = False
                    if 0.0 < s < 1.0 and e is not None and math.isfinite(e):
                        centre, half = math.log(s / (1.0 - s)), 1.96 * e / (s * (1.0 - s))
                        llo, lhi = 1 / (1 + math.exp(-(centre - half))), 1 / (1 + math.exp(-(centre + half)))
                        lcovers = llo <= gi <= lhi
                        near = min(abs(llo - gi), abs(lhi - gi)) <= 1e-9
                    else:
                        near = False
                    if not near and lcovers != f["logit_covers"][i]:
                        fail(f"submodel {n} S({i + 1}) replicate {f['replicate']}: logit flag {f['logit_covers'][i]}")
                    logit += f["logit_covers"][i]
                if c == 0:
                    continue
                mean = sum(est) / c
                expect = {
                    "bias": mean - gi,
                    "rmse": math.sqrt(sum((s - gi) ** 2 for s in est) / c),
                    "empirical_sd": math.sqrt(sum((s - mean) ** 2 for s in est) / (c - 1)) if c > 1 else 0.0,
                    "mean_se": sum(se) / c,
                    "median_se": statistics.median(se),
                    "coverage_wald": wald / c,
                    "coverage_logit": logit / c,
                }
                if gi != 0:
                    expect["relative_bias"] = (mean - gi) / gi
                wide = sum(1 for e in se if e > 10 * expect["empirical_sd"]) if c > 1 else 0
                if row["se_over_10_sd"] != wide:
                    fail(f"submodel {n} S({i + 1}) se_over_10_sd: document {row['se_over_10_sd']}, fits give {wide}")
                for key, value in expect.items():
                    if abs(row[key] - value) > 1e-9 * max(1.0, abs(value)):
                        fail(f"submodel {n} S({i + 1}) {key}: document {row[key]!r}, fits give {value!r}")
                    checked += 1
            checked += check_abundance(sim, block, kept)
            checked += check_coefficients(sim, block, mine, kept)
    return checked


Z95 = 1.9600000381469727  # 1.96 in single precision, as the intervals are formed


def check_coefficients(sim, block, mine, kept):
    """The coefficient rows of one coverage block and of its summary from
    the refits' coefficients: each interval is estimate -+ 1.96 SE and covers
    as its bounds say; bias, RMSE, empirical SD, mean and median SE and
    coverage over the converged fits, means over the fits in the summaries.
    A coefficient of a slot of its own ("P:S(4)") in a submodel without
    C(P+...) has the logit of its parameter's generating value as its truth."""
    checked = 0
    n = block["submodel"]
    truths = sim.get("coefficients", [[]] * len(sim["submodels"]))[n - 1]
    rows = block.get("coefficients")
    if not truths:
        if rows is not None or any("coefficients" in f for f in mine):
            fail(f"submodel {n}: coefficients without linear forms")
        return 0
    if rows is None or [r["name"] for r in rows] != [t["name"] for t in truths]:
        fail(f"submodel {n}: coverage rows {rows and [r['name'] for r in rows]}, coefficients {[t['name'] for t in truths]}")
        return 0
    shared = any(t["part"] == "C" for t in truths)  # C(P+...) adds p's coefficients to c
    for k, (truth, row) in enumerate(zip(truths, rows)):
        t = truth["true_value"]
        if row["true_value"] != t:
            fail(f"submodel {n} {truth['name']}: true value {row['true_value']} in the block, {t} in the list")
        own = re.fullmatch(r"[A-Z']+:S\((\d+)\)", truth["name"])
        if own and not shared:
            g = min(max(sim["generating"][int(own[1]) - 1], 0.001), 0.999)
            if abs(t - math.log(g / (1 - g))) > 1e-9:
                fail(f"submodel {n} {truth['name']}: true value {t}, the logit of its generating value {g}")
            checked += 1
        values = [f["coefficients"][k] for f in kept]
        for f in mine:
            c = f["coefficients"][k]
            if c["se"] is not None:
                for bound, sign in (("lower", -1), ("upper", 1)):
                    if abs(c[bound] - (c["estimate"] + sign * Z95 * c["se"])) > 1e-9 * max(1.0, abs(c[bound])):
                        fail(f"submodel {n} {truth['name']} replicate {f['replicate']}: {bound} {c[bound]}")
                near = min(abs(c["lower"] - t), abs(c["upper"] - t)) <= 1e-9
                if not near and c["covers"] != (c["lower"] <= t <= c["upper"]):
                    fail(f"submodel {n} {truth['name']} replicate {f['replicate']}: covers {c['covers']}")
            elif c["covers"]:
                fail(f"submodel {n} {truth['name']} replicate {f['replicate']}: covers without an interval")
        c = len(values)
        if c == 0:
            continue
        est = [v["estimate"] for v in values]
        se = [v["se"] for v in values]
        mean = sum(est) / c
        sd = math.sqrt(sum((x - mean) ** 2 for x in est) / (c - 1)) if c > 1 else 0.0
        expect = {
            "mean": mean,
            "bias": mean - t,
            "rmse": math.sqrt(sum((x - t) ** 2 for x in est) / c),
            "empirical_sd": sd,
            "mean_se": None if None in se else sum(se) / c,
            "median_se": None if None in se else statistics.median(se),
            "coverage": sum(v["covers"] for v in values) / c,
        }
        wide = sum(1 for e in se if e is not None and e > 10 * sd) if c > 1 else 0
        if row["se_over_10_sd"] != wide:
            fail(f"submodel {n} {truth['name']} se_over_10_sd: document {row['se_over_10_sd']}, fits give {wide}")
        for key, value in expect.items():
            if (value is None) != (row[key] is None) or (
                    value is not None and abs(row[key] - value) > 1e-9 * max(1.0, abs(value))):
                fail(f"submodel {n} {truth['name']} {key}: document {row[key]!r}, fits give {value!r}")
            checked += 1
    # The summary's means: over the fits in the summaries (all but those ERROR TEST left out).
    summary = next((x for x in sim["summaries"] if x["submodel"] == n), None)
    included = [f for f in mine if f["included"]]
    if summary is not None and included:
        for k, row in enumerate(summary.get("coefficients", [])):
            est = [f["coefficients"][k]["estimate"] for f in included]
            if abs(row["estimate"]["mean"] - sum(est) / len(est)) > 1e-9 * max(1.0, abs(row["estimate"]["mean"])):
                fail(f"submodel {n} {row['name']}: summary mean {row['estimate']['mean']}")
            checked += 1
    return checked


def check_coefficient_listing(listing, doc):
    """The coefficient rows the listing's coverage blocks print, against the
    document's, in order: true value, bias, RMSE, empirical SD, mean and
    median SE, SE>10SD, coverage and the name."""
    want = [(b["submodel"], r) for s in doc["simulations"] if s["coverage_printed"] and s["replicates"] > 1
            for b in s["coverage"] if b["converged"] >= 1 for r in b.get("coefficients", [])]
    lines = listing.splitlines()
    got = []
    for n, line in enumerate(lines):
        if line.startswith(" Coefficients on the logit scale") and line.rstrip().endswith("95%"):
            for row in lines[n + 3:]:
                if not row.strip():
                    break
                got.append(row)
    if len(got) != len(want):
        fail(f"the listing prints {len(got)} coefficient rows in its coverage blocks, the document has {len(want)}")
        return 0
    for line, (n, row) in zip(got, want):
        what = f"coverage of submodel {n} {row['name']}"
        if line[83:].strip() != row["name"]:
            fail(f"{what}: name {line[83:].strip()!r}")
        for (a, b), key in zip([(1, 13), (13, 23), (23, 33), (33, 43), (43, 53), (53, 63)],
                               ["true_value", "bias", "rmse", "empirical_sd", "mean_se", "median_se"]):
            close(line[a:b], row[key], f"{what} {key}")
        if int(line[63:71]) != row["se_over_10_sd"]:
            fail(f"{what}: SE>10SD {line[63:71].strip()}")
        close(line[71:81], row["coverage"], f"{what} coverage")
    return len(got)


def check_fit_values(doc):
    """Each fit's AICc is its AIC with 2K(K+1)/(n-K-1) added, and its
    correlation matrix is cov(a, b) / sqrt(var(a) var(b)) of its covariance
    (0 where that product is not positive). Returns the values checked."""
    checked = 0
    for fit in doc["fits"]:
        k, n = fit["k"], fit["n"]
        if fit["aic"] is not None and n - k - 1 != 0:
            want = fit["aic"] + 2.0 * k * (k + 1) / (n - k - 1)
            if fit["aicc"] is None or abs(fit["aicc"] - want) > 1e-9 * max(1.0, abs(want)):
                fail(f"fit {fit['name']}: AICc {fit['aicc']}, AIC and K give {want}")
            checked += 1
        cov, cor = fit["covariance"], fit["correlation"]
        if (cov is None) != (cor is None):
            fail(f"fit {fit['name']}: a covariance without a correlation or the other way round")
            continue
        for a, row in enumerate(cov or []):
            for b, c in enumerate(row):
                # A variance that is not a number (null) gives no positive product.
                d = cov[a][a] * cov[b][b] if cov[a][a] is not None and cov[b][b] is not None else 0.0
                want = (None if c is None else c / math.sqrt(d)) if d > 0 else 0.0
                if (want is None) != (cor[a][b] is None) or (want is not None and abs(cor[a][b] - want) > 1e-12):
                    fail(f"fit {fit['name']}: correlation ({a + 1}, {b + 1}) {cor[a][b]}, the covariance gives {want}")
                checked += 1
    return checked


def check_identifiability(listing, doc):
    """A scan of a fit with linear forms names its coordinates: the names
    the listing numbers for it, in order, and its pair within them."""
    numbered = re.findall(r"The coordinates are the \d+ coefficients? on the logit scale, numbered as the fit lists "
                          r"them:\n((?: +\d+ = \S+\n)+)", listing)
    named = [s for s in doc.get("identifiability", []) if "coordinates" in s]
    if len(numbered) != len(named):
        fail(f"identifiability: the listing numbers coordinates {len(numbered)} times, the document names them "
             f"{len(named)} times")
        return 0
    for block, scan in zip(numbered, named):
        names = [line.split("=", 1)[1].strip() for line in block.strip("\n").split("\n")]
        if names != scan["coordinates"]:
            fail(f"identifiability: coordinates {scan['coordinates']} against the listing's {names}")
        pair = scan["additive"]["pair"]
        if pair is not None and not all(1 <= i <= len(names) for i in pair):
            fail(f"identifiability: pair {pair} outside the {len(names)} coordinates")
    return len(numbered)


def main():
    program, case_dir, schema_path = sys.argv[1:4]
    with open(schema_path) as f:
        schema = json.load(f)
    work = tempfile.mkdtemp()
    try:
        shutil.copytree(case_dir, work, dirs_exist_ok=True)
        stdin_path = os.path.join(work, "stdin")
        stdin = open(stdin_path).read() if os.path.exists(stdin_path) else ""
        args_path = os.path.join(work, "args")
        args = open(args_path).read().split() if os.path.exists(args_path) else []
        if any(a.startswith("--") for a in args):
            return 0  # --help and --version run nothing
        words = ["json=results.json", "report=results.html"]
        if args:
            args += words
        else:
            first, _, rest = stdin.partition("\n")
            stdin = first + " " + " ".join(words) + "\n" + rest
        run = subprocess.run([program] + args, input=stdin.encode(), cwd=work, capture_output=True)
        path = os.path.join(work, "results.json")
        status_path = os.path.join(case_dir, "expected.status")
        expected = int(open(status_path).read()) if os.path.exists(status_path) else 0
        if run.returncode < 0 or (expected == 0 and run.returncode != 0):
            # The result words must not make a normal run fail, and no run may crash.
            print(f"the run with json= and report= ended with status {run.returncode}, the case with {expected}")
            return 1
        if run.returncode != 0:
            return 0  # a run that ends in an error writes no document
        if not os.path.exists(path):
            print("a normal run wrote no document")
            return 1
        with open(path) as f:
            doc = json.load(f)
        jsonschema.validate(doc, schema)
        lst = os.path.join(work, "run.lst")
        listing = open(lst, errors="replace").read() if os.path.exists(lst) else run.stdout.decode(errors="replace")
        checked = (check_listing(listing, doc) + check_coverage(doc) + check_fit_values(doc)
                   + check_coefficient_listing(listing, doc) + check_fit_coefficients(doc)
                   + check_identifiability(listing, doc))
        with open(os.path.join(work, "results.html"), encoding="utf-8") as f:
            page_failures, shown, figures, _ = check_page(f.read(), doc)
        failures.extend("report: " + m for m in page_failures)
    finally:
        shutil.rmtree(work)
    for message in failures[:40]:
        print(message)
    print(f"{checked} printed lines compared, {shown} values and {figures} figures of the report, "
          f"{len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
