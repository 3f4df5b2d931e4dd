# Shared set-up of the benchmark scripts, sourced with their arguments:
# BUILD_DIR (default build-ci/release) and ROWS (default 1,000,000). Sets cli, data, src, size
# and makes the generated table when it is not there yet.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../build-ci/release}
rows=${2:-1000000}
cli=$build/cli/trundle-cli
data=$here/data
mkdir -p "$data"
src=$data/bench_$rows.csv
[ -f "$src" ] || python3 "$here/gen_csv.py" "$src" "$rows"
size=$(stat -c %s "$src")
printf 'input: %s, %d rows, %.1f MB\n\n' "$src" "$rows" "$(echo "$size/1000000" | bc -l)"

# Runs a command with its output thrown away and prints a line: name, CPU seconds,
# wall-clock seconds and peak MB. A command that fails stops the bench with its errors.
# Uses the folder $work.
measure_run() {  # name, command...
  local name=$1; shift
  /usr/bin/time -o "$work/time.txt" -f '%U %S %M %e' "$@" >/dev/null 2>"$work/err.txt" ||
    { echo "$name failed:" >&2; cat "$work/err.txt" >&2; exit 1; }
  local user sys kb wall
  read -r user sys kb wall < "$work/time.txt"
  printf '%-36s %10.2f %10.2f %12.1f\n' "$name" "$(echo "$user + $sys" | bc -l)" "$wall" \
    "$(echo "$kb / 1024" | bc -l)"
}
measure_header() { printf '%-36s %10s %10s %12s\n' "run" "CPU s" "wall s" "peak MB"; }
