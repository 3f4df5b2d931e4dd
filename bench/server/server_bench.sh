#!/usr/bin/env bash
# trundle-cli against each server's own bulk client on throw-away servers, in the same run:
# the foundation's CSV written into an existing table and a table of the same size read back
# to CSV, natively (libpq) and through ODBC for PostgreSQL, through ODBC for MariaDB. The peers
# are psql's \copy and the mariadb client's LOAD DATA LOCAL INFILE / SELECT. Run by hand from
# a Release tree:
#
#   bench/server/server_bench.sh [BUILD_DIR] [ROWS]
#
# Prints wall-clock seconds, rows per second and each ratio to the peer's rate (above 1:
# faster than the peer).
set -euo pipefail
source "$(cd "$(dirname "$0")/.." && pwd)/common.sh"
top=$(cd "$here/.." && pwd)
state=$(mktemp -d /tmp/trundle-bench-XXXXXX)
stop_all() {
  "$top/tests/databases/server/pg_server.sh" stop "$state/pg" || true
  [ ! -d "$state/my" ] || "$top/tests/databases/server/mariadb_server.sh" stop "$state/my" || true
  rm -rf "$state"
}
trap stop_all EXIT
"$top/tests/databases/server/pg_server.sh" start "$state/pg" >/dev/null
port=$(cat "$state/pg/port")
export PGPASSWORD=trundle-pw TRUNDLE_BENCH_PW=trundle-pw
native="postgresql://trundle@127.0.0.1:$port/trundle"
pg_odbc="Driver=$(find /usr/lib -name psqlodbcw.so -print -quit);Server=127.0.0.1;Port=$port;Database=trundle"
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
report() {  # label, seconds, peer's seconds, peer's name
  printf '%-44s %7.2f s  %9.0f rows/s  %5.2f x %s\n' "$1" "$2" \
    "$(echo "$rows / $2" | bc -l)" "$(echo "$3 / $2" | bc -l)" "$4"
}
pg_count() {
  [ "$(sql -At -c 'select count(*) from by_trundle')" = "$rows" ] ||
    { echo "rows missing in PostgreSQL after: $1" >&2; exit 1; }
  sql -c "truncate by_trundle"
}
into_pg() {  # destination, options...
  local dest=$1; shift
  seconds "$cli" -q "$src" "$dest" --dest-user trundle --dest-password-env TRUNDLE_BENCH_PW \
    --dest-table by_trundle "$@"
}
out_of() {  # source, table
  seconds "$cli" -q "$1" "$state/trundle.csv" --source-user trundle \
    --source-password-env TRUNDLE_BENCH_PW --source-table "$2"
}

copy_in=$(seconds sql -c "\\copy by_copy from '$src' with (format csv, header true)")
native_in=$(into_pg "$native"); pg_count "native 1000"
native_in_big=$(into_pg "$native" --batch-size 50000); pg_count "native 50000"
odbc_in=$(into_pg "$pg_odbc"); pg_count "odbc 1000"
odbc_in_big=$(into_pg "$pg_odbc" --batch-size 50000); pg_count "odbc 50000"
copy_out=$(seconds sql -c "\\copy (select * from by_copy) to '$state/copy.csv' with (format csv, header true)")
native_out=$(out_of "$native" by_copy)
odbc_out=$(out_of "$pg_odbc" by_copy)

report "psql \\copy CSV into table" "$copy_in" "$copy_in" "\\copy"
report "trundle-cli CSV into PostgreSQL" "$native_in" "$copy_in" "\\copy"
report "  --batch-size 50000" "$native_in_big" "$copy_in" "\\copy"
report "  through ODBC" "$odbc_in" "$copy_in" "\\copy"
report "  through ODBC, --batch-size 50000" "$odbc_in_big" "$copy_in" "\\copy"
report "psql \\copy table to CSV" "$copy_out" "$copy_out" "\\copy"
report "trundle-cli PostgreSQL to CSV" "$native_out" "$copy_out" "\\copy"
report "  through ODBC" "$odbc_out" "$copy_out" "\\copy"

my_driver=$(find /usr/lib -name libmaodbc.so -print -quit)
if [ -z "$my_driver" ] || ! "$top/tests/databases/server/mariadb_server.sh" start "$state/my" >/dev/null; then
  echo "MariaDB server or ODBC driver missing: MariaDB not measured"
  exit 0
fi
my_port=$(cat "$state/my/port")
my_odbc="Driver=$my_driver;Server=127.0.0.1;Port=$my_port;Database=trundle"
my() { mariadb --no-defaults -h 127.0.0.1 -P "$my_port" -utrundle -ptrundle-pw trundle "$@"; }
my -e "create table by_load ($columns); create table by_trundle ($columns)"
load_in=$(seconds my --local-infile=1 -e "load data local infile '$src' into table by_load
  character set utf8mb4 fields terminated by ',' optionally enclosed by '\"' escaped by ''
  lines terminated by '\\r\\n' ignore 1 lines")
my_in=$(into_pg "$my_odbc")
[ "$(my -N -e 'select count(*) from by_trundle')" = "$rows" ] || { echo "rows missing in MariaDB" >&2; exit 1; }
my -e "truncate by_trundle"
my_in_big=$(into_pg "$my_odbc" --batch-size 50000)
select_out=$(seconds sh -c "mariadb --no-defaults -h 127.0.0.1 -P $my_port -utrundle -ptrundle-pw \
  trundle --batch -e 'select * from by_load' > '$state/select.tsv'")
my_out=$(out_of "$my_odbc" by_load)

report "mariadb LOAD DATA LOCAL INFILE" "$load_in" "$load_in" "LOAD DATA"
report "trundle-cli CSV into MariaDB (ODBC)" "$my_in" "$load_in" "LOAD DATA"
report "  --batch-size 50000" "$my_in_big" "$load_in" "LOAD DATA"
report "mariadb --batch SELECT to TSV" "$select_out" "$select_out" "SELECT"
report "trundle-cli MariaDB (ODBC) to CSV" "$my_out" "$select_out" "SELECT"
