# Shared set-up of the benchmark scripts, sourced with their arguments:
# BUILD_DIR (default build-rel) and ROWS (default 1,000,000). Sets cli, data, src, size
# and makes the generated table when it is not there yet.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../build-rel}
rows=${2:-1000000}
cli=$build/cli/trundle-cli
data=$here/data
mkdir -p "$data"
src=$data/bench_$rows.csv
[ -f "$src" ] || python3 "$here/gen_csv.py" "$src" "$rows"
size=$(stat -c %s "$src")
printf 'input: %s, %d rows, %.1f MB\n\n' "$src" "$rows" "$(echo "$size/1000000" | bc -l)"
