#!/usr/bin/env python3
"""Runs the bundled example with json= and report=, checks the page's
numbers against the document (check_report.py), then opens the page in
headless Chromium and checks that it loads without a script error, a console
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


def main():
    program, source = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp()
    try:
        run = subprocess.run([program, "i=" + os.path.join(source, "examples", "robust-example.cmd"), "l=run.lst",
                              "json=run.json", "report=run.html"], cwd=work, capture_output=True)
        if run.returncode != 0:
            print("the run failed:", run.stderr.decode(errors="replace")[-400:])
            return 1
        page = open(os.path.join(work, "run.html"), encoding="utf-8").read()
        doc = json.load(open(os.path.join(work, "run.json")))
        failures, checked, figures, drawn = check_page(page, doc)
        for message in failures[:20]:
            print(message)
        print(f"bundled example: {checked} shown values, {figures} figures, {drawn} survival points checked against "
              f"the JSON results; {len(failures)} differences")
        if failures:
            return 1

        browser = chromium()
        if browser is None:
            print("SKIPPED: Chromium is not installed (sh tools/install-deps.sh report installs it)")
            return 77
        problems, laid_out = in_browser(browser, page, work)
        empty = [f for f in laid_out if not all(v > 0 for v in f[1:])]
        expected = page.count("<figure>")
        for p in problems:
            print("console:", p)
        for f in empty:
            print("figure without size:", f)
        if len(laid_out) != expected:
            print(f"{len(laid_out)} figures laid out, the page has {expected}")
            return 1
        print(f"Chromium: {len(problems)} console errors, {len(laid_out)} figures, {len(empty)} without size")
        return 1 if problems or empty or expected == 0 else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
