#!/usr/bin/env bash
# The package's Depends resolve from Debian's archive on a system with nothing installed:
# apt simulates `apt install ./trundle_*.deb` against an empty list of installed packages,
# leaving recommendations out, so the declared dependencies alone must bring everything.
# Needs Debian 12 and apt's package lists (apt-get update); without them it is skipped.
#
#   deb_resolves_test.sh DEB_DIR
set -uo pipefail
source "$(dirname "$0")/check.sh"
open_package "$1"
shopt -s nullglob
lists=(/var/lib/apt/lists/*_Packages*)
if [[ $(cat /etc/debian_version 2>/dev/null) != 12* || ${#lists[@]} -eq 0 ]]; then
  echo "skipped: not Debian 12 with apt's package lists"
  exit 77
fi
empty=$deb_dir/empty-dpkg-status
: >"$empty"
# The caches off, so that apt writes nothing outside this folder.
plan=$(apt-get -s -q -o Dir::State::status="$empty" -o Dir::Cache::pkgcache= \
         -o Dir::Cache::srcpkgcache= -o APT::Install-Recommends=false \
         install "$(realpath "$deb_dir/trundle.deb")" 2>&1) ||
  fail "apt cannot install the package on an empty system: $(tail -5 <<<"$plan")"
grep -q '^Inst trundle ' <<<"$plan" || fail "apt's plan does not install trundle: $(tail -5 <<<"$plan")"
for needed in libodbc2 libpq5 libsqlite3-0; do
  grep -q "^Inst $needed " <<<"$plan" || fail "apt's plan leaves out $needed"
done
if [ -x "$root/usr/bin/trundle" ]; then
  for needed in libqt6widgets6 qt6-qpa-plugins; do
    grep -q "^Inst $needed " <<<"$plan" || fail "apt's plan leaves out $needed"
  done
fi
echo "apt installs $(grep -c '^Inst ' <<<"$plan") packages for it on an empty system"
finish
