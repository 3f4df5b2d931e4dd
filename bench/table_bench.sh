#!/usr/bin/env bash
# Times trundle-cli moving the generated table into dBase and Paradox files and back,
# beside ogr2ogr doing the same for dBase, in one run. Run by hand:
#   bench/table_bench.sh [BUILD_DIR] [ROWS]
set -euo pipefail
source "$(dirname "$0")/common.sh" "$@"
printf '%-30s %10s %12s %12s\n' "run" "CPU s" "peak MB" "output MB"

measure() {  # name, output file, command...
  local name=$1 out=$2; shift 2
  local t
  /usr/bin/time -o "$data/time.txt" -f '%U %S %M' "$@" >/dev/null 2>&1 || true
  t=$(tail -n 1 "$data/time.txt")
  read -r user sys kb <<<"$t"
  local size=0
  # The table with its memo and code-page files.
  local stem=${out%.*}
  local f
  for f in "$out" "$stem".dbt "$stem".mb "$stem".cpg; do
    [ -e "$f" ] && size=$((size + $(stat -c %s "$f")))
  done
  printf '%-30s %10.2f %12.1f %12.1f\n' "$name" "$(echo "$user + $sys" | bc -l)" \
    "$(echo "$kb / 1024" | bc -l)" "$(echo "$size / 1000000" | bc -l)"
}

rm -rf "$data/t" && mkdir -p "$data/t"
measure "trundle csv->dbase" "$data/t/b.dbf" "$cli" -q "$src" "$data/t/b.dbf"
measure "trundle dbase->csv" "$data/t/b1.csv" "$cli" -q "$data/t/b.dbf" "$data/t/b1.csv"
measure "trundle csv->paradox" "$data/t/b.db" "$cli" -q "$src" "$data/t/b.db"
measure "trundle paradox->csv" "$data/t/b2.csv" "$cli" -q "$data/t/b.db" "$data/t/b2.csv"
if command -v ogr2ogr >/dev/null; then
  measure "ogr2ogr csv->dbase" "$data/t/o.dbf" ogr2ogr -f "ESRI Shapefile" "$data/t/o.dbf" "$src"
  measure "ogr2ogr dbase->csv" "$data/t/o.csv" ogr2ogr -f CSV "$data/t/o.csv" "$data/t/o.dbf"
fi
rm -rf "$data/t"
