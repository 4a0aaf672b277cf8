#!/usr/bin/env python3
"""Runs the bundled example, and the fits with linear forms and covariates
of tests/e2e/linear_outputs, with json= and report=, checks each page's
numbers against its document (check_report.py), then opens the pages in
headless Chromium and checks that each loads without a script error, a console
error or warning, or a blocked request, that the page opens every collapsed
section before printing, and that every figure is then laid out with a
non-zero size.

A small script is put into a copy of the page for this: listeners at the top
that collect errors, and at the bottom one that measures the figures and
writes what it found into the document, which --dump-dom prints. Chromium's
own log of console messages is read as well.

Usage: report_in_browser.py PROGRAM SOURCE_DIR
Exit status 0 when all holds, 1 when not, 77 (skipped) without Chromium.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

from check_report import check_page

HEAD = """<script>
window.__problems = [];
addEventListener('error', function (e) {
  __problems.push('error: ' + (e.message || (e.target && e.target.outerHTML) || '?'));
}, true);
addEventListener('securitypolicyviolation', function (e) {
  __problems.push('blocked: ' + e.violatedDirective + ' ' + e.blockedURI);
});
['error', 'warn'].forEach(function (k) {
  var original = console[k];
  console[k] = function () {
    __problems.push(k + ': ' + Array.prototype.join.call(arguments, ' '));
    return original.apply(console, arguments);
  };
});
</script>"""

TAIL = """<script>
dispatchEvent(new Event('beforeprint'));
if (document.querySelectorAll('details:not([open])').length > 0) __problems.push('sections stay closed for printing');
var figures = [].map.call(document.querySelectorAll('figure'), function (f) {
  var svg = f.querySelector('svg');
  if (!svg) return ['(no svg)', 0, 0, 0, 0];
  var box = svg.getBoundingClientRect();
  var drawn = svg.getBBox();
  return [svg.getAttribute('aria-labelledby'), box.width, box.height, drawn.width, drawn.height];
});
var results = document.createElement('pre');
results.id = '__check';
results.textContent = JSON.stringify({problems: __problems, figures: figures});
document.body.appendChild(results);
</script>"""


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def in_browser(browser, page, work):
    """Opens `page` in headless Chromium: the problems it reported, and the
    figures as laid out ([name, width, height, drawn width, drawn height])."""
    head = page.index("<meta charset=\"utf-8\">") + len("<meta charset=\"utf-8\">")
    tail = page.rindex("</body>")
    path = os.path.join(work, "checked.html")
    with open(path, "w", encoding="utf-8") as f:
        f.write(page[:head] + HEAD + page[head:tail] + TAIL + page[tail:])
    command = [browser, "--headless", "--disable-gpu", "--no-sandbox", "--no-first-run", "--hide-scrollbars",
               "--user-data-dir=" + os.path.join(work, "profile"), "--window-size=1200,900", "--enable-logging=stderr",
               "--v=0", "--dump-dom", "file://" + path]
    try:
        shown = subprocess.run(command, capture_output=True, timeout=180)
    except subprocess.TimeoutExpired:
        return ["Chromium did not finish within 180 s"], []
    dom = shown.stdout.decode(errors="replace")
    log = shown.stderr.decode(errors="replace")
    found = re.search(r'<pre id="__check">(.*?)</pre>', dom, re.S)
    if not found:
        return ["the page's check did not run; Chromium's log ends:"] + log.splitlines()[-15:], []
    text = found[1].replace("&quot;", '"').replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&")
    result = json.loads(text)
    # Chromium logs every console message of the page as a CONSOLE line.
    return result["problems"] + [line for line in log.splitlines() if ":CONSOLE" in line], result["figures"]


def run_page(program, work, words, what):
    """Runs the program in `work` with `words` and json= and report= added:
    the page, the document and the failures of check_page (printed)."""
    run = subprocess.run([program] + words + ["json=run.json", "report=run.html"], cwd=work, capture_output=True)
    if run.returncode != 0:
        print(f"{what}: the run failed:", run.stderr.decode(errors="replace")[-400:])
        return None, None, ["run failed"]
    page = open(os.path.join(work, "run.html"), encoding="utf-8").read()
    doc = json.load(open(os.path.join(work, "run.json")))
    failures, checked, figures, drawn = check_page(page, doc)
    for message in failures[:20]:
        print(message)
    print(f"{what}: {checked} shown values, {figures} figures, {drawn} survival points and figure values checked "
          f"against the JSON results; {len(failures)} differences")
    return page, doc, failures


def main():
    program, source = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp()
    try:
        # The bundled example, and fits with linear forms and covariates (coefficients, figures against a covariate).
        pages = []
        linear = os.path.join(work, "linear")
        shutil.copytree(os.path.join(source, "tests", "e2e", "linear_outputs"), linear)
        for words, where, what in ((["i=" + os.path.join(source, "examples", "robust-example.cmd"), "l=run.lst"], work,
                                    "bundled example"),
                                   (["i=run.cmd", "l=run.lst"], linear, "linear forms")):
            page, _, failures = run_page(program, where, words, what)
            if failures:
                return 1
            pages.append((what, page, where))

        browser = chromium()
        if browser is None:
            print("SKIPPED: Chromium is not installed (sh tools/install-deps.sh report installs it)")
            return 77
        bad = False
        for what, page, where in pages:
            problems, laid_out = in_browser(browser, page, where)
            empty = [f for f in laid_out if not all(v > 0 for v in f[1:])]
            expected = page.count("<figure>")
            for p in problems:
                print(f"{what}: console:", p)
            for f in empty:
                print(f"{what}: figure without size:", f)
            if len(laid_out) != expected:
                print(f"{what}: {len(laid_out)} figures laid out, the page has {expected}")
                return 1
            print(f"Chromium, {what}: {len(problems)} console errors, {len(laid_out)} figures, {len(empty)} without size")
            bad = bad or bool(problems or empty or expected == 0)
        return 1 if bad else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
