#!/usr/bin/env bash
# Times trundle-cli against a plain parse-and-write loop (csv_loop.cpp), mlr and sqlite3
# on the same generated table, in one run:
# CPU seconds (user + system), peak memory, and the ratios. Run by hand:
#   bench/csv_bench.sh [BUILD_DIR] [ROWS]
# BUILD_DIR defaults to build-ci/release (a Release build of trundle-cli).
set -euo pipefail
source "$(dirname "$0")/common.sh" "$@"
printf '%-28s %10s %12s %10s\n' "run" "CPU s" "peak MB" "x input"

measure() {  # name, command...
  local name=$1; shift
  local out
  /usr/bin/time -o "$data/time.txt" -f '%U %S %M' "$@" >/dev/null 2>&1 || true
  out=$(tail -n 1 "$data/time.txt")
  read -r user sys kb <<<"$out"
  local cpu mb
  cpu=$(echo "$user + $sys" | bc -l)
  mb=$(echo "$kb / 1024" | bc -l)
  printf '%-28s %10.2f %12.1f %10.2f\n' "$name" "$cpu" "$mb" "$(echo "$kb*1024/$size" | bc -l)"
  eval "cpu_${name//[^a-z0-9]/_}=$cpu"
}

rm -f "$data/out.csv" "$data/out.tsv" "$data/out.html" "$data/sq.db"
measure "trundle csv->csv" "$cli" -q "$src" "$data/out.csv"
measure "trundle csv->text" "$cli" -q "$src" "$data/out.tsv"
measure "trundle csv->html" "$cli" -q "$src" "$data/out.html"
rm -f "$data/out.csv"
g++ -O2 -o "$data/csv_loop" "$here/csv_loop.cpp"
measure "plain loop csv->csv" "$data/csv_loop" "$src" "$data/loop.csv"
if command -v mlr >/dev/null; then
  measure "mlr --csv cat" sh -c "mlr --csv cat '$src' > '$data/mlr.csv'"
fi
if command -v sqlite3 >/dev/null; then
  measure "sqlite3 import+export" sh -c "rm -f '$data/sq.db'; sqlite3 '$data/sq.db' '.mode csv' '.import $src t' '.headers on' '.once $data/sq.csv' 'select * from t;'"
fi
echo
t=${cpu_trundle_csv__csv}
printf 'trundle / plain loop CPU: %.2fx\n' "$(echo "$t / $cpu_plain_loop_csv__csv" | bc -l)"
[ -n "${cpu_mlr___csv_cat:-}" ] && printf 'mlr / trundle CPU: %.1fx\n' "$(echo "$cpu_mlr___csv_cat / $t" | bc -l)"
[ -n "${cpu_sqlite3_import_export:-}" ] && printf 'sqlite3 / trundle CPU: %.1fx\n' "$(echo "$cpu_sqlite3_import_export / $t" | bc -l)"
rm -f "$data/out.csv" "$data/out.tsv" "$data/out.html" "$data/mlr.csv" "$data/loop.csv" "$data/sq.csv" "$data/sq.db"
