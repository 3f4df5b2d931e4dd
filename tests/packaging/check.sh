# Sourced by the package tests: failures are counted and named, so that one run shows
# every fault; finish ends the test with the count.
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs the command; a non-zero status is a failure named by the first argument.
expect() {
  local what=$1; shift
  "$@" || fail "$what (status $?: $*)"
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

# Sets deb_dir and root to the folder build_deb.sh filled and the package's files in it.
open_package() {
  deb_dir=$(realpath "$1")
  root=$deb_dir/root
  if [ ! -d "$root" ]; then
    echo "FAIL: $root is missing: packaging.build_deb did not run or failed" >&2
    exit 1
  fi
}
