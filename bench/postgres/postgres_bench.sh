#!/usr/bin/env bash
# trundle-cli's native PostgreSQL kind against psql's \copy on a throw-away server, in
# the same run: the benchmark CSV into an existing table, into a table the run creates,
# and a table of the same size read back to CSV. Run by hand from a Release tree:
#
#   bench/postgres/postgres_bench.sh [BUILD_DIR] [ROWS]
#
# Prints the client's CPU seconds, wall-clock seconds and peak MB of each run (the
# server's own work is in neither column), and each wall-clock ratio to \copy.
set -euo pipefail
source "$(cd "$(dirname "$0")/.." && pwd)/common.sh"
top=$(cd "$here/.." && pwd)
work=$(mktemp -d /tmp/trundle-bench-XXXXXX)
trap '"$top/tests/databases/server/pg_server.sh" stop "$work/pg"; rm -rf "$work"' EXIT
"$top/tests/databases/server/pg_server.sh" start "$work/pg"
port=$(cat "$work/pg/port")
export PGPASSWORD=trundle-pw TRUNDLE_BENCH_PW=trundle-pw
uri="postgresql://trundle@127.0.0.1:$port/trundle?sslmode=disable"
psql=(psql -q -h 127.0.0.1 -p "$port" -U trundle -d trundle -v ON_ERROR_STOP=1)
sql() { "${psql[@]}" "$@"; }

columns="col0 bigint, col1 numeric(12,2), col2 date, col3 varchar(200), col4 varchar(200),
         col5 bigint, col6 numeric(12,2), col7 date, col8 varchar(200), col9 varchar(200)"
sql -c "create table by_copy ($columns)" -c "create table by_trundle ($columns)"
count() { sql -At -c "select count(*) from $1"; }

measure_header
measure_run "psql \\copy CSV into table" \
  "${psql[@]}" -c "\\copy by_copy from '$src' with (format csv, header true)"
measure_run "trundle-cli CSV into table" \
  "$cli" -q "$src" "$uri" --dest-password-env TRUNDLE_BENCH_PW --dest-table by_trundle
[ "$(count by_trundle)" = "$rows" ] || { echo "rows missing in by_trundle" >&2; exit 1; }
measure_run "trundle-cli CSV into a new table" \
  "$cli" -q "$src" "$uri" --dest-password-env TRUNDLE_BENCH_PW --dest-table made
[ "$(count made)" = "$rows" ] || { echo "rows missing in made" >&2; exit 1; }
measure_run "psql \\copy table to CSV" \
  "${psql[@]}" -c "\\copy by_copy to '$work/copy.csv' with (format csv, header true)"
measure_run "trundle-cli table to CSV" \
  "$cli" -q "$uri" "$work/trundle.csv" --source-password-env TRUNDLE_BENCH_PW --source-table by_copy
[ "$(($(wc -l <"$work/trundle.csv")))" -ge "$rows" ] || { echo "rows missing in CSV" >&2; exit 1; }
