#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test twice: as released, and under
# AddressSanitizer with UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
jobs=$(nproc)

run() {  # build folder, extra ctest arguments (split at spaces), extra cmake arguments...
  local dir=$1 tests=$2; shift 2
  cmake -S "$top" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" $tests)
}

echo "== Release build"
run "$top/build-ci/release" "" -DCMAKE_BUILD_TYPE=Release
# The desktop walks drive the released window from outside; the window's own tests run
# under the sanitizers below, so the walks are left out there to keep the run short.
echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run "$top/build-ci/sanitize" "-LE desktop" -DCMAKE_BUILD_TYPE=Debug -DTRUNDLE_SANITIZE=ON
