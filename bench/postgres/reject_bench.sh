#!/usr/bin/env bash
# --on-error skip into the native PostgreSQL kind on a throw-away server: the benchmark
# CSV with BAD records spread through it (their first field not a number), each way of
# replaying a batch the server refused at its COPY's end, against the clean CSV with and
# without skip. Run by hand from a Release tree:
#
#   bench/postgres/reject_bench.sh [BUILD_DIR] [ROWS] [BAD]
#
# Each run goes into an emptied table; every run of the dirty file must set BAD records
# aside and commit the rest. Prints the client's CPU seconds, wall-clock seconds and peak
# MB (the server's own work is in neither column).
#
# The replay is chosen by TRUNDLE_BENCH_REPLAY (empty: the run's own, the batch sent again
# without the refused record; "halving"; "one-by-one"), which only this script sets.
#
# Measured 2026-12-08 on a 2-core machine shared with other builds (wall-clock seconds
# vary by a few seconds from run to run), 1,000,000 rows x 10 columns, batches of 1000:
#                                    5 bad records          50 bad records
#                                   CPU s    wall s        CPU s    wall s
#   clean CSV, skip                  3.33     23.50         2.87     15.69
#   dirty CSV, without the refused   3.58     23.24         3.23     16.41
#   dirty CSV, halving               3.91     26.43         3.96     27.23
#   dirty CSV, one by one            4.05     22.72         8.78     54.86
# With 5 bad records every way is within the noise of the server's own work; with 50
# sending the batch again without the refused record costs 0.7 s over a clean run,
# halving 11.5 s (about 20 small transactions a bad record) and one by one 39 s (1000 a
# bad record). The run keeps the first.
set -euo pipefail
source "$(cd "$(dirname "$0")/.." && pwd)/common.sh"
bad=${3:-5}
top=$(cd "$here/.." && pwd)
work=$(mktemp -d /tmp/trundle-bench-XXXXXX)
trap '"$top/tests/databases/server/pg_server.sh" stop "$work/pg"; rm -rf "$work"' EXIT
"$top/tests/databases/server/pg_server.sh" start "$work/pg"
port=$(cat "$work/pg/port")
export PGPASSWORD=trundle-pw TRUNDLE_BENCH_PW=trundle-pw
uri="postgresql://trundle@127.0.0.1:$port/trundle?sslmode=disable"
psql=(psql -q -h 127.0.0.1 -p "$port" -U trundle -d trundle -v ON_ERROR_STOP=1)
sql() { "${psql[@]}" "$@"; }

# The same table with BAD records spoilt, evenly spread (never in the same batch).
dirty=$work/dirty.csv
python3 - "$src" "$dirty" "$rows" "$bad" <<'PY'
import csv, sys
src, out, rows, bad = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
spoilt = {rows * (2 * k + 1) // (2 * bad) for k in range(bad)}
with open(src, newline="", encoding="utf-8") as i, open(out, "w", newline="", encoding="utf-8") as o:
    r, w = csv.reader(i), csv.writer(o, lineterminator="\r\n")
    w.writerow(next(r))
    for n, row in enumerate(r, 1):
        if n in spoilt:
            row[0] = "x" + row[0]
        w.writerow(row)
PY

columns="col0 bigint, col1 numeric(12,2), col2 date, col3 varchar(200), col4 varchar(200),
         col5 bigint, col6 numeric(12,2), col7 date, col8 varchar(200), col9 varchar(200)"
sql -c "create table t ($columns)"
count() { sql -At -c "select count(*) from t"; }

# A run of trundle-cli into the emptied table; exit status 4 (records set aside) is the
# dirty file's success.
run() {  # name, expected status, expected rows, replay, file
  local name=$1 status=$2 want=$3 replay=$4 file=$5 rc=0
  sql -c "truncate t"
  rm -f "$work/rejects.csv"
  /usr/bin/time -o "$work/time.txt" -f '%U %S %M %e' env TRUNDLE_BENCH_REPLAY="$replay" \
    "$cli" -q --on-error skip --reject-file "$work/rejects.csv" "$file" "$uri" \
    --dest-password-env TRUNDLE_BENCH_PW --dest-table t >/dev/null 2>"$work/err.txt" || rc=$?
  [ "$rc" = "$status" ] || { echo "$name: exit $rc, not $status" >&2; cat "$work/err.txt" >&2; exit 1; }
  [ "$(count)" = "$want" ] || { echo "$name: $(count) rows, not $want" >&2; exit 1; }
  local user sys kb wall
  read -r user sys kb wall < <(tail -1 "$work/time.txt")
  printf '%-36s %10.2f %10.2f %12.1f\n' "$name" "$(echo "$user + $sys" | bc -l)" "$wall" \
    "$(echo "$kb / 1024" | bc -l)"
}

measure_header
run "clean CSV, skip" 0 "$rows" "" "$src"
run "dirty CSV, without the refused" 4 $((rows - bad)) "" "$dirty"
run "dirty CSV, halving" 4 $((rows - bad)) halving "$dirty"
run "dirty CSV, one by one" 4 $((rows - bad)) one-by-one "$dirty"
