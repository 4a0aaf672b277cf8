#!/usr/bin/env python3
"""A title, a name and labels typed in ISO-8859-1 (tests/e2e/latin1_names):
the listing keeps the bytes as typed; the JSON document, the CSV tables and
the report page hold them as UTF-8, and a label already in UTF-8 is not
converted twice.

Usage: latin1_names.py PROGRAM SOURCE_DIR
"""
import csv
import html
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)


def utf8(path):
    """The file's text, or None (a failure noted) when it is not UTF-8."""
    try:
        return open(path, "rb").read().decode("utf-8")
    except UnicodeDecodeError as e:
        failures.append(f"{os.path.basename(path)} is not UTF-8: {e}")
        return None


def main():
    program, source = sys.argv[1:3]
    case = os.path.join(source, "tests", "e2e", "latin1_names")
    commands = open(os.path.join(case, "run.cmd"), "rb").read()
    # What was typed, byte by byte: ISO-8859-1, but for the line marked UTF-8.
    typed_title = b"Donn\xe9es \xe0 la main, \"CSV\" & <page>"
    typed_label = b"phi survie, p\xe9riode 1"
    typed_name = b"\xc9T\xc9"
    utf8_label = "theta période 1 (UTF-8)"
    for typed in (typed_title, typed_label, typed_name, utf8_label.encode("utf-8")):
        check(typed in commands, f"the command file does not hold {typed!r}")
    title, label, name = (t.decode("latin-1") for t in (typed_title, typed_label, typed_name))

    work = tempfile.mkdtemp()
    try:
        shutil.copy(os.path.join(case, "run.cmd"), work)
        stdin = open(os.path.join(case, "stdin"), "rb").read()
        run = subprocess.run([program], input=stdin, cwd=work, capture_output=True)
        check(run.returncode == 0, f"exit status {run.returncode}: {run.stderr[-300:]!r}")
        check(run.stderr.endswith(b"STOP PELMAR NORMAL TERMINATION\n"), "no normal termination line")
        left = sorted(f for f in os.listdir(work) if ".tmp" in f)
        check(not left, f"temporary files left: {left}")

        listing = open(os.path.join(work, "run.lst"), "rb").read()
        for typed in (typed_title, typed_label, typed_name):
            check(typed in listing, f"the listing does not keep {typed!r} as typed")

        text = utf8(os.path.join(work, "run.json"))
        if text is not None:
            fit = json.loads(text)["fits"][0]
            check(fit["name"] == name, f"JSON name {fit['name']!r}, typed {name!r}")
            labels = [p["label"] for p in fit["parameters"]]
            check(labels[6] == label, f"JSON label 7 {labels[6]!r}, typed {label!r}")
            check(labels[8] == utf8_label, f"JSON label 9 {labels[8]!r}, typed {utf8_label!r}")

        text = utf8(os.path.join(work, "estimates.csv"))
        if text is not None:
            rows = list(csv.DictReader(io.StringIO(text, newline="")))
            by_index = {row["index"]: row for row in rows}
            check(by_index["7"]["label"] == label, f"CSV label 7 {by_index['7']['label']!r}")
            check(by_index["9"]["label"] == utf8_label, f"CSV label 9 {by_index['9']['label']!r}")
            check(all(row["name"] == name for row in rows), "CSV names differ from the name typed")
        text = utf8(os.path.join(work, "models.csv"))
        if text is not None:
            names = [row["name"] for row in csv.DictReader(io.StringIO(text, newline=""))]
            check(names == [name], f"models.csv names {names}")

        page = utf8(os.path.join(work, "run.html"))
        if page is not None:
            check(f"<title>{html.escape(title)}</title>" in page, "the page's title is not the title typed")
            for shown in (label, name, utf8_label):
                check(html.escape(shown) in page, f"the page does not show {shown!r}")
    finally:
        shutil.rmtree(work)
    for message in failures:
        print(message)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
