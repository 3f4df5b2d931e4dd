#!/usr/bin/env bash
# Appends ROWS rows (default 1,000,000) with a Long primary key to an Access table, once
# with the keys in order and once with the same keys shuffled, and prints CPU seconds
# (user + system), wall-clock seconds, peak resident memory and megabytes written to the
# disk (file system outputs, 512-byte blocks) of each run (from /usr/bin/time -v), then
# checks both databases. Run by hand:
#   bench/access/keyed_bench.sh [BUILD_DIR] [ROWS]
# The destination is Table2 of a copy of indexTestV2000.mdb: "id", a Long primary key
# (with a second, plain index on it), and "data", a Text(50); it is the referred-to side
# of an enforced relationship, and holds 3 rows when the run starts, so its indexes take
# each batch's keys. Then the same into "Keyed", an empty table of the same shape
# (jet_keyed_table adds it; build that target first), whose indexes are built once at
# the end of the run. CLI=path runs another trundle-cli over the same files. KEEP=1 keeps the files made (in bench/data/keyed); BATCH=N
# commits every N records instead of the default 1000 (scattered keys change a page of
# most index leaves in every batch, so the bytes written fall about as the batch grows).
set -euo pipefail
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fixtures=$bench_dir/../../tests/data/access
build=${1:-$bench_dir/../../build-ci/release}
rows=${2:-1000000}
cli=${CLI:-$build/cli/trundle-cli}
make_table=$build/bench/access/jet_keyed_table
[ -x "$make_table" ] || { echo "build the jet_keyed_table target first" >&2; exit 1; }
work=$bench_dir/../data/keyed
rm -rf "$work" && mkdir -p "$work"

python3 - "$work" "$rows" <<'PY'
import random, sys
work, rows = sys.argv[1], int(sys.argv[2])
keys = list(range(100, 100 + rows))
for name in ("ordered", "shuffled"):
    if name == "shuffled":
        random.Random(7).shuffle(keys)
    with open(f"{work}/{name}.csv", "w", newline="") as out:
        out.write("id,data\r\n")
        out.writelines(f"{k},row {k} of the bench\r\n" for k in keys)
PY

printf '%-34s %8s %8s %10s %11s\n' "run" "CPU s" "wall s" "peak MB" "written MB"
for run in Table2/ordered Table2/shuffled Keyed/ordered Keyed/shuffled; do
  table=${run%/*} name=${run#*/}
  db=$work/$table-$name.mdb
  cp "$fixtures/indexTestV2000.mdb" "$db"
  [ "$table" = Keyed ] && "$make_table" "$db"
  /usr/bin/time -v -o "$work/time.txt" "$cli" -q "$work/$name.csv" "$db" \
    --dest-table "$table" ${BATCH:+--batch-size "$BATCH"} >/dev/null 2>"$work/err.txt" ||
    { echo "$run failed:" >&2; cat "$work/err.txt" >&2; exit 1; }
  awk -v name="$table, $name keys" -F': ' '
    /User time/ { user = $2 } /System time/ { sys = $2 }
    /Maximum resident set size/ { kb = $2 } /File system outputs/ { blocks = $2 }
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = 0
      for (i = 1; i <= n; i++) wall = wall * 60 + t[i] }
    END { printf "%-34s %8.2f %8.2f %10.1f %11.1f\n", name, user + sys, wall, kb / 1024,
          blocks * 512 / 1e6 }' \
    "$work/time.txt"
done
for run in Table2/ordered Table2/shuffled Keyed/ordered Keyed/shuffled; do
  table=${run%/*} name=${run#*/}
  db=$work/$table-$name.mdb
  printf '%s: %s rows, %.1f MB; ' "$run" "$(mdb-count "$db" "$table")" \
    "$(echo "$(stat -c %s "$db") / 1000000" | bc -l)"
  "$build/cli/trundle-cli" --check-access "$db" | tail -1
done
[ -n "${KEEP:-}" ] || rm -rf "$work"
