#!/usr/bin/env bash
# Appends the generated benchmark table to an Access table with a primary key and, in the
# same run, moves the same rows into a new dBase file. Prints CPU seconds, wall-clock seconds
# (which include waiting for the disk to take each flushed batch) and peak memory
# of each. Run by hand:
#   bench/access/index_bench.sh [BUILD_DIR] [ROWS]
# The Access table is Table2 of a copy of indexTestV2000.mdb: a Long primary key "id"
# (and a second, plain index on it), a Text(50) "data", and the referred-to side of an
# enforced relationship. The rows are the generated table's first column cut to 50
# characters, under ids from 100 on: once in the source's order (keys arriving sorted, as
# from a keyed source) and once scattered (each key lands anywhere in the index). The
# dBase file gets exactly those rows. REPEAT=N alternates the runs of keys in order and
# the dBase runs N times; KEEP=1 keeps the files made (in bench/data/index).
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fixtures=$bench_dir/../../tests/data/access
source "$bench_dir/../common.sh" "${1:-$bench_dir/../../build-ci/release}" "${2:-1000000}"
work=$data/index
rm -rf "$work" && mkdir -p "$work"

for order in sorted scattered; do
  python3 - "$src" "$work/$order.csv" "$order" <<'PY'
import csv, sys
with open(sys.argv[1], newline="", encoding="utf-8") as f, \
     open(sys.argv[2], "w", newline="", encoding="utf-8") as out:
    rows = csv.reader(f)
    next(rows)
    w = csv.writer(out, lineterminator="\r\n")
    w.writerow(["id", "data"])
    for i, row in enumerate(rows):
        # 7919 and the prime 1000003 are coprime: distinct ids below a million rows.
        key = i if sys.argv[3] == "sorted" else i * 7919 % 1000003
        w.writerow([key + 100, row[0][:50]])
PY
done

measure_header
# The runs of keys in order and the dBase run alternate REPEAT times (default 1), since
# a busy machine spreads single runs widely.
for ((round = 1; round <= ${REPEAT:-1}; round++)); do
  cp "$fixtures/indexTestV2000.mdb" "$work/sorted.mdb"
  measure_run "trundle csv->access, sorted keys" "$cli" -q "$work/sorted.csv" "$work/sorted.mdb" \
    --dest-table Table2
  rm -f "$work/b.dbf" "$work/b.cpg"
  measure_run "trundle csv->dbase" "$cli" -q "$work/sorted.csv" "$work/b.dbf"
done
cp "$fixtures/indexTestV2000.mdb" "$work/scattered.mdb"
measure_run "trundle csv->access, scattered keys" "$cli" -q "$work/scattered.csv" \
  "$work/scattered.mdb" --dest-table Table2
for order in sorted scattered; do
  printf '\n%s: rows in the Access table: %s; file %.1f MB; ' "$order" \
    "$(mdb-count "$work/$order.mdb" Table2)" \
    "$(echo "$(stat -c %s "$work/$order.mdb") / 1000000" | bc -l)"
  "$cli" --check-access "$work/$order.mdb" | tail -1
done
[ -n "${KEEP:-}" ] || rm -rf "$work"
