#!/usr/bin/env bash
# What the desktop and Debian read from the package: the desktop entry, the AppStream
# metadata and the icon they name, and the machine-readable copyright file.
#
#   deb_metadata_test.sh DEB_DIR SOURCE_DIR VERSION WINDOW PYTHON
#
# PYTHON is the system's interpreter, which has python3-debian's copyright parser.
set -uo pipefail
here=$(dirname "$0")
source "$here/check.sh"
open_package "$1"
source_dir=$2
version=$3
window=$4
python=$5
export HOME=$deb_dir/home XDG_CACHE_HOME=$deb_dir/home/.cache

if [ "$window" = 1 ]; then
  desktop=$root/usr/share/applications/trundle.desktop
  metainfo=$root/usr/share/metainfo/invalid.trundle.trundle.metainfo.xml
  expect "desktop-file-validate accepts trundle.desktop" desktop-file-validate "$desktop"
  # validate-tree also checks that the metadata's launchable and icon are in the tree.
  expect "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$metainfo"
  expect "appstreamcli accepts the installed tree" appstreamcli validate-tree --no-net "$root"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "the desktop entry's Icon=$icon is not in the hicolor theme"
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$root/usr/bin/$exec_name" ] || fail "the desktop entry's Exec=$exec_name is not in /usr/bin"
  "$python" - "$metainfo" "$root" "$version" <<'PY' || fail "the metainfo does not match the package"
import os, sys, xml.etree.ElementTree as ET
metainfo, root, version = sys.argv[1:]
c = ET.parse(metainfo).getroot()
bad = []
launch = c.findtext("launchable[@type='desktop-id']")
if not os.path.isfile(os.path.join(root, "usr/share/applications", launch or "")):
    bad.append(f"launchable {launch} is not in usr/share/applications")
for b in c.findall("provides/binary"):
    if not os.access(os.path.join(root, "usr/bin", b.text), os.X_OK):
        bad.append(f"provided binary {b.text} is not in usr/bin")
releases = [r.get("version") for r in c.findall("releases/release")]
if not releases or releases[0] != version:
    bad.append(f"the newest release is {releases[:1]}, not this version {version}")
for b in bad:
    print("  " + b, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
fi

# The copyright file parses as DEP-5; its paths are the source tree's; and every licence
# note beside files copied from elsewhere (a LICENSE-ID file, ID as SPDX names it) has its
# licence given for the files of that folder, by the name Debian gives it.
"$python" - "$root/usr/share/doc/trundle/copyright" "$source_dir" <<'PY' || fail "the copyright file"
import glob, os, re, sys
from debian.copyright import Copyright
path, source = sys.argv[1:]
with open(path) as f:
    c = Copyright(f, strict=True)
bad = []
licences = {p.license.synopsis for p in c.all_license_paragraphs()}
files = list(c.all_files_paragraphs())
for p in files:
    for name in re.split(r"\s+and\s+|\s+or\s+", p.license.synopsis):
        if name not in licences and not p.license.text:
            bad.append(f"{p.files}: licence {name} has no text")
    for pattern in p.files:
        if pattern != "*" and not glob.glob(os.path.join(source, pattern)):
            bad.append(f"Files: {pattern} matches nothing in the source tree")
debian_name = {"MIT": "Expat", "GPL-3.0": "GPL-3"}
skip = ("build", "build-ci", ".git", "node_modules")
for top, dirs, names in os.walk(source):
    dirs[:] = [d for d in dirs if d not in skip]
    for n in names:
        m = re.fullmatch(r"LICEN[CS]E-(.+?)(\.txt)?", n)
        if not m:
            continue
        folder = os.path.relpath(top, source)
        licence = debian_name.get(m.group(1), m.group(1))
        given = any(pat.startswith(folder + "/") and
                    licence in re.split(r"\s+and\s+|\s+or\s+", p.license.synopsis)
                    for p in files for pat in p.files)
        if not given:
            bad.append(f"{folder}/{n}: no Files paragraph gives {licence} for that folder")
for b in bad:
    print("  " + b, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
finish
