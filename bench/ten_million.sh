#!/usr/bin/env bash
# Copies ROWS rows (default 10,000,000) of 10 columns of CSV (gen_csv.py) into CSV,
# dBase, Access and SQLite, and the same at SMALL rows (default 1,000,000), printing for
# each run the CPU seconds (user + system), wall-clock seconds and peak resident memory
# (from /usr/bin/time -v), and the CPU ratio of the two sizes (10.0 is linear). The
# files go in bench/data/ten_million and are deleted at the end (KEEP=1 keeps them):
# some 1.5 GB of CSV and as much again for each destination. Run by hand:
#   bench/ten_million.sh [BUILD_DIR] [ROWS] [SMALL]
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$bench_dir/../build-ci/release}
rows=${2:-10000000}
small=${3:-1000000}
cli=$build/cli/trundle-cli
work=$bench_dir/data/ten_million
rm -rf "$work" && mkdir -p "$work"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

printf '%-22s %10s %8s %8s %9s\n' "run" "rows" "CPU s" "wall s" "peak MB"
declare -A cpu
for n in "$small" "$rows"; do
  python3 "$bench_dir/gen_csv.py" "$work/in.csv" "$n"
  for dest in out.csv out.dbf out.mdb out.sqlite; do
    rm -f "$work/$dest"
    args=()
    [ "$dest" = out.mdb ] && args=(--create-database --dest-table t)
    [ "$dest" = out.sqlite ] && args=(--dest-table t)
    /usr/bin/time -v -o "$work/time.txt" "$cli" -q "$work/in.csv" "$work/$dest" "${args[@]}" \
      >/dev/null 2>"$work/err.txt" || { echo "csv->$dest failed:" >&2; cat "$work/err.txt" >&2; }
    line=$(awk -F': ' '
      /User time/ { user = $2 } /System time/ { sys = $2 }
      /Maximum resident set size/ { kb = $2 }
      /Elapsed \(wall clock\)/ { k = split($2, t, ":"); wall = 0
        for (i = 1; i <= k; i++) wall = wall * 60 + t[i] }
      END { printf "%.2f %.2f %.1f", user + sys, wall, kb / 1024 }' "$work/time.txt")
    read -r c w m <<<"$line"
    cpu[$dest,$n]=$c
    printf '%-22s %10s %8s %8s %9s\n' "csv->${dest#out.}" "$n" "$c" "$w" "$m"
    rm -f "$work/$dest" "$work/$dest"-journal
  done
done
for dest in out.csv out.dbf out.mdb out.sqlite; do
  printf 'csv->%s: CPU %s / %s = %.1f\n' "${dest#out.}" "$rows" "$small" \
    "$(echo "${cpu[$dest,$rows]} / ${cpu[$dest,$small]}" | bc -l)"
done
