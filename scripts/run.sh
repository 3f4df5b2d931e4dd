#!/usr/bin/env bash
# Installs what is needed, builds in the release tree that scripts/test.sh uses
# (build-ci/release) and starts the program: with no arguments the window, trundle (or,
# without a display, trundle-cli's help); with arguments, trundle-cli with them.
# Standard output holds only what trundle-cli writes: the set-up prints to standard error,
# the build to build-ci/release/run-build.log (shown on standard error when it fails).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir="$top/build-ci/release"
"$top/scripts/setup.sh" >&2
mkdir -p "$dir"
log="$dir/run-build.log"
window=no
if [ $# -eq 0 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then window=yes; fi
targets=(trundle-cli)
[ "$window" = yes ] && targets+=(trundle)
if ! { cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release &&
  cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: building ${targets[*]} failed (log: $log)" >&2
  exit 1
fi
if [ "$window" = yes ]; then exec "$dir/ui/trundle"; fi
if [ $# -eq 0 ]; then
  echo "run.sh: no display to show the window on; here is trundle-cli's help" >&2
  set -- --help
fi
exec "$dir/cli/trundle-cli" "$@"
