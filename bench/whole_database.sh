#!/usr/bin/env bash
# A whole Access database into PostgreSQL with --all-tables, one table at a time against
# two at a time, on a throw-away server. The database holds TABLES tables (default 8) of
# ROWS/TABLES records each, cut from the benchmark CSV and written by trundle-cli itself.
# Run by hand from a Release tree:
#
#   bench/whole_database.sh [BUILD_DIR] [ROWS] [TABLES]
#
# Prints the client's CPU seconds, wall-clock seconds and peak MB of each run, and the
# wall-clock ratio of --jobs 1 to --jobs 2.
set -euo pipefail
source "$(cd "$(dirname "$0")" && pwd)/common.sh"
tables=${3:-8}
top=$(cd "$here/.." && pwd)
work=$(mktemp -d /tmp/trundle-bench-XXXXXX)
trap '"$top/tests/databases/server/pg_server.sh" stop "$work/pg"; rm -rf "$work"' EXIT
"$top/tests/databases/server/pg_server.sh" start "$work/pg"
port=$(cat "$work/pg/port")
export PGPASSWORD=trundle-pw TRUNDLE_BENCH_PW=trundle-pw
psql=(psql -q -h 127.0.0.1 -p "$port" -U trundle -d trundle -v ON_ERROR_STOP=1)

# Cut by lines: a quoted field may hold a line break, so a table's count is what its run
# says it moved.
per=$((rows / tables))
expected=0
for ((t = 1; t <= tables; t++)); do
  sed -n "1p;$((2 + (t - 1) * per)),$((1 + t * per))p" "$src" >"$work/part.csv"
  create=(); [ "$t" -eq 1 ] && create=(--create-database)
  moved=$("$cli" "${create[@]}" "$work/part.csv" "$work/db.mdb" --dest-table "table_$t" |
          sed -n 's/^\([0-9]*\) records moved$/\1/p')
  expected=$((expected + moved))
done
printf 'Access database: %d tables, %d records, %.1f MB\n\n' "$tables" "$expected" \
  "$(echo "$(stat -c %s "$work/db.mdb")/1000000" | bc -l)"

measure_header
for jobs in 1 2; do
  # Each run makes the tables anew.
  for ((t = 1; t <= tables; t++)); do "${psql[@]}" -c "drop table if exists table_$t" 2>/dev/null; done
  uri="postgresql://trundle@127.0.0.1:$port/trundle?sslmode=disable"
  start=$(date +%s.%N)
  measure_run "--all-tables --jobs $jobs" \
    "$cli" -q --all-tables --jobs "$jobs" "$work/db.mdb" "$uri" --dest-password-env TRUNDLE_BENCH_PW
  end=$(date +%s.%N)
  eval "wall_$jobs=$(echo "$end - $start" | bc -l)"
  n=0
  for ((t = 1; t <= tables; t++)); do
    n=$((n + $("${psql[@]}" -At -c "select count(*) from table_$t")))
  done
  [ "$n" = "$expected" ] || { echo "jobs $jobs: $n records arrived, not $expected" >&2; exit 1; }
done
printf '\nwall-clock --jobs 1 / --jobs 2: %.2f\n' "$(echo "$wall_1 / $wall_2" | bc -l)"
