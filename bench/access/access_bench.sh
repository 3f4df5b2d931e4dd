#!/usr/bin/env bash
# Reads one Access table to CSV with our reader (jet_export) and with mdb-export, in the
# same run, at two table sizes: CPU microseconds per row and peak memory of each.
#   bench/access/access_bench.sh [BUILD_DIR] [ROWS]
# The tables are fixture tables (Jet 3 and Jet 4) whose data page is copied until they
# hold ROWS rows (default 58,000); the small size is a tenth of that. Build first: cmake --build build-ci/release --target jet_export
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../../build-ci/release}
rows_wanted=${2:-58000}
export=$build/bench/access/jet_export
fixtures=$here/../../tests/data/access
data=$here/../data
mkdir -p "$data"
[ -x "$export" ] || { echo "build jet_export first" >&2; exit 1; }

# cpu seconds (user+system) and peak KB of a command writing to /dev/null
measure() {
  /usr/bin/time -f '%U %S %M' -o "$data/time.txt" "$@" > /dev/null
  read -r user sys kb < "$data/time.txt"
  echo "$(echo "$user + $sys" | bc -l) $kb"
}

printf '%-9s %-8s %8s | %-12s %10s %9s\n' table rows "" reader "us/row" "peak MB"
for entry in "testV1997.mdb Table1 29 2" "testUnicodeCompV2003.mdb Table 53 8"; do
  read -r file table tdef per_page <<< "$entry"
  for n in $((rows_wanted / 10 / per_page)) $((rows_wanted / per_page)); do
    big=$data/big_${table}_$n.mdb
    [ -f "$big" ] || python3 "$here/make_big.py" "$fixtures/$file" "$big" "$n" "$tdef" > /dev/null
    rows=$(mdb-count "$big" "$table")
    for reader in trundle mdb-export; do
      if [ $reader = trundle ]; then m=$(measure "$export" "$big" "$table")
      else m=$(measure mdb-export "$big" "$table"); fi
      read -r cpu kb <<< "$m"
      printf '%-9s %-8s %8s | %-12s %10.2f %9.1f\n' "$table" "$rows" "" $reader \
        "$(echo "$cpu * 1000000 / $rows" | bc -l)" "$(echo "$kb / 1024" | bc -l)"
    done
  done
done
