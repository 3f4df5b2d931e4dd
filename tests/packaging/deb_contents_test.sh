#!/usr/bin/env bash
# The package's files and control fields:
#
#   deb_contents_test.sh DEB_DIR VERSION WINDOW
#
# VERSION is the project's; WINDOW is 1 when the tree built the window (trundle), 0 when
# Qt was missing and only trundle-cli is packaged.
set -uo pipefail
source "$(dirname "$0")/check.sh"
open_package "$1"
version=$2
window=$3

expected=(
  usr/bin/trundle-cli
  usr/share/man/man1/trundle-cli.1.gz
  usr/share/bash-completion/completions/trundle-cli
  usr/share/doc/trundle/copyright
)
if [ "$window" = 1 ]; then
  expected+=(
    usr/bin/trundle
    usr/share/man/man1/trundle.1.gz
    usr/share/applications/trundle.desktop
    usr/share/metainfo/invalid.trundle.trundle.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/trundle.svg
    usr/share/doc/trundle/readme.txt
  )
fi
for f in "${expected[@]}"; do
  [ -f "$root/$f" ] && [ -s "$root/$f" ] || fail "the package has no $f (or it is empty)"
done
for f in "$root"/usr/bin/*; do
  [ -x "$f" ] || fail "${f#"$root"/} is not executable"
  # Debian installs programs stripped; a symbol table left in means the strip step
  # was lost.
  readelf -S "$f" | grep -q '\.symtab' && fail "${f#"$root"/} is not stripped"
done

# dpkg-deb -c: "perms owner/group size date time ./path". Everything lies under /usr, is
# owned by root and writable by its owner only.
while read -r perms owner _ _ _ path _; do
  case $path in ./ | ./usr/ | ./usr/*) ;; *) fail "$path lies outside /usr" ;; esac
  [ "$owner" = root/root ] || fail "$path is owned by $owner, not root/root"
  [ "${perms:5:1}" = w ] || [ "${perms:8:1}" = w ] && fail "$path is writable by others: $perms"
done <"$deb_dir/contents"

field() { sed -n "s/^ $1: //p" "$deb_dir/info"; }
[ "$(field Package)" = trundle ] || fail "Package is '$(field Package)', not trundle"
[ "$(field Version)" = "$version-1" ] || fail "Version is '$(field Version)', not $version-1"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "Architecture is '$(field Architecture)', not $(dpkg --print-architecture)"
depends=$(field Depends)
[ -n "$depends" ] || fail "the package declares no Depends"

# Every library a program links must come from a package the Depends name: the library's
# file, as the dynamic loader finds it here, belongs to that package. dpkg knows a file by
# the path its package gives, /lib/... or /usr/lib/..., so both ldd's path and the real
# one are asked, in one query.
declared=" $(tr ',|' '  ' <<<"$depends" | sed 's/([^)]*)//g' | tr -s ' ') "
needs=$deb_dir/needs  # lines "program soname path"
: >"$needs"
for program in "$root"/usr/bin/*; do
  for soname in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    echo "${program#"$root"/} $soname $(ldd "$program" | awk -v n="$soname" '$1 == n { print $3 }')"
  done >>"$needs"
done
declare -A owner_of
while IFS= read -r line; do
  owner_of[${line#*: }]=${line%%:*}
done < <(awk 'NF == 3 { print $3 }' "$needs" | while read -r path; do
           echo "$path"; realpath "$path"
         done | sort -u | xargs -r dpkg -S 2>/dev/null)
while read -r program soname path; do
  if [ -z "$path" ]; then fail "$program needs $soname, which is not found"; continue; fi
  owner=${owner_of[$path]:-${owner_of[$(realpath "$path")]:-}}
  if [ -z "$owner" ]; then fail "no package holds $path ($program needs it)"; continue; fi
  [[ $declared == *" $owner "* ]] ||
    fail "$program needs $soname from $owner, which Depends does not name: $depends"
done <"$needs"
if [ "$window" = 1 ]; then
  [[ $declared == *" qt6-qpa-plugins "* ]] ||
    fail "Depends leaves out qt6-qpa-plugins, without which the window cannot open: $depends"
fi

# The packaged program runs, stripped, with the libraries the system has.
got=$("$root/usr/bin/trundle-cli" --version 2>&1) || fail "usr/bin/trundle-cli --version failed: $got"
[[ $got == *"$version"* ]] || fail "usr/bin/trundle-cli --version says '$got', not $version"
finish
