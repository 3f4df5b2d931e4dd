#!/usr/bin/env bash
# Moves the generated benchmark table (1,000,000 rows x 10 columns by default) into a new
# typed SQLite table with our adaptor (sqlite_import, through the job) and with
# `sqlite3 DB '.import --csv'`, side by side in one run: CPU seconds, wall-clock seconds,
# peak memory, the ratio of CPU seconds, and whether both tables hold the same values.
# Run by hand:
#   cmake --build build-ci/release --target sqlite_import
#   bench/sqlite/sqlite_bench.sh [BUILD_DIR] [ROWS]
# Both write into the same schema: the columns typed as the generator fills them (whole
# numbers, decimals, ISO dates, text), each file in its own default journal mode and
# synchronous setting. Ours commits every 1,000 records; .import commits once at the end.
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$bench_dir/../common.sh" "${1:-$bench_dir/../../build-ci/release}" "${2:-1000000}"
importer=$build/bench/sqlite/sqlite_import
[ -x "$importer" ] || { echo "build sqlite_import first" >&2; exit 1; }
work=$data/sqlite
rm -rf "$work" && mkdir -p "$work"

schema='create table t(col0 integer, col1 real, col2 date, col3 text, col4 text,
                       col5 integer, col6 real, col7 date, col8 text, col9 text);'
sqlite3 "$work/ours.sqlite" "$schema"
sqlite3 "$work/theirs.sqlite" "$schema"

measure_header
ours=$(measure_run "trundle csv->sqlite (typed table)" "$importer" "$src" "$work/ours.sqlite" t)
echo "$ours"
theirs=$(measure_run "sqlite3 .import --csv" sqlite3 "$work/theirs.sqlite" \
  ".import --csv --skip 1 $src t")
echo "$theirs"
cpu_ours=$(echo "$ours" | awk '{print $(NF-2)}')
cpu_theirs=$(echo "$theirs" | awk '{print $(NF-2)}')
printf '\nCPU trundle / sqlite3: %.2fx\n' "$(echo "$cpu_ours / $cpu_theirs" | bc -l)"

digest() {
  sqlite3 "$1" "select count(*), total(col0), total(col1), total(col5), total(col6),
                       sum(typeof(col0) = 'integer'), sum(typeof(col1) = 'real'),
                       sum(length(col3) + length(col9)), max(col2) from t"
}
printf 'rows and sums (trundle): %s\nrows and sums (sqlite3): %s\n' \
  "$(digest "$work/ours.sqlite")" "$(digest "$work/theirs.sqlite")"
if [ "$(sqlite3 "$work/ours.sqlite" "attach '$work/theirs.sqlite' as o;
      select count(*) from (select * from t except select * from o.t)")" = 0 ]; then
  echo "same rows in both tables"
else
  echo "the tables differ" >&2
fi
rm -rf "$work"
