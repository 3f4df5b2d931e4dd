#!/usr/bin/env bash
# Installs what is needed, builds trundle-cli in the release tree that scripts/test.sh uses
# (build-ci/release) and starts it with the given arguments (with none, it shows its help).
# Standard output holds only what trundle-cli writes: the set-up prints to standard error,
# the build to build-ci/release/run-build.log (shown on standard error when it fails).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir="$top/build-ci/release"
"$top/scripts/setup.sh" >&2
mkdir -p "$dir"
log="$dir/run-build.log"
if ! { cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$dir" -j "$(nproc)" --target trundle-cli; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: building trundle-cli failed (log: $log)" >&2
  exit 1
fi
if [ $# -eq 0 ]; then set -- --help; fi
exec "$dir/cli/trundle-cli" "$@"
