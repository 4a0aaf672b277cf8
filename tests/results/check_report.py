#!/usr/bin/env python3
"""Checks a report page (report=FILE.html) against the JSON results of the
same run (json=FILE):

- the page is self-contained: no address outside it, no style sheet or
  script loaded from elsewhere;
- every number a table shows equals the document's value it names (the row's
  data-json pointer, or element k of the body's data-items array for row k,
  and the column's data-key) to the shown precision, every
  name and label is the document's, and every fit, parameter and compared
  model has its row, models in ranked order;
- animals per period are the sizes of the period's cohorts (of each group,
  for a model with groups of animals);
- every figure has a title, two axis labels and a text alternative, and the
  survival figures draw each phi where the value axis puts the estimate, and
  for the best model of a PROC TEST with AVERAGE the model-averaged phi;
  with groups, one series per group (and set of values), each group's phi
  counted back from the end of its block of NPAR / groups parameters;
- the p* and abundance figures state and draw each period's estimate and
  interval: p* with the logit interval computed here from the document's p*
  and its standard error, N-hat with the document's interval; with groups,
  each group's series, and all groups together in the abundance figure;
- a fit with linear forms has a row for each coefficient, and a figure for
  each covariate effect that draws each parameter at the covariate's value
  across and its estimate and logit interval up.

Usage: check_report.py PAGE.html RESULTS.json      (also imported by check_results.py)
"""
import html.parser
import json
import math
import re
import sys

VOID = {"meta", "link", "br", "img", "input", "hr", "col", "source", "wbr"}


class Node:
    def __init__(self, tag, attrs, parent):
        self.tag = tag
        self.attrs = dict(attrs)
        self.parent = parent
        self.children = []
        self.parts = []  # text and child nodes in order

    def text(self):
        return "".join(p if isinstance(p, str) else p.text() for p in self.parts)

    def find_all(self, tag=None, cls=None, attr=None):
        for c in self.children:
            if (tag is None or c.tag == tag) and (cls is None or cls in c.attrs.get("class", "").split()) and (
                    attr is None or attr in c.attrs):
                yield c
            yield from c.find_all(tag, cls, attr)

    def ancestor(self, tag):
        n = self.parent
        while n is not None and n.tag != tag:
            n = n.parent
        return n


class Builder(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = Node("#root", [], None)
        self.current = self.root

    def handle_starttag(self, tag, attrs):
        node = Node(tag, attrs, self.current)
        self.current.children.append(node)
        self.current.parts.append(node)
        if tag not in VOID:
            self.current = node

    def handle_startendtag(self, tag, attrs):
        node = Node(tag, attrs, self.current)
        self.current.children.append(node)
        self.current.parts.append(node)

    def handle_endtag(self, tag):
        n = self.current
        while n is not None and n.tag != tag:
            n = n.parent
        if n is not None and n.parent is not None:
            self.current = n.parent

    def handle_data(self, data):
        self.current.parts.append(data)


def resolve(doc, pointer):
    value = doc
    for part in pointer.strip("/").split("/") if pointer.strip("/") else []:
        if value is None:
            return None  # an element of a null (an interval not available) is null
        value = value[int(part)] if isinstance(value, list) else value[part]
    return value


def shown_tolerance(text):
    """One unit in the last shown place."""
    mantissa = text.upper().split("E")[0].lstrip("+-")
    decimals = len(mantissa.split(".")[1]) if "." in mantissa else 0
    exponent = int(text.upper().split("E")[1]) if "E" in text.upper() else 0
    return 10.0 ** (exponent - decimals)


def compare(text, value, what, fail):
    text = text.strip()
    if value is None:
        if text not in ("n/a", "unavailable"):
            fail(f"{what}: shows {text!r}, the document has null")
        return
    if isinstance(value, str):
        if text != value:
            fail(f"{what}: shows {text!r}, the document has {value!r}")
        return
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        fail(f"{what}: the document's value {value!r} is not a number")
        return
    try:
        # A share may be shown as a percentage.
        shown = float(text[:-1]) / 100.0 if text.endswith("%") else float(text)
    except ValueError:
        fail(f"{what}: cannot read {text!r} as a number")
        return
    tolerance = shown_tolerance(text.rstrip("%")) / (100.0 if text.endswith("%") else 1.0)
    if abs(shown - value) > tolerance * 0.5000001 + 1e-12 * abs(value):
        fail(f"{what}: shows {text}, the document has {value!r}")


def check_tables(root, doc, fail):
    rows_by_table = {}
    checked = 0
    for table in root.find_all("table"):
        thead = next(table.find_all("thead"), None)
        keys = [th.attrs.get("data-key") for th in thead.find_all("th")] if thead else []
        rows = [(tr, tr.attrs["data-json"]) for tr in table.find_all("tr", attr="data-json")]
        for body in table.find_all("tbody", attr="data-items"):
            rows += [(tr, f"{body.attrs['data-items']}/{k}") for k, tr in enumerate(c for c in body.children if c.tag == "tr")]
        for tr, pointer in rows:
            try:
                obj = resolve(doc, pointer)
            except (KeyError, IndexError, ValueError):
                fail(f"row {pointer}: no such value in the document")
                continue
            rows_by_table.setdefault(id(table), []).append(pointer)
            cells = [c for c in tr.children if c.tag == "td"]
            for k, cell in enumerate(cells):
                key = cell.attrs.get("data-key") or (keys[k] if k < len(keys) else None)
                if not key:
                    continue
                value = obj if key == "." else resolve(obj, key)
                if not cell.text().strip() and isinstance(obj, dict) and obj.get("fixed") is True:
                    continue  # a fixed parameter shows no error or interval
                compare(cell.text(), value, f"{pointer} {key}", fail)
                checked += 1
    return rows_by_table, checked


def check_figures(root, doc, fail):
    figures = list(root.find_all("figure"))
    for fig in figures:
        svg = next(fig.find_all("svg"), None)
        if svg is None:
            fail("a figure without its svg")
            continue
        title = next(svg.find_all("title"), None)
        desc = next(svg.find_all("desc"), None)
        labels = [t.text().strip() for t in svg.find_all("text", cls="axis-label")]
        name = title.text() if title else "?"
        if not title or not title.text().strip() or not desc or not desc.text().strip():
            fail(f"figure {name}: title or text alternative missing")
        if len(labels) != 2 or not all(labels):
            fail(f"figure {name}: axis labels {labels}")
        ids = svg.attrs.get("aria-labelledby", "").split()
        if ids != [title.attrs.get("id"), desc.attrs.get("id")]:
            fail(f"figure {name}: aria-labelledby {ids} does not name its title and text alternative")
        if float(svg.attrs.get("width", 0)) <= 0 or float(svg.attrs.get("height", 0)) <= 0:
            fail(f"figure {name}: no size")

    # Survival: the open part of the parameters is counted back from NPAR
    # (with groups, from the end of each group's block of NPAR / groups).
    data = doc["data"]
    M = len(data["occasions"]) if data else 0
    by_id = {svg.attrs.get("aria-labelledby", "").split()[0]: svg for svg in root.find_all("svg")}
    drawn = 0
    for f, fit in enumerate(doc["fits"]):
        groups = (data.get("groups") or [None]) if fit["parameters"] and "group" in fit["parameters"][0] else [None]
        needed = (sum(2 * k - 1 for k in data["occasions"]) + 4 * M - 4) * len(groups) if M else 0
        svg = by_id.get(f"f{f + 1}-survival-t")
        if M < 2 or fit["npar"] < needed:
            if svg is not None:
                fail(f"fit {f + 1}: a survival figure without a robust design")
            continue
        block = fit["npar"] // len(groups)
        # phi(i) of group g (0-based) is S(end - 4M + 4 + i), end the last parameter of the group's block.
        phi_index = {(g, i): (g + 1) * block - 4 * M + 4 + i for g in range(len(groups)) for i in range(1, M)}
        phis = [fit["parameters"][phi_index[(g, i)] - 1] for g in range(len(groups)) for i in range(1, M)]
        if svg is None:
            if not all(phi["fixed"] for phi in phis):
                fail(f"fit {f + 1}: no survival figure")
            continue
        ticks = [(float(t.text()), float(t.attrs["y"]) - 4.0) for t in svg.find_all("text", cls="tick")]
        (v0, y0), (v1, y1) = ticks[0], ticks[-1]
        series = {g.attrs.get("data-series"): list(g.find_all("circle", cls="point"))
                  for g in svg.find_all("g", cls="series")}
        # Beside the estimates, the model average of a comparison that ranks this fit first.
        averaged = [t["averaged"] for t in doc["tests"] if t.get("averaged") and t["averaged"]["models"]
                    and min(t["models"], key=lambda m: m["rank"])["name"] == fit["name"]]
        expected = {}
        sets = [("estimate", {p["index"]: p["estimate"] for p in fit["parameters"]})]
        if averaged:
            sets.append(("model-averaged", {v["index"]: v["estimate"] for v in averaged[0]["parameters"]}))
        for k, (set_name, by_index) in enumerate(sets):
            for g, group in enumerate(groups):
                name = set_name if group is None else group + (" " + set_name if k > 0 else "")
                if group is not None and fit["parameters"][phi_index[(g, 1)] - 1].get("group") != group:
                    fail(f"fit {f + 1}: S({phi_index[(g, 1)]}) is not of group {group}")
                expected[name] = [by_index[phi_index[(g, i)]] for i in range(1, M)]
        if set(series) != set(expected):
            fail(f"fit {f + 1}: survival series {sorted(series)}, expected {sorted(expected)}")
            continue
        for name, values in expected.items():
            points = series[name]
            if len(points) != M - 1:
                fail(f"fit {f + 1}: {len(points)} {name} survival points for {M} periods")
                continue
            for i, (point, value) in enumerate(zip(points, values), start=1):
                shown = v0 + (float(point.attrs["cy"]) - y0) * (v1 - v0) / (y1 - y0)
                if abs(shown - min(max(value, 0.0), 1.0)) > 0.002:
                    fail(f"fit {f + 1}: {name} phi({i}) drawn at {shown:.4f}, value {value}")
                drawn += 1
    drawn += check_period_figures(by_id, doc, fail)
    drawn += check_covariate_figures(by_id, doc, fail)
    return len(figures), drawn


def check_covariate_figures(by_id, doc, fail):
    """A figure for each part of a fit whose formula holds a covariate, and
    none for other fits: each point of the document's covariate effect drawn
    at the covariate's value across and the parameter's estimate up, in the
    series of its group ("estimate" without groups, "all groups" for points
    of no group), its bar spanning the parameter's logit interval, and the
    text alternative stating both. Returns the points checked."""
    checked = 0
    for f, fit in enumerate(doc["fits"]):
        effects = fit.get("covariate_effects", [])
        extra = [k for k in by_id if k.startswith(f"f{f + 1}-covariate-")]
        if len(extra) != len(effects):
            fail(f"fit {f + 1}: {len(extra)} covariate figures for {len(effects)} covariate effects")
        for k, effect in enumerate(effects, start=1):
            svg = by_id.get(f"f{f + 1}-covariate-{k}-t")
            if svg is None:
                fail(f"fit {f + 1}: no figure of {effect['part']} against {effect['covariate']}")
                continue
            labels = [t.text().strip() for t in svg.find_all("text", cls="axis-label")]
            if not labels or labels[0] != effect["covariate"]:
                fail(f"fit {f + 1}: the axis across is {labels[:1]}, not {effect['covariate']}")
            up = [(float(t.text()), float(t.attrs["y"]) - 4.0) for t in svg.find_all("text", cls="tick")]
            across = [(float(t.text()), float(t.attrs["x"])) for t in svg.find_all("text", cls="xtick")]
            if len(up) < 2 or len(across) < 2:
                fail(f"fit {f + 1}: a covariate figure without its ticks")
                continue
            read = lambda ticks, pos: ticks[0][0] + (pos - ticks[0][1]) * (ticks[-1][0] - ticks[0][0]) / (
                ticks[-1][1] - ticks[0][1])
            series = {g.attrs.get("data-series"): g for g in svg.find_all("g", cls="series")}
            desc = next(svg.find_all("desc")).text()
            for name in dict.fromkeys(p.get("group", "all groups" if "group" in fit["parameters"][0] else "estimate")
                                      for p in effect["points"]):
                g = series.get(name)
                points = [p for p in effect["points"]
                          if p.get("group", "all groups" if "group" in fit["parameters"][0] else "estimate") == name]
                circles = list(g.find_all("circle", cls="point")) if g is not None else []
                bars = list(g.find_all("path", cls="bar")) if g is not None else []
                if len(circles) != len(points):
                    fail(f"fit {f + 1}: {len(circles)} points of {name} against {effect['covariate']}, "
                         f"{len(points)} in the document")
                    continue
                text = desc.split(". " + name + ": ", 1)[-1].split(". ", 1)[0]
                b = 0
                for p, circle in zip(points, circles):
                    parameter = fit["parameters"][p["index"] - 1]
                    what = f"fit {f + 1} S({p['index']}) against {effect['covariate']}"
                    if abs(read(across, float(circle.attrs["cx"])) - p["value"]) > 0.004 * abs(
                            across[-1][0] - across[0][0]):
                        fail(f"{what}: drawn across at {read(across, float(circle.attrs['cx']))}, value {p['value']}")
                    if abs(read(up, float(circle.attrs["cy"])) - min(max(parameter["estimate"], 0.0), 1.0)) > 0.002:
                        fail(f"{what}: drawn at {read(up, float(circle.attrs['cy']))}, estimate {parameter['estimate']}")
                    num = r"(-?[\d.]+(?:e[-+]\d+)?)"
                    stated = re.search(rf"(?:^|, ){re.escape(short_label(parameter))} at {num} {num}"
                                       rf"(?: \({num} to {num}\))?", text)
                    if stated is None:
                        fail(f"{what}: the text alternative does not state it")
                    else:
                        compare(stated[1], p["value"], what + " value", fail)
                        compare(stated[2], parameter["estimate"], what, fail)
                    ci = parameter["logit_ci"]
                    if ci is not None and None not in ci:
                        if stated is not None:
                            compare(stated[3] or "", ci[0], what + " lower limit", fail)
                            compare(stated[4] or "", ci[1], what + " upper limit", fail)
                        ends = re.findall(r"^M[-\d.]+ ([-\d.]+)V([-\d.]+)", bars[b].attrs.get("d", "")) \
                            if b < len(bars) else []
                        b += 1
                        drawn = sorted(read(up, float(y)) for y in ends[0]) if ends else []
                        if len(drawn) != 2 or any(abs(d - c) > 0.004 for d, c in zip(drawn, ci)):
                            fail(f"{what}: bar spans {drawn}, interval {ci}")
                    checked += 1
    return checked


def short_label(parameter):
    """How the page names a parameter on a figure: the first word of its
    label when that names one parameter (holds a parenthesis), else S(I)."""
    words = parameter["label"].split()
    if words and "(" in words[0]:
        return words[0][:14]
    return f"S({parameter['index']})"


def logit_interval(p, se):
    """The 95% interval of a probability on the logit scale, mapped back."""
    half = 1.96 * se / (p * (1.0 - p))
    eta = math.log(p / (1.0 - p))
    return 1.0 / (1.0 + math.exp(-(eta - half))), 1.0 / (1.0 + math.exp(-(eta + half)))


def check_period_figures(by_id, doc, fail):
    """Each period's estimate and interval in the p* and abundance figures:
    the text alternative states them (4 significant digits), the error bar
    spans the interval on the value axis. Returns the intervals checked."""
    checked = 0
    for f, fit in enumerate(doc["fits"]):
        rows = (fit.get("derived") or {}).get("abundance") or []
        # The series of each group (by its name) or, without groups, "estimate".
        names = list(dict.fromkeys(a["group"] for a in rows if "group" in a))
        series = [(g, [a for a in rows if a.get("group") == g]) for g in names] or [("estimate", rows)]
        totals = (fit.get("derived") or {}).get("total_abundance")
        for key, value, interval in (
                ("pstar", "p_star", lambda a: logit_interval(a["p_star"], a["p_star_se"])
                 if 0.0 < a["p_star"] < 1.0 and a["p_star_se"] is not None else None),
                ("abundance", "estimate", lambda a: tuple(a["ci"]) if a["ci"] and None not in a["ci"] else None)):
            svg = by_id.get(f"f{f + 1}-{key}-t")
            if svg is None:
                continue
            for name, periods in series + ([("all groups", totals)] if totals and key == "abundance" else []):
                checked += check_period_series(svg, f, key, name, periods, value, interval, fail)
    return checked


def check_period_series(svg, f, key, name, periods, value, interval, fail):
    """One series of a period figure: its text and bars against `periods`."""
    checked = 0
    desc = next(svg.find_all("desc")).text()
    num = r"(-?\d+(?:\.\d+)?(?:e[-+]?\d+)?)"
    if ". " + name + ": " not in desc:
        fail(f"fit {f + 1}: the {key} figure has no series {name}")
        return 0
    stated = {int(m[1]): m for m in re.finditer(rf"(\d+) {num}(?: \({num} to {num}\))?",
                                               desc.split(". " + name + ": ", 1)[-1].split(". ", 1)[0])}
    ticks = [(float(t.text()), float(t.attrs["y"]) - 4.0) for t in svg.find_all("text", cls="tick")]
    (v0, y0), (v1, y1) = ticks[0], ticks[-1]
    bars = [b for g in svg.find_all("g", cls="series") if g.attrs.get("data-series") == name
            for b in g.find_all("path", cls="bar")]
    expected = [(a["period"], a[value], interval(a)) for a in periods if a[value] is not None]
    k = -1  # the bar of the interval
    for period, estimate, ci in expected:
        m = stated.get(period)
        if m is None:
            fail(f"fit {f + 1}: the {key} figure does not state period {period}")
            continue
        compare(m[2], estimate, f"fit {f + 1} {key} period {period}", fail)
        if ci is None:
            if m[3] is not None:
                fail(f"fit {f + 1}: the {key} figure states an interval for period {period}, none expected")
            continue
        if m[3] is None:
            fail(f"fit {f + 1}: the {key} figure states no interval for period {period}")
            continue
        compare(m[3], ci[0], f"fit {f + 1} {key} period {period} lower limit", fail)
        compare(m[4], ci[1], f"fit {f + 1} {key} period {period} upper limit", fail)
        k += 1
        # The bar "M x y1 V y2": its ends on the value axis.
        ends = [float(y) for y in re.findall(r"^M[-\d.]+ ([-\d.]+)V([-\d.]+)", bars[k].attrs.get("d", ""))[0]] \
            if k < len(bars) else []
        drawn = sorted(v0 + (y - y0) * (v1 - v0) / (y1 - y0) for y in ends)
        span = abs(v1 - v0)
        if len(drawn) != 2 or any(abs(d - max(min(c, max(v0, v1)), min(v0, v1))) > 0.004 * span
                                  for d, c in zip(drawn, ci)):
            fail(f"fit {f + 1}: the {key} bar of period {period} spans {drawn}, interval {ci}")
        checked += 1
    return checked


def check_page(page, doc):
    failures = []
    fail = failures.append
    # Self-contained: nothing is fetched from anywhere.
    for pattern, what in [(r'\b(?:src|href|action|data)\s*=\s*"(?!#)', "an address outside the page"),
                          (r"url\(", "a url() in the styles"), (r"@import", "an imported style sheet"),
                          (r"<link\b", "a linked resource"), (r"<(?:iframe|img|object|embed)\b", "an embedded resource")]:
        if re.search(pattern, page, re.I):
            fail(f"the page has {what}")
    builder = Builder()
    builder.feed(page)
    root = builder.root
    rows, checked = check_tables(root, doc, fail)

    # Every fit, parameter and compared model has its row; models in ranked order.
    pointers = [p for table_rows in rows.values() for p in table_rows]
    for f, fit in enumerate(doc["fits"]):
        want = [f"/fits/{f}/parameters/{i}" for i in range(len(fit["parameters"]))]
        if [p for p in pointers if p.startswith(f"/fits/{f}/parameters/")] != want:
            fail(f"fit {f + 1}: parameter rows missing or out of order")
        if f"/fits/{f}" not in pointers:
            fail(f"fit {f + 1}: no summary row")
    for t, test in enumerate(doc["tests"]):
        # Ranked by the criterion in force, the one that weighs the average.
        if "criterion" not in test or any("rank" not in m for m in test["models"]):
            fail(f"comparison {t + 1}: no criterion in force and rank by it")
            continue
        order = sorted(range(len(test["models"])), key=lambda k: test["models"][k]["rank"])
        want = [f"/tests/{t}/models/{k}" for k in order]
        if [p for p in pointers if p.startswith(f"/tests/{t}/models/")] != want:
            fail(f"comparison {t + 1}: model rows missing or out of ranked order")
        key = "weight_qaicc" if test["criterion"] == "QAICc" else "weight_aicc"
        if not re.search(rf'<table><thead><tr><th>Rank</th>(?:(?!</tr>).)*data-key="{key}"', page):
            fail(f"comparison {t + 1}: the weights shown are not those of {test['criterion']}")
        # Only tests of nested models are shown.
        want = [f"/tests/{t}/likelihood_ratio_tests/{k}" for k, x in enumerate(test["likelihood_ratio_tests"])
                if x["nested"]]
        if [p for p in pointers if p.startswith(f"/tests/{t}/likelihood_ratio_tests/")] != want:
            fail(f"comparison {t + 1}: the likelihood-ratio rows are not those of the nested pairs")
    # The coefficients of each fit with linear forms, all of them in order; none for other fits.
    for f, fit in enumerate(doc["fits"]):
        want = [f"/fits/{f}/betas/{k}" for k in range(len(fit.get("betas", [])))]
        if [p for p in pointers if p.startswith(f"/fits/{f}/betas/")] != want:
            fail(f"fit {f + 1}: coefficient rows missing or out of order")
    if len(list(root.find_all("details", cls="fit"))) != len(doc["fits"]):
        fail("the page does not have one section per fit")

    # Animals per period: the closed cohorts (ip, jp), jp = 1..ip, of each
    # period; with groups, those of the row's group (its third cell), found
    # by the kind, period and group the document gives each cohort.
    data = doc["data"]
    for tr in root.find_all("tr", attr="data-json"):
        m = re.fullmatch(r"/data/occasions/(\d+)", tr.attrs["data-json"])
        if not m:
            continue
        ip = int(m[1]) + 1
        cells = [c.text() for c in tr.children if c.tag == "td"]
        if data.get("groups"):
            group = cells.pop(2)
            mine = [c for c in data["cohorts"] if c.get("group") == group and c["kind"] == "closed" and c["period"] == ip]
            sizes = [c["size"] for c in sorted(mine, key=lambda c: c["release_period"])]
            if len(sizes) != ip:
                fail(f"period {ip} of group {group}: {len(sizes)} closed cohorts in the document")
                continue
        else:
            sizes = [c["size"] for c in data["cohorts"][ip * (ip - 1) // 2: ip * (ip + 1) // 2]]
        compare(cells[2], sizes[0], f"period {ip} first caught", fail)
        compare(cells[3], sum(sizes), f"period {ip} caught", fail)
        checked += 2

    figures, drawn = check_figures(root, doc, fail)
    return failures, checked, figures, drawn


def main():
    page = open(sys.argv[1], encoding="utf-8").read()
    doc = json.load(open(sys.argv[2]))
    failures, checked, figures, drawn = check_page(page, doc)
    for message in failures[:40]:
        print(message)
    print(f"{checked} shown values compared, {figures} figures, {drawn} survival points and period intervals; "
          f"{len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
