#!/bin/sh
# Makes the README's picture of the report page: runs the bundled example with
# report= and takes a screenshot of the top of its page with headless Chromium.
# Usage: tools/report-screenshot.sh [PROGRAM]   (default build/release/quorvale)
set -eu
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/release/quorvale}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cp examples/robust-example.cmd "$work/"
(cd "$work" && "$program" i=robust-example.cmd l=robust-example.lst report=robust-example.html 2>/dev/null)
chromium --headless --disable-gpu --no-sandbox --no-first-run --hide-scrollbars --user-data-dir="$work/profile" \
  --window-size=1100,1880 --screenshot="$work/shot.png" "file://$work/robust-example.html" 2>/dev/null
cp "$work/shot.png" docs/report-screenshot.png
echo "docs/report-screenshot.png: $(wc -c < docs/report-screenshot.png) bytes"
