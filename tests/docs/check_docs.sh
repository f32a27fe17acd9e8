#!/usr/bin/env bash
# The manual pages and the bash completion against the program itself: every command and every option that
# `kdl --help` knows is in kdl(1) and is completed; kdlw(1) holds kdlw --help; ARCHIVE.KDZ: completes to the
# archive's images.
# Usage: check_docs.sh KDL MANDIR COMPLETION [KDLW]
set -euo pipefail
kdl=$(realpath "$1") mandir=$(realpath "$2") completion=$(realpath "$3") kdlw=${4:+$(realpath "$4")}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

page=$(zcat "$mandir/kdl.1.gz")
commands=$("$kdl" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }')
[ "$(wc -w <<<"$commands")" -ge 12 ] || fail "kdl --help lists only: $commands"
for command in $commands; do
  grep -q "^\.SS kdl $command\b" <<<"$page" || fail "kdl(1) has no section for kdl $command"
  # The options of the command's own section, which runs to the next section.
  section=$(awk -v head=".SS kdl $command" 'index($0, head) == 1 { on = 1; print; next } /^\.S[SH] / { on = 0 } on' <<<"$page")
  for option in $("$kdl" "$command" --help | grep -oE -- '--[a-z][-a-z]*' | sort -u | grep -vx -- '--help\(-all\)\?'); do
    grep -qF -- "$option" <<<"${section//\\-/-}" || fail "kdl(1) lacks $command $option"
  done
done
for section in "EXIT STATUS" FILES EXAMPLES ENVIRONMENT "SEE ALSO"; do
  grep -q "^\.SH $section" <<<"$page" || fail "kdl(1) has no $section section"
done
grep -q "kdl $("$kdl" --version | cut -d' ' -f2)" <<<"$page" || fail "kdl(1) does not carry the version"

if [ -n "$kdlw" ]; then
  wpage=$(zcat "$mandir/kdlw.1.gz")
  grep -qF -- '\-\-version' <<<"$wpage" || fail "kdlw(1) lacks --version"
  grep -q "^\.SH FILES" <<<"$wpage" || fail "kdlw(1) has no FILES section"
  [ "$("$kdlw" --version)" = "kdl $("$kdl" --version | cut -d' ' -f2)" ] ||
    [ "$("$kdlw" --version)" = "kdlw $("$kdl" --version | cut -d' ' -f2)" ] || fail "kdlw --version"
fi

# The completion, driven as bash drives it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkfs.fat -C -F 12 -f 2 -r 224 -R 1 -s 1 -S 512 -g 2/18 -M 0xF0 disk.img 1440 >/dev/null
"$kdl" add box.KDZ disk.img disk.img >/dev/null
touch other.KDL note.txt
complete_line() {
  bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    PATH="$(dirname "$2"):$PATH"
    shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _kdl
    printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$kdl" kdl "$@" | sort | tr '\n' ' '
}
got=$(complete_line "")
[ "$got" = "$(tr ' ' '\n' <<<"$commands" | sort | tr '\n' ' ')" ] || fail "commands completed: $got"
got=$(complete_line create --s)
[ "$got" = "--sector-retry " ] || fail "create --s completed: $got"
got=$(complete_line copy disk.img --policy "")
[ "$got" = "all ask newer skip " ] || fail "--policy completed: $got"
got=$(complete_line list "")
[ "$got" = "box.KDZ " ] || fail "list completed: $got"
got=$(complete_line test "")
[ "$got" = "box.KDZ disk.img other.KDL " ] || fail "test completed: $got"
got=$(complete_line ls "box.KDZ:")
[ "$got" = "DISK1 DISK2 1 2 " ] || [ "$got" = "1 2 DISK1 DISK2 " ] || fail "box.KDZ: completed: $got"

[ "$failures" -eq 0 ] && echo "manual pages and completion: all checks passed"
exit "$failures"
