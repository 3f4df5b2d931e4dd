#!/usr/bin/env bash
# The packaged manual pages render without a warning, and trundle-cli(1) documents exactly
# the options `trundle-cli --help` lists and every kind the program takes.
#
#   man_pages_test.sh DEB_DIR
set -uo pipefail
source "$(dirname "$0")/check.sh"
open_package "$1"
export HOME=$deb_dir/home MANWIDTH=100 LC_ALL=C.UTF-8
man1=$root/usr/share/man/man1
cli=$root/usr/bin/trundle-cli

# Plain text of a page, hyphens as hyphens and no overstriking.
render() { zcat "$1" | groff -man -Tascii -P-cbou 2>/dev/null; }

for page in "$man1"/*.1.gz; do
  name=$(basename "$page" .1.gz)
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $name(1): $warnings"
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns about $name(1): $warnings"
  head=$(render "$page" | sed -n '/^NAME/{n;p;q}')
  [[ $head == *"$name - "* ]] || fail "$name(1)'s NAME line is '$head'"
done

options() { grep -oE -- '--[a-z][a-z-]*[a-z]' | sort -u; }
help=$("$cli" --help) || fail "trundle-cli --help failed"
page=$(render "$man1/trundle-cli.1.gz")
in_help=$(options <<<"$help")
in_page=$(options <<<"$page")
[ -n "$in_help" ] || fail "trundle-cli --help lists no options"
missing=$(comm -23 <(echo "$in_help") <(echo "$in_page"))
[ -z "$missing" ] || fail "trundle-cli(1) leaves out options --help lists:" $missing
extra=$(comm -13 <(echo "$in_help") <(echo "$in_page"))
[ -z "$extra" ] || fail "trundle-cli(1) names options --help does not list:" $extra

# The program's own list of kinds is in its message for a kind it does not know:
# "unknown kind 'x' (csv, text, ... or pg)".
kinds=$("$cli" --source-kind '?' a b 2>&1 | sed -n "s/.*unknown kind '?' (\(.*\)).*/\1/p" |
        sed 's/ or /, /' | tr -d ',')
[ -n "$kinds" ] || fail "trundle-cli did not list its kinds for an unknown one"
section=$(sed -n '/^KINDS/,/^OPTIONS/p' <<<"$page")
for kind in $kinds; do
  grep -qwE -- "^ +$kind|alias $kind" <<<"$section" || fail "trundle-cli(1)'s KINDS leaves out $kind"
done
finish
