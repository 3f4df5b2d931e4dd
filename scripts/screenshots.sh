#!/usr/bin/env bash
# Takes a picture of each page of the window under a virtual X display (Xvfb), with a
# small comma-delimited table moved into an HTML page on the way:
#   scripts/screenshots.sh [BUILD_DIR [OUT_DIR]]    (defaults: build-ci/release, docs/screenshots)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-ci/release}
out=${2:-$top/docs/screenshots}
program=$build/ui/trundle
[ -x "$program" ] || { echo "no $program: build the tree first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: run scripts/setup.sh" >&2; exit 1; }

# A fixed folder keeps the paths in the pictures the same from one run to the next.
work=/tmp/trundle-demo
rm -rf "$work"
mkdir -m 700 "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sales" "$out"
cat > "$work/sales/customers.csv" <<'CSV'
ID,NAME,CITY,SINCE
1,Ann Berg,Oslo,2019-04-02
2,"Bo Lind, Jr",Rome,2021-11-30
3,Cy Moss,Lyon,2024-01-15
CSV
# The page's banner, found in the folder the run starts in, so that the log names no folder of
# the build.
cat > "$work/Banner.html" <<'HTML'
<p>Customers of the sales office</p>
HTML
cd "$work"
LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=$work xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$program" --screenshot "$out" "$work/sales/customers.csv" "$work/sales/customers.html"
ls "$out"/page*.png
