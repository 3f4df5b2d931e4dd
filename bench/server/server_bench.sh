#!/usr/bin/env bash
# trundle-cli against psql's \copy on a throw-away PostgreSQL server, in the same run:
# the foundation's CSV written into an existing table through ODBC parameter arrays, and
# a table of the same size read back to CSV. Run by hand from a Release tree:
#
#   bench/server/server_bench.sh [BUILD_DIR] [ROWS]
#
# Prints wall-clock seconds, rows per second and each ratio to \copy.
set -euo pipefail
source "$(cd "$(dirname "$0")/.." && pwd)/common.sh"
top=$(cd "$here/.." && pwd)
state=$(mktemp -d /tmp/trundle-bench-XXXXXX)
trap '"$top/tests/databases/server/pg_server.sh" stop "$state/pg"; rm -rf "$state"' EXIT
"$top/tests/databases/server/pg_server.sh" start "$state/pg"
port=$(cat "$state/pg/port")
driver=$(find /usr/lib -name psqlodbcw.so -print -quit)
export PGPASSWORD=trundle-pw TRUNDLE_BENCH_PW=trundle-pw
connection="Driver=$driver;Server=127.0.0.1;Port=$port;Database=trundle"
sql() { psql -q -h 127.0.0.1 -p "$port" -U trundle -d trundle -v ON_ERROR_STOP=1 "$@"; }

columns="col0 bigint, col1 numeric(12,2), col2 date, col3 varchar(200), col4 varchar(200),
         col5 bigint, col6 numeric(12,2), col7 date, col8 varchar(200), col9 varchar(200)"
sql -c "create table by_copy ($columns)" -c "create table by_trundle ($columns)"

seconds() {  # command...: wall-clock seconds of the command
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
report() {  # label, seconds, reference seconds
  printf '%-36s %7.2f s  %9.0f rows/s  %5.2f x \\copy\n' "$1" "$2" \
    "$(echo "$rows / $2" | bc -l)" "$(echo "$3 / $2" | bc -l)"
}

copy_in=$(seconds sql -c "\\copy by_copy from '$src' with (format csv, header true)")
trundle_in=$(seconds "$cli" -q "$src" "$connection" --dest-user trundle \
  --dest-password-env TRUNDLE_BENCH_PW --dest-table by_trundle)
[ "$(sql -At -c 'select count(*) from by_trundle')" = "$rows" ] || { echo "rows missing" >&2; exit 1; }

copy_out=$(seconds sql -c "\\copy by_copy to '$state/copy.csv' with (format csv, header true)")
trundle_out=$(seconds "$cli" -q "$connection" "$state/trundle.csv" --source-user trundle \
  --source-password-env TRUNDLE_BENCH_PW --source-table by_copy)

report "psql \\copy CSV into table" "$copy_in" "$copy_in"
report "trundle-cli CSV into table" "$trundle_in" "$copy_in"
report "psql \\copy table to CSV" "$copy_out" "$copy_out"
report "trundle-cli table to CSV" "$trundle_out" "$copy_out"
