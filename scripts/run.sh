#!/usr/bin/env bash
# Installs what is needed, builds trundle-cli and starts it with the given arguments
# (with none, it shows its help).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DTRUNDLE_TESTS=OFF >/dev/null
cmake --build "$top/build" -j "$(nproc)" --target trundle-cli
if [ $# -eq 0 ]; then set -- --help; fi
exec "$top/build/cli/trundle-cli" "$@"
