#!/usr/bin/env bash
# The packaged bash completion loads in bash and completes trundle-cli's options, its
# kinds, the values of options with a set of them, variable names and file names, the
# program being the packaged one.
#
#   completion_test.sh DEB_DIR
set -uo pipefail
source "$(dirname "$0")/check.sh"
open_package "$1"
script=$root/usr/share/bash-completion/completions/trundle-cli
cli=$root/usr/bin/trundle-cli
work=$deb_dir/completion
rm -rf "$work" && mkdir -p "$work/notes" && touch "$work/customers.csv" "$work/customs.dbf"

# What the completion offers for the words of a command line, the last one being
# completed, one per line, sorted. With WITH_LIBRARY=0 bash-completion is not loaded.
complete_words() {
  (cd "$work" && PATH="$root/usr/bin:$PATH" WITH_LIBRARY=${WITH_LIBRARY:-1} \
     TRUNDLE_COMPLETION_TEST_PASSWORD=x bash --norc --noprofile -c '
    if [ "$WITH_LIBRARY" = 1 ]; then source /usr/share/bash-completion/bash_completion || exit 3; fi
    source "$0" || exit 4
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    _trundle_cli trundle-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' "$script" "$@")
}

[ -f /usr/share/bash-completion/bash_completion ] ||
  fail "bash-completion is not installed (scripts/setup.sh installs it)"
expect "the completion script loads in bash" bash --norc --noprofile -c \
  'source "$0" && complete -p trundle-cli' "$script"

# Every --source- option of --help, and nothing else.
want=$("$cli" --help | grep -oE -- '--source-[a-z-]*[a-z]' | sort -u)
got=$(complete_words trundle-cli --sou)
[ -n "$want" ] && [ "$got" = "$want" ] || fail "--sou completes to [$got], not [$want]"
got=$(WITH_LIBRARY=0 complete_words trundle-cli --sou)
[ "$got" = "$want" ] || fail "without bash-completion, --sou completes to [$got], not [$want]"
got=$(complete_words trundle-cli --if-e)
[ "$got" = "--if-exists" ] || fail "--if-e completes to [$got]"

# The kinds, as the program lists them when it meets one it does not know.
kinds=$("$cli" --source-kind '?' a b 2>&1 | sed -n "s/.*unknown kind '?' (\(.*\)).*/\1/p" |
        sed 's/ or /, /' | tr -d ',' | tr ' ' '\n' | sort)
got=$(complete_words trundle-cli --dest-kind "")
[ -n "$kinds" ] && [ "$got" = "$kinds" ] || fail "--dest-kind completes to [$got], not [$kinds]"
got=$(complete_words trundle-cli in.csv --source-kind p)
[ "$got" = "$(grep '^p' <<<"$kinds")" ] || fail "--source-kind p completes to [$got]"

got=$(complete_words trundle-cli --if-exists r)
[ "$got" = replace ] || fail "--if-exists r completes to [$got]"
got=$(complete_words trundle-cli --on-error "")
[ "$got" = $'skip\nstop' ] || fail "--on-error completes to [$got]"
got=$(complete_words trundle-cli --dest-dao dao3)
[ "$got" = $'dao35\ndao36' ] || fail "--dest-dao dao3 completes to [$got]"
got=$(complete_words trundle-cli --dest-password-env TRUNDLE_COMPLETION_TEST_)
[ "$got" = TRUNDLE_COMPLETION_TEST_PASSWORD ] || fail "--dest-password-env completes to [$got]"

# File names where a file goes, none where a name or statement does.
got=$(complete_words trundle-cli cust)
[ "$got" = $'customers.csv\ncustoms.dbf' ] || fail "cust completes to [$got]"
got=$(complete_words trundle-cli customers.csv --html-banner no)
[ "$got" = notes ] || fail "--html-banner no completes to [$got]"
got=$(complete_words trundle-cli customers.csv --dest-table cust)
[ -z "$got" ] || fail "--dest-table cust completes to [$got], a table name being no file"
finish
