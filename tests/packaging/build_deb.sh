#!/usr/bin/env bash
# Makes the Debian package of the build tree with cpack, as `cpack -G DEB` there does,
# and takes it apart for the other package tests:
#
#   build_deb.sh CPACK BUILD_DIR OUT_DIR
#
# OUT_DIR/trundle.deb the package, OUT_DIR/root its files (dpkg-deb -x), OUT_DIR/info
# its control fields (dpkg-deb -I), OUT_DIR/contents its list with owners and modes
# (dpkg-deb -c). cpack installs the tree into OUT_DIR and finds nothing to build when
# the tree is built; everything it and dpkg write stays in OUT_DIR.
set -euo pipefail
cpack=$1
build_dir=$2
out=$3

rm -rf "$out"
mkdir -p "$out/tmp" "$out/home"
export TMPDIR=$out/tmp HOME=$out/home
if ! (cd "$build_dir" && "$cpack" --config CPackConfig.cmake -G DEB -B "$out") >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log" >&2
  echo "FAIL: cpack -G DEB failed (log above)" >&2
  exit 1
fi
shopt -s nullglob
debs=("$out"/trundle_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "FAIL: cpack made ${#debs[@]} packages named trundle_*.deb in $out, not one" >&2
  exit 1
fi
ln -s "${debs[0]}" "$out/trundle.deb"
dpkg-deb -x "$out/trundle.deb" "$out/root"
dpkg-deb -I "$out/trundle.deb" >"$out/info"
dpkg-deb -c "$out/trundle.deb" >"$out/contents"
echo "made $(basename "${debs[0]}"): $(grep -c . "$out/contents") entries"
