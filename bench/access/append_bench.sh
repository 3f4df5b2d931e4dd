#!/usr/bin/env bash
# Appends the generated benchmark table to an Access table and, in the same run, moves
# the same rows into a new dBase file; then reads the Access table back to CSV with
# trundle-cli and with mdb-export. Prints CPU seconds, wall-clock seconds and peak memory
# of each (wall time includes waiting for the disk: each Access batch is flushed). Run by
# hand:
#   bench/access/append_bench.sh [BUILD_DIR] [ROWS]
# The Access table is Table1 of a copy of overflowTestV2000.mdb (nine Text(50) columns,
# no index), so the rows are the generated table's first nine columns renamed to its
# fields and cut to 50 characters; the dBase file gets exactly those rows.
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fixtures=$bench_dir/../../tests/data/access
source "$bench_dir/../common.sh" "${1:-$bench_dir/../../build-ci/release}" "${2:-1000000}"
work=$data/append
rm -rf "$work" && mkdir -p "$work"

rows_csv=$work/rows.csv
python3 - "$src" "$rows_csv" <<'PY'
import csv, sys
names = ["data1", "data3", "data4", "data5", "data6", "data7", "data8", "data9", "data10"]
with open(sys.argv[1], newline="", encoding="utf-8") as f, \
     open(sys.argv[2], "w", newline="", encoding="utf-8") as out:
    rows = csv.reader(f)
    next(rows)
    w = csv.writer(out, lineterminator="\r\n")
    w.writerow(names)
    for row in rows:
        w.writerow([v[:50] for v in row[:9]])
PY

cp "$fixtures/overflowTestV2000.mdb" "$work/a.mdb"
measure_header
measure_run "trundle csv->access (append)" "$cli" -q "$rows_csv" "$work/a.mdb" --dest-table Table1
measure_run "trundle csv->dbase" "$cli" -q "$rows_csv" "$work/b.dbf"
measure_run "trundle access->csv" "$cli" -q --source-table Table1 "$work/a.mdb" "$work/back.csv"
measure_run "mdb-export access->csv" mdb-export "$work/a.mdb" Table1
printf '\nrows in the Access table: %s; file %.1f MB\n' "$(mdb-count "$work/a.mdb" Table1)" \
  "$(echo "$(stat -c %s "$work/a.mdb") / 1000000" | bc -l)"
rm -rf "$work"
