#!/bin/bash
# The folders of databases/ include one another one way only and nothing but CMakeLists.txt
# sits at its top. First the checker is shown to catch each fault in a made-up tree, then
# it is run over the real one.
#   layout_test.sh PYTHON SOURCE_ROOT
set -u
python=$1
root=$2
check="$root/scripts/include_graph.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect() {  # expect WANTED_RC WANTED_TEXT TREE
  local output rc
  output=$("$python" "$check" "$3" 2>&1)
  rc=$?
  if [ "$rc" != "$1" ] || ! grep -qF -- "$2" <<<"$output"; then
    echo "FAIL on $3: wanted exit $1 and '$2', got exit $rc:"
    echo "$output"
    failures=$((failures + 1))
  fi
}

tree() {  # tree NAME: a sound tree of three folders, core <- sql <- kinds
  mkdir -p "$work/$1/databases/core" "$work/$1/databases/sql" "$work/$1/databases/kinds"
  touch "$work/$1/databases/CMakeLists.txt" "$work/$1/databases/core/value.h"
  printf '#include "databases/core/value.h"\n' >"$work/$1/databases/sql/query.h"
  printf '#include "databases/sql/query.h"\n#include "databases/core/value.h"\n' \
    >"$work/$1/databases/kinds/kind.cpp"
  echo "$work/$1"
}

expect 0 "kinds -> sql" "$(tree sound)"

# Two folders that include each other.
both=$(tree both)
printf '#include "databases/kinds/kind.h"\n' >"$both/databases/core/value.h"
expect 1 "folders include each other: core -> kinds -> core" "$both"
expect 1 "databases/core/value.h includes \"databases/kinds/kind.h\"" "$both"

# A loop round three folders, written with spaces the preprocessor accepts.
round=$(tree round)
printf '  #  include "databases/kinds/kind.h"\n' >"$round/databases/core/value.h"
expect 1 "folders include each other: core -> kinds -> sql -> core" "$round"

# A subfolder is a folder of its own: access/jet may not include access back.
sub=$(tree sub)
mkdir -p "$sub/databases/access/jet"
printf '#include "databases/access/jet/page.h"\n' >"$sub/databases/access/dao.h"
printf '#include "databases/access/dao.h"\n' >"$sub/databases/access/jet/page.h"
expect 1 "access -> access/jet -> access" "$sub"

# A file at the top, even one nothing includes.
top=$(tree top)
touch "$top/databases/registry.cpp"
expect 1 "databases/registry.cpp: sits at the top of databases/" "$top"

# The real tree.
expect 0 "->" "$root"

[ "$failures" = 0 ] && echo "layout checks passed"
exit $((failures > 0))
